#include "framework/WindowMessages.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <mutex>
#include <unordered_map>

namespace framework {

namespace {

constexpr UINT kFirstRegisteredMessage = 0xC000;
constexpr UINT kLastRegisteredMessage = 0xFFFF;

struct MessageRegistry {
    std::mutex mutex;
    std::unordered_map<std::wstring, UINT> ids;
    UINT next = kFirstRegisteredMessage;
};

MessageRegistry& Registry() {
    static MessageRegistry registry;
    return registry;
}

} // namespace

UINT RegisterWindowMessage(const std::wstring& name) {
    // An empty name cannot be told apart from "no name"; 0 is never a valid message number.
    if (name.empty()) {
        return 0;
    }
    MessageRegistry& registry = Registry();
    std::lock_guard lock(registry.mutex);
    if (auto found = registry.ids.find(name); found != registry.ids.end()) {
        return found->second;
    }
    if (registry.next > kLastRegisteredMessage) {
        return 0; // the range is used up
    }
    const UINT id = registry.next++;
    registry.ids.emplace(name, id);
    return id;
}

WindowMessageEvent::WindowMessageEvent(UINT message, WPARAM wParam, LPARAM lParam)
    : QEvent(EventType()), message_(message), wParam_(wParam), lParam_(lParam) {
    published_.store(true, std::memory_order_release);
}

// Usually runs on the window's thread, after the event was built on another one.
WindowMessageEvent::~WindowMessageEvent() {
    (void)published_.load(std::memory_order_acquire);
}

QEvent::Type WindowMessageEvent::EventType() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

bool PostMessage(QObject* window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (window == nullptr) {
        return false;
    }
    // Posted events of one priority reach their receiver in posting order, on its thread.
    QCoreApplication::postEvent(window, new WindowMessageEvent(message, wParam, lParam));
    return true;
}

const WindowMessageEvent* AsWindowMessage(const QEvent* event) {
    if (event == nullptr || event->type() != WindowMessageEvent::EventType()) {
        return nullptr;
    }
    return static_cast<const WindowMessageEvent*>(event);
}

void PostQuitMessage(int exitCode) {
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr) {
        return;
    }
    // Queued, so that the request is seen by whichever loop runs when it is processed. Once
    // processed it stays in force: a modal loop started afterwards returns at once, until the
    // application's own exec() runs.
    QMetaObject::invokeMethod(
        app, [exitCode] { QCoreApplication::exit(exitCode); }, Qt::QueuedConnection);
}

} // namespace framework
