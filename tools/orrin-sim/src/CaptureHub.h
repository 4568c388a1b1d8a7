#pragma once
// Continuous capture and the event streams. A capture thread takes epochs from the source at the
// configured rate and queues each one for every subscriber; each subscriber's Subscribe call
// writes its queue (hello first, heartbeats while it is empty). The end of a continuous run is
// queued after its last epoch. A subscriber that falls too far behind holds the capture back for
// a while and is then dropped (its stream ends; the client re-subscribes).

#include "EpochSource.h"

#include "OrrinCapture.grpc.pb.h"

#include <grpcpp/grpcpp.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace orrinsim {

class CaptureHub {
public:
    struct Settings {
        double rateHz = 10.0;
        std::uint64_t stopAfter = 0;
        std::chrono::milliseconds heartbeatPeriod{500};
        std::function<void(const lyraproto::TriggerEpoch&)> onEpochWrite;
        std::function<void(const std::string&)> log;
    };

    CaptureHub(EpochSource& source, Settings settings);
    ~CaptureHub();
    CaptureHub(const CaptureHub&) = delete;
    CaptureHub& operator=(const CaptureHub&) = delete;

    // One subscriber's stream, until the client leaves or the hub closes.
    grpc::Status Serve(grpc::ServerContext* context, grpc::ServerWriter<orrinclient::CaptureEvent>* writer);

    bool Start(); // true: running afterwards
    bool Stop();  // true: stopped afterwards; the run's end is queued for the subscribers
    bool Running() const;

    std::size_t Subscribers() const;
    bool WaitForSubscribers(std::size_t count, std::chrono::milliseconds timeout) const;
    std::uint64_t EpochsStreamed() const { return streamed_.load(); }

    // Stops the run and ends every stream (server stopping); Open allows streams again.
    void Close();
    void Open();

private:
    using Event = std::shared_ptr<const orrinclient::CaptureEvent>;
    struct Subscriber {
        std::deque<Event> queue;
        bool dropped = false;
    };

    void Run();
    // Queues `event` for every subscriber, waiting while a queue is full. False when the run
    // was asked to stop meanwhile (nothing queued).
    bool Publish(std::unique_lock<std::mutex>& lock, const Event& event);
    void Log(const std::string& line) const;

    EpochSource& source_;
    const Settings settings_;

    std::mutex control_; // one Start or Stop at a time
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::list<std::shared_ptr<Subscriber>> subscribers_;
    bool running_ = false;
    bool stopRequested_ = false;
    bool closed_ = false;
    std::thread thread_;
    std::atomic<std::uint64_t> streamed_{0};
};

} // namespace orrinsim
