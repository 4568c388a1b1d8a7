#include "Blocking.h"

#include "calder/Window.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdint>
#include <thread>

namespace {

std::atomic<bool> forcePolling{false};

// A wait longer than this is treated as this long (about 31 years): keeps the arithmetic finite.
constexpr double kMaxSeconds = 1.0e9;

double ClampedSeconds(double seconds) {
    if (!(seconds > 0.0)) // also NaN
        return 0.0;
    return std::min(seconds, kMaxSeconds);
}

// Milliseconds since an arbitrary start, wrapping like a 32-bit tick counter.
std::uint32_t TickCount() {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

} // namespace

Blocking::Blocking(double timeout, std::atomic<bool>* watched, const std::atomic<bool>* abort, bool awaited,
                   bool force)
    : timeoutSeconds(timeout), watchedFlag(watched), abortFlag(abort), awaitedValue(awaited),
      forceOnTimeout(force) {}

Blocking::~Blocking() = default;

bool Blocking::TimerAvailable() {
    return !forcePolling.load() && QCoreApplication::instance() != nullptr &&
           QAbstractEventDispatcher::instance() != nullptr;
}

void Blocking::ForcePollingForTesting(bool force) {
    forcePolling.store(force);
}

// Neither path writes the watched flag on time-out: forcing it would report a host link that is
// not there to every sender and to IsConnectedToTarn while the logon itself failed.
BOOL Blocking::Wait() {
    if (watchedFlag == nullptr)
        return FALSE;
    return TimerAvailable() ? WaitWithTimer() : WaitPolling();
}

BOOL Blocking::WaitWithTimer() {
    // The due time in 100-nanosecond units, truncated.
    const auto ticks = static_cast<std::int64_t>(ClampedSeconds(timeoutSeconds) * 10'000'000.0);
    const QDeadlineTimer deadline(std::chrono::nanoseconds(ticks * 100), Qt::PreciseTimer);

    // The timer does nothing itself: its event wakes the wait below when the deadline passes.
    QTimer wake;
    wake.setSingleShot(true);
    wake.setTimerType(Qt::PreciseTimer);
    const auto arm = [&] {
        const qint64 remaining = deadline.remainingTime(); // ms, rounded up
        wake.start(static_cast<int>(std::clamp<qint64>(remaining, 0, INT_MAX)));
    };
    arm();

    for (;;) {
        if (watchedFlag->load() == awaitedValue)
            return TRUE;
        if (abortFlag != nullptr && abortFlag->load())
            return FALSE;
        if (deadline.hasExpired())
            return FALSE;
        if (!wake.isActive())
            arm(); // a deadline beyond one timer interval
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
}

BOOL Blocking::WaitPolling() {
    const std::uint32_t start = TickCount();
    const auto limit = static_cast<std::uint32_t>(std::min(ClampedSeconds(timeoutSeconds) * 1000.0, 4.0e9));
    for (;;) {
        if (watchedFlag->load() == awaitedValue)
            return TRUE;
        if (abortFlag != nullptr && abortFlag->load())
            return FALSE;
        // Unsigned difference: right across the counter's wrap-around.
        if (static_cast<std::uint32_t>(TickCount() - start) >= limit)
            return FALSE;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ProcessWaitingMessages(nullptr, nullptr);
    }
}
