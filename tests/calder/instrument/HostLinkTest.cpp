// The host link of the instrument base class, end to end against the real host simulator over a
// loopback socket: logon, link supervision, command dispatch and the answers to the host.

#include "RecordingInstrument.h"
#include "TestEnvironment.h"
#include "calder/QuickSock.h"
#include "tarnhostsim/HostSimulator.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonObject>
#include <QThread>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

constexpr int kWaitMs = 10000; // generous bound for anything that should happen "soon"

bool PumpUntil(const std::function<bool()>& done, int timeoutMs = kWaitMs) {
    return testsupport::ProcessEventsUntil(done, timeoutMs);
}

// Keeps the event loop running for a while (for checks that something does NOT happen).
void PumpFor(std::chrono::milliseconds duration) {
    PumpUntil([] { return false; }, static_cast<int>(duration.count()));
}

// A loopback port on which nobody listens: bound once, then freed.
unsigned FreeLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t len = sizeof addr;
    unsigned port = 0;
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
        port = ntohs(addr.sin_port);
    if (fd >= 0)
        ::close(fd);
    return port;
}

std::string Utf8(const CString& text) {
    return QString::fromStdWString(text).toStdString();
}

class HostLinkTest : public ::testing::Test {
protected:
    void SetUp() override { testsupport::EnsureApplication(); }

    void TearDown() override {
        inst.reset(); // the instrument goes first: its socket handlers must never outlive it
        if (sim)
            sim->Stop();
    }

    void StartSimulator(std::chrono::milliseconds heartbeatPeriod = 250ms) {
        tarnhostsim::Options options;
        options.heartbeatPeriod = heartbeatPeriod;
        options.announce = false;
        sim = std::make_unique<tarnhostsim::HostSimulator>(options);
        std::string error;
        ASSERT_TRUE(sim->Start(&error)) << error;
    }

    // Connects and activates `instrument` and waits until the host link is up.
    void LogOn(RecordingInstrument& instrument) {
        instrument.hostAddress = L"127.0.0.1";
        instrument.hostPort = sim->Port();
        ASSERT_NE(instrument.ConnectToTarn(), 0);
        ASSERT_NE(instrument.ActivateInstQuickSock(), 0);
        ASSERT_TRUE(PumpUntil([&] { return instrument.Count("OnHostLinkAlive") >= 1; }));
    }

    void Execute(const std::string& command) {
        std::string error;
        ASSERT_TRUE(sim->Execute(command, &error)) << command << ": " << error;
    }

    // Waits, with this thread's event loop running (the instrument's handlers need it), until
    // the host has received `count` frames of `type`.
    bool HostReceived(const std::string& type, std::size_t count) {
        return PumpUntil([&] { return sim->Received(type).size() >= count; });
    }

    std::vector<QJsonObject> Completions() const { return sim->Received("ProcessCompleted"); }

    testsupport::ScopedTestEnvironment env;
    std::unique_ptr<tarnhostsim::HostSimulator> sim;
    std::unique_ptr<RecordingInstrument> inst;
};

TEST_F(HostLinkTest, LogonBringsTheLinkUpOnTheActivatingThread) {
    StartSimulator();
    inst = std::make_unique<RecordingInstrument>();
    LogOn(*inst);

    ASSERT_TRUE(sim->WaitForReceived("Logon", 1, 5s));
    const QJsonObject logon = sim->Received("Logon").front();
    EXPECT_EQ(logon.value("instrumentType").toInt(), 212);
    EXPECT_EQ(logon.value("instrumentName").toString().toStdString(), "Recorder");
    EXPECT_EQ(inst->Count("OnHostLinkAlive"), 1);
    EXPECT_EQ(inst->Count("OnHeartbeatStopped"), 0);
    EXPECT_TRUE(inst->AllOn("OnHostLinkAlive", QThread::currentThread()));
}

