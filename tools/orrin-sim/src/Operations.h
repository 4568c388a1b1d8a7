#pragma once
// The simulator's operations by name, and the gate every call passes: it counts the call, holds
// it while the operation is stalled, and tells whether the operation is to fail.

#include <grpcpp/grpcpp.h>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace orrinsim {

class OperationGate {
public:
    // Unknown names in `failing` are ignored (the options are checked before).
    explicit OperationGate(const std::set<std::string>& failing);

    // Passed by every call of `operation` (a canonical name). Returns when the operation is not
    // stalled (any more); false when the caller gave up or the gate was closed meanwhile.
    bool Enter(const std::string& operation, grpc::ServerContext* context);
    bool Failing(const std::string& operation) const;
    // The status a failing operation reports.
    static grpc::Status Failure(const std::string& operation);

    void SetFailing(const std::string& operation, bool failing);
    void SetStalled(const std::string& operation, bool stalled);
    std::size_t Waiting() const;
    bool WaitForWaiting(std::size_t count, std::chrono::milliseconds timeout) const;
    std::map<std::string, std::size_t> Calls() const;

    // Releases every stalled call for good (the server is stopping) or reopens the gate.
    void Close();
    void Open();

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::set<std::string> failing_;
    std::set<std::string> stalled_;
    std::map<std::string, std::size_t> calls_;
    std::size_t waiting_ = 0;
    bool closed_ = false;
};

// Passes the gate for one call: nullopt to go on, else the status the call is to return (the
// caller gave up, the server is stopping, or the operation is set to fail).
std::optional<grpc::Status> Admit(OperationGate& gate, const std::string& operation,
                                  grpc::ServerContext* context);

} // namespace orrinsim
