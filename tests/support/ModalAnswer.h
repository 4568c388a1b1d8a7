#pragma once
// Answers modal widgets in GUI tests. A watch is registered before the code under test opens the
// widget; a timer on the UI thread then looks for the active modal widget, which also works while
// the code under test runs nested event loops (modal dialogs, message boxes, waits that dispatch
// events). Watches act strictly in registration order, one at a time: the next one looks only
// after the action of the one before has run (so several watches may act on one dialog in turn).
// Call these functions on the UI thread after EnsureApplication().

#include "TestApplication.h"

#include <QPointer>
#include <QWidget>

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace testsupport {

using namespace std::chrono_literals;

// A message box that a watch or a standing answer answered (texts in UTF-8).
struct SeenMessageBox {
    std::string text;
    std::string caption;
    int answer = 0; // IDOK, IDCANCEL, IDYES or IDNO
};

// One registered watch. Its deadline counts from its registration. When a watch runs out while a
// modal widget is open that nothing else will handle, the widget is closed (rejected) so that the
// test cannot hang, and a test failure is recorded.
class ModalWatch {
public:
    bool acted() const;    // it found its widget and acted on it
    bool timedOut() const; // its time ran out first
    bool finished() const { return acted() || timedOut(); }
    std::string text() const;    // the message box's text (message-box watches)
    std::string caption() const; // the widget's window title
    // Processes events until the watch has finished or `timeout` has passed; returns acted().
    bool Wait(std::chrono::milliseconds timeout = 10s);

private:
    friend class ModalPoller;
    mutable std::mutex mutex_;
    bool acted_ = false;
    bool timedOut_ = false;
    std::string text_;
    std::string caption_;
};
using ModalWatchPtr = std::shared_ptr<ModalWatch>;

// Clicks the button for `answerId` (IDOK, IDCANCEL, IDYES, IDNO) on the next message box and
// records its text. A box without that button is a test failure; it is then closed without one.
ModalWatchPtr AnswerNextMessageBox(int answerId, std::chrono::milliseconds timeout = 10s);

// Runs `action` on the next modal widget for which `matches` holds (any modal widget when
// `matches` is empty). The action runs from the event loop, outside the poll, so it may itself
// open modal widgets (answered by later watches).
ModalWatchPtr WhenModalAppears(std::function<void(QWidget*)> action, std::chrono::milliseconds timeout = 10s,
                               std::function<bool(QWidget*)> matches = {});

// Runs `action` on the next modal widget of type T (for example a dialog class; no Q_OBJECT needed).
template <typename T>
ModalWatchPtr WhenDialogAppears(std::function<void(T*)> action, std::chrono::milliseconds timeout = 10s) {
    return WhenModalAppears(
        [action = std::move(action)](QWidget* widget) { action(dynamic_cast<T*>(widget)); }, timeout,
        [](QWidget* widget) { return dynamic_cast<T*>(widget) != nullptr; });
}

// While it lives, every message box that no watch is waiting for is answered with `answerId`.
class ScopedMessageBoxAnswer {
public:
    explicit ScopedMessageBoxAnswer(int answerId);
    ~ScopedMessageBoxAnswer();
    ScopedMessageBoxAnswer(const ScopedMessageBoxAnswer&) = delete;
    ScopedMessageBoxAnswer& operator=(const ScopedMessageBoxAnswer&) = delete;

private:
    int previous_;
};

// Every message box answered so far in this process (or since the last clear), in order.
std::vector<SeenMessageBox> SeenMessageBoxes();
void ClearSeenMessageBoxes();

// Drops every watch that has not acted yet (they count as timed out) without closing anything.
void CancelModalWatches();

} // namespace testsupport
