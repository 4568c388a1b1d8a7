#include "framework/MessageBox.h"

#include "ModalAnswer.h"
#include "TestApplication.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <string>
#include <thread>

namespace {

using namespace framework;
using namespace std::chrono_literals;
using testsupport::EnsureApplication;

class MessageBoxes : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureApplication();
        testsupport::ClearSeenMessageBoxes();
    }
    void TearDown() override { testsupport::CancelModalWatches(); }
};

// What the box looked like when it was answered.
struct Shown {
    std::string objectName;
    std::string title;
    std::string text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    std::set<QMessageBox::StandardButton> buttons;
    Qt::TextFormat format = Qt::AutoText;
};

Shown Inspect(QMessageBox* box) {
    Shown shown{box->objectName().toStdString(),
                box->windowTitle().toStdString(),
                box->text().toStdString(),
                box->icon(),
                {},
                box->textFormat()};
    for (QAbstractButton* button : box->buttons()) {
        shown.buttons.insert(box->standardButton(button));
    }
    return shown;
}

enum class Action { Ok, Cancel, Yes, No, CloseWindow, EscapeKey };

void Perform(QMessageBox* box, Action action) {
    switch (action) {
    case Action::Ok:
        box->button(QMessageBox::Ok)->click();
        break;
    case Action::Cancel:
        box->button(QMessageBox::Cancel)->click();
        break;
    case Action::Yes:
        box->button(QMessageBox::Yes)->click();
        break;
    case Action::No:
        box->button(QMessageBox::No)->click();
        break;
    case Action::CloseWindow:
        box->close();
        break;
    case Action::EscapeKey:
        QTest::keyClick(box, Qt::Key_Escape);
        break;
    }
}

TEST_F(MessageBoxes, ButtonsIconsAndAnswersFollowTheType) {
    using B = QMessageBox::StandardButton;
    struct Case {
        const char* name;
        UINT type;
        Action action;
        int expected;
        QMessageBox::Icon icon;
        std::set<B> buttons;
    };
    const Case cases[] = {
        {"ok", MB_OK, Action::Ok, IDOK, QMessageBox::NoIcon, {B::Ok}},
        {"ok closed",
         MB_OK | MB_ICONINFORMATION,
         Action::CloseWindow,
         IDOK,
         QMessageBox::Information,
         {B::Ok}},
        {"ok escape", MB_OK | MB_ICONWARNING, Action::EscapeKey, IDOK, QMessageBox::Warning, {B::Ok}},
        {"ok-cancel ok",
         MB_OKCANCEL | MB_ICONQUESTION,
         Action::Ok,
         IDOK,
         QMessageBox::Question,
         {B::Ok, B::Cancel}},
        {"ok-cancel cancel", MB_OKCANCEL, Action::Cancel, IDCANCEL, QMessageBox::NoIcon, {B::Ok, B::Cancel}},
        {"ok-cancel closed",
         MB_OKCANCEL,
         Action::CloseWindow,
         IDCANCEL,
         QMessageBox::NoIcon,
         {B::Ok, B::Cancel}},
        {"yes-no yes", MB_YESNO | MB_ICONSTOP, Action::Yes, IDYES, QMessageBox::Critical, {B::Yes, B::No}},
        {"yes-no no", MB_YESNO | MB_ICONERROR, Action::No, IDNO, QMessageBox::Critical, {B::Yes, B::No}},
        {"yes-no closed",
         MB_YESNO | MB_ICONSTOP,
         Action::CloseWindow,
         IDNO,
         QMessageBox::Critical,
         {B::Yes, B::No}},
        {"yes-no escape", MB_YESNO, Action::EscapeKey, IDNO, QMessageBox::NoIcon, {B::Yes, B::No}},
        {"yes-no-cancel no",
         MB_YESNOCANCEL,
         Action::No,
         IDNO,
         QMessageBox::NoIcon,
         {B::Yes, B::No, B::Cancel}},
        {"yes-no-cancel closed",
         MB_YESNOCANCEL,
         Action::CloseWindow,
         IDCANCEL,
         QMessageBox::NoIcon,
         {B::Yes, B::No, B::Cancel}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Shown shown;
        auto watch = testsupport::WhenDialogAppears<QMessageBox>([&](QMessageBox* box) {
            shown = Inspect(box);
            Perform(box, c.action);
        });
        const int answer = MessageBox(nullptr, L"Failed to write Orrin server settings.", L"Orrin", c.type);
        EXPECT_TRUE(watch->acted());
        EXPECT_EQ(answer, c.expected);
        EXPECT_EQ(shown.objectName, "frameworkMessageBox");
        EXPECT_EQ(shown.title, "Orrin");
        EXPECT_EQ(shown.text, "Failed to write Orrin server settings.");
        EXPECT_EQ(shown.icon, c.icon);
        EXPECT_EQ(shown.buttons, c.buttons);
    }
}

TEST_F(MessageBoxes, TextsAreShownExactlyAsGiven) {
    struct Case {
        const char* name;
        std::wstring text;
        std::wstring caption;
        std::string expectedText;
        std::string expectedCaption;
    };
    const Case cases[] = {
        {"line break kept", L"Please Select a valid Tarn to connect to.\nYou will need to have Tarn running.",
         L"", "Please Select a valid Tarn to connect to.\nYou will need to have Tarn running.",
         QCoreApplication::applicationName().toStdString()},
        {"markup is not interpreted", L"<b>Group</b> &amp; 1", L"Tarn", "<b>Group</b> &amp; 1", "Tarn"},
        {"non-ASCII", L"Failed to get the data for 3D File Größe µm.", L"Maß",
         "Failed to get the data for 3D File Gr\xC3\xB6\xC3\x9F"
         "e \xC2\xB5m.",
         "Ma\xC3\x9F"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Qt::TextFormat format = Qt::AutoText;
        testsupport::WhenDialogAppears<QMessageBox>([&](QMessageBox* box) { format = box->textFormat(); });
        auto watch = testsupport::AnswerNextMessageBox(IDOK);
        ASSERT_EQ(MessageBox(nullptr, c.text, c.caption, MB_OK), IDOK);
        EXPECT_EQ(format, Qt::PlainText);
        EXPECT_EQ(watch->text(), c.expectedText);
        EXPECT_EQ(watch->caption(), c.expectedCaption);
    }
    EXPECT_FALSE(QCoreApplication::applicationName().isEmpty());
}

TEST_F(MessageBoxes, ABoxAskedForOnAnotherThreadIsShownOnTheUiThread) {
    std::atomic<int> answer{0};
    std::atomic<bool> finished{false};
    QThread* shownOn = nullptr;
    testsupport::WhenDialogAppears<QMessageBox>([&](QMessageBox* box) {
        shownOn = QThread::currentThread();
        box->button(QMessageBox::Yes)->click();
    });
    std::thread worker([&] {
        answer = MessageBox(nullptr, L"Retry?", L"", MB_YESNO);
        finished = true;
    });
    const bool done = testsupport::ProcessEventsUntil([&] { return finished.load(); });
    worker.join();
    ASSERT_TRUE(done);
    EXPECT_EQ(answer.load(), IDYES);
    EXPECT_EQ(shownOn, QCoreApplication::instance()->thread());
}

TEST_F(MessageBoxes, ABoxWhoseParentIsDestroyedWhileOpenCountsAsClosed) {
    auto* parent = new QWidget;
    testsupport::WhenDialogAppears<QMessageBox>([&](QMessageBox*) { delete parent; });
    EXPECT_EQ(MessageBox(parent, L"Save?", L"", MB_YESNOCANCEL), IDCANCEL);
}

} // namespace
