// Window helpers: remembered window rectangles, the docking button, dispatching waiting events
// and translated texts.

#include "TestEnvironment.h"
#include "calder/DockWrapper.h"
#include "calder/TarnInstBase.h"
#include "calder/Window.h"
#include "framework/WindowMessages.h"

#include <QDialog>
#include <QGuiApplication>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <vector>

namespace fs = std::filesystem;

namespace {

class WindowHelpersTest : public ::testing::Test {
protected:
    void SetUp() override { testsupport::EnsureApplication(); }
    testsupport::ScopedTestEnvironment env;
};

TEST_F(WindowHelpersTest, WindowRectangleRoundTripsThroughThePersistenceFolder) {
    QDialog window;
    // Nothing stored yet: the window stays where it is.
    window.setGeometry(40, 50, 300, 200);
    EXPECT_EQ(PersistentWnd::RestoreWndRect(L"windows", L"Tarn_Test_DTarnConnection", &window, 9, nullptr),
              0);
    EXPECT_EQ(window.geometry(), QRect(40, 50, 300, 200));

    window.setGeometry(60, 70, 320, 240);
    ASSERT_NE(PersistentWnd::SaveWndRect(L"windows", L"Tarn_Test_DTarnConnection", &window, 9, nullptr), 0);
    EXPECT_TRUE(fs::exists(env.tarnHome() / "Persistence" / "WindowPositions.ini"));

    QDialog again;
    again.setGeometry(0, 0, 100, 100);
    ASSERT_NE(PersistentWnd::RestoreWndRect(L"windows", L"Tarn_Test_DTarnConnection", &again, 9, nullptr), 0);
    EXPECT_EQ(again.geometry(), QRect(60, 70, 320, 240));

    // Another key of the same section is separate.
    QDialog other;
    other.setGeometry(1, 2, 30, 40);
    EXPECT_EQ(PersistentWnd::RestoreWndRect(L"windows", L"Tarn_Other_DTarnConnection", &other, 9, nullptr),
              0);
    EXPECT_EQ(other.geometry(), QRect(1, 2, 30, 40));
    EXPECT_EQ(PersistentWnd::SaveWndRect(L"windows", L"key", nullptr, 9, nullptr), 0);
}

TEST_F(WindowHelpersTest, ARectangleOffEveryScreenComesBackOnOne) {
    QScreen* screen = QGuiApplication::primaryScreen();
    ASSERT_NE(screen, nullptr);
    const QRect area = screen->availableGeometry();
    QDialog window;
    window.setGeometry(area.right() + 5000, area.bottom() + 5000, 200, 150);
    ASSERT_NE(PersistentWnd::SaveWndRect(L"windows", L"far", &window, 9, nullptr), 0);

    QDialog restored;
    ASSERT_NE(PersistentWnd::RestoreWndRect(L"windows", L"far", &restored, 9, nullptr), 0);
    EXPECT_TRUE(area.contains(restored.geometry()))
        << restored.geometry().x() << "," << restored.geometry().y();
    EXPECT_EQ(restored.geometry().size(), QSize(200, 150));
}

// A dialog that hands its posted WM_COMMAND messages to the docking wrapper, as an instrument's
// window does.
class DockingDialog : public QDialog {
public:
    bool event(QEvent* e) override {
        if (const auto* message = framework::AsWindowMessage(e)) {
            if (message->message() == WM_COMMAND)
                results.push_back(wrapper->OnCommand(*this, message->wParam(), message->lParam()));
            return true;
        }
        return QDialog::event(e);
    }
    DockWrapper* wrapper = nullptr;
    std::vector<int> results;
};

TEST_F(WindowHelpersTest, DockButtonClickReachesTheWrapperThroughWmCommand) {
    TarnInstBase instrument(1, 1);
    DockWrapper* wrapper = instrument.GetDockWrapper();
    ASSERT_NE(wrapper, nullptr);
    EXPECT_EQ(wrapper->CheckDockability(instrument), 0) << "no button yet";

    DockingDialog dialog;
    dialog.wrapper = wrapper;
    dialog.resize(200, 100);
    CDockingBtnCtrl button;
    EXPECT_EQ(button.Create(L"Dock", 0x10000000, CRect{10, 10, 90, 34}, nullptr, 4000), 0);
    ASSERT_NE(button.Create(L"Dock", 0x50000000, CRect{10, 10, 90, 34}, &dialog, 4000), 0);
    ASSERT_NE(button.button(), nullptr);
    EXPECT_EQ(button.button()->text(), QStringLiteral("Dock"));
    EXPECT_EQ(button.button()->geometry(), QRect(10, 10, 80, 24));
    wrapper->SetDockingBtnCtrl(button);
    EXPECT_NE(wrapper->CheckDockability(instrument), 0);
    dialog.show();
    EXPECT_TRUE(button.button()->isVisible());

    QTest::mouseClick(button.button(), Qt::LeftButton);
    ASSERT_TRUE(testsupport::ProcessEventsUntil([&] { return dialog.results.size() == 1; }, 5000));
    EXPECT_NE(dialog.results[0], 0);
    EXPECT_TRUE(wrapper->IsDocked());

    button.button()->click();
    ASSERT_TRUE(testsupport::ProcessEventsUntil([&] { return dialog.results.size() == 2; }, 5000));
    EXPECT_FALSE(wrapper->IsDocked());

    // Commands of other controls are not the wrapper's.
    EXPECT_EQ(wrapper->OnCommand(dialog, 1, 0), 0);
    EXPECT_EQ(wrapper->OnCommand(dialog, (1u << 16) | 4001u, 0), 0);
    EXPECT_FALSE(wrapper->IsDocked());
    // The id is the low word; the notification code in the high word does not matter.
    EXPECT_NE(wrapper->OnCommand(dialog, (5u << 16) | 4000u, 0), 0);
}

TEST_F(WindowHelpersTest, AButtonWithoutTheVisibleStyleStaysHidden) {
    QDialog dialog;
    dialog.show();
    CDockingBtnCtrl button;
    ASSERT_NE(button.Create(L"Dock", 0, CRect{0, 0, 50, 20}, &dialog, 7), 0);
    EXPECT_FALSE(button.button()->isVisible());
}

TEST_F(WindowHelpersTest, TheButtonMayOutliveItsWindowAndTheOtherWayRound) {
    {
        CDockingBtnCtrl button;
        {
            QDialog dialog;
            ASSERT_NE(button.Create(L"Dock", 0x10000000, CRect{0, 0, 50, 20}, &dialog, 7), 0);
        }
        EXPECT_EQ(button.button(), nullptr);
    }
    QDialog dialog;
    {
        CDockingBtnCtrl button;
        ASSERT_NE(button.Create(L"Dock", 0x10000000, CRect{0, 0, 50, 20}, &dialog, 7), 0);
    }
    EXPECT_TRUE(dialog.findChildren<QPushButton*>().isEmpty());
}

TEST_F(WindowHelpersTest, ProcessWaitingMessagesRunsWhatIsQueuedAndReturns) {
    int ran = 0;
    QTimer::singleShot(0, [&] { ++ran; });
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [&] { ++ran; }, Qt::QueuedConnection);
    ProcessWaitingMessages(nullptr, nullptr);
    EXPECT_EQ(ran, 2);
    // Nothing waiting: it returns at once instead of waiting for events.
    ProcessWaitingMessages(nullptr, nullptr);
    EXPECT_EQ(ran, 2);
}

