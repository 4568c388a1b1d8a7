// Failures seen by the client: operations the server reports as failed, stalled operations that
// hit their deadline, replies beyond the size limit, and peers that are not photogrammetry
// servers at all. Each is a failed call; the service keeps working.

#include "OrrinTestSupport.h"

#include <grpcpp/generic/async_generic_service.h>
#include <grpcpp/grpcpp.h>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>

namespace {

using namespace orrintest;

struct Operation {
    const char* name; // as the server knows it
    std::function<bool(lyra::OrrinService&)> call;
};

// The operations the bridge calls, each returning its success.
std::vector<Operation> BridgeOperations() {
    return {
        {"Trigger",
         [](lyra::OrrinService& s) {
             lyraproto::TriggerEpoch e;
             return s.dataCaptureService()->trigger(&e);
         }},
        {"StartContinuous", [](lyra::OrrinService& s) { return s.dataCaptureService()->startContinuous(); }},
        {"StopContinuous", [](lyra::OrrinService& s) { return s.dataCaptureService()->stopContinuous(); }},
        {"GetProject",
         [](lyra::OrrinService& s) {
             lyraproto::PhotogrammetryProject p;
             return s.projectService()->getProject(&p);
         }},
        {"GetName", [](lyra::OrrinService& s) { return !s.projectService()->getName().empty(); }},
        {"GetProject3DFiles",
         [](lyra::OrrinService& s) {
             std::vector<std::string> files{"stale"};
             const bool ok = s.projectService()->getProject3DFiles(files);
             return ok && !files.empty();
         }},
        {"GetCloud",
         [](lyra::OrrinService& s) {
             lyraproto::Cloud c;
             return s.projectService()->getCloud("Triangulation1", &c);
         }},
        {"Run", [](lyra::OrrinService& s) { return s.projectService()->runBundle(); }},
        {"AutoMeasure", [](lyra::OrrinService& s) { return s.projectService()->autoMeasure(); }},
        {"SetUpdateGui", [](lyra::OrrinService& s) { return s.orrinSettingsService()->setUpdateGui(true); }},
    };
}

TEST(OrrinFailures, FailingOperationsReportFailureAndOnlyThey) {
    const auto ops = BridgeOperations();
    for (const auto& op : ops) {
        SCOPED_TRACE(op.name);
        auto options = QuietSim();
        options.fail = {op.name};
        auto sim = StartSim(options);
        lyra::OrrinService service(QuickClient());
        Recorder events(service);
        Connect(service, *sim);
        ASSERT_TRUE(events.WaitForState(true));

        EXPECT_FALSE(op.call(service));
        const auto error = service.lastError();
        EXPECT_EQ(error.operation, op.name);
        EXPECT_FALSE(error.message.empty());
        for (const auto& other : ops) {
            if (std::string(other.name) != op.name) {
                EXPECT_TRUE(other.call(service)) << other.name << " fails along with " << op.name;
            }
        }
        EXPECT_TRUE(service.connectionStatusService()->isConnected());
        service.stop();
    }
}

TEST(OrrinFailures, FailuresCanBeSwitchedWhileRunning) {
    auto sim = StartSim(QuietSim());
    lyra::OrrinService service(QuickClient());
    Connect(service, *sim);
    lyraproto::TriggerEpoch epoch;
    ASSERT_TRUE(service.dataCaptureService()->trigger(&epoch));
    ASSERT_TRUE(sim->SetFailing("trigger", true)); // any case
    epoch.set_label("kept");
    EXPECT_FALSE(service.dataCaptureService()->trigger(&epoch));
    EXPECT_EQ(epoch.label(), "kept") << "a failed call leaves the caller's object alone";
    ASSERT_TRUE(sim->SetFailing("Capture.Trigger", false));
    EXPECT_TRUE(service.dataCaptureService()->trigger(&epoch));
    EXPECT_FALSE(sim->SetFailing("NoSuchOperation", true));
    service.stop();
}

TEST(OrrinFailures, StalledOperationsEndAtTheirOwnDeadline) {
    struct Case {
        const char* name;
        // Sets this operation's deadline short; every other one stays far longer than the test's
        // own time limit, so the wrong deadline could not end the call in time.
        std::function<void(lyra::OrrinServiceOptions&)> shortDeadline;
        std::function<bool(lyra::OrrinService&)> call;
    };
    const auto ops = BridgeOperations();
    auto callOf = [&](const char* name) {
        for (const auto& op : ops)
            if (std::string(op.name) == name)
                return op.call;
        throw std::logic_error(name);
    };
    const std::vector<Case> cases = {
        {"Trigger", [](auto& o) { o.triggerDeadline = 300ms; }, callOf("Trigger")},
        {"GetName", [](auto& o) { o.callDeadline = 300ms; }, callOf("GetName")},
        {"GetProject", [](auto& o) { o.callDeadline = 300ms; }, callOf("GetProject")},
        {"StopContinuous", [](auto& o) { o.callDeadline = 300ms; }, callOf("StopContinuous")},
        {"AutoMeasure", [](auto& o) { o.longDeadline = 300ms; }, callOf("AutoMeasure")},
        {"Run", [](auto& o) { o.longDeadline = 300ms; }, callOf("Run")},
    };
    auto sim = StartSim(QuietSim());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto client = QuickClient();
        client.callDeadline = client.triggerDeadline = client.longDeadline = std::chrono::minutes(10);
        c.shortDeadline(client);
        lyra::OrrinService service(client);
        Recorder events(service);
        Connect(service, *sim);
        ASSERT_TRUE(events.WaitForState(true));

        ASSERT_TRUE(sim->Stall(c.name));
        EXPECT_FALSE(c.call(service));
        EXPECT_EQ(service.lastError().operation, c.name);
        EXPECT_EQ(service.lastError().code, static_cast<int>(grpc::StatusCode::DEADLINE_EXCEEDED));
        // The server sees the caller leave and lets the stalled call go.
        ASSERT_TRUE(Poll([&] { return sim->Stalled() == 0; }));
        ASSERT_TRUE(sim->Release(c.name));
        EXPECT_TRUE(c.call(service)) << "works again once the server answers";
        EXPECT_TRUE(service.connectionStatusService()->isConnected()) << "a slow call is no lost connection";
        service.stop();
    }
}

