// orrin-sim: the photogrammetry simulator as a program. Serves a generated project (or the one
// given) on 127.0.0.1:PORT until SIGINT, SIGTERM or "quit" on standard input.

#include "orrinsim/Simulator.h"

#include <pthread.h>

#include <csignal>
#include <cstdlib>
#include <ctime>
#include <iostream>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>

namespace {

const char* const kUsage =
    "usage: orrin-sim [--port P] [--host ADDR] [--seed N] [--project FILE] [--epochs FILE]\n"
    "                 [--rate HZ] [--stop-after N] [--fail OP[,OP...]]\n"
    "\n"
    "  --port P        port to listen on (default 50051; 0 picks a free one, shown on the ready line)\n"
    "  --host ADDR     address to listen on (default 127.0.0.1)\n"
    "  --seed N        seed of the generated project and epochs (default 1)\n"
    "  --project FILE  serve this PhotogrammetryProject (protobuf JSON) unchanged\n"
    "  --epochs FILE   serve these TriggerEpochs (protobuf JSON, one a line) in order, unchanged\n"
    "  --rate HZ       epochs per second of continuous capture (default 10; 0: as fast as read)\n"
    "  --stop-after N  a continuous run ends by itself after N epochs\n"
    "  --fail OPS      these operations report failure (names below, any case)\n"
    "\n"
    "Standard input: start | stop (continuous capture, as the operator) | status | quit\n";

bool ParseUnsigned(const std::string& text, unsigned long long max, unsigned long long* value) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    try {
        const unsigned long long v = std::stoull(text);
        if (v > max)
            return false;
        *value = v;
        return true;
    } catch (...) {
        return false;
    }
}

bool ParseRate(const std::string& text, double* value) {
    try {
        std::size_t used = 0;
        const double v = std::stod(text, &used);
        if (used != text.size())
            return false;
        *value = v;
        return true;
    } catch (...) {
        return false;
    }
}

int Fail(const std::string& message) {
    std::cerr << "orrin-sim: " << message << "\n" << kUsage;
    return 2;
}

// Standard input commands go to the simulator while it exists.
std::mutex gInputMutex;
orrinsim::Simulator* gSimulator = nullptr;

void ReadCommands() {
    std::string line;
    while (std::getline(std::cin, line)) {
        std::lock_guard lock(gInputMutex);
        if (gSimulator == nullptr)
            return;
        std::string reply;
        const bool ok = gSimulator->Execute(line, &reply);
        if (!reply.empty())
            (ok ? std::cout : std::cerr) << reply << std::endl;
        if (gSimulator->QuitRequested())
            return;
    }
}

} // namespace

int main(int argc, char** argv) {
    orrinsim::Options options;
    options.port = 50051;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::cout << kUsage << "\nOperations:";
            for (const auto& name : orrinsim::OperationNames())
                std::cout << ' ' << name;
            std::cout << std::endl;
            return 0;
        }
        if (i + 1 >= argc)
            return Fail("missing value after " + arg);
        const std::string value = argv[++i];
        unsigned long long number = 0;
        std::string error;
        if (arg == "--port") {
            if (!ParseUnsigned(value, 65535, &number))
                return Fail("bad port \"" + value + "\"");
            options.port = static_cast<unsigned>(number);
        } else if (arg == "--host") {
            options.host = value;
        } else if (arg == "--seed") {
            if (!ParseUnsigned(value, ~0ULL, &number))
                return Fail("bad seed \"" + value + "\"");
            options.seed = number;
        } else if (arg == "--project") {
            lyraproto::PhotogrammetryProject project;
            if (!orrinsim::LoadProjectJson(value, &project, &error))
                return Fail(error);
            options.project = std::move(project);
        } else if (arg == "--epochs") {
            if (!orrinsim::LoadEpochsJson(value, &options.epochs, &error))
                return Fail(error);
        } else if (arg == "--rate") {
            if (!ParseRate(value, &options.rateHz) || options.rateHz < 0.0)
                return Fail("bad rate \"" + value + "\"");
        } else if (arg == "--stop-after") {
            if (!ParseUnsigned(value, ~0ULL, &number))
                return Fail("bad epoch count \"" + value + "\"");
            options.stopAfter = number;
        } else if (arg == "--fail") {
            std::istringstream names(value);
            std::string name;
            while (std::getline(names, name, ','))
                if (!name.empty()) {
                    if (!orrinsim::CanonicalOperation(name))
                        return Fail("unknown operation \"" + name + "\"");
                    options.fail.insert(name);
                }
        } else {
            return Fail("unknown option " + arg);
        }
    }

    // The signals are taken by this thread only: block them before any other thread starts.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    auto simulator = std::make_unique<orrinsim::Simulator>(options);
    std::string error;
    if (!simulator->Start(&error)) {
        std::cerr << "orrin-sim: " << error << std::endl;
        return 1;
    }
    std::cerr << "orrin-sim ready on " << simulator->Address() << std::endl;
    {
        std::lock_guard lock(gInputMutex);
        gSimulator = simulator.get();
    }
    std::thread(ReadCommands).detach();

    for (;;) {
        const timespec tick{0, 100 * 1000 * 1000};
        const int signal = sigtimedwait(&signals, nullptr, &tick);
        if (signal == SIGINT || signal == SIGTERM)
            break;
        if (simulator->QuitRequested())
            break;
    }
    {
        std::lock_guard lock(gInputMutex);
        gSimulator = nullptr;
    }
    simulator->Stop();
    simulator.reset();
    return 0;
}
