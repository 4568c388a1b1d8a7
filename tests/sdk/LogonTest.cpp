// The logon flow through a command-line socket: the settings file, the retry prompt and the quit
// request, a host that never says the link is alive.

#include "ModalAnswer.h"
#include "SdkTestSupport.h"

#include "calder/Archive.h"
#include "calder/TarnInstBase.h"
#include "framework/MessageBox.h"

#include <QEventLoop>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

namespace sdktest {
namespace {

constexpr char kRetryText[] = "Could not connect to Tarn.  Try Again?";

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

// The base library's own record for a host choice, as it writes it.
std::string BaseRecord(const CString& address, const CString& label, UINT port) {
    TarnInstBase base(1, 1);
    base.hostAddress = address;
    base.hostLabel = label;
    base.hostPort = port;
    std::stringstream stream(std::ios::in | std::ios::out | std::ios::binary);
    {
        CArchive archive(stream, CArchive::store);
        base.Serialize(archive);
        archive.Flush();
    }
    return stream.str();
}

// Runs `call` from inside a running event loop (as a program's dialog would) and returns that
// loop's exit code: 0 when a quit request ended it, kLogonReturned when the call came back and no
// quit request was pending, kHung when nothing ended it in time.
constexpr int kLogonReturned = 7;
constexpr int kHung = 99;
int RunInsideEventLoop(const std::function<void()>& call) {
    QEventLoop loop;
    QTimer::singleShot(0, &loop, [&] {
        call();
        // Queued behind a quit request the call may have posted.
        QMetaObject::invokeMethod(
            &loop,
            [&] {
                if (loop.isRunning()) // a quit request processed first has already ended it
                    loop.exit(kLogonReturned);
            },
            Qt::QueuedConnection);
    });
    QTimer::singleShot(30000, &loop, [&] { loop.exit(kHung); });
    return loop.exec();
}

using LogonFlow = HostTest;

TEST_F(LogonFlow, CommandLineSocketLogsOnWithoutPicker) {
    auto anyModal = testsupport::WhenModalAppears([](QWidget* w) { w->close(); }, 30s);
    ASSERT_TRUE(LogOn(212, "Orrin"));
    EXPECT_FALSE(anyModal->acted()) << "no picker and no message may appear";
    EXPECT_TRUE(Instrument().IsConnectedToTarn());
    ASSERT_EQ(Received(Host(), "Logon").size(), 1u);

    // The settings file: the base record for the host choice, then the SDK's byte 0.
    Instrument().SaveSettings();
    const auto file = env_.tarnHome() / "Persistence" / "TarnInstSDK_Orrin_Settings.bin";
    ASSERT_TRUE(std::filesystem::exists(file));
    EXPECT_EQ(ReadFile(file), BaseRecord(L"127.0.0.1", L"", Host().Port()) + std::string(1, '\0'));
}

TEST_F(LogonFlow, SettingsFileIsReadWhateverTheSdkByteHolds) {
    const auto file = env_.tarnHome() / "Persistence" / "TarnInstSDK_Gauge_Settings.bin";
    WriteFile(file, BaseRecord(L"10.1.2.3", L"Remembered host", 4711) + std::string(1, '\x7F'));
    ASSERT_TRUE(LogOn(212, "Gauge"));
    // The command-line socket replaced address and port; the label came from the file.
    Instrument().SaveSettings();
    EXPECT_EQ(ReadFile(file),
              BaseRecord(L"127.0.0.1", L"Remembered host", Host().Port()) + std::string(1, '\0'));
}

TEST_F(LogonFlow, RefusedConnectionAsksUntilNoThenQuits) {
    GiveCommandLineSocket(Instrument(), RefusingPort());
    bool sawStopIcon = false;
    bool yesNoOnly = false;
    auto first = testsupport::WhenDialogAppears<QMessageBox>([&](QMessageBox* box) {
        sawStopIcon = box->icon() == QMessageBox::Critical;
        yesNoOnly = box->standardButtons() == (QMessageBox::Yes | QMessageBox::No);
        box->button(QMessageBox::Yes)->click();
    });
    auto second = testsupport::AnswerNextMessageBox(framework::IDYES);
    auto third = testsupport::AnswerNextMessageBox(framework::IDNO);

    bool result = true;
    const int rc = RunInsideEventLoop([&] { result = Instrument().Logon(212, "Orrin"); });

    EXPECT_EQ(rc, 0) << "the quit request must end the running loop";
    EXPECT_FALSE(result);
    EXPECT_TRUE(first->acted());
    EXPECT_TRUE(sawStopIcon);
    EXPECT_TRUE(yesNoOnly);
    ASSERT_TRUE(second->acted());
    ASSERT_TRUE(third->acted());
    EXPECT_EQ(second->text(), kRetryText);
    EXPECT_EQ(third->text(), kRetryText);
    EXPECT_FALSE(Instrument().IsConnectedToTarn());
    testsupport::ConsumeQuitRequest();
}

TEST_F(LogonFlow, YesTriesTheSameSocketAgain) {
    const unsigned port = RefusingPort();
    GiveCommandLineSocket(Instrument(), port);
    std::unique_ptr<tarnhostsim::HostSimulator> late;
    auto prompt = testsupport::WhenDialogAppears<QMessageBox>([&](QMessageBox* box) {
        // The host comes up on the very port the command line named; Yes must find it there.
        tarnhostsim::Options options;
        options.port = port;
        options.announce = false;
        options.log = [](const std::string&) {};
        late = std::make_unique<tarnhostsim::HostSimulator>(options);
        late->Start();
        box->button(QMessageBox::Yes)->click();
    });
    auto picker = testsupport::WhenDialogAppears<QDialog>(
        [](QDialog* d) {
            if (d->objectName() == "DTarnConnection")
                d->reject();
        },
        30s);

    bool result = false;
    const int rc = RunInsideEventLoop([&] { result = Instrument().Logon(212, "Orrin"); });
    EXPECT_EQ(rc, kLogonReturned);
    ASSERT_TRUE(prompt->acted());
    ASSERT_TRUE(late && late->Running()) << "port " << port << " was taken meanwhile";
    EXPECT_TRUE(result);
    EXPECT_TRUE(Instrument().IsConnectedToTarn());
    EXPECT_EQ(late->Received("Logon").size(), 1u);
    EXPECT_FALSE(picker->acted());
    testsupport::CancelModalWatches();
    instrument_.reset();
    late->Stop();
}

TEST_F(LogonFlow, SilentHostFailsAfterTheWaitWithoutMessageOrQuit) {
    SilentHost silent;
    GiveCommandLineSocket(Instrument(), silent.Port());
    testsupport::ScopedMessageBoxAnswer answerAny(framework::IDOK);

    bool result = true;
    const int rc = RunInsideEventLoop([&] { result = Instrument().Logon(212, "Orrin"); });
    EXPECT_EQ(rc, kLogonReturned) << "no quit request after a silent host";
    EXPECT_FALSE(result);
    EXPECT_FALSE(Instrument().IsConnectedToTarn()) << "a time-out must not report the link as up";
    EXPECT_TRUE(testsupport::SeenMessageBoxes().empty());

    // A link-alive that comes after the wait still counts.
    silent.SayLinkAlive();
    EXPECT_TRUE(DispatchUntil([&] { return Instrument().IsConnectedToTarn(); }));
}

TEST_F(LogonFlow, LogonAgainAfterFailureRunsTheWholeFlow) {
    GiveCommandLineSocket(Instrument(), RefusingPort());
    auto no = testsupport::AnswerNextMessageBox(framework::IDNO);
    const int rc = RunInsideEventLoop([&] { EXPECT_FALSE(Instrument().Logon(212, "Orrin")); });
    EXPECT_EQ(rc, 0);
    EXPECT_TRUE(no->acted());
    testsupport::ConsumeQuitRequest();

    ASSERT_TRUE(LogOn(212, "Orrin"));
    EXPECT_TRUE(Instrument().IsConnectedToTarn());
}

} // namespace
} // namespace sdktest
