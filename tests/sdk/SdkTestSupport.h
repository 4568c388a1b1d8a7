#pragma once
// What the SDK's own tests share: a Messenger that records its calls and answers as told, logon
// through a command-line socket, loopback ports that refuse or accept and stay silent, and
// waiting on the host's journal while the UI thread keeps dispatching the host link's events.

#include "Messenger.h"
#include "TarnInstrument.h"
#include "TarnTypes.h"
#include "tarnhostsim/HostSimulator.h"

#include <QJsonObject>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace sdktest {

using namespace std::chrono_literals;

// What a RecordingMessenger saw. Shared with the test, since the instrument owns the Messenger.
struct MessengerLog {
    std::vector<std::string> calls; // "names", "begin", "stop", "batch", "opcheck"
    std::vector<std::string> names; // collection, group, target of the last names call
    std::vector<std::string> texts1, texts2, texts3;
    std::vector<Tarnvector> positions;
    std::string opCheckCommand;
    bool destroyed = false;
    bool connectionAliveAtDestruction = false;
};

class RecordingMessenger : public Messenger {
public:
    RecordingMessenger(std::shared_ptr<MessengerLog> log, bool accept,
                       const TarnInstrument* const* owner = nullptr);
    ~RecordingMessenger() override;

    void CollectionGroupTargetNamesFromTarn(std::string collectionName, std::string groupName,
                                            std::string targetName) override;
    bool BeginMeasureMessageFromTarn() override;
    bool StopMeasureMessageFromTarn() override;
    bool BatchMeasPointsFromTarn(std::vector<std::string> texts1, std::vector<std::string> texts2,
                                 std::vector<std::string> texts3, std::vector<Tarnvector> positions) override;
    bool OpCheckCommandFromTarn(std::string command) override;

private:
    std::shared_ptr<MessengerLog> log_;
    bool accept_;
    const TarnInstrument* const* owner_;
};

// Names the host socket 127.0.0.1:port on the instrument's command line.
void GiveCommandLineSocket(TarnInstrument& instrument, unsigned port);

// A loopback port on which nothing listens (connections are refused).
unsigned RefusingPort();

// Listens on a loopback port and never says anything (no link-alive, no heartbeat). The kernel
// completes the connections; nothing runs in the background.
class SilentHost {
public:
    SilentHost();
    ~SilentHost();
    SilentHost(const SilentHost&) = delete;
    SilentHost& operator=(const SilentHost&) = delete;

    unsigned Port() const { return port_; }
    // Accepts what has connected so far and writes a link-alive frame to each connection.
    void SayLinkAlive();

private:
    int listener_ = -1;
    unsigned port_ = 0;
    std::vector<int> accepted_;
};

// Dispatches the UI thread's events until `done` holds or `timeout` passes; returns done().
bool DispatchUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = 10s);

// Frames the host received, of one type (all types when empty).
std::vector<QJsonObject> Received(const tarnhostsim::HostSimulator& host, const std::string& type = {});

// Dispatches until the host has received `count` frames of `type`.
bool DispatchUntilReceived(const tarnhostsim::HostSimulator& host, const std::string& type, std::size_t count,
                           std::chrono::milliseconds timeout = 10s);

} // namespace sdktest

#include "TestApplication.h"
#include "TestEnvironment.h"

#include <gtest/gtest.h>

namespace sdktest {

// A fresh environment, a running host simulator on an ephemeral loopback port, and an
// instrument whose RecordingMessenger answers as the test says.
class HostTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Replaces the instrument with a new one (not logged on).
    TarnInstrument& MakeInstrument(bool accept);
    // Logs on through a command-line socket naming the simulator; true when the link came up.
    bool LogOn(int type = 212, const std::string& name = "Orrin");

    tarnhostsim::HostSimulator& Host() { return *host_; }
    TarnInstrument& Instrument() { return *instrument_; }
    MessengerLog& Log() { return *log_; }

    testsupport::ScopedTestEnvironment env_;
    std::unique_ptr<tarnhostsim::HostSimulator> host_;
    std::shared_ptr<MessengerLog> log_;
    std::unique_ptr<TarnInstrument> instrument_;
    const TarnInstrument* instrumentAddress_ = nullptr;
};

} // namespace sdktest
