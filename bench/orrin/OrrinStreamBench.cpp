// Continuous-capture delivery through the client library, beside a bare gRPC stream of the same
// messages, in one run: epochs per second (the server as fast as the client takes them) and the
// delivery latency from the server's write to the slot call (p50, p99) at a paced rate below
// that, for epochs of 10 and of 10,000 points.
//
//   orrin-stream-bench [--seconds S] [--points N[,N...]]
//
// All paths run in this process over loopback: "library" is the simulator's capture service and
// OrrinService up to the epochCaptured slot (the whole path); "client" is a minimal server
// writing prepared events (after a hello) to OrrinService (the client library alone); "bare" is
// the same minimal server and a plain stub reading the events.

#include "OrrinCapture.grpc.pb.h"
#include "OrrinService.h"
#include "orrinsim/Simulator.h"

#include <grpcpp/grpcpp.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <iostream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

struct Result {
    double epochsPerSecond = 0.0;
    double p50Ms = 0.0;
    double p99Ms = 0.0;
    std::size_t samples = 0;
};

// Epochs shaped like the simulator's: three camera stations, one tracked object, and one
// triangulation cloud of `points` targets with covariances.
std::vector<lyraproto::TriggerEpoch> MakeEpochs(std::size_t points, int count) {
    std::vector<lyraproto::TriggerEpoch> epochs;
    for (int n = 1; n <= count; ++n) {
        lyraproto::TriggerEpoch e;
        e.set_label("TriangulationEpoch");
        e.set_epoch_id(static_cast<std::uint64_t>(n));
        e.set_sob_found(true);
        for (int c = 1; c <= 3; ++c) {
            auto* camera = e.add_camera();
            camera->set_label("Camera" + std::to_string(c));
            auto* station = camera->add_station();
            for (int i = 0; i < 16; ++i)
                station->add_transform(i % 5 == 0 ? 1.0 : 0.001 * (i + c));
        }
        auto* tracked = e.add_object_tracking();
        tracked->set_name("Fixture");
        tracked->mutable_transformation()->set_valid(true);
        for (int i = 0; i < 16; ++i)
            tracked->mutable_transformation()->add_matrix(i % 5 == 0 ? 1.0 : 0.0);
        auto* cloud = e.add_cloud();
        cloud->set_label("Triangulation");
        cloud->set_cloud_type(lyraproto::Cloud::TRIANGULATION);
        for (std::size_t i = 0; i < points; ++i) {
            auto* p = cloud->add_point();
            p->set_label((i % 3 == 0 ? "CODE" : "TARGET") + std::to_string(i + 1));
            p->set_x(1000.0 * std::sin(0.001 * static_cast<double>(i) + n));
            p->set_y(600.0 * std::cos(0.002 * static_cast<double>(i)));
            p->set_z(0.1 * static_cast<double>(i % 300));
            p->set_rays(static_cast<int>(3 + i % 10));
            for (int k = 0; k < 9; ++k)
                p->add_covariance(k % 4 == 0 ? 1.2e-4 : 1.0e-6);
        }
        epochs.push_back(std::move(e));
    }
    return epochs;
}

double Percentile(std::vector<double> values, double q) {
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(q * static_cast<double>(values.size() - 1) + 0.5);
    return values[std::min(index, values.size() - 1)];
}

// Send and receive times of one run, matched by order (one subscriber, an ordered stream).
struct Timeline {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<Clock::time_point> sent;
    std::vector<Clock::time_point> received;

    void Sent() {
        std::lock_guard lock(mutex);
        sent.push_back(Clock::now());
    }
    void Received() {
        const auto now = Clock::now();
        std::lock_guard lock(mutex);
        received.push_back(now);
        changed.notify_all();
    }
    std::size_t ReceivedCount() {
        std::lock_guard lock(mutex);
        return received.size();
    }
    // Latencies of the epochs after the first `skip` (warm-up).
    std::vector<double> LatenciesMs(std::size_t skip) {
        std::lock_guard lock(mutex);
        std::vector<double> out;
        const std::size_t n = std::min(sent.size(), received.size());
        for (std::size_t i = skip; i < n; ++i)
            out.push_back(std::chrono::duration<double, std::milli>(received[i] - sent[i]).count());
        return out;
    }
};

