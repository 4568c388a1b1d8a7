#include "EventStream.h"

#include <algorithm>
#include <cstdint>
#include <exception>

namespace lyra::detail {

namespace {

enum class Tag : std::intptr_t { Started = 1, ReadDone, Finished };

void* ToTag(Tag tag) {
    return reinterpret_cast<void*>(static_cast<std::intptr_t>(tag));
}
Tag FromTag(void* tag) {
    return static_cast<Tag>(reinterpret_cast<std::intptr_t>(tag));
}

// A slot that throws must not end the event thread: the exception is dropped.
template <typename Emit>
void EmitSafely(Emit&& emit) {
    try {
        emit();
    } catch (...) {
    }
}

} // namespace

EventStream::EventStream(LinkState& links, IOrrinConnectionStatusService& status,
                         IOrrinDataCaptureService& capture)
    : links_(links), status_(status), capture_(capture) {}

EventStream::~EventStream() {
    shutdown();
}

void EventStream::restart() {
    std::unique_lock lock(mutex_);
    if (running_) {
        stopping_ = false;
        restart_ = true;
        if (context_ != nullptr)
            context_->TryCancel();
        wake_.notify_all();
        return;
    }
    // The thread has left its loop (or never ran): collect it before starting a new one.
    if (thread_.joinable()) {
        lock.unlock();
        thread_.join();
        lock.lock();
    }
    stopping_ = false;
    restart_ = false;
    running_ = true;
    thread_ = std::thread([this] { run(); });
}

void EventStream::shutdown() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        if (context_ != nullptr)
            context_->TryCancel();
        wake_.notify_all();
    }
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id())
        thread_.join();
}

void EventStream::run() {
    const auto first = links_.options().firstReconnectDelay;
    const auto cap = std::max(links_.options().maxReconnectDelay, first);
    auto delay = first;

    std::unique_lock lock(mutex_);
    while (!stopping_) {
        restart_ = false;
        const auto link = links_.current();
        if (!link) {
            wake_.wait(lock, [this] { return stopping_ || restart_; });
            continue;
        }
        bool greeted = false;
        {
            grpc::ClientContext context;
            context_ = &context;
            lock.unlock();
            greeted = readStream(*link, context);
            lock.lock();
            context_ = nullptr;
        }
        lock.unlock();
        setConnected(false);
        lock.lock();

        if (stopping_)
            break;
        if (greeted || restart_) {
            delay = first;
            if (restart_)
                continue;
        }
        wake_.wait_for(lock, delay, [this] { return stopping_ || restart_; });
        if (!greeted)
            delay = std::min(delay * 2, cap);
    }
    running_ = false;
}

bool EventStream::readStream(Link& link, grpc::ClientContext& context) {
    using std::chrono::steady_clock;
    const auto silence = links_.options().silenceTimeout;

    grpc::CompletionQueue queue;
    orrinclient::SubscribeRequest request;
    request.set_client_name("OrrinClient");
    orrinclient::CaptureEvent event;
    grpc::Status status;
    auto reader = link.capture->PrepareAsyncSubscribe(&context, request, &queue);
    reader->StartCall(ToTag(Tag::Started));

    bool greeted = false;
    bool cancelled = false;
    auto lastActivity = steady_clock::now();
    for (;;) {
        // Nothing from the server for `silence` (not even a heartbeat): the stream is dead.
        // After cancelling, the pending operation completes promptly; wait for it without a limit.
        const auto deadline =
            cancelled ? std::chrono::system_clock::now() + std::chrono::hours(1)
                      : std::chrono::system_clock::now() + (lastActivity + silence - steady_clock::now());
        void* tag = nullptr;
        bool ok = false;
        const auto result = queue.AsyncNext(&tag, &ok, deadline);
        if (result == grpc::CompletionQueue::SHUTDOWN)
            break;
        if (result == grpc::CompletionQueue::TIMEOUT) {
            if (!cancelled) {
                context.TryCancel();
                cancelled = true;
            }
            continue;
        }
        switch (FromTag(tag)) {
        case Tag::Started:
            if (ok)
                reader->Read(&event, ToTag(Tag::ReadDone));
            else
                reader->Finish(&status, ToTag(Tag::Finished));
            break;
        case Tag::ReadDone:
            if (!ok) {
                reader->Finish(&status, ToTag(Tag::Finished));
                break;
            }
            greeted = dispatch(event, greeted) || greeted;
            lastActivity = steady_clock::now(); // time spent in slots is not the server's silence
            reader->Read(&event, ToTag(Tag::ReadDone));
            break;
        case Tag::Finished:
            // Why the stream ended does not matter: the connection is down either way, and the
            // next attempt tells whether the server is back.
            queue.Shutdown();
            break;
        }
    }
    return greeted;
}

bool EventStream::dispatch(const orrinclient::CaptureEvent& event, bool greeted) {
    switch (event.event_case()) {
    case orrinclient::CaptureEvent::kHello:
        setConnected(true);
        return true;
    case orrinclient::CaptureEvent::kEpoch:
        if (greeted)
            EmitSafely([&] { capture_.epochCaptured(&event.epoch()); });
        return false;
    case orrinclient::CaptureEvent::kContinuousStopped:
        if (greeted)
            EmitSafely([&] { capture_.continuousStopped(); });
        return false;
    default: // heartbeats, and events of a newer server that this library does not know
        return false;
    }
}

void EventStream::setConnected(bool connected) {
    if (connected_.exchange(connected) != connected)
        EmitSafely([&] { status_.connectionChanged(connected); });
}

} // namespace lyra::detail
