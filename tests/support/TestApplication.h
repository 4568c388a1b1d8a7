#pragma once
// The one QApplication of a test process.

class QApplication;

namespace testsupport {

// Creates the process's QApplication on first use (headless unless QT_QPA_PLATFORM is already
// set) and returns it. Call it on the thread that runs the widgets, usually the test's main thread.
QApplication& EnsureApplication();

// Lets a quit request that was posted or processed earlier run its course, so that the next
// modal loop of the process runs normally again. Call it from the top level of a test, never
// from inside an event loop.
void ConsumeQuitRequest();

// Processes events until `done` returns true or `timeout` has passed; returns `done()`.
template <typename Predicate>
bool ProcessEventsUntil(Predicate done, int timeoutMs = 10000);

} // namespace testsupport

#include <QCoreApplication>
#include <QDeadlineTimer>

template <typename Predicate>
bool testsupport::ProcessEventsUntil(Predicate done, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired()) {
            return done();
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}
