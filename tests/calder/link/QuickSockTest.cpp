// The host socket against a raw loopback peer: delivery on the activating thread, protocol
// errors, concurrent and gathered sends, and sending without a connection.

#include "calder/QuickSock.h"

#include "LinkTestSupport.h"

#include "calder/Packets.h"
#include "host_link.pb.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using linktest::RawPeer;
using linktest::WaitUntil;

struct Received {
    std::vector<calder::HostFrame> frames;
    std::vector<QThread*> threads;
    int closed = 0;
};

// A connected, activated socket and the peer's end of it.
struct Link {
    RawPeer peer;
    std::unique_ptr<QuickSock> sock = std::make_unique<QuickSock>();
    std::shared_ptr<Received> got = std::make_shared<Received>();

    bool Open(std::size_t maxFrameBytes = QuickSock::kDefaultMaxFrameBytes) {
        linktest::EnsureApp();
        sock->SetMaxFrameBytes(maxFrameBytes);
        if (!sock->Connect("127.0.0.1", peer.Port(), 5000) || !peer.Accept())
            return false;
        auto r = got;
        return sock->Activate(
            [r](const calder::HostFrame& f) {
                r->frames.push_back(f);
                r->threads.push_back(QThread::currentThread());
            },
            [r] { ++r->closed; });
    }
};

std::unique_ptr<TarnIPMeasurement> NamedPoint(const std::wstring& target, double x) {
    auto p = std::make_unique<TarnIPMeasurement>();
    p->collectionName = L"A";
    p->groupName = L"G";
    p->targetName = target;
    auto* r = new TarnIPMeasDataUncertXYZ;
    r->position = Vector(x, 0, 0);
    p->data.Add(r);
    return p;
}

TEST(QuickSock, DeliversFramesInOrderOnTheActivatingThread) {
    Link link;
    ASSERT_TRUE(link.Open());
    EXPECT_TRUE(link.sock->IsConnected());
    calder::HostFrame names;
    names.mutable_names()->set_firsttext("C1");
    calder::HostFrame startStop;
    startStop.mutable_startstop()->set_mode(1);
    calder::HostFrame heartbeat;
    heartbeat.mutable_heartbeat();
    std::string wire;
    for (const auto* f : {&names, &startStop, &heartbeat})
        calder::AppendFrame(*f, wire);
    // Split so that frames straddle reads.
    link.peer.Send(wire.substr(0, 3));
    link.peer.Send(wire.substr(3, 7));
    link.peer.Send(wire.substr(10));

    ASSERT_TRUE(WaitUntil([&] { return link.got->frames.size() == 3; }));
    EXPECT_EQ(link.got->frames[0].names().firsttext(), "C1");
    EXPECT_EQ(link.got->frames[1].startstop().mode(), 1);
    EXPECT_TRUE(link.got->frames[2].has_heartbeat());
    for (QThread* t : link.got->threads)
        EXPECT_EQ(t, QThread::currentThread());
    EXPECT_EQ(link.got->closed, 0);
}

// A handler that runs a nested event loop (a dialog, a wait) gets the next frames delivered inside
// it; they still come in arrival order, and the close only after the last of them.
TEST(QuickSock, NestedEventLoopsInHandlersKeepTheOrderAndTheCloseComesLast) {
    linktest::EnsureApp();
    RawPeer peer;
    QuickSock sock;
    ASSERT_TRUE(sock.Connect("127.0.0.1", peer.Port()));
    ASSERT_TRUE(peer.Accept());
    constexpr int kFrames = 300;
    std::vector<int> order;
    int framesAtClose = -1;
    int closed = 0;
    ASSERT_TRUE(sock.Activate(
        [&](const calder::HostFrame& f) {
            order.push_back(std::stoi(f.names().firsttext()));
            if (order.size() % 7 == 1)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        },
        [&] {
            ++closed;
            framesAtClose = static_cast<int>(order.size());
        }));
    std::string wire;
    for (int i = 0; i < kFrames; ++i) {
        calder::HostFrame names;
        names.mutable_names()->set_firsttext(std::to_string(i));
        calder::AppendFrame(names, wire);
        if (i % 50 == 49) { // in several reads, so that frames arrive while handlers run
            peer.Send(wire);
            wire.clear();
        }
    }
    peer.CloseConnection();
    ASSERT_TRUE(WaitUntil([&] { return closed > 0; }));
    linktest::Drain();
    EXPECT_EQ(closed, 1);
    EXPECT_EQ(framesAtClose, kFrames);
    ASSERT_EQ(order.size(), static_cast<std::size_t>(kFrames));
    for (int i = 0; i < kFrames; ++i)
        EXPECT_EQ(order[static_cast<std::size_t>(i)], i);
}

