#pragma once
// The long-lived event stream (the capture service's Subscribe) and the connection state it
// stands for. One event thread holds the stream open, breaks it when the server goes silent,
// re-opens it with a growing delay, and emits the connection changes, the streamed epochs and
// the ends of continuous capture.

#include "Link.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace lyra::detail {

class EventStream {
public:
    EventStream(LinkState& links, IOrrinConnectionStatusService& status, IOrrinDataCaptureService& capture);
    ~EventStream();
    EventStream(const EventStream&) = delete;
    EventStream& operator=(const EventStream&) = delete;

    // Starts the event thread if it does not run, else drops the current stream at once so that
    // the thread opens one on the current link (used after the address changed).
    void restart();
    // Ends the stream and joins the event thread; a connected state is reported as lost first.
    // From the event thread itself (a slot) it only asks the thread to end.
    void shutdown();

    bool connected() const { return connected_.load(); }

private:
    void run();
    // Reads one stream until it ends; true when the server's hello arrived on it.
    bool readStream(Link& link, grpc::ClientContext& context);
    // Emits the event; true when it was the server's hello.
    bool dispatch(const orrinclient::CaptureEvent& event, bool greeted);
    void setConnected(bool connected);

    LinkState& links_;
    IOrrinConnectionStatusService& status_;
    IOrrinDataCaptureService& capture_;

    std::mutex mutex_;
    std::condition_variable wake_;
    bool running_ = false;                   // the event thread runs its loop
    bool stopping_ = false;                  // asked to end
    bool restart_ = false;                   // asked to drop the stream and open one on the current link
    grpc::ClientContext* context_ = nullptr; // the stream being read
    std::thread thread_;

    std::atomic<bool> connected_{false};
};

} // namespace lyra::detail