Result Summarize(Timeline& timeline, std::chrono::duration<double> window, std::size_t counted,
                 bool latency) {
    Result r;
    r.epochsPerSecond = static_cast<double>(counted) / window.count();
    if (latency) {
        const auto values = timeline.LatenciesMs(5);
        r.samples = values.size();
        r.p50Ms = Percentile(values, 0.50);
        r.p99Ms = Percentile(values, 0.99);
    }
    return r;
}

// --- the minimal server -------------------------------------------------------------------------

class BareServer final : public orrinclient::Capture::Service {
public:
    BareServer(const std::vector<lyraproto::TriggerEpoch>& epochs, double rateHz, Timeline* timeline,
               bool greet)
        : rateHz_(rateHz), timeline_(timeline), greet_(greet) {
        for (const auto& e : epochs) {
            orrinclient::CaptureEvent event;
            *event.mutable_epoch() = e;
            events_.push_back(std::move(event));
        }
    }
    void Finish() { done_ = true; }

    grpc::Status Subscribe(grpc::ServerContext* context, const orrinclient::SubscribeRequest*,
                           grpc::ServerWriter<orrinclient::CaptureEvent>* writer) override {
        if (greet_) { // OrrinService counts a stream as connected once greeted
            orrinclient::CaptureEvent hello;
            hello.mutable_hello()->set_server_name("bare");
            if (!writer->Write(hello))
                return grpc::Status::OK;
        }
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [&] { return started_ || done_ || context->IsCancelled(); });
        }
        const auto period =
            rateHz_ > 0.0
                ? std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / rateHz_))
                : Clock::duration::zero();
        auto next = Clock::now();
        for (std::size_t i = 0; !done_ && !context->IsCancelled(); ++i) {
            if (rateHz_ > 0.0) {
                std::this_thread::sleep_until(next);
                next = std::max(next + period, Clock::now());
            }
            if (timeline_)
                timeline_->Sent();
            if (!writer->Write(events_[i % events_.size()]))
                break;
        }
        return grpc::Status::OK;
    }
    grpc::Status StartContinuous(grpc::ServerContext*, const google::protobuf::Empty*,
                                 google::protobuf::BoolValue* reply) override {
        Start();
        reply->set_value(true);
        return grpc::Status::OK;
    }
    grpc::Status StopContinuous(grpc::ServerContext*, const google::protobuf::Empty*,
                                google::protobuf::BoolValue* reply) override {
        done_ = true;
        changed_.notify_all();
        reply->set_value(true);
        return grpc::Status::OK;
    }
    void Start() {
        std::lock_guard lock(mutex_);
        started_ = true;
        changed_.notify_all();
    }

private:
    std::vector<orrinclient::CaptureEvent> events_;
    double rateHz_;
    Timeline* timeline_;
    bool greet_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool started_ = false;
    std::atomic<bool> done_{false};
};

struct BareListener {
    explicit BareListener(BareServer& service) {
        grpc::ServerBuilder builder;
        builder.AddListeningPort("127.0.0.1:0", grpc::InsecureServerCredentials(), &port);
        builder.RegisterService(&service);
        server = builder.BuildAndStart();
        if (!server)
            throw std::runtime_error("bare server did not start");
    }
    ~BareListener() { server->Shutdown(std::chrono::system_clock::now() + 1s); }
    int port = 0;
    std::unique_ptr<grpc::Server> server;
};

// --- OrrinService as the reader -----------------------------------------------------------------

