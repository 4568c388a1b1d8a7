#pragma once
// The photogrammetry client library over gRPC.
//
// Project operations use the schema's Project and Bundle services; trigger, continuous capture
// and the GUI-update flag use the library's own capture service. One long-lived event stream
// (the capture service's Subscribe) carries the epochs of continuous capture and the end of each
// continuous run, and tells the connection state: the service is connected while that stream is
// established. A broken stream is re-opened with a growing delay (capped by
// `maxReconnectDelay`).
//
// Threads: the operations are synchronous and may be called from any thread; each has a
// deadline, so a stalled server never blocks a caller for longer than that. `connectionChanged`,
// `epochCaptured` and `continuousStopped` are emitted on the service's event thread, one at a
// time and in the order the server sent them. `stop` reports a lost connection; the destructor
// disconnects every slot first and reports nothing. `start`, `stop` and the destructor must not
// be called from a slot.

#include "IOrrinService.h"

#include <chrono>
#include <memory>
#include <string>

namespace lyra {

struct OrrinServiceOptions {
    std::chrono::milliseconds triggerDeadline{std::chrono::seconds(30)};
    std::chrono::milliseconds longDeadline{std::chrono::minutes(30)}; // autoMeasure, runBundle
    std::chrono::milliseconds callDeadline{std::chrono::seconds(10)}; // every other operation
    std::chrono::milliseconds firstReconnectDelay{100};
    std::chrono::milliseconds maxReconnectDelay{std::chrono::seconds(2)};
    // A stream on which nothing (not even a heartbeat) arrives for this long counts as broken.
    // It also bounds the time one streamed epoch may take to arrive whole.
    std::chrono::milliseconds silenceTimeout{std::chrono::seconds(10)};
    // Larger replies and events fail (the call returns false, the stream breaks).
    int maxReceiveMessageBytes = 256 << 20;
};

// The last failed call: the operation's name as on the wire ("GetProject", "Trigger", ...),
// the gRPC status code (0 = none) and its message.
struct CallError {
    std::string operation;
    int code = 0;
    std::string message;
};

class OrrinService : public IOrrinService {
public:
    OrrinService();
    explicit OrrinService(const OrrinServiceOptions& options);
    ~OrrinService() override;
    OrrinService(const OrrinService&) = delete;
    OrrinService& operator=(const OrrinService&) = delete;

    void start(const char* host, unsigned short port) override;
    void stop() override;

    IOrrinConnectionStatusService* connectionStatusService() const override;
    const IOrrinDataCaptureService* dataCaptureService() const override;
    IOrrinDataCaptureService* dataCaptureService() override;
    IOrrinProjectService* projectService() const override;
    IOrrinSettingsService* orrinSettingsService() const override;

    // "host:port" of the last `start`, empty before.
    std::string address() const;
    // The last failed operation of any thread (code 0 while none failed).
    CallError lastError() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace lyra