TEST(QuickSock, ProtocolErrorsAndEndOfStreamCloseTheConnectionOnce) {
    struct Case {
        const char* name;
        std::string bytes;
        std::size_t limit;
    };
    const std::vector<Case> cases = {
        {"truncated frame then close", std::string("\x10\x00\x00\x00\xA2\x01", 6),
         QuickSock::kDefaultMaxFrameBytes},
        {"garbage bytes", std::string("\x05\x00\x00\x00\xFF\xFF\xFF\xFF\xFF", 9),
         QuickSock::kDefaultMaxFrameBytes},
        // 4 GiB claimed, followed by data that must not be buffered.
        {"length prefix of 4 GiB", std::string("\xFF\xFF\xFF\xFF", 4) + std::string(1 << 20, 'z'),
         QuickSock::kDefaultMaxFrameBytes},
        {"over a small limit", std::string("\x01\x01\x00\x00", 4) + std::string(257, 'z'), 256},
        {"plain end of stream", std::string(), QuickSock::kDefaultMaxFrameBytes},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Link link;
        ASSERT_TRUE(link.Open(c.limit));
        link.peer.Send(c.bytes);
        const bool peerCloses = std::string(c.name) == "truncated frame then close" ||
                                std::string(c.name) == "plain end of stream";
        if (peerCloses)
            link.peer.CloseConnection();
        else
            EXPECT_TRUE(link.peer.WaitForClose()) << "the socket closes its end on a protocol error";
        ASSERT_TRUE(WaitUntil([&] { return link.got->closed > 0; }));
        linktest::Drain();
        EXPECT_EQ(link.got->closed, 1);
        EXPECT_TRUE(link.got->frames.empty());
        EXPECT_FALSE(link.sock->IsConnected());
        TarnIPFlags flags;
        EXPECT_EQ(link.sock->SendPacket(flags), 0) << "a closed link drops packets";
    }
}

TEST(QuickSock, SendsFromSeveralThreadsArriveWholeAndUnmixed) {
    Link link;
    ASSERT_TRUE(link.Open());
    constexpr int kThreads = 4;
    constexpr int kPerThread = 500;
    std::vector<std::thread> senders;
    std::atomic<int> failures{0};
    for (int t = 0; t < kThreads; ++t) {
        senders.emplace_back([&, t] {
            for (int i = 0; i < kPerThread; ++i) {
                // Distinct contents of varying length, so that interleaved bytes could not parse.
                auto p = NamedPoint(L"T" + std::to_wstring(t) + L"_" + std::to_wstring(i) +
                                        std::wstring(static_cast<std::size_t>(i % 37), L'w'),
                                    t * 10000 + i);
                if (link.sock->SendPacket(*p) == 0)
                    ++failures;
            }
        });
    }
    const auto frames = link.peer.ReadFrames(kThreads * kPerThread);
    for (auto& s : senders)
        s.join();
    EXPECT_EQ(failures.load(), 0);
    ASSERT_EQ(frames.size(), static_cast<std::size_t>(kThreads * kPerThread));
    std::map<int, int> nextOf;
    std::set<std::uint64_t> markers;
    for (const auto& f : frames) {
        ASSERT_EQ(f.packet_case(), calder::HostFrame::kMeasurement);
        const auto& m = f.measurement();
        const int x = static_cast<int>(m.data(0).uncertxyz().position().x());
        const int t = x / 10000;
        const int i = x % 10000;
        EXPECT_EQ(m.targetname(),
                  "T" + std::to_string(t) + "_" + std::to_string(i) + std::string(i % 37, 'w'));
        EXPECT_EQ(i, nextOf[t]++) << "each thread's packets arrive in its order";
        markers.insert(f.writemarker());
    }
    EXPECT_EQ(markers.size(), frames.size()) << "every single send carries its own marker";
    EXPECT_EQ(markers.count(0), 0u);
}