TEST_F(HostLinkTest, HeartbeatsKeepTheLinkAliveWellPastTheTimeout) {
    // Fast heartbeats leave twenty periods of slack within the 1 s time-out, so a loaded machine
    // cannot fake a stop, while the run still lasts longer than the time-out itself.
    StartSimulator(50ms);
    inst = std::make_unique<RecordingInstrument>();
    LogOn(*inst);

    const auto start = sim->Counts().heartbeatsSent;
    ASSERT_TRUE(PumpUntil([&] { return sim->Counts().heartbeatsSent >= start + 60; }));
    EXPECT_EQ(inst->Count("OnHeartbeatStopped"), 0);
    EXPECT_EQ(inst->Count("OnHostLinkAlive"), 1);
}

TEST_F(HostLinkTest, HeartbeatLossStopsTheLinkAndTheirReturnRevivesIt) {
    StartSimulator();
    inst = std::make_unique<RecordingInstrument>();
    LogOn(*inst);

    Execute("heartbeat off");
    ASSERT_TRUE(PumpUntil([&] { return inst->Count("OnHeartbeatStopped") == 1; }));
    EXPECT_TRUE(inst->AllOn("OnHeartbeatStopped", QThread::currentThread()));

    // Silence goes on: the stop is reported once, not once per time-out.
    PumpFor(1500ms);
    EXPECT_EQ(inst->Count("OnHeartbeatStopped"), 1);
    EXPECT_EQ(inst->Count("OnHostLinkAlive"), 1);

    Execute("heartbeat on");
    ASSERT_TRUE(PumpUntil([&] { return inst->Count("OnHostLinkAlive") == 2; }));
    EXPECT_EQ(inst->Count("OnHeartbeatStopped"), 1);
    EXPECT_TRUE(inst->AllOn("OnHostLinkAlive", QThread::currentThread()));
    // The order of events is alive, stopped, alive.
    std::vector<std::string> order;
    for (const auto& call : inst->calls)
        order.push_back(call.name);
    EXPECT_EQ(order, (std::vector<std::string>{"OnHostLinkAlive", "OnHeartbeatStopped", "OnHostLinkAlive"}));
}

TEST_F(HostLinkTest, AShorterHeartbeatTimeoutIsHonoured) {
    StartSimulator();
    inst = std::make_unique<RecordingInstrument>();
    inst->SetHeartbeatTimeout(400ms);
    LogOn(*inst);
    Execute("heartbeat off");
    ASSERT_TRUE(PumpUntil([&] { return inst->Count("OnHeartbeatStopped") == 1; }));
}

// An instrument whose op-check handler keeps the thread busy longer than the heartbeat time-out.
class SlowInstrument : public RecordingInstrument {
public:
    int OnOpCheckCommand(CString& command) override {
        QThread::msleep(1500);
        return RecordingInstrument::OnOpCheckCommand(command);
    }
};

TEST_F(HostLinkTest, ABusyHandlerDoesNotFakeAHeartbeatStop) {
    // The heartbeats go on while the handler blocks; they wait in the queue, and must count.
    StartSimulator(50ms);
    auto slow = std::make_unique<SlowInstrument>();
    LogOn(*slow);
    Execute("opcheck slow");
    ASSERT_TRUE(PumpUntil([&] { return slow->Count("OnOpCheckCommand") == 1; }));
    PumpFor(300ms);
    EXPECT_EQ(slow->Count("OnHeartbeatStopped"), 0);
    EXPECT_EQ(slow->Count("OnHostLinkAlive"), 1);
    slow.reset();
}

TEST_F(HostLinkTest, HostClosingTheSocketStopsTheLinkOnce) {
    StartSimulator();
    inst = std::make_unique<RecordingInstrument>();
    LogOn(*inst);

    Execute("close");
    ASSERT_TRUE(PumpUntil([&] { return inst->Count("OnHeartbeatStopped") == 1; }));
    EXPECT_TRUE(inst->AllOn("OnHeartbeatStopped", QThread::currentThread()));
    // Neither the heartbeat time-out nor anything else reports the same end again.
    PumpFor(1500ms);
    EXPECT_EQ(inst->Count("OnHeartbeatStopped"), 1);
}

