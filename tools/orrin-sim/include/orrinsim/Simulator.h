#pragma once
// The photogrammetry simulator: a gRPC server with the schema's Project and Bundle services and
// the client library's capture service, serving one project and a sequence of epochs.
//
// The project and the epochs are generated from a seed, or given exactly (then served
// unchanged). Trigger and continuous capture take the epochs in order from one sequence (a
// given sequence starts over when used up). Continuous capture runs at its own rate on the
// server's schedule until a client or the operator stops it, or until its epoch limit.
//
// Tests start it in-process on an ephemeral loopback port; the program orrin-sim is a thin
// front end over the same class. Every member function is thread-safe.

#include "Project.pb.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace orrinsim {

struct Options {
    std::string host = "127.0.0.1"; // address to listen on
    unsigned port = 0;              // 0: an ephemeral port (read it back with Port())
    std::uint64_t seed = 1;         // of the generated project and epochs
    // Served unchanged instead of the generated ones.
    std::optional<lyraproto::PhotogrammetryProject> project;
    std::vector<lyraproto::TriggerEpoch> epochs;
    double rateHz = 10.0;        // continuous capture; 0: as fast as the subscribers take them
    std::uint64_t stopAfter = 0; // a continuous run ends by itself after this many epochs; 0: never
    // Operations that report failure, by their service operation names ("Trigger", "GetProject",
    // "Run", ...; see OperationNames()), matched without regard to case.
    std::set<std::string> fail;
    // Size of generated epochs: triangulation targets and LUMIDOT points.
    std::size_t epochTargets = 24;
    std::size_t epochLumidots = 120;
    std::chrono::milliseconds heartbeatPeriod{500}; // on a quiet event stream
    // Called on the event-stream thread just before an epoch is written to a subscriber.
    std::function<void(const lyraproto::TriggerEpoch&)> onEpochWrite;
    // Receives each event line (start, subscribers, continuous runs); empty: written to stderr.
    std::function<void(const std::string&)> log;
};

// Every operation the simulator serves, by service: "Project.GetName", ..., "Bundle.Run", ...,
// "Capture.Trigger", ... The part after the dot is the name used by `fail` and the test hooks.
std::vector<std::string> OperationNames();
// The canonical operation name for `name` (case-insensitive, with or without the service
// prefix), or nullopt when no operation has that name.
std::optional<std::string> CanonicalOperation(const std::string& name);

// Protobuf JSON: one PhotogrammetryProject in the file; one TriggerEpoch per non-blank line.
bool LoadProjectJson(const std::string& path, lyraproto::PhotogrammetryProject* project, std::string* error);
bool LoadEpochsJson(const std::string& path, std::vector<lyraproto::TriggerEpoch>* epochs,
                    std::string* error);

class Simulator {
public:
    explicit Simulator(Options options);
    ~Simulator(); // stops
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // Listens. False with a reason when it cannot (address in use, bad option). After Stop it can
    // start again, on the port it had (so clients find it where it was).
    bool Start(std::string* error = nullptr);
    // Ends every stream and call (stalled ones too), stops continuous capture, stops listening.
    // Idempotent.
    void Stop();
    bool Running() const;
    unsigned Port() const;
    std::string Address() const; // "host:port"

    // The operator's actions on the photogrammetry system.
    bool StartContinuous();
    bool StopContinuous(); // subscribers see the run end
    bool ContinuousRunning() const;

    // Runs one command line of standard input: start | stop | status | quit. False with a reason
    // for an unknown command.
    bool Execute(const std::string& commandLine, std::string* reply = nullptr);
    bool QuitRequested() const;

    // Test hooks. A failing operation reports failure. A stalled operation waits until it is
    // released, the caller gives up (deadline) or the simulator stops. Names as for `fail`;
    // false for an unknown name.
    bool SetFailing(const std::string& operation, bool failing);
    bool Stall(const std::string& operation);
    bool Release(const std::string& operation);
    // Calls that are waiting in a stall right now.
    std::size_t Stalled() const;
    bool WaitForStalled(std::size_t count, std::chrono::milliseconds timeout) const;

    std::size_t Subscribers() const;
    bool WaitForSubscribers(std::size_t count, std::chrono::milliseconds timeout) const;
    // The last value set through SetUpdateGui (false before).
    bool UpdateGui() const;
    // Calls received per operation (canonical name), the event stream's Subscribe included.
    std::map<std::string, std::size_t> Calls() const;
    // Epochs written to subscribers, summed over subscribers.
    std::uint64_t EpochsStreamed() const;
    // The served project.
    lyraproto::PhotogrammetryProject Project() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace orrinsim