TEST(OrrinFailures, StoppingTheServerReleasesStalledCalls) {
    auto sim = StartSim(QuietSim());
    lyra::OrrinService service(QuickClient());
    Connect(service, *sim);
    ASSERT_TRUE(sim->Stall("GetProject"));
    std::atomic<bool> result{true};
    std::jthread caller([&] {
        lyraproto::PhotogrammetryProject p;
        result = service.projectService()->getProject(&p);
    });
    ASSERT_TRUE(sim->WaitForStalled(1, kWait));
    sim->Stop();
    caller.join();
    EXPECT_FALSE(result.load());
    service.stop();
}

TEST(OrrinFailures, OversizedRepliesAndEventsFailWithoutHarm) {
    auto options = QuietSim();
    lyraproto::PhotogrammetryProject big;
    big.set_label("Big");
    auto* cloud = big.add_cloud();
    cloud->set_label("Huge");
    for (int i = 0; i < 3000; ++i)
        cloud->add_point()->set_label("Point" + std::to_string(i));
    options.project = big;
    options.epochs = {MakeEpoch(1, "TriangulationEpoch", 2), MakeEpoch(2, "TriangulationEpoch", 3000),
                      MakeEpoch(3, "TriangulationEpoch", 2)};
    options.stopAfter = 3;
    auto sim = StartSim(options);
    auto client = QuickClient();
    client.maxReceiveMessageBytes = 16 * 1024;
    lyra::OrrinService service(client);
    Recorder events(service);
    Connect(service, *sim);
    ASSERT_TRUE(events.WaitForState(true));

    lyraproto::PhotogrammetryProject project;
    EXPECT_FALSE(service.projectService()->getProject(&project));
    EXPECT_EQ(service.lastError().code, static_cast<int>(grpc::StatusCode::RESOURCE_EXHAUSTED));
    EXPECT_EQ(service.projectService()->getName(), "Big") << "small replies still pass";

    // The oversized second epoch breaks the stream; the client reconnects and carries on.
    ASSERT_TRUE(service.dataCaptureService()->startContinuous());
    ASSERT_TRUE(events.WaitForStates(3));
    ASSERT_TRUE(events.WaitForState(true));
    ASSERT_FALSE(events.Epochs().empty());
    EXPECT_EQ(events.Epochs().front().id, 1u);
    for (const auto& e : events.Epochs())
        EXPECT_NE(e.id, 2u);
    lyraproto::TriggerEpoch epoch;
    EXPECT_TRUE(service.dataCaptureService()->trigger(&epoch));
    service.stop();
}

