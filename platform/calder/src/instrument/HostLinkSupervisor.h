#pragma once
// Supervision of the host link: decides when the link is up and when it has stopped, from the
// host's link-alive and heartbeat frames, a heartbeat time-out and the socket's end.
//
// Lives on the thread that activated the host socket (its timer runs in that thread's event
// loop); every member is called on that thread.

#include <QObject>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <functional>

namespace calder::instrument {

class HostLinkSupervisor : public QObject {
    Q_OBJECT
public:
    HostLinkSupervisor(std::function<void()> onAlive, std::function<void()> onStopped);

    void SetTimeout(std::chrono::milliseconds timeout);
    std::chrono::milliseconds Timeout() const { return timeout_; }

    // A new link starts. A previous link still counted as up is over now: it is reported stopped.
    void Begin();
    // The host accepted the logon.
    void LinkAlive();
    void Heartbeat();
    // The socket ended.
    void Closed();

    bool Alive() const { return alive_; }

private:
    void OnTimeout();
    void ConfirmStopped(std::uint64_t beatsAtTimeout);
    void MarkUp();
    void MarkStopped();

    std::function<void()> onAlive_;
    std::function<void()> onStopped_;
    std::chrono::milliseconds timeout_{1000};
    QTimer timer_;
    bool established_ = false; // link-alive seen on this link
    bool alive_ = false;
    std::uint64_t beats_ = 0; // frames of life seen, to spot ones that were queued at the time-out
};

} // namespace calder::instrument