TEST_F(WindowHelpersTest, TranslationsComeFromALoadedTable) {
    CalderLang::ClearTable();
    EXPECT_EQ(CalderLang::Translate(L"Could not connect to Tarn.  Try Again?"),
              L"Could not connect to Tarn.  Try Again?");

    const fs::path table = env.root() / "lang.txt";
    {
        std::ofstream out(table, std::ios::binary);
        out << "# comment line\n"
               "Could not connect to Tarn.  Try Again?\tKeine Verbindung zu Tarn.\\nNochmals versuchen?\n"
               "Could not connect socket to Tarn.\tSocket-Verbindung fehlgeschlagen \xc3\xbc\r\n"
               "line without tab\n"
               "Untranslated\t\n";
    }
    ASSERT_TRUE(CalderLang::LoadTable(table.string()));
    EXPECT_EQ(CalderLang::Translate(L"Could not connect to Tarn.  Try Again?"),
              L"Keine Verbindung zu Tarn.\nNochmals versuchen?");
    EXPECT_EQ(CalderLang::Translate(L"Could not connect socket to Tarn."),
              L"Socket-Verbindung fehlgeschlagen \u00fc");
    EXPECT_EQ(CalderLang::Translate(L"Untranslated"), L"Untranslated");
    EXPECT_EQ(CalderLang::Translate(L"Something else"), L"Something else");

    // An unreadable table keeps the loaded one.
    EXPECT_FALSE(CalderLang::LoadTable((env.root() / "missing.txt").string()));
    EXPECT_EQ(CalderLang::Translate(L"Could not connect socket to Tarn."),
              L"Socket-Verbindung fehlgeschlagen \u00fc");
    CalderLang::ClearTable();
    EXPECT_EQ(CalderLang::Translate(L"Could not connect socket to Tarn."),
              L"Could not connect socket to Tarn.");
}

} // namespace
