#include "framework/WindowMessages.h"
#include "framework/MessageBox.h"

#include "ModalAnswer.h"
#include "TestApplication.h"

#include <QDialog>
#include <QMessageBox>
#include <QPointer>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

using testsupport::EnsureApplication;
using testsupport::ProcessEventsUntil;
using namespace std::chrono_literals;

// A window that records every posted message it handles, and the thread it handled it on.
class RecordingWindow : public QObject {
public:
    struct Received {
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
        QThread* thread;
    };
    std::vector<Received> received;
    int otherEvents = 0;

protected:
    bool event(QEvent* event) override {
        if (const framework::WindowMessageEvent* message = framework::AsWindowMessage(event)) {
            received.push_back(
                {message->message(), message->wParam(), message->lParam(), QThread::currentThread()});
            return true;
        }
        if (event->type() == QEvent::User) {
            ++otherEvents;
        }
        return QObject::event(event);
    }
};

class WindowMessages : public ::testing::Test {
protected:
    void SetUp() override { EnsureApplication(); }
    void TearDown() override {
        testsupport::CancelModalWatches();
        testsupport::ConsumeQuitRequest();
    }
};

TEST_F(WindowMessages, MessagesPostedFromOtherThreadsArriveOnTheWindowsThreadInPostingOrder) {
    RecordingWindow window;
    constexpr int kThreads = 3;
    constexpr int kPerThread = 300;
    std::vector<std::thread> posters;
    for (int t = 0; t < kThreads; ++t) {
        posters.emplace_back([&window, t] {
            for (int i = 0; i < kPerThread; ++i) {
                // lParam is negative on purpose: it must arrive as the signed value posted.
                framework::PostMessage(&window, framework::WM_APP + static_cast<UINT>(t),
                                       static_cast<WPARAM>(i), -static_cast<LPARAM>(i));
            }
        });
    }
    for (std::thread& poster : posters) {
        poster.join();
    }
    // Nothing is delivered before the window's thread handles its events.
    EXPECT_TRUE(window.received.empty());
    ASSERT_TRUE(ProcessEventsUntil([&] { return window.received.size() == kThreads * kPerThread; }));

    std::map<UINT, WPARAM> nextPerPoster;
    for (const RecordingWindow::Received& r : window.received) {
        EXPECT_EQ(r.thread, window.thread());
        ASSERT_GE(r.message, framework::WM_APP);
        ASSERT_LT(r.message, framework::WM_APP + kThreads);
        EXPECT_EQ(r.wParam, nextPerPoster[r.message]) << "message " << r.message;
        EXPECT_EQ(r.lParam, -static_cast<LPARAM>(r.wParam));
        nextPerPoster[r.message] = r.wParam + 1;
    }
}

TEST_F(WindowMessages, OnlyPostedMessagesAreRecognisedAsSuch) {
    RecordingWindow window;
    EXPECT_FALSE(framework::PostMessage(nullptr, framework::WM_APP));
    QCoreApplication::postEvent(&window, new QEvent(QEvent::User));
    EXPECT_TRUE(framework::PostMessage(&window, framework::WM_APP + 3, 0xFFFFFFFFu, 7));
    ASSERT_TRUE(ProcessEventsUntil([&] { return window.received.size() == 1 && window.otherEvents == 1; }));
    EXPECT_EQ(window.received[0].message, framework::WM_APP + 3);
    EXPECT_EQ(window.received[0].wParam, 0xFFFFFFFFu);
    EXPECT_EQ(framework::AsWindowMessage(nullptr), nullptr);
    const QEvent other(QEvent::User);
    EXPECT_EQ(framework::AsWindowMessage(&other), nullptr);
    const framework::WindowMessageEvent own(1, 2, 3);
    EXPECT_EQ(framework::AsWindowMessage(&own), &own);
}

TEST_F(WindowMessages, PendingMessagesOfADestroyedWindowAreDropped) {
    auto* window = new RecordingWindow;
    framework::PostMessage(window, framework::WM_APP);
    delete window;
    // Would touch the freed window if the message were still queued.
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
}