// A gRPC server that answers every call, streams included, with bytes that are no message.
class GarbageService final : public grpc::CallbackGenericService {
public:
    std::atomic<int> calls{0};
    std::atomic<int> subscribes{0};

    grpc::ServerGenericBidiReactor* CreateReactor(grpc::GenericCallbackServerContext* context) override {
        ++calls;
        if (context->method().find("Subscribe") != std::string::npos)
            ++subscribes;
        class Reactor final : public grpc::ServerGenericBidiReactor {
        public:
            Reactor() {
                // Field 0 and an unknown wire type, then a length running past the end.
                static const char junk[] = "\x07\x07\xff\xff\x0a\xff\x01";
                grpc::Slice slice(junk, sizeof junk - 1);
                reply_ = grpc::ByteBuffer(&slice, 1);
                StartRead(&request_);
            }
            void OnReadDone(bool) override {
                StartWriteAndFinish(&reply_, grpc::WriteOptions(), grpc::Status::OK);
            }
            void OnDone() override { delete this; }

        private:
            grpc::ByteBuffer request_;
            grpc::ByteBuffer reply_;
        };
        return new Reactor;
    }
};

// A TCP peer that answers every connection with junk bytes and hangs up.
class JunkSocketServer {
public:
    JunkSocketServer() {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = 0;
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd_, 16) != 0)
            throw std::runtime_error("cannot listen");
        socklen_t len = sizeof addr;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
        port_ = ntohs(addr.sin_port);
        thread_ = std::thread([this] {
            for (;;) {
                const int client = ::accept(fd_, nullptr, nullptr);
                if (client < 0)
                    return;
                ++connections;
                static const char junk[] = "HTTP/1.1 400 Nonsense\r\n\r\n\x00\x01\x02\xff\xfe garbage";
                [[maybe_unused]] auto n = ::send(client, junk, sizeof junk - 1, MSG_NOSIGNAL);
                ::close(client);
            }
        });
    }
    ~JunkSocketServer() {
        ::shutdown(fd_, SHUT_RDWR);
        ::close(fd_);
        thread_.join();
    }
    unsigned short port() const { return port_; }
    std::atomic<int> connections{0};

private:
    int fd_ = -1;
    unsigned short port_ = 0;
    std::thread thread_;
};

TEST(OrrinFailures, PeersThatAreNoPhotogrammetryServerOnlyFailCalls) {
    auto exercise = [](lyra::OrrinService& service, const Recorder& events,
                       const std::function<bool()>& retried) {
        for (const auto& op : BridgeOperations())
            EXPECT_FALSE(op.call(service)) << op.name;
        EXPECT_FALSE(service.dataCaptureService()->isContinuousRunning());
        EXPECT_NE(service.lastError().code, 0);
        // The event stream keeps trying, and never counts such a peer as connected.
        ASSERT_TRUE(Poll(retried));
        EXPECT_TRUE(events.States().empty());
        EXPECT_FALSE(service.connectionStatusService()->isConnected());
    };

    {
        SCOPED_TRACE("gRPC server with unreadable replies");
        GarbageService garbage;
        int port = 0;
        grpc::ServerBuilder builder;
        builder.AddListeningPort("127.0.0.1:0", grpc::InsecureServerCredentials(), &port);
        builder.RegisterCallbackGenericService(&garbage);
        auto server = builder.BuildAndStart();
        ASSERT_TRUE(server);
        lyra::OrrinService service(QuickClient());
        Recorder events(service);
        service.start("127.0.0.1", static_cast<unsigned short>(port));
        exercise(service, events, [&] { return garbage.subscribes.load() >= 3; });
        service.stop();
        server->Shutdown();
    }
    {
        SCOPED_TRACE("TCP peer sending junk");
        JunkSocketServer junk;
        lyra::OrrinService service(QuickClient());
        Recorder events(service);
        service.start("127.0.0.1", junk.port());
        exercise(service, events, [&] { return junk.connections.load() >= 3; });
        service.stop();
    }
}

} // namespace
