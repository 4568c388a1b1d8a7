// The client's connection state against the real simulator over loopback: one connectionChanged
// per real change, reconnection after the server went and came back, a second start moving the
// service to another server, and stop.

#include "OrrinTestSupport.h"

#include <gtest/gtest.h>

namespace {

using namespace orrintest;

TEST(OrrinConnection, ReportsEachChangeOnceAcrossServerRestarts) {
    auto sim = StartSim(QuietSim());
    lyra::OrrinService service(QuickClient());
    Recorder events(service);
    EXPECT_FALSE(service.connectionStatusService()->isConnected());

    Connect(service, *sim);
    ASSERT_TRUE(events.WaitForState(true));
    EXPECT_TRUE(service.connectionStatusService()->isConnected());

    // Gone and back twice, on the same port.
    for (int round = 0; round < 2; ++round) {
        sim->Stop();
        ASSERT_TRUE(events.WaitForState(false)) << "round " << round;
        EXPECT_FALSE(service.connectionStatusService()->isConnected());
        ASSERT_TRUE(sim->Start());
        ASSERT_TRUE(events.WaitForState(true)) << "round " << round;
        EXPECT_EQ(service.projectService()->getName(), "DemoProject-1");
    }

    service.stop();
    EXPECT_EQ(events.States(), (std::vector<bool>{true, false, true, false, true, false}));
    EXPECT_FALSE(service.connectionStatusService()->isConnected());
}

TEST(OrrinConnection, ConnectsWhenTheServerAppearsLater) {
    // Take a free port, then leave it: the client starts against nobody.
    unsigned port = 0;
    {
        auto probe = StartSim(QuietSim());
        port = probe->Port();
    }
    lyra::OrrinService service(QuickClient());
    Recorder events(service);
    service.start("127.0.0.1", static_cast<unsigned short>(port));
    EXPECT_EQ(service.projectService()->getName(), "") << "no server yet";
    EXPECT_EQ(service.lastError().operation, "GetName");

    auto options = QuietSim(7);
    options.port = port;
    auto sim = StartSim(options);
    ASSERT_TRUE(events.WaitForState(true));
    EXPECT_EQ(service.projectService()->getName(), "DemoProject-7");
    service.stop();
    EXPECT_EQ(events.States(), (std::vector<bool>{true, false}))
        << "no change reported while nobody listened";
}

TEST(OrrinConnection, SecondStartMovesToTheNewAddress) {
    auto first = StartSim(QuietSim(1));
    auto second = StartSim(QuietSim(2));
    lyra::OrrinService service(QuickClient());
    Recorder events(service);

    Connect(service, *first);
    ASSERT_TRUE(events.WaitForState(true));
    ASSERT_TRUE(first->WaitForSubscribers(1, kWait));
    EXPECT_EQ(service.projectService()->getName(), "DemoProject-1");

    Connect(service, *second); // no stop before, as the bridge does it
    ASSERT_TRUE(events.WaitForStates(3));
    ASSERT_TRUE(events.WaitForState(true));
    EXPECT_EQ(service.address(), second->Address());
    EXPECT_EQ(service.projectService()->getName(), "DemoProject-2");
    ASSERT_TRUE(second->WaitForSubscribers(1, kWait));
    // The old server lost its subscriber; its going away now is none of the client's business.
    ASSERT_TRUE(Poll([&] { return first->Subscribers() == 0; }));
    first->Stop();
    EXPECT_EQ(service.projectService()->getName(), "DemoProject-2");

    service.stop();
    EXPECT_EQ(events.States(), (std::vector<bool>{true, false, true, false}));
}

TEST(OrrinConnection, StartAgainAfterStop) {
    auto sim = StartSim(QuietSim());
    lyra::OrrinService service(QuickClient());
    Recorder events(service);
    for (int round = 0; round < 2; ++round) {
        Connect(service, *sim);
        ASSERT_TRUE(events.WaitForState(true)) << "round " << round;
        service.stop();
        EXPECT_FALSE(service.connectionStatusService()->isConnected());
    }
    EXPECT_EQ(events.States(), (std::vector<bool>{true, false, true, false}));
    // Nothing more after stop, even though the server is still there.
    EXPECT_FALSE(events.WaitFor([&] { return events.States().size() > 4; }, 300ms));
}

TEST(OrrinConnection, ServerThatFallsSilentCountsAsGone) {
    // A server that stops sending anything (not even heartbeats) is detected by the client.
    auto options = QuietSim();
    options.heartbeatPeriod = 60s;
    auto sim = StartSim(options);
    auto client = QuickClient();
    client.silenceTimeout = 300ms;
    lyra::OrrinService service(client);
    Recorder events(service);
    Connect(service, *sim);
    ASSERT_TRUE(events.WaitForState(true));
    ASSERT_TRUE(events.WaitForStates(2));
    EXPECT_FALSE(events.States()[1]);
    // It re-subscribes and is greeted again.
    ASSERT_TRUE(events.WaitForStates(3));
    EXPECT_TRUE(events.States()[2]);
    service.stop();
}

} // namespace
