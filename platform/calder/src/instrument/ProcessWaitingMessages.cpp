// Dispatching the calling thread's waiting events from inside a long operation.

#include "calder/Window.h"

#include <QCoreApplication>

void ProcessWaitingMessages(void* /*reserved1*/, void* /*reserved2*/) {
    // Without an application object there is no event dispatcher to drain.
    if (QCoreApplication::instance() != nullptr)
        QCoreApplication::processEvents(QEventLoop::AllEvents);
}