TEST(QuickSock, SendPacketsWritesEveryFrameWithOneMarker) {
    Link link;
    ASSERT_TRUE(link.Open());
    std::vector<std::unique_ptr<CObject>> owned;
    CObArray packets;
    for (int i = 0; i < 1000; ++i) {
        owned.push_back(NamedPoint(L"P" + std::to_wstring(i), i));
        packets.Add(owned.back().get());
    }
    auto frame = std::make_unique<TarnIPGeomFrame>(); // mixed kinds in one array
    frame->name = L"F";
    packets.Add(frame.get());
    EXPECT_NE(link.sock->SendPackets(packets), 0);
    TarnIPFlags flags;
    EXPECT_NE(link.sock->SendPacket(flags), 0);

    const auto frames = link.peer.ReadFrames(1002);
    ASSERT_EQ(frames.size(), 1002u);
    for (int i = 0; i < 1000; ++i)
        EXPECT_EQ(frames[static_cast<std::size_t>(i)].measurement().targetname(), "P" + std::to_string(i));
    EXPECT_EQ(frames[1000].geomframe().name(), "F");
    const std::uint64_t marker = frames[0].writemarker();
    EXPECT_NE(marker, 0u);
    for (std::size_t i = 0; i < 1001; ++i)
        EXPECT_EQ(frames[i].writemarker(), marker);
    EXPECT_NE(frames[1001].writemarker(), marker);
    EXPECT_TRUE(frames[1001].has_flags());

    CObArray empty;
    EXPECT_NE(link.sock->SendPackets(empty), 0) << "an empty array is sent as nothing";
    CObject notAPacket;
    CObArray mixed;
    mixed.Add(&notAPacket);
    mixed.Add(&flags);
    EXPECT_EQ(link.sock->SendPackets(mixed), 0) << "a packet that cannot be encoded is reported";
    const auto rest = link.peer.ReadFrames(1);
    ASSERT_EQ(rest.size(), 1u);
    EXPECT_TRUE(rest[0].has_flags()) << "the packets that can be encoded are still sent";
}

// A batch far larger than the socket's buffers goes out while it is still being encoded; single
// sends from other threads meanwhile land before or after it, never inside it.
TEST(QuickSock, ALargeBatchStaysOneUninterruptedRunBetweenOtherSenders) {
    Link link;
    ASSERT_TRUE(link.Open());
    constexpr int kBatch = 60000; // several MiB of frames
    constexpr int kSingles = 200;
    std::vector<std::unique_ptr<CObject>> owned;
    CObArray batch;
    for (int i = 0; i < kBatch; ++i) {
        owned.push_back(NamedPoint(L"B" + std::to_wstring(i), i));
        batch.Add(owned.back().get());
    }
    std::atomic<int> failures{0};
    std::vector<std::thread> senders;
    for (int t = 0; t < 2; ++t) {
        senders.emplace_back([&, t] {
            for (int i = 0; i < kSingles; ++i) {
                auto p = NamedPoint(L"S" + std::to_wstring(t) + L"_" + std::to_wstring(i), i);
                if (link.sock->SendPacket(*p) == 0)
                    ++failures;
            }
        });
    }
    senders.emplace_back([&] {
        if (link.sock->SendPackets(batch) == 0)
            ++failures;
    });
    const auto frames = link.peer.ReadFrames(kBatch + 2 * kSingles, std::chrono::seconds(120));
    for (auto& s : senders)
        s.join();
    EXPECT_EQ(failures.load(), 0);
    ASSERT_EQ(frames.size(), static_cast<std::size_t>(kBatch + 2 * kSingles));

    std::size_t first = frames.size();
    for (std::size_t i = 0; i < frames.size() && first == frames.size(); ++i)
        if (frames[i].measurement().targetname().rfind('B', 0) == 0)
            first = i;
    ASSERT_LE(first + kBatch, frames.size());
    const std::uint64_t marker = frames[first].writemarker();
    EXPECT_NE(marker, 0u);
    for (int i = 0; i < kBatch; ++i) {
        const auto& f = frames[first + static_cast<std::size_t>(i)];
        ASSERT_EQ(f.measurement().targetname(), "B" + std::to_string(i)) << "the batch is cut at frame " << i;
        ASSERT_EQ(f.writemarker(), marker);
    }
    std::set<std::uint64_t> others;
    for (std::size_t i = 0; i < frames.size(); ++i)
        if (i < first || i >= first + kBatch)
            others.insert(frames[i].writemarker());
    EXPECT_EQ(others.size(), static_cast<std::size_t>(2 * kSingles));
    EXPECT_EQ(others.count(marker), 0u);
}

