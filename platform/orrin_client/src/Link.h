#pragma once
// The gRPC channel to one photogrammetry server with the stubs of its three services, and the
// state every part of the service shares: the current link and the last failed call.

#include "OrrinService.h"

#include "Bundle.grpc.pb.h"
#include "OrrinCapture.grpc.pb.h"
#include "Project.grpc.pb.h"

#include <grpcpp/grpcpp.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <string>

namespace lyra::detail {

struct Link {
    std::string address; // "host:port"
    std::shared_ptr<grpc::Channel> channel;
    std::unique_ptr<lyraproto::Project::Stub> project;
    std::unique_ptr<lyraproto::Bundle::Stub> bundle;
    std::unique_ptr<orrinclient::Capture::Stub> capture;
};

// Builds the channel (nothing is sent until the first call). An IPv6 host is bracketed.
std::shared_ptr<Link> MakeLink(const std::string& host, unsigned short port,
                               const OrrinServiceOptions& options);

class LinkState {
public:
    explicit LinkState(const OrrinServiceOptions& options) : options_(options) {}

    const OrrinServiceOptions& options() const { return options_; }

    // The link calls go to; null before the first start. Callers keep the snapshot for one call,
    // so a concurrent start never pulls a channel from under a running call.
    std::shared_ptr<Link> current() const;
    void replace(std::shared_ptr<Link> link);

    // A client context whose deadline lies `timeout` from now.
    static void SetDeadline(grpc::ClientContext& context, std::chrono::milliseconds timeout);

    void recordError(const char* operation, const grpc::Status& status);
    void recordError(const char* operation, int code, const std::string& message);
    CallError lastError() const;

private:
    const OrrinServiceOptions options_;
    mutable std::mutex mutex_;
    std::shared_ptr<Link> link_;
    CallError lastError_;
};

} // namespace lyra::detail
