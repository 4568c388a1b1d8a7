#include "TestApplication.h"

#include <QApplication>
#include <QTimer>

#include <cstdlib>

namespace testsupport {

namespace {

// Reachable from a global on purpose: destroying the application at process exit would run
// after the test framework's statics are gone.
QApplication* application = nullptr;

} // namespace

QApplication& EnsureApplication() {
    if (auto* existing = qobject_cast<QApplication*>(QCoreApplication::instance())) {
        return *existing;
    }
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) {
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
    }
    static int argc = 1;
    static char name[] = "orrin-tarn-tests";
    static char* argv[] = {name, nullptr};
    application = new QApplication(argc, argv);
    return *application;
}

void ConsumeQuitRequest() {
    EnsureApplication();
    // A queued request is processed first; then the application's own loop runs once, which
    // takes a processed request out of force when it ends.
    QCoreApplication::sendPostedEvents();
    QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
    QCoreApplication::exec();
}

} // namespace testsupport