TEST(QuickSock, WithoutAConnectionEverySendIsDropped) {
    QuickSock sock;
    EXPECT_FALSE(sock.IsConnected());
    TarnIPFlags flags;
    EXPECT_EQ(sock.SendPacket(flags), 0);
    CObArray packets;
    packets.Add(&flags);
    EXPECT_EQ(sock.SendPackets(packets), 0);
    calder::HostFrame logon;
    logon.mutable_logon()->set_instrumentname("x");
    EXPECT_EQ(sock.SendFrame(logon), 0);
    EXPECT_FALSE(sock.Activate([](const calder::HostFrame&) {}, [] {}));

    EXPECT_FALSE(sock.Connect("127.0.0.1", linktest::UnusedPort(), 2000));
    EXPECT_FALSE(sock.Connect("127.0.0.1", 0, 2000));
    EXPECT_FALSE(sock.Connect("127.0.0.1", 70000, 2000));
    EXPECT_FALSE(sock.Connect("", 7300, 2000));
    EXPECT_EQ(sock.SendPacket(flags), 0);
}

TEST(QuickSock, SendingAfterThePeerHasGoneNeverRaisesSigpipe) {
    // Not activated: no reader notices the close, so the writes themselves meet the dead peer.
    RawPeer peer;
    QuickSock sock;
    ASSERT_TRUE(sock.Connect("127.0.0.1", peer.Port()));
    ASSERT_TRUE(peer.Accept());
    peer.CloseConnection();
    auto cloud = std::make_unique<TarnIPCloud>();
    for (int i = 0; i < 20000; ++i) {
        TarnIPCloudBlockPt p{1.0 * i, 2, 3};
        cloud->AddPoint(p);
    }
    // The first write may still be taken by the kernel; the peer's reset fails a later one.
    int attempts = 0;
    while (sock.IsConnected() && attempts < 100) {
        sock.SendPacket(*cloud);
        ++attempts;
    }
    EXPECT_FALSE(sock.IsConnected()) << "a failed write marks the link down";
    EXPECT_EQ(sock.SendPacket(*cloud), 0);
}

// Senders blocked on a host that does not read are released by Close, which neither deadlocks
// nor closes the descriptor under a running write.
TEST(QuickSock, CloseReleasesSendersBlockedOnAHostThatDoesNotRead) {
    RawPeer peer;
    QuickSock sock;
    ASSERT_TRUE(sock.Connect("127.0.0.1", peer.Port()));
    ASSERT_TRUE(peer.Accept());
    auto cloud = std::make_unique<TarnIPCloud>();
    for (int i = 0; i < 100000; ++i) {
        TarnIPCloudBlockPt p{1.0 * i, 2, 3};
        cloud->AddPoint(p);
    }
    std::atomic<int> finished{0};
    std::vector<std::thread> senders;
    for (int t = 0; t < 3; ++t) {
        senders.emplace_back([&] {
            // 2.4 MB per packet: the socket buffers fill and the writes block.
            while (sock.SendPacket(*cloud) != 0) {
            }
            ++finished;
        });
    }
    std::this_thread::sleep_for(100ms); // let them block (the test holds without it)
    sock.Close();
    for (auto& s : senders)
        s.join();
    EXPECT_EQ(finished.load(), 3);
    EXPECT_FALSE(sock.IsConnected());
}