TEST(RegisteredWindowMessages, SameNameSameNumberOnEveryThread) {
    const std::vector<std::wstring> names = {L"UWM_UpdateProbeLabel", L"UWM_AutomeasureDone",
                                             L"UWM_BundleDone", L"uwm_bundledone",
                                             L"UWM_Framework_Test_Name"};
    constexpr int kThreads = 4;
    std::vector<std::vector<UINT>> ids(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            // Each thread goes through the names in its own order.
            for (std::size_t i = 0; i < names.size(); ++i) {
                ids[static_cast<std::size_t>(t)].push_back(0);
            }
            for (std::size_t k = 0; k < names.size(); ++k) {
                const std::size_t i = (k + static_cast<std::size_t>(t)) % names.size();
                ids[static_cast<std::size_t>(t)][i] = framework::RegisterWindowMessage(names[i]);
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    std::set<UINT> distinct;
    for (std::size_t i = 0; i < names.size(); ++i) {
        for (int t = 1; t < kThreads; ++t) {
            EXPECT_EQ(ids[static_cast<std::size_t>(t)][i], ids[0][i]);
        }
        EXPECT_GE(ids[0][i], 0xC000u);
        EXPECT_LE(ids[0][i], 0xFFFFu);
        EXPECT_EQ(framework::RegisterWindowMessage(names[i]), ids[0][i]);
        distinct.insert(ids[0][i]);
    }
    EXPECT_EQ(distinct.size(), names.size());
    EXPECT_EQ(framework::RegisterWindowMessage(L""), 0u);
}

// A modal dialog that ends itself after a while if nothing else ends it, so that a failing test
// cannot hang; it records whether it had to.
struct BoundedDialog {
    QDialog dialog;
    bool endedByFallback = false;
    BoundedDialog() {
        QTimer::singleShot(10000, &dialog, [this] {
            endedByFallback = true;
            dialog.done(QDialog::Rejected);
        });
    }
};

TEST_F(WindowMessages, QuitRequestEndsAModalLoopStartedAfterThePost) {
    struct Case {
        const char* name;
        bool eventsHandledBeforeTheDialog; // the request was processed outside of any loop
    };
    for (const Case c : {Case{"still queued", false}, Case{"already processed", true}}) {
        SCOPED_TRACE(c.name);
        framework::PostQuitMessage(0);
        if (c.eventsHandledBeforeTheDialog) {
            QCoreApplication::processEvents();
        }
        BoundedDialog bounded;
        bounded.dialog.exec();
        EXPECT_FALSE(bounded.endedByFallback);
        testsupport::ConsumeQuitRequest();
    }
    // Once consumed, a modal loop runs normally again.
    BoundedDialog after;
    auto watch =
        testsupport::WhenModalAppears([](QWidget* widget) { static_cast<QDialog*>(widget)->accept(); });
    EXPECT_EQ(after.dialog.exec(), QDialog::Accepted);
    EXPECT_TRUE(watch->acted());
    EXPECT_FALSE(after.endedByFallback);
}

TEST_F(WindowMessages, QuitRequestEndsNestedModalLoops) {
    BoundedDialog outer;
    int boxAnswer = 0;
    // The outer dialog opens a Yes/No box; while the box is up, the quit request arrives.
    testsupport::WhenDialogAppears<QDialog>([&](QDialog* dialog) {
        if (dialog == &outer.dialog) {
            boxAnswer =
                framework::MessageBox(dialog, L"Retry?", L"", framework::MB_YESNO | framework::MB_ICONSTOP);
        }
    });
    auto boxWatch =
        testsupport::WhenModalAppears([](QWidget*) { framework::PostQuitMessage(0); }, 10s,
                                      [](QWidget* widget) { return qobject_cast<QMessageBox*>(widget); });
    outer.dialog.exec();
    EXPECT_TRUE(boxWatch->acted());
    EXPECT_EQ(boxAnswer, framework::IDNO); // ended without a button
    EXPECT_FALSE(outer.endedByFallback);
}

} // namespace