TEST_F(HostLinkTest, DisconnectReportsTheEndThroughTheEventLoopOnly) {
    StartSimulator();
    inst = std::make_unique<RecordingInstrument>();
    LogOn(*inst);

    EXPECT_NE(inst->DisconnectFromTarn(), 0);
    EXPECT_EQ(inst->Count("OnHeartbeatStopped"), 0) << "raised synchronously from DisconnectFromTarn";
    ASSERT_TRUE(PumpUntil([&] { return inst->Count("OnHeartbeatStopped") == 1; }));
    EXPECT_EQ(inst->DisconnectFromTarn(), 0) << "nothing left to close";
    PumpFor(1500ms);
    EXPECT_EQ(inst->Count("OnHeartbeatStopped"), 1);
}

TEST_F(HostLinkTest, ASecondLogonAfterTheEndBringsTheLinkUpAgain) {
    StartSimulator();
    inst = std::make_unique<RecordingInstrument>();
    LogOn(*inst);
    Execute("close");
    ASSERT_TRUE(PumpUntil([&] { return inst->Count("OnHeartbeatStopped") == 1; }));

    ASSERT_NE(inst->ConnectToTarn(), 0);
    ASSERT_NE(inst->ActivateInstQuickSock(), 0);
    ASSERT_TRUE(PumpUntil([&] { return inst->Count("OnHostLinkAlive") == 2; }));
    ASSERT_TRUE(sim->WaitForReceived("Logon", 2, 5s));
    EXPECT_EQ(inst->Count("OnHeartbeatStopped"), 1);
}

TEST_F(HostLinkTest, ReconnectingWhileUpEndsThePreviousLinkExactlyOnce) {
    StartSimulator();
    inst = std::make_unique<RecordingInstrument>();
    LogOn(*inst);

    // No event loop runs between the old link's end and the new activation.
    ASSERT_NE(inst->ConnectToTarn(), 0);
    ASSERT_NE(inst->ActivateInstQuickSock(), 0);
    EXPECT_EQ(inst->Count("OnHeartbeatStopped"), 1);
    ASSERT_TRUE(PumpUntil([&] { return inst->Count("OnHostLinkAlive") == 2; }));
    PumpFor(1500ms);
    EXPECT_EQ(inst->Count("OnHeartbeatStopped"), 1) << "the old socket's end was reported again";
    EXPECT_EQ(inst->Count("OnHostLinkAlive"), 2);
}

TEST_F(HostLinkTest, ActivatingAnActiveSocketAgainIsRefusedAndHarmless) {
    StartSimulator();
    inst = std::make_unique<RecordingInstrument>();
    LogOn(*inst);

    EXPECT_EQ(inst->ActivateInstQuickSock(), 0);
    EXPECT_EQ(inst->Count("OnHeartbeatStopped"), 0);
    // The running link still delivers commands and is still supervised.
    Execute("opcheck after");
    ASSERT_TRUE(PumpUntil([&] { return inst->Count("OnOpCheckCommand") == 1; }));
    EXPECT_EQ(inst->opCheck, L"after");
    Execute("heartbeat off");
    ASSERT_TRUE(PumpUntil([&] { return inst->Count("OnHeartbeatStopped") == 1; }));
    EXPECT_EQ(sim->Received("Logon").size(), 1u);
}

TEST_F(HostLinkTest, NoSocketNoLink) {
    inst = std::make_unique<RecordingInstrument>();
    const unsigned freePort = FreeLoopbackPort();
    ASSERT_NE(freePort, 0u);

    struct Case {
        const wchar_t* address;
        unsigned port;
    };
    for (const Case& c :
         {Case{L"127.0.0.1", freePort}, Case{L"127.0.0.1", 0}, Case{L"", 7300}, Case{L"127.0.0.1", 70000}}) {
        inst->hostAddress = c.address;
        inst->hostPort = c.port;
        EXPECT_EQ(inst->ConnectToTarn(), 0) << Utf8(c.address) << ":" << c.port;
    }
    EXPECT_EQ(inst->ActivateInstQuickSock(), 0);
    EXPECT_EQ(inst->DisconnectFromTarn(), 0);
    // Without a link every answer is dropped quietly.
    inst->ProcessCompleted(2);
    inst->SignalInterfaceReady();
    inst->SignalInterfaceFailed();
    PumpFor(100ms);
    EXPECT_TRUE(inst->calls.empty());
}