TEST(QuickSock, LinkFramesCarryAMarkerAndTheirContents) {
    Link link;
    ASSERT_TRUE(link.Open());
    calder::HostFrame logon;
    logon.mutable_logon()->set_instrumenttype(212);
    logon.mutable_logon()->set_instrumentname("Orrin");
    EXPECT_NE(link.sock->SendFrame(logon), 0);
    EXPECT_NE(link.sock->SendFrame(logon), 0);
    const auto frames = link.peer.ReadFrames(2);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].logon().instrumenttype(), 212u);
    EXPECT_EQ(frames[0].logon().instrumentname(), "Orrin");
    EXPECT_NE(frames[0].writemarker(), 0u);
    EXPECT_NE(frames[0].writemarker(), frames[1].writemarker());
}

TEST(QuickSock, CloseDeliversClosedOnceAndDestructionStopsEveryCallback) {
    {
        Link link;
        ASSERT_TRUE(link.Open());
        link.sock->Close();
        EXPECT_FALSE(link.sock->IsConnected());
        EXPECT_TRUE(link.peer.WaitForClose());
        ASSERT_TRUE(WaitUntil([&] { return link.got->closed > 0; }));
        linktest::Drain();
        EXPECT_EQ(link.got->closed, 1);
        link.sock->Close(); // a second close is harmless
    }
    {
        // Frames and the close still queued when the socket is destroyed are never delivered.
        Link link;
        ASSERT_TRUE(link.Open());
        calder::HostFrame heartbeat;
        heartbeat.mutable_heartbeat();
        std::string wire;
        for (int i = 0; i < 200; ++i)
            calder::AppendFrame(heartbeat, wire);
        link.peer.Send(wire);
        link.peer.CloseConnection();
        std::this_thread::sleep_for(50ms); // let the reader queue what it read (not required)
        link.sock.reset();
        const std::size_t framesAtDestruction = link.got->frames.size();
        const int closedAtDestruction = link.got->closed;
        linktest::Drain(200ms);
        EXPECT_EQ(link.got->frames.size(), framesAtDestruction);
        EXPECT_EQ(link.got->closed, closedAtDestruction);
        EXPECT_EQ(closedAtDestruction, 0);
    }
}

TEST(QuickSock, AHandlerMayDestroyTheSocket) {
    Link link;
    linktest::EnsureApp();
    ASSERT_TRUE(link.sock->Connect("127.0.0.1", link.peer.Port()));
    ASSERT_TRUE(link.peer.Accept());
    QuickSock* raw = link.sock.get();
    bool destroyed = false;
    ASSERT_TRUE(raw->Activate(
        [&](const calder::HostFrame&) {
            link.sock.reset();
            destroyed = true;
        },
        [] {}));
    calder::HostFrame heartbeat;
    heartbeat.mutable_heartbeat();
    link.peer.SendFrame(heartbeat);
    link.peer.SendFrame(heartbeat);
    ASSERT_TRUE(WaitUntil([&] { return destroyed; }));
    linktest::Drain();
    EXPECT_TRUE(link.peer.WaitForClose());
}

TEST(QuickSock, ReconnectsAfterTheHostWentAway) {
    Link link;
    ASSERT_TRUE(link.Open());
    link.peer.CloseConnection();
    ASSERT_TRUE(WaitUntil([&] { return link.got->closed == 1; }));
    RawPeer second;
    ASSERT_TRUE(link.sock->Connect("127.0.0.1", second.Port()));
    ASSERT_TRUE(second.Accept());
    auto r = std::make_shared<Received>();
    ASSERT_TRUE(link.sock->Activate([r](const calder::HostFrame& f) { r->frames.push_back(f); }, [] {}));
    calder::HostFrame alive;
    alive.mutable_linkalive();
    second.SendFrame(alive);
    ASSERT_TRUE(WaitUntil([&] { return r->frames.size() == 1; }));
    EXPECT_TRUE(r->frames[0].has_linkalive());
    EXPECT_EQ(link.got->closed, 1);
}

} // namespace
