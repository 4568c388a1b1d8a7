#include "orrinsim/Simulator.h"

#include "CaptureHub.h"
#include "EpochSource.h"
#include "Operations.h"
#include "Scene.h"
#include "Services.h"

#include <grpcpp/grpcpp.h>

#include <cmath>
#include <iostream>
#include <sstream>

namespace orrinsim {

namespace {

CaptureHub::Settings HubSettings(const Options& options) {
    CaptureHub::Settings settings;
    settings.rateHz = options.rateHz;
    settings.stopAfter = options.stopAfter;
    settings.heartbeatPeriod = options.heartbeatPeriod;
    settings.onEpochWrite = options.onEpochWrite;
    settings.log = options.log;
    return settings;
}

std::string Trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return {};
    const auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

} // namespace

struct Simulator::Impl {
    explicit Impl(Options o)
        : options(std::move(o)), gate(options.fail),
          source(options.epochs, options.seed, options.epochTargets, options.epochLumidots),
          hub(source, HubSettings(options)), projectService(store, gate, options.seed),
          bundleService(store, gate), captureService(source, hub, gate, updateGui) {
        store.project = options.project ? *options.project : GenerateProject(options.seed);
    }

    void Log(const std::string& line) const {
        if (options.log)
            options.log(line);
        else
            std::cerr << "orrin-sim: " << line << std::endl;
    }

    // A reason when the options cannot work, else empty.
    std::string Check() const {
        for (const auto& name : options.fail)
            if (!CanonicalOperation(name))
                return "unknown operation \"" + name + "\" (see --help for the names)";
        if (!(options.rateHz >= 0.0) || std::isinf(options.rateHz))
            return "the rate must be a number of epochs per second, 0 or more";
        if (options.port > 65535)
            return "the port must lie in 0..65535";
        return {};
    }

    Options options;
    ProjectStore store;
    OperationGate gate;
    EpochSource source;
    CaptureHub hub;
    std::atomic<bool> updateGui{false};
    ProjectServiceImpl projectService;
    BundleServiceImpl bundleService;
    CaptureServiceImpl captureService;

    mutable std::mutex mutex;
    std::unique_ptr<grpc::Server> server;
    unsigned port = 0;
    bool quit = false;
};

Simulator::Simulator(Options options) : impl_(std::make_unique<Impl>(std::move(options))) {}

Simulator::~Simulator() {
    Stop();
}

bool Simulator::Start(std::string* error) {
    std::lock_guard lock(impl_->mutex);
    if (impl_->server)
        return true;
    if (const auto problem = impl_->Check(); !problem.empty()) {
        if (error)
            *error = problem;
        return false;
    }
    impl_->gate.Open();
    impl_->hub.Open();

    const unsigned wantedPort = impl_->port != 0 ? impl_->port : impl_->options.port;
    const std::string address = impl_->options.host + ":" + std::to_string(wantedPort);
    int selected = 0;
    grpc::ServerBuilder builder;
    builder.AddListeningPort(address, grpc::InsecureServerCredentials(), &selected);
    // A second simulator on a port in use must fail, not share the port.
    builder.AddChannelArgument(GRPC_ARG_ALLOW_REUSEPORT, 0);
    builder.SetMaxReceiveMessageSize(256 << 20);
    builder.RegisterService(&impl_->projectService);
    builder.RegisterService(&impl_->bundleService);
    builder.RegisterService(&impl_->captureService);
    auto server = builder.BuildAndStart();
    if (!server || selected == 0) {
        if (server)
            server->Shutdown();
        if (error)
            *error = "cannot listen on " + address;
        return false;
    }
    impl_->server = std::move(server);
    impl_->port = static_cast<unsigned>(selected);
    impl_->Log("listening on " + impl_->options.host + ":" + std::to_string(impl_->port));
    return true;
}

void Simulator::Stop() {
    std::lock_guard lock(impl_->mutex);
    if (!impl_->server)
        return;
    // Release what holds handlers (stalls, event streams) so that the shutdown is prompt.
    impl_->gate.Close();
    impl_->hub.Close();
    impl_->server->Shutdown(std::chrono::system_clock::now() + std::chrono::seconds(1));
    impl_->server->Wait();
    impl_->server.reset();
    impl_->Log("stopped");
}

bool Simulator::Running() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->server != nullptr;
}

unsigned Simulator::Port() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->port;
}

std::string Simulator::Address() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->options.host + ":" + std::to_string(impl_->port);
}

bool Simulator::StartContinuous() {
    return impl_->hub.Start();
}
bool Simulator::StopContinuous() {
    return impl_->hub.Stop();
}
bool Simulator::ContinuousRunning() const {
    return impl_->hub.Running();
}

bool Simulator::Execute(const std::string& commandLine, std::string* reply) {
    const std::string command = Trimmed(commandLine);
    std::string answer;
    bool ok = true;
    if (command.empty() || command.front() == '#') {
    } else if (command == "start") {
        ok = StartContinuous();
        answer = ok ? "continuous capture running" : "continuous capture did not start";
    } else if (command == "stop") {
        ok = StopContinuous();
        answer = "continuous capture stopped";
    } else if (command == "status") {
        std::ostringstream out;
        out << "continuous capture " << (ContinuousRunning() ? "running" : "stopped") << ", " << Subscribers()
            << " subscriber(s), " << EpochsStreamed() << " epoch(s) streamed, project \"" << Project().label()
            << "\"";
        answer = out.str();
    } else if (command == "quit") {
        std::lock_guard lock(impl_->mutex);
        impl_->quit = true;
    } else {
        ok = false;
        answer = "unknown command \"" + command + "\" (start, stop, status, quit)";
    }
    if (reply)
        *reply = answer;
    return ok;
}

bool Simulator::QuitRequested() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->quit;
}

bool Simulator::SetFailing(const std::string& operation, bool failing) {
    const auto canonical = CanonicalOperation(operation);
    if (!canonical)
        return false;
    impl_->gate.SetFailing(*canonical, failing);
    return true;
}

bool Simulator::Stall(const std::string& operation) {
    const auto canonical = CanonicalOperation(operation);
    if (!canonical)
        return false;
    impl_->gate.SetStalled(*canonical, true);
    return true;
}

bool Simulator::Release(const std::string& operation) {
    const auto canonical = CanonicalOperation(operation);
    if (!canonical)
        return false;
    impl_->gate.SetStalled(*canonical, false);
    return true;
}

std::size_t Simulator::Stalled() const {
    return impl_->gate.Waiting();
}

bool Simulator::WaitForStalled(std::size_t count, std::chrono::milliseconds timeout) const {
    return impl_->gate.WaitForWaiting(count, timeout);
}

std::size_t Simulator::Subscribers() const {
    return impl_->hub.Subscribers();
}

bool Simulator::WaitForSubscribers(std::size_t count, std::chrono::milliseconds timeout) const {
    return impl_->hub.WaitForSubscribers(count, timeout);
}

bool Simulator::UpdateGui() const {
    return impl_->updateGui.load();
}

std::map<std::string, std::size_t> Simulator::Calls() const {
    return impl_->gate.Calls();
}

std::uint64_t Simulator::EpochsStreamed() const {
    return impl_->hub.EpochsStreamed();
}

lyraproto::PhotogrammetryProject Simulator::Project() const {
    std::lock_guard lock(impl_->store.mutex);
    return impl_->store.project;
}

} // namespace orrinsim
