#pragma once
// Waits for a flag to reach a value while the calling thread keeps dispatching its events, so
// that callbacks delivered through the thread's event loop (the host link's) can set the flag.
// Internal to the SDK library.

#include "calder/ObjectModel.h"
#include "framework/WinTypes.h"

#include <atomic>

class Blocking : public CObject {
public:
    Blocking() = default;
    Blocking(double timeout, std::atomic<bool>* watched, const std::atomic<bool>* abort, bool awaited,
             bool force);
    ~Blocking() override;

    // TRUE as soon as *watchedFlag equals awaitedValue (tested before anything else, so a flag
    // already there returns at once); FALSE when *abortFlag turns true or the time runs out.
    // The watched flag is never written: a time-out is reported as FALSE and the flag keeps what
    // the callbacks made of it, whichever path the wait takes.
    BOOL Wait();

    // Which path a wait takes: the timer path needs an event dispatcher on the calling thread;
    // without one (or when forced for tests) it polls every 10 ms.
    static bool TimerAvailable();
    static void ForcePollingForTesting(bool force);

    double timeoutSeconds = 0.0;
    std::atomic<bool>* watchedFlag = nullptr;
    const std::atomic<bool>* abortFlag = nullptr;
    bool awaitedValue = true;
    // Kept for the record; the wait does not act on it (see Wait).
    bool forceOnTimeout = false;

private:
    BOOL WaitWithTimer();
    BOOL WaitPolling();
};