TEST_F(HostLinkTest, BracketedIPv6AddressConnects) {
    tarnhostsim::Options options;
    options.host = "::1";
    options.announce = false;
    sim = std::make_unique<tarnhostsim::HostSimulator>(options);
    std::string error;
    if (!sim->Start(&error))
        GTEST_SKIP() << "no IPv6 loopback here: " << error;
    inst = std::make_unique<RecordingInstrument>();
    inst->hostAddress = L"[::1]";
    inst->hostPort = sim->Port();
    ASSERT_NE(inst->ConnectToTarn(), 0);
    ASSERT_NE(inst->ActivateInstQuickSock(), 0);
    ASSERT_TRUE(PumpUntil([&] { return inst->Count("OnHostLinkAlive") == 1; }));
}

// ---- Host commands ----

struct CommandCase {
    std::string command;     // simulator command line
    std::string packetType;  // journal type of the host's frame, and the command in hand
    std::string virtualName; // the virtual that must run
    std::function<void(const RecordingInstrument&, const QJsonObject& sent)> check;
};

std::vector<double> Numbers(const QJsonValue& value) {
    std::vector<double> out;
    for (const QJsonValue& v : value.toArray())
        out.push_back(v.toDouble());
    return out;
}

std::vector<CommandCase> CommandCases() {
    return {
        {"names \"Collection A\" G1 T-7", "Names", "OnCollectionGroupTargetNames",
         [](const RecordingInstrument& r, const QJsonObject&) {
             EXPECT_EQ(r.names, (std::vector<CString>{L"Collection A", L"G1", L"T-7"}));
         }},
        {"start", "StartStop", "OnStartStopMeasuring",
         [](const RecordingInstrument& r, const QJsonObject&) { EXPECT_EQ(r.startStopMode, 1); }},
        {"stop", "StartStop", "OnStartStopMeasuring",
         [](const RecordingInstrument& r, const QJsonObject&) { EXPECT_EQ(r.startStopMode, 0); }},
        {"startstop 2", "StartStop", "OnStartStopMeasuring",
         [](const RecordingInstrument& r, const QJsonObject&) { EXPECT_EQ(r.startStopMode, 2); }},
        {"startmeasuring", "StartMeasuring", "OnStartMeasuring", nullptr},
        {"batch _M _N P1,G1,T1,1,2,3;P2,G2,T2,-4.5,0,6.25", "Batch", "OnBatchMeasurePoints",
         [](const RecordingInstrument& r, const QJsonObject&) {
             EXPECT_EQ(r.batch.firstSuffix, L"_M");
             EXPECT_EQ(r.batch.secondSuffix, L"_N");
             ASSERT_EQ(r.batch.elements.size(), 2u);
             EXPECT_EQ(r.batch.elements[0].elementText1, L"P1");
             EXPECT_EQ(r.batch.elements[0].elementText2, L"G1");
             EXPECT_EQ(r.batch.elements[0].elementText3, L"T1");
             EXPECT_EQ(r.batch.elements[0].position, Vector(1, 2, 3));
             EXPECT_EQ(r.batch.elements[1].elementText1, L"P2");
             EXPECT_EQ(r.batch.elements[1].position, Vector(-4.5, 0, 6.25));
         }},
        {"opcheck \"check level\"", "OpCheck", "OnOpCheckCommand",
         [](const RecordingInstrument& r, const QJsonObject&) { EXPECT_EQ(r.opCheck, L"check level"); }},
        {"proximity 3", "AutoMeasProximity", "OnAutoMeasProximity",
         [](const RecordingInstrument& r, const QJsonObject& sent) {
             const QJsonArray elements = sent.value("elements").toArray();
             ASSERT_EQ(r.proximity.GetElementCount(), 3);
             ASSERT_EQ(elements.size(), 3);
             for (int i = 0; i < 3; ++i) {
                 CString text;
                 Vector position;
                 bool flag = false;
                 double value = 0;
                 ASSERT_TRUE(r.proximity.GetElement(i, text, position, flag, value));
                 const QJsonObject e = elements[i].toObject();
                 EXPECT_EQ(Utf8(text), e.value("text").toString().toStdString());
                 const auto p = Numbers(e.value("position"));
                 ASSERT_EQ(p.size(), 3u);
                 EXPECT_EQ(position, Vector(p[0], p[1], p[2]));
                 EXPECT_EQ(flag, e.value("flag").toBool());
                 EXPECT_DOUBLE_EQ(value, e.value("value").toDouble());
             }
         }},
        {"transform", "InstrumentTransformChanged", "OnInstrumentTransformChanged",
         [](const RecordingInstrument& r, const QJsonObject& sent) {
             const auto m = Numbers(sent.value("transform"));
             ASSERT_EQ(m.size(), 16u);
             for (int i = 0; i < 16; ++i)
                 EXPECT_DOUBLE_EQ(r.transform.m[i / 4][i % 4], m[static_cast<std::size_t>(i)]) << i;
             // The instrument's own member holds the host's transform as well.
             for (int i = 0; i < 16; ++i)
                 EXPECT_DOUBLE_EQ(r.instrumentTransform.m[i / 4][i % 4], m[static_cast<std::size_t>(i)]);
         }},
    };
}

