#pragma once
// Posted window messages: a message number with two parameters, delivered to a window object on
// the thread that owns it, in posting order. Numbers are either fixed (WM_APP + n) or registered
// by name, process-wide (the same name always gives the same number).

#include "framework/WinTypes.h"

#include <QEvent>
#include <QObject>

#include <atomic>
#include <string>

namespace framework {

constexpr UINT WM_APP = 0x8000;

// Returns the number registered for `name`, registering it on first use. Registered numbers lie
// in 0xC000..0xFFFF. Thread-safe.
UINT RegisterWindowMessage(const std::wstring& name);

// The event that carries one posted message. A window handles it in its `event()` override.
class WindowMessageEvent : public QEvent {
public:
    WindowMessageEvent(UINT message, WPARAM wParam, LPARAM lParam);
    ~WindowMessageEvent() override;
    static QEvent::Type EventType();

    UINT message() const { return Published().message_; }
    WPARAM wParam() const { return Published().wParam_; }
    LPARAM lParam() const { return Published().lParam_; }

private:
    // The event is built on the posting thread and read on the window's thread; the release and
    // acquire on this flag order the two in the memory model (and for race checkers), whatever
    // the event queue does inside.
    const WindowMessageEvent& Published() const {
        (void)published_.load(std::memory_order_acquire);
        return *this;
    }

    UINT message_;
    WPARAM wParam_;
    LPARAM lParam_;
    std::atomic<bool> published_{false};
};

// Queues the message for `window` on the window's own thread; callable from any thread.
// Returns false when `window` is null.
bool PostMessage(QObject* window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0);

// Returns the event as a posted message, or nullptr when it is another kind of event.
const WindowMessageEvent* AsWindowMessage(const QEvent* event);

// Queues a request to end the running event loop with `exitCode`. It ends the modal loop that is
// running when it is processed (a modal dialog's exec() started after the post included), and
// every loop nested in it. Once processed it stays in force: a modal loop started later returns
// at once, until the application's own exec() runs. The request always goes to the application's
// (UI) thread, whichever thread posts it.
void PostQuitMessage(int exitCode);

} // namespace framework