// Starts continuous capture at `port` and counts what reaches the epochCaptured slot.
Result ReadWithService(unsigned short port, Timeline& timeline, bool latency,
                       std::chrono::duration<double> window, bool waitForStop) {
    lyra::OrrinService service;
    std::atomic<std::size_t> count{0};
    std::mutex stopMutex;
    std::condition_variable stopChanged;
    bool connected = false, stopped = false;
    boost::signals2::scoped_connection c1 =
        service.connectionStatusService()->connectionChanged.connect([&](bool up) {
            std::lock_guard lock(stopMutex);
            connected = up;
            stopChanged.notify_all();
        });
    boost::signals2::scoped_connection c2 =
        service.dataCaptureService()->epochCaptured.connect([&](const lyraproto::TriggerEpoch* e) {
            if (e->cloud_size() == 0)
                throw std::logic_error("empty epoch");
            if (latency)
                timeline.Received();
            ++count;
        });
    boost::signals2::scoped_connection c3 = service.dataCaptureService()->continuousStopped.connect([&] {
        std::lock_guard lock(stopMutex);
        stopped = true;
        stopChanged.notify_all();
    });
    service.start("127.0.0.1", port);
    {
        std::unique_lock lock(stopMutex);
        if (!stopChanged.wait_for(lock, 10s, [&] { return connected; }))
            throw std::runtime_error("the client did not connect");
    }
    if (!service.dataCaptureService()->startContinuous())
        throw std::runtime_error("continuous capture did not start");
    std::this_thread::sleep_for(300ms); // warm-up
    const std::size_t before = count.load();
    const auto t0 = Clock::now();
    std::this_thread::sleep_for(window);
    const std::size_t after = count.load();
    const auto t1 = Clock::now();
    service.dataCaptureService()->stopContinuous();
    if (waitForStop) {
        std::unique_lock lock(stopMutex);
        stopChanged.wait_for(lock, 30s, [&] { return stopped; });
    }
    service.stop();
    return Summarize(timeline, t1 - t0, after - before, latency);
}

// The simulator and the client library: the whole path.
Result RunLibrary(const std::vector<lyraproto::TriggerEpoch>& epochs, double rateHz,
                  std::chrono::duration<double> window) {
    Timeline timeline;
    orrinsim::Options options;
    options.epochs = epochs;
    options.rateHz = rateHz;
    options.log = [](const std::string&) {};
    const bool latency = rateHz > 0.0;
    if (latency)
        options.onEpochWrite = [&](const lyraproto::TriggerEpoch&) { timeline.Sent(); };
    orrinsim::Simulator sim(options);
    std::string error;
    if (!sim.Start(&error))
        throw std::runtime_error(error);
    const Result result =
        ReadWithService(static_cast<unsigned short>(sim.Port()), timeline, latency, window, true);
    sim.Stop();
    return result;
}

// The minimal server and the client library: the library alone.
Result RunClient(const std::vector<lyraproto::TriggerEpoch>& epochs, double rateHz,
                 std::chrono::duration<double> window) {
    Timeline timeline;
    const bool latency = rateHz > 0.0;
    BareServer service(epochs, rateHz, latency ? &timeline : nullptr, true);
    BareListener listener(service);
    return ReadWithService(static_cast<unsigned short>(listener.port), timeline, latency, window, false);
}

// The minimal server and a plain stub.
Result RunBare(const std::vector<lyraproto::TriggerEpoch>& epochs, double rateHz,
               std::chrono::duration<double> window) {
    Timeline timeline;
    const bool latency = rateHz > 0.0;
    BareServer service(epochs, rateHz, latency ? &timeline : nullptr, false);
    service.Start();
    BareListener listener(service);

    grpc::ChannelArguments args;
    args.SetMaxReceiveMessageSize(256 << 20);
    auto channel = grpc::CreateCustomChannel("127.0.0.1:" + std::to_string(listener.port),
                                             grpc::InsecureChannelCredentials(), args);
    auto stub = orrinclient::Capture::NewStub(channel);
    grpc::ClientContext context;
    std::atomic<std::size_t> count{0};
    std::atomic<bool> empty{false};
    std::thread reader([&] {
        auto stream = stub->Subscribe(&context, orrinclient::SubscribeRequest());
        orrinclient::CaptureEvent event;
        while (stream->Read(&event)) {
            if (event.epoch().cloud_size() == 0)
                empty = true;
            if (latency)
                timeline.Received();
            ++count;
        }
        stream->Finish();
    });
    std::this_thread::sleep_for(300ms);
    const std::size_t before = count.load();
    const auto t0 = Clock::now();
    std::this_thread::sleep_for(window);
    const std::size_t after = count.load();
    const auto t1 = Clock::now();
    service.Finish();
    context.TryCancel();
    reader.join();
    if (empty)
        throw std::logic_error("empty epoch");
    return Summarize(timeline, t1 - t0, after - before, latency);
}