TEST_F(HostLinkTest, EveryHostCommandReachesItsVirtualAndItsAnswerNamesIt) {
    StartSimulator();
    inst = std::make_unique<RecordingInstrument>();
    LogOn(*inst);

    int answerCode = 2;
    for (const CommandCase& c : CommandCases()) {
        SCOPED_TRACE(c.command);
        inst->calls.clear();
        inst->answerCode = answerCode;
        const std::size_t completionsBefore = Completions().size();
        Execute(c.command);
        ASSERT_TRUE(PumpUntil([&] { return inst->Count(c.virtualName) == 1; }));
        EXPECT_TRUE(inst->AllOn(c.virtualName, QThread::currentThread()));
        // Only the matching virtual ran.
        for (const auto& call : inst->calls)
            EXPECT_EQ(call.name, c.virtualName);
        if (c.check) {
            const auto sent = sim->Sent(c.packetType);
            ASSERT_FALSE(sent.empty());
            c.check(*inst, sent.back());
        }
        // The answer given while the command was in hand names that command.
        ASSERT_TRUE(HostReceived("ProcessCompleted", completionsBefore + 1));
        const QJsonObject completion = Completions().back();
        EXPECT_EQ(completion.value("code").toInt(), answerCode);
        EXPECT_EQ(completion.value("command").toString().toStdString(), c.packetType);
        answerCode = answerCode == 2 ? 3 : answerCode == 3 ? 4 : 2;
    }

    // An answer outside any command names none.
    const std::size_t before = Completions().size();
    inst->ProcessCompleted(4);
    ASSERT_TRUE(HostReceived("ProcessCompleted", before + 1));
    EXPECT_EQ(Completions().back().value("code").toInt(), 4);
    EXPECT_EQ(Completions().back().value("command").toString().toStdString(), "");
}

TEST_F(HostLinkTest, InterfaceReadyAndFailedReachTheHost) {
    StartSimulator();
    inst = std::make_unique<RecordingInstrument>();
    LogOn(*inst);
    inst->SignalInterfaceReady();
    inst->SignalInterfaceFailed();
    ASSERT_TRUE(sim->WaitForReceived("InterfaceFailed", 1, 5s));
    EXPECT_EQ(sim->Received("InterfaceReady").size(), 1u);
    // Sent in that order.
    std::vector<std::string> order;
    for (const auto& entry : sim->Received()) {
        const std::string type = entry.value("type").toString().toStdString();
        if (type == "InterfaceReady" || type == "InterfaceFailed")
            order.push_back(type);
    }
    EXPECT_EQ(order, (std::vector<std::string>{"InterfaceReady", "InterfaceFailed"}));
}

