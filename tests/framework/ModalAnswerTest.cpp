#include "framework/MessageBox.h"

#include "ModalAnswer.h"
#include "TestApplication.h"

#include <QDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QTimer>

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace framework;
using namespace std::chrono_literals;
using testsupport::EnsureApplication;

class ModalAnswers : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureApplication();
        testsupport::ClearSeenMessageBoxes();
    }
    void TearDown() override { testsupport::CancelModalWatches(); }
};

// A small dialog of the code under test: asks before it accepts a changed entry.
class EntryDialog : public QDialog {
public:
    EntryDialog() {
        edit = new QLineEdit(this);
        edit->setObjectName("entry");
        // Bounds a failing test.
        QTimer::singleShot(10000, this, [this] { done(QDialog::Rejected); });
    }
    void Confirm() {
        confirmAnswer =
            MessageBox(this, L"Use " + edit->text().toStdWString() + L"?", L"Entry", MB_YESNOCANCEL);
        if (confirmAnswer == IDYES) {
            accept();
        }
    }
    QLineEdit* edit = nullptr;
    int confirmAnswer = 0;
};

TEST_F(ModalAnswers, WatchesActInOrderInsideNestedLoops) {
    EntryDialog dialog;
    // Fill in, confirm (which opens a box from inside the dialog's loop), get No, then try again.
    auto fill = testsupport::WhenDialogAppears<EntryDialog>([](EntryDialog* d) {
        d->edit->setText("Group7");
        d->Confirm();
    });
    auto no = testsupport::AnswerNextMessageBox(IDNO);
    auto again = testsupport::WhenDialogAppears<EntryDialog>([](EntryDialog* d) { d->Confirm(); });
    auto yes = testsupport::AnswerNextMessageBox(IDYES);

    EXPECT_EQ(dialog.exec(), QDialog::Accepted);
    for (const auto& watch : {fill, no, again, yes}) {
        EXPECT_TRUE(watch->acted());
    }
    EXPECT_EQ(no->text(), "Use Group7?");
    EXPECT_EQ(yes->caption(), "Entry");
    EXPECT_EQ(dialog.confirmAnswer, IDYES);
    const std::vector<testsupport::SeenMessageBox> seen = testsupport::SeenMessageBoxes();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].answer, IDNO);
    EXPECT_EQ(seen[1].answer, IDYES);
    EXPECT_EQ(seen[1].text, "Use Group7?");
}

TEST_F(ModalAnswers, StandingAnswerTakesEveryBoxNoWatchWaitsFor) {
    auto first = testsupport::AnswerNextMessageBox(IDCANCEL);
    std::vector<int> answers;
    {
        testsupport::ScopedMessageBoxAnswer answerAll(IDYES);
        for (const wchar_t* text : {L"one", L"two", L"three"}) {
            answers.push_back(MessageBox(nullptr, text, L"", MB_YESNOCANCEL));
        }
    }
    EXPECT_EQ(answers, (std::vector<int>{IDCANCEL, IDYES, IDYES}));
    EXPECT_EQ(first->text(), "one");
    const auto seen = testsupport::SeenMessageBoxes();
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[2].text, "three");
}

TEST_F(ModalAnswers, AnUnhandledModalIsClosedWhenTheWatchRunsOut) {
    EntryDialog dialog;
    testsupport::ModalWatchPtr watch;
    int result = -1;
    EXPECT_NONFATAL_FAILURE(
        {
            watch = testsupport::WhenModalAppears([](QWidget*) {}, 50ms, [](QWidget*) { return false; });
            result = dialog.exec();
        },
        "no watch handled the modal");
    EXPECT_TRUE(watch->timedOut());
    EXPECT_FALSE(watch->acted());
    EXPECT_EQ(result, QDialog::Rejected);
}

TEST_F(ModalAnswers, AnAnswerTheBoxDoesNotOfferFailsAndClosesIt) {
    int answer = 0;
    EXPECT_NONFATAL_FAILURE(
        {
            testsupport::AnswerNextMessageBox(IDYES);
            answer = MessageBox(nullptr, L"Failed to run Bundle.", L"", MB_OK);
        },
        "has no button for answer");
    EXPECT_EQ(answer, IDOK);
}

TEST_F(ModalAnswers, AWatchWithoutAModalTimesOutQuietly) {
    auto watch = testsupport::AnswerNextMessageBox(IDOK, 30ms);
    EXPECT_FALSE(watch->Wait(5s));
    EXPECT_TRUE(watch->timedOut());
    EXPECT_TRUE(testsupport::SeenMessageBoxes().empty());
}

} // namespace
