// Supervision of the host link.

#include "HostLinkSupervisor.h"

#include <QMetaObject>

#include <utility>

namespace calder::instrument {

HostLinkSupervisor::HostLinkSupervisor(std::function<void()> onAlive, std::function<void()> onStopped)
    : onAlive_(std::move(onAlive)), onStopped_(std::move(onStopped)) {
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::CoarseTimer);
    connect(&timer_, &QTimer::timeout, this, &HostLinkSupervisor::OnTimeout);
}

void HostLinkSupervisor::SetTimeout(std::chrono::milliseconds timeout) {
    timeout_ = timeout.count() > 0 ? timeout : std::chrono::milliseconds(1);
    if (timer_.isActive())
        timer_.start(timeout_);
}

void HostLinkSupervisor::Begin() {
    timer_.stop();
    established_ = false;
    if (alive_)
        MarkStopped();
}

void HostLinkSupervisor::LinkAlive() {
    established_ = true;
    ++beats_;
    timer_.start(timeout_);
    if (!alive_)
        MarkUp();
}

void HostLinkSupervisor::Heartbeat() {
    // Heartbeats before the host accepted the logon say nothing about the instrument's link.
    if (!established_)
        return;
    ++beats_;
    timer_.start(timeout_);
    if (!alive_)
        MarkUp(); // heartbeats resumed after a stop
}

void HostLinkSupervisor::Closed() {
    timer_.stop();
    established_ = false;
    if (alive_)
        MarkStopped();
}

void HostLinkSupervisor::OnTimeout() {
    if (!alive_)
        return;
    // Heartbeats may already wait in the event queue behind a long handler; a queued check runs
    // after them, so only a real silence counts as a stop.
    const std::uint64_t beats = beats_;
    QMetaObject::invokeMethod(
        this, [this, beats] { ConfirmStopped(beats); }, Qt::QueuedConnection);
}

void HostLinkSupervisor::ConfirmStopped(std::uint64_t beatsAtTimeout) {
    if (alive_ && beats_ == beatsAtTimeout)
        MarkStopped();
}

void HostLinkSupervisor::MarkUp() {
    alive_ = true;
    if (onAlive_)
        onAlive_();
}

void HostLinkSupervisor::MarkStopped() {
    alive_ = false;
    if (onStopped_)
        onStopped_();
}

} // namespace calder::instrument