// An instrument that overrides nothing of the host link: the base library's own answers.
class PlainInstrument : public TarnInstBase {
public:
    PlainInstrument() : TarnInstBase(1, 1) {}
    void OnHostLinkAlive() override {
        ++alive;
        TarnInstBase::OnHostLinkAlive();
    }
    int alive = 0;
};

TEST_F(HostLinkTest, TheBaseClassRefusesWhatItCannotMeasure) {
    StartSimulator();
    auto plain = std::make_unique<PlainInstrument>();
    plain->hostAddress = L"127.0.0.1";
    plain->hostPort = sim->Port();
    ASSERT_NE(plain->ConnectToTarn(), 0);
    ASSERT_NE(plain->ActivateInstQuickSock(), 0);
    ASSERT_TRUE(PumpUntil([&] { return plain->alive == 1; }));

    struct Case {
        std::string command;
        std::string commandName; // expected completion's command; "" for no completion
        int code;
    };
    const std::vector<Case> cases = {
        {"opcheck x", "OpCheck", 3}, {"batch _a _b P,G,T,1,2,3", "Batch", 4},
        {"start", "StartStop", 3},   {"stop", "StartStop", 3},
        {"names C G T", "", 0},      {"proximity 2", "", 0},
        {"transform", "", 0},        {"startstop 7", "", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        const std::size_t before = Completions().size();
        Execute(c.command);
        if (!c.commandName.empty()) {
            ASSERT_TRUE(HostReceived("ProcessCompleted", before + 1));
            EXPECT_EQ(Completions().back().value("code").toInt(), c.code);
            EXPECT_EQ(Completions().back().value("command").toString().toStdString(), c.commandName);
        }
    }
    // A start request without a mode is refused with the flags packet.
    Execute("startmeasuring");
    ASSERT_TRUE(HostReceived("TarnIPFlags", 1));
    EXPECT_EQ(sim->Received("TarnIPFlags").front().value("flags").toInt(), 2);
    // The commands without an answer produced none (all answers above are accounted for).
    PumpFor(200ms);
    EXPECT_EQ(Completions().size(), 4u);
    plain.reset();
}

TEST_F(HostLinkTest, DestroyingTheInstrumentWithFramesInFlightIsSafe) {
    StartSimulator(20ms);
    inst = std::make_unique<RecordingInstrument>();
    LogOn(*inst);
    // Frames are on their way (and possibly queued for this thread) when the object goes.
    for (int i = 0; i < 20; ++i)
        Execute("names C G T" + std::to_string(i));
    QThread::msleep(20);
    inst.reset();
    // Whatever was queued for the destroyed object must not reach it.
    PumpFor(300ms);
    SUCCEED();
}

// Host-link handlers that throw must not take the event loop down with them.
class ThrowingInstrument : public RecordingInstrument {
public:
    void OnCollectionGroupTargetNames(TarnIPNames& n) override {
        RecordingInstrument::OnCollectionGroupTargetNames(n);
        throw std::runtime_error("instrument failure");
    }
};

TEST_F(HostLinkTest, AThrowingHandlerDoesNotEndTheLink) {
    StartSimulator();
    auto thrower = std::make_unique<ThrowingInstrument>();
    LogOn(*thrower);
    Execute("names A B C");
    ASSERT_TRUE(PumpUntil([&] { return thrower->Count("OnCollectionGroupTargetNames") == 1; }));
    Execute("opcheck still-here");
    ASSERT_TRUE(PumpUntil([&] { return thrower->Count("OnOpCheckCommand") == 1; }));
    EXPECT_EQ(thrower->Count("OnHeartbeatStopped"), 0);
    thrower.reset();
}

} // namespace