void Print(const char* path, std::size_t points, const Result& thr, const Result& lat, double rate) {
    std::printf("%8zu  %-8s  %10.1f  %8.0f  %8.3f  %8.3f  %8zu\n", points, path, thr.epochsPerSecond, rate,
                lat.p50Ms, lat.p99Ms, lat.samples);
}

} // namespace

int main(int argc, char** argv) {
    double seconds = 1.5;
    std::vector<std::size_t> sizes{10, 10000};
    for (int i = 1; i < argc; i += 2) {
        const std::string arg = argv[i];
        if (i + 1 < argc && arg == "--seconds") {
            seconds = std::stod(argv[i + 1]);
        } else if (i + 1 < argc && arg == "--points") {
            sizes.clear();
            std::istringstream in(argv[i + 1]);
            std::string item;
            while (std::getline(in, item, ','))
                sizes.push_back(std::stoul(item));
        } else {
            std::cerr << "usage: orrin-stream-bench [--seconds S] [--points N[,N...]]\n";
            return 2;
        }
    }
    const std::chrono::duration<double> window(seconds);
    std::printf("%8s  %-8s  %10s  %8s  %8s  %8s  %8s\n", "points", "path", "epochs/s", "paced Hz", "p50 ms",
                "p99 ms", "samples");
    std::vector<std::string> ratios;
    for (std::size_t points : sizes) {
        const auto epochs = MakeEpochs(points, 4);
        const auto bytes = epochs.front().ByteSizeLong();
        const Result libThr = RunLibrary(epochs, 0.0, window);
        const Result clientThr = RunClient(epochs, 0.0, window);
        const Result bareThr = RunBare(epochs, 0.0, window);
        // Latency at a quarter of the slowest path's throughput, so that no queue builds up, with
        // enough epochs for a p99 at slow rates, within a few seconds.
        const double slowest =
            std::min({libThr.epochsPerSecond, clientThr.epochsPerSecond, bareThr.epochsPerSecond});
        const double rate = std::clamp(slowest / 4.0, 2.0, 500.0);
        const std::chrono::duration<double> latencyWindow(std::min(std::max(seconds, 200.0 / rate), 4.0));
        const Result libLat = RunLibrary(epochs, rate, latencyWindow);
        const Result clientLat = RunClient(epochs, rate, latencyWindow);
        const Result bareLat = RunBare(epochs, rate, latencyWindow);
        Print("library", points, libThr, libLat, rate);
        Print("client", points, clientThr, clientLat, rate);
        Print("bare", points, bareThr, bareLat, rate);
        const auto ratio = [](double a, double b) { return b > 0.0 ? a / b : 0.0; };
        for (const auto& [name, thr, lat] :
             {std::tuple{"library", libThr, libLat}, std::tuple{"client", clientThr, clientLat}}) {
            char line[256];
            std::snprintf(line, sizeof line,
                          "%zu points (%zu bytes/epoch): %s/bare  throughput %.2f  p50 %.2f  p99 %.2f",
                          points, bytes, name, ratio(thr.epochsPerSecond, bareThr.epochsPerSecond),
                          ratio(lat.p50Ms, bareLat.p50Ms), ratio(lat.p99Ms, bareLat.p99Ms));
            ratios.push_back(line);
        }
    }
    std::printf("\n");
    for (const auto& r : ratios)
        std::printf("%s\n", r.c_str());
    return 0;
}
