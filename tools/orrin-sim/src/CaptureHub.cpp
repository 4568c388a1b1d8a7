#include "CaptureHub.h"

#include <iostream>

namespace orrinsim {

namespace {

// Events a subscriber may have waiting before the capture waits for it, and how long it waits
// before the subscriber is dropped.
constexpr std::size_t kQueueLimit = 64;
constexpr std::chrono::seconds kSlowSubscriberGrace{5};

} // namespace

CaptureHub::CaptureHub(EpochSource& source, Settings settings)
    : source_(source), settings_(std::move(settings)) {}

CaptureHub::~CaptureHub() {
    Close();
}

void CaptureHub::Log(const std::string& line) const {
    if (settings_.log)
        settings_.log(line);
    else
        std::cerr << "orrin-sim: " << line << std::endl;
}

grpc::Status CaptureHub::Serve(grpc::ServerContext* context,
                               grpc::ServerWriter<orrinclient::CaptureEvent>* writer) {
    auto self = std::make_shared<Subscriber>();
    std::size_t count = 0;
    {
        std::lock_guard lock(mutex_);
        if (closed_)
            return grpc::Status(grpc::StatusCode::UNAVAILABLE, "the server is stopping");
        auto hello = std::make_shared<orrinclient::CaptureEvent>();
        hello->mutable_hello()->set_server_name("orrin-sim");
        hello->mutable_hello()->set_continuous_running(running_);
        self->queue.push_back(std::move(hello));
        subscribers_.push_back(self);
        count = subscribers_.size();
        changed_.notify_all();
    }
    Log("subscriber " + context->peer() + " joined (" + std::to_string(count) + " now)");

    const auto heartbeat = [] {
        auto event = std::make_shared<orrinclient::CaptureEvent>();
        event->mutable_heartbeat();
        return Event(std::move(event));
    }();
    grpc::Status status = grpc::Status::OK;
    for (;;) {
        Event event;
        {
            std::unique_lock lock(mutex_);
            changed_.wait_for(lock, settings_.heartbeatPeriod,
                              [&] { return !self->queue.empty() || closed_ || self->dropped; });
            if (closed_) {
                status = grpc::Status(grpc::StatusCode::UNAVAILABLE, "the server is stopping");
                break;
            }
            if (self->dropped) {
                status =
                    grpc::Status(grpc::StatusCode::RESOURCE_EXHAUSTED, "the subscriber fell too far behind");
                break;
            }
            if (context->IsCancelled())
                break;
            if (self->queue.empty()) {
                event = heartbeat;
            } else {
                event = std::move(self->queue.front());
                self->queue.pop_front();
                changed_.notify_all(); // room for the capture
            }
        }
        const bool isEpoch = event->has_epoch();
        if (isEpoch && settings_.onEpochWrite)
            settings_.onEpochWrite(event->epoch());
        if (!writer->Write(*event))
            break;
        if (isEpoch)
            ++streamed_;
    }

    {
        std::lock_guard lock(mutex_);
        subscribers_.remove(self);
        count = subscribers_.size();
        changed_.notify_all();
    }
    Log("subscriber " + context->peer() + " left (" + std::to_string(count) + " now)");
    return status;
}

bool CaptureHub::Start() {
    std::lock_guard control(control_);
    {
        std::lock_guard lock(mutex_);
        if (running_)
            return true;
        if (closed_)
            return false;
    }
    if (thread_.joinable()) // a run that ended by itself
        thread_.join();
    {
        std::lock_guard lock(mutex_);
        running_ = true;
        stopRequested_ = false;
    }
    thread_ = std::thread([this] { Run(); });
    Log("continuous capture started");
    return true;
}

bool CaptureHub::Stop() {
    std::lock_guard control(control_);
    {
        std::lock_guard lock(mutex_);
        stopRequested_ = true;
        changed_.notify_all();
    }
    if (thread_.joinable())
        thread_.join();
    return true;
}

bool CaptureHub::Running() const {
    std::lock_guard lock(mutex_);
    return running_;
}

std::size_t CaptureHub::Subscribers() const {
    std::lock_guard lock(mutex_);
    return subscribers_.size();
}

bool CaptureHub::WaitForSubscribers(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return subscribers_.size() >= count; });
}

void CaptureHub::Close() {
    Stop();
    std::lock_guard lock(mutex_);
    closed_ = true;
    changed_.notify_all();
}

void CaptureHub::Open() {
    std::lock_guard lock(mutex_);
    closed_ = false;
}

bool CaptureHub::Publish(std::unique_lock<std::mutex>& lock, const Event& event) {
    const auto hasRoom = [&] {
        for (const auto& s : subscribers_)
            if (!s->dropped && s->queue.size() >= kQueueLimit)
                return false;
        return true;
    };
    if (!changed_.wait_for(lock, kSlowSubscriberGrace,
                           [&] { return stopRequested_ || closed_ || hasRoom(); })) {
        for (const auto& s : subscribers_)
            if (s->queue.size() >= kQueueLimit)
                s->dropped = true;
    }
    if (stopRequested_ || closed_)
        return false;
    for (const auto& s : subscribers_)
        if (!s->dropped)
            s->queue.push_back(event);
    changed_.notify_all();
    return true;
}

void CaptureHub::Run() {
    using Clock = std::chrono::steady_clock;
    const bool paced = settings_.rateHz > 0.0;
    const auto period = paced ? std::chrono::duration_cast<Clock::duration>(
                                    std::chrono::duration<double>(1.0 / settings_.rateHz))
                              : Clock::duration::zero();
    std::uint64_t count = 0;
    auto next = Clock::now();

    std::unique_lock lock(mutex_);
    for (;;) {
        if (paced)
            changed_.wait_until(lock, next, [&] { return stopRequested_ || closed_; });
        if (stopRequested_ || closed_)
            break;
        lock.unlock();
        const Event event = source_.NextEvent();
        lock.lock();
        if (!Publish(lock, event))
            break;
        ++count;
        if (settings_.stopAfter != 0 && count >= settings_.stopAfter)
            break;
        // On the server's own schedule: a late epoch moves the schedule, there is no burst to
        // catch up.
        next = std::max(next + period, Clock::now());
    }
    running_ = false;
    auto stopped = std::make_shared<orrinclient::CaptureEvent>();
    stopped->mutable_continuous_stopped()->set_epoch_count(count);
    for (const auto& s : subscribers_)
        if (!s->dropped)
            s->queue.push_back(stopped);
    changed_.notify_all();
    lock.unlock();
    Log("continuous capture stopped after " + std::to_string(count) + " epochs");
}

} // namespace orrinsim
