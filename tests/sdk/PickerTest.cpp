// The connection picker, driven headless through the logon flow of an instrument without a
// command-line socket.

#include "ModalAnswer.h"
#include "SdkTestSupport.h"

#include "framework/MessageBox.h"

#include <QCheckBox>
#include <QDialog>
#include <QEventLoop>
#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <filesystem>

namespace sdktest {
namespace {

constexpr char kInvalidSelection[] = "Please Select a valid Tarn to connect to.\n"
                                     "You will need to have Tarn running and the proper instrument added to "
                                     "the model.";

struct PickerParts {
    QDialog* dialog = nullptr;
    QTreeWidget* tree = nullptr;
    QCheckBox* showAll = nullptr;
    QPushButton* ok = nullptr;
};

PickerParts Parts(QDialog* d) {
    return {d, d->findChild<QTreeWidget*>("tree"), d->findChild<QCheckBox*>("showAll"),
            d->findChild<QPushButton*>("okButton")};
}

// The tree's entry whose text names `label`, searched at every level.
QTreeWidgetItem* Entry(QTreeWidget* tree, const QString& label) {
    for (QTreeWidgetItemIterator it(tree); *it != nullptr; ++it) {
        for (int c = 0; c < (*it)->columnCount(); ++c)
            if ((*it)->text(c).contains(label))
                return *it;
    }
    return nullptr;
}

bool IsPicker(QWidget* w) {
    return w->objectName() == "DTarnConnection";
}

testsupport::ModalWatchPtr WhenPickerAppears(std::function<void(const PickerParts&)> action) {
    return testsupport::WhenModalAppears(
        [action = std::move(action)](QWidget* w) { action(Parts(qobject_cast<QDialog*>(w))); }, 20s,
        IsPicker);
}

constexpr int kReturned = 7;
int LogonInsideEventLoop(TarnInstrument& instrument, bool& result) {
    QEventLoop loop;
    QTimer::singleShot(0, &loop, [&] {
        result = instrument.Logon(212, "Orrin");
        QMetaObject::invokeMethod(
            &loop,
            [&] {
                if (loop.isRunning()) // a quit request processed first has already ended it
                    loop.exit(kReturned);
            },
            Qt::QueuedConnection);
    });
    QTimer::singleShot(30000, &loop, [&] { loop.exit(99); });
    return loop.exec();
}

class Picker : public ::testing::Test {
protected:
    void SetUp() override {
        testsupport::EnsureApplication();
        testsupport::ClearSeenMessageBoxes();
        hostA_ = Start("Tarn A", {212});
        hostB_ = Start("Tarn B", {999});
        instrument_ = std::make_unique<TarnInstrument>(*new Messenger);
    }
    void TearDown() override {
        testsupport::CancelModalWatches();
        instrument_.reset();
        hostA_->Stop();
        hostB_->Stop();
        QCoreApplication::processEvents();
    }
    static std::unique_ptr<tarnhostsim::HostSimulator> Start(const std::string& label,
                                                             std::vector<unsigned> types) {
        tarnhostsim::Options options;
        options.label = label;
        options.types = std::move(types);
        options.log = [](const std::string&) {};
        auto host = std::make_unique<tarnhostsim::HostSimulator>(options);
        EXPECT_TRUE(host->Start());
        return host;
    }
    void Disconnect() {
        instrument_->DisconnectFromTarn();
        DispatchUntil([&] { return !instrument_->IsConnectedToTarn(); });
    }

