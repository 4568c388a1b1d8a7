// The client's connection state against the real simulator over loopback: one connectionChanged
// per real change, reconnection after the server went and came back, a second start moving the
// service to another server, and stop.

#include "OrrinTestSupport.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <list>

namespace {

using namespace orrintest;

// A loopback TCP relay to a server that holds every new connection for a while before it passes
// bytes on: a server that is slow to accept.
class SlowRelay {
public:
    SlowRelay(unsigned short target, std::chrono::milliseconds hold) : target_(target), hold_(hold) {
        listen_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr = Loopback(0);
        if (::bind(listen_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            ::listen(listen_, 16) != 0)
            throw std::runtime_error("cannot listen");
        socklen_t len = sizeof addr;
        ::getsockname(listen_, reinterpret_cast<sockaddr*>(&addr), &len);
        port_ = ntohs(addr.sin_port);
        acceptor_ = std::thread([this] { Accept(); });
    }
    ~SlowRelay() {
        stopping_ = true;
        ::shutdown(listen_, SHUT_RDWR);
        ::close(listen_);
        acceptor_.join();
        for (auto& t : relays_)
            t.join();
    }
    unsigned short port() const { return port_; }

private:
    static sockaddr_in Loopback(unsigned short port) {
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = htons(port);
        return addr;
    }
    void Accept() {
        for (;;) {
            const int client = ::accept(listen_, nullptr, nullptr);
            if (client < 0)
                return;
            relays_.emplace_back([this, client] { Relay(client); });
        }
    }
    void Relay(int client) {
        const auto until = std::chrono::steady_clock::now() + hold_;
        while (!stopping_ && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(5ms);
        const int server = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr = Loopback(target_);
        if (::connect(server, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
            pollfd fds[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
            char buffer[16384];
            bool open = true;
            while (open && !stopping_) {
                if (::poll(fds, 2, 50) < 0)
                    break;
                for (int i = 0; i < 2 && open; ++i) {
                    if (fds[i].revents == 0)
                        continue;
                    const auto n = ::recv(fds[i].fd, buffer, sizeof buffer, 0);
                    open = n > 0 &&
                           ::send(fds[1 - i].fd, buffer, static_cast<std::size_t>(n), MSG_NOSIGNAL) == n;
                }
            }
        }
        ::close(server);
        ::close(client);
    }

    unsigned short target_;
    std::chrono::milliseconds hold_;
    int listen_ = -1;
    unsigned short port_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread acceptor_;
    std::list<std::thread> relays_; // touched by the acceptor only, joined after it
};

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

TEST(OrrinConnection, ServerSlowToAcceptIsStillReached) {
    // The first call goes out at once, while the connection is still being set up; it waits
    // for it instead of failing (the client's short retry delays are no limit on a connection
    // attempt).
    auto sim = StartSim(QuietSim(4));
    SlowRelay relay(static_cast<unsigned short>(sim->Port()), 400ms);
    lyra::OrrinService service(QuickClient());
    Recorder events(service);
    service.start("127.0.0.1", relay.port());
    EXPECT_EQ(service.projectService()->getName(), "DemoProject-4") << service.lastError().message;
    ASSERT_TRUE(events.WaitForState(true));
    service.stop();
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
