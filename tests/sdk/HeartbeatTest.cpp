// The host link state follows the host's heartbeat, and senders go quiet while it is down.

#include "SdkTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace sdktest {
namespace {

using HostLinkState = HostTest;

std::size_t PointsReceived(const tarnhostsim::HostSimulator& host) {
    return host.Received("TarnIPMeasurement").size();
}

void SendOnePoint(TarnInstrument& instrument, const std::string& name) {
    Tarnvector position{1, 2, 3};
    Tarnvector sigma{0, 0, 0};
    instrument.SendPointToTarn(position, sigma, 0, 0, false, name, "G", "C", {});
}

TEST_F(HostLinkState, FollowsHeartbeatLossAndRecovery) {
    ASSERT_TRUE(LogOn());
    ASSERT_TRUE(Instrument().IsConnectedToTarn());

    // Another thread watches the state while it changes (the flag is safe to read anywhere).
    std::atomic<bool> stop{false};
    std::atomic<int> changes{0};
    std::thread reader([&] {
        bool last = true;
        while (!stop.load()) {
            const bool now = Instrument().IsConnectedToTarn();
            if (now != last)
                changes.fetch_add(1);
            last = now;
            std::this_thread::sleep_for(1ms);
        }
    });

    for (int round = 0; round < 2; ++round) {
        ASSERT_TRUE(Host().Execute("heartbeat off"));
        ASSERT_TRUE(DispatchUntil([&] { return !Instrument().IsConnectedToTarn(); }))
            << "round " << round << ": the heartbeat loss was not noticed";

        // Down: nothing goes out. A plan request (sent in every state) marks the end.
        const std::size_t before = PointsReceived(Host());
        SendOnePoint(Instrument(), "while-down");
        Instrument().RunMPByName("mark");
        ASSERT_TRUE(DispatchUntilReceived(Host(), "TarnPPRunMP", static_cast<std::size_t>(round) + 1));
        EXPECT_EQ(PointsReceived(Host()), before);

        ASSERT_TRUE(Host().Execute("heartbeat on"));
        ASSERT_TRUE(DispatchUntil([&] { return Instrument().IsConnectedToTarn(); }))
            << "round " << round << ": the recovery was not noticed";
        SendOnePoint(Instrument(), "while-up");
        EXPECT_TRUE(DispatchUntil([&] { return PointsReceived(Host()) == before + 1; }));
    }

    stop.store(true);
    reader.join();
    EXPECT_GE(changes.load(), 2);
}

TEST_F(HostLinkState, ClosedSocketTakesTheLinkDown) {
    ASSERT_TRUE(LogOn());
    ASSERT_TRUE(Host().Execute("close"));
    EXPECT_TRUE(DispatchUntil([&] { return !Instrument().IsConnectedToTarn(); }));
}

} // namespace
} // namespace sdktest