    testsupport::ScopedTestEnvironment env_;
    std::unique_ptr<tarnhostsim::HostSimulator> hostA_;
    std::unique_ptr<tarnhostsim::HostSimulator> hostB_;
    std::unique_ptr<TarnInstrument> instrument_;
};

TEST_F(Picker, FiltersRefusesEmptyChoiceAndConnectsToTheChosenHost) {
    bool filteredOk = false, allOk = false, backToFiltered = false, stayedOpen = false;
    QString title;
    testsupport::ModalWatchPtr message;
    auto picker = WhenPickerAppears([&](const PickerParts& p) {
        ASSERT_NE(p.tree, nullptr);
        ASSERT_NE(p.showAll, nullptr);
        ASSERT_NE(p.ok, nullptr);
        title = p.dialog->windowTitle();
        EXPECT_TRUE(p.ok->isDefault());
        EXPECT_EQ(p.dialog->findChildren<QPushButton*>().size(), 1) << "OK is the only button";
        EXPECT_FALSE(p.showAll->isChecked());
        filteredOk = Entry(p.tree, "Tarn A") != nullptr && Entry(p.tree, "Tarn B") == nullptr;
        p.showAll->click();
        allOk = Entry(p.tree, "Tarn A") != nullptr && Entry(p.tree, "Tarn B") != nullptr;
        p.showAll->click();
        backToFiltered = Entry(p.tree, "Tarn A") != nullptr && Entry(p.tree, "Tarn B") == nullptr;

        // OK without a choice: the message, and the picker stays.
        p.tree->clearSelection();
        p.tree->setCurrentItem(nullptr);
        message = testsupport::AnswerNextMessageBox(framework::IDOK);
        p.ok->click();
        stayedOpen = p.dialog->isVisible() && p.dialog->result() == 0;

        p.dialog->move(123, 77);
        QTreeWidgetItem* a = Entry(p.tree, "Tarn A");
        ASSERT_NE(a, nullptr);
        p.tree->setCurrentItem(a);
        a->setSelected(true);
        p.ok->click();
    });

    bool result = false;
    EXPECT_EQ(LogonInsideEventLoop(*instrument_, result), kReturned);
    ASSERT_TRUE(picker->acted());
    EXPECT_EQ(title.toStdString(), "Tarn Orrin");
    EXPECT_TRUE(filteredOk);
    EXPECT_TRUE(allOk);
    EXPECT_TRUE(backToFiltered);
    ASSERT_TRUE(message && message->acted());
    EXPECT_EQ(message->text(), kInvalidSelection);
    EXPECT_TRUE(stayedOpen);
    EXPECT_TRUE(result);
    EXPECT_TRUE(instrument_->IsConnectedToTarn());
    EXPECT_EQ(hostA_->Received("Logon").size(), 1u);
    EXPECT_TRUE(hostB_->Received("Logon").empty());

    // The window position is kept under the per-instrument key.
    const auto ini = env_.tarnHome() / "Persistence" / "WindowPositions.ini";
    ASSERT_TRUE(std::filesystem::exists(ini));
    QSettings stored(QString::fromStdString(ini.string()), QSettings::IniFormat);
    EXPECT_TRUE(stored.contains("windows/Tarn_Orrin_DTarnConnection"))
        << stored.allKeys().join(",").toStdString();

    // The next picker starts from the previous choice, where the last one stood; Escape then
    // cancels quietly and the program keeps running.
    Disconnect();
    QPoint shownAt;
    bool previousSelected = false;
    auto second = WhenPickerAppears([&](const PickerParts& p) {
        shownAt = p.dialog->pos();
        QTreeWidgetItem* a = Entry(p.tree, "Tarn A");
        previousSelected = a != nullptr && a->isSelected();
        QTest::keyClick(p.dialog, Qt::Key_Escape);
    });
    EXPECT_EQ(LogonInsideEventLoop(*instrument_, result), kReturned) << "cancelling posts no quit request";
    ASSERT_TRUE(second->acted());
    EXPECT_FALSE(result);
    EXPECT_EQ(shownAt, QPoint(123, 77));
    EXPECT_TRUE(previousSelected);
    EXPECT_TRUE(testsupport::SeenMessageBoxes().size() == 1u) << "only the earlier selection message";
}

TEST_F(Picker, CloseBoxCancelsQuietly) {
    auto picker = WhenPickerAppears([](const PickerParts& p) { p.dialog->close(); });
    bool result = true;
    EXPECT_EQ(LogonInsideEventLoop(*instrument_, result), kReturned);
    ASSERT_TRUE(picker->acted());
    EXPECT_FALSE(result);
    EXPECT_TRUE(testsupport::SeenMessageBoxes().empty());
    EXPECT_TRUE(hostA_->Received("Logon").empty());
}

TEST_F(Picker, DoubleClickChoosesLikeOk) {
    auto picker = WhenPickerAppears([](const PickerParts& p) {
        p.showAll->click();
        QTreeWidgetItem* b = Entry(p.tree, "Tarn B");
        ASSERT_NE(b, nullptr);
        const QPoint at = p.tree->visualItemRect(b).center();
        QTest::mouseClick(p.tree->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(p.tree->viewport(), Qt::LeftButton, {}, at);
    });
    bool result = false;
    EXPECT_EQ(LogonInsideEventLoop(*instrument_, result), kReturned);
    ASSERT_TRUE(picker->acted());
    EXPECT_TRUE(result);
    EXPECT_EQ(hostB_->Received("Logon").size(), 1u);
}

TEST_F(Picker, DoubleClickWithoutChoiceShowsTheMessage) {
    testsupport::ModalWatchPtr message;
    bool stayedOpen = false;
    auto picker = WhenPickerAppears([&](const PickerParts& p) {
        p.tree->clearSelection();
        p.tree->setCurrentItem(nullptr);
        message = testsupport::AnswerNextMessageBox(framework::IDOK);
        // Below the last entry: nothing there to choose.
        QTest::mouseDClick(p.tree->viewport(), Qt::LeftButton, {},
                           QPoint(5, p.tree->viewport()->height() - 3));
        stayedOpen = p.dialog->isVisible();
        p.dialog->reject();
    });
    bool result = true;
    EXPECT_EQ(LogonInsideEventLoop(*instrument_, result), kReturned);
    ASSERT_TRUE(picker->acted());
    ASSERT_TRUE(message && message->acted());
    EXPECT_EQ(message->text(), kInvalidSelection);
    EXPECT_TRUE(stayedOpen);
    EXPECT_FALSE(result);
}

} // namespace
} // namespace sdktest
