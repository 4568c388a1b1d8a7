// tarn-host-sim: the host simulator as a program. Commands come from standard input (one per
// line) and from an optional script; the program ends on "quit", on SIGINT or SIGTERM, or when
// standard input has ended and the script (if any) has run to its end.

#include "tarnhostsim/HostSimulator.h"

#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr const char* kUsage =
    "usage: tarn-host-sim [--port P] [--host ADDRESS] [--journal FILE] [--script FILE] [--label TEXT]\n"
    "                     [--types T1,T2,...] [--heartbeat-ms N] [--no-stdin] [--no-announce]\n"
    "  --port P          port to listen on (default 7300; 0 picks a free one)\n"
    "  --host ADDRESS    numeric address to listen on (default 127.0.0.1)\n"
    "  --journal FILE    write every frame but heartbeats as one JSON line to FILE\n"
    "  --script FILE     run the commands of FILE, one per line, next to standard input\n"
    "  --label TEXT      name shown in the instruments' host picker (default Tarn)\n"
    "  --types LIST      instrument types announced for discovery (default: all)\n"
    "  --heartbeat-ms N  heartbeat period in milliseconds (default 250)\n"
    "  --no-stdin        do not read standard input; end on quit or a signal\n"
    "  --no-announce     do not register for discovery\n"
    "commands: names C G T | start | stop | startstop MODE | startmeasuring |\n"
    "          batch SUFFIX1 SUFFIX2 t1,t2,t3,x,y,z[;...] | opcheck TEXT | proximity N |\n"
    "          transform [16 values] | heartbeat off|on | close | wait MS | waitlogon [MS] | quit\n"
    "          (- or \"\" is an empty text; words with blanks go in double quotes)\n";

struct Arguments {
    tarnhostsim::Options options;
    std::string script;
    bool readStdin = true;
};

template <typename T>
bool ParseUnsigned(const std::string& text, T& value, T max) {
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    return !text.empty() && result.ec == std::errc() && result.ptr == text.data() + text.size() &&
           value <= max;
}

// Fills `arguments`; false with a message for anything it does not understand.
bool ParseArguments(int argc, char** argv, Arguments& arguments, std::string& error, bool& help) {
    tarnhostsim::Options& o = arguments.options;
    o.port = 7300;
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        const auto value = [&](std::string& out) {
            if (i + 1 >= argc) {
                error = name + " needs a value";
                return false;
            }
            out = argv[++i];
            return true;
        };
        std::string text;
        if (name == "--help" || name == "-h") {
            help = true;
            return true;
        } else if (name == "--port") {
            if (!value(text) || !ParseUnsigned(text, o.port, 65535u)) {
                if (error.empty())
                    error = "--port: '" + text + "' is not a port number (0 to 65535)";
                return false;
            }
        } else if (name == "--host") {
            if (!value(o.host))
                return false;
        } else if (name == "--journal") {
            if (!value(o.journalPath))
                return false;
        } else if (name == "--script") {
            if (!value(arguments.script))
                return false;
        } else if (name == "--label") {
            if (!value(o.label))
                return false;
        } else if (name == "--types") {
            if (!value(text))
                return false;
            o.types.clear();
            std::size_t start = 0;
            while (start <= text.size()) {
                const std::size_t end = std::min(text.find(',', start), text.size());
                unsigned type = 0;
                if (!ParseUnsigned(text.substr(start, end - start), type, 65535u)) {
                    error = "--types: '" + text + "' is not a comma-separated list of instrument types";
                    return false;
                }
                o.types.push_back(type);
                start = end + 1;
            }
        } else if (name == "--heartbeat-ms") {
            unsigned ms = 0;
            if (!value(text) || !ParseUnsigned(text, ms, 3600000u) || ms == 0) {
                if (error.empty())
                    error = "--heartbeat-ms: '" + text + "' is not a period from 1 to 3600000 ms";
                return false;
            }
            o.heartbeatPeriod = std::chrono::milliseconds(ms);
        } else if (name == "--no-stdin") {
            arguments.readStdin = false;
        } else if (name == "--no-announce") {
            o.announce = false;
        } else {
            error = "unknown argument '" + name + "'";
            return false;
        }
    }
    return true;
}

void Signal(int fd) {
    const std::uint64_t one = 1;
    [[maybe_unused]] auto n = ::write(fd, &one, sizeof one);
}

void Report(const std::string& where, const std::string& error) {
    std::cerr << "tarn-host-sim: " + where + ": " + error + "\n" << std::flush;
}

// Runs the lines of standard input until its end or until `stopFd` is signalled.
void ReadStdin(tarnhostsim::HostSimulator& simulator, int stopFd, int wakeFd, std::atomic<bool>& ended) {
    std::string pending;
    char buffer[4096];
    std::size_t lineNumber = 0;
    const auto run = [&](const std::string& line) {
        ++lineNumber;
        std::string error;
        if (!simulator.Execute(line, &error))
            Report("stdin line " + std::to_string(lineNumber), error);
        Signal(wakeFd);
    };
    while (true) {
        pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {stopFd, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (fds[1].revents)
            return;
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        pending.append(buffer, static_cast<std::size_t>(n));
        std::size_t at = 0;
        while ((at = pending.find('\n')) != std::string::npos) {
            const std::string line = pending.substr(0, at);
            pending.erase(0, at + 1);
            run(line);
        }
    }
    if (!pending.empty())
        run(pending);
    ended = true;
    Signal(wakeFd);
}

} // namespace

int main(int argc, char** argv) {
    Arguments arguments;
    std::string error;
    bool help = false;
    if (!ParseArguments(argc, argv, arguments, error, help)) {
        std::cerr << "tarn-host-sim: " << error << "\n" << kUsage;
        return 2;
    }
    if (help) {
        std::cout << kUsage;
        return 0;
    }

    std::vector<std::string> script;
    if (!arguments.script.empty()) {
        std::ifstream in(arguments.script);
        if (!in) {
            std::cerr << "tarn-host-sim: cannot read the script '" << arguments.script
                      << "': " << std::strerror(errno) << "\n";
            return 2;
        }
        for (std::string line; std::getline(in, line);)
            script.push_back(line);
    }

    // A reader of standard output or error that went away must not end the program mid-way.
    std::signal(SIGPIPE, SIG_IGN);
    // Signals are taken synchronously by the main thread; every thread started later inherits
    // the mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    const int signalFd = ::signalfd(-1, &stopSignals, SFD_CLOEXEC);
    const int wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    const int stopFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (signalFd < 0 || wakeFd < 0 || stopFd < 0) {
        std::cerr << "tarn-host-sim: cannot set up signal handling: " << std::strerror(errno) << "\n";
        return 1;
    }

    tarnhostsim::HostSimulator simulator(arguments.options);
    if (!simulator.Start(&error)) {
        std::cerr << "tarn-host-sim: " << error << "\n";
        return 1;
    }
    std::cerr << "listening on " + simulator.Address() + "\n" << std::flush;

    std::atomic<bool> stdinEnded{false};
    std::atomic<bool> scriptEnded{arguments.script.empty()};
    std::thread stdinThread;
    if (arguments.readStdin)
        stdinThread = std::thread(ReadStdin, std::ref(simulator), stopFd, wakeFd, std::ref(stdinEnded));
    std::thread scriptThread;
    if (!arguments.script.empty()) {
        scriptThread = std::thread([&] {
            for (std::size_t i = 0; i < script.size() && !simulator.QuitRequested() && simulator.Running();
                 ++i) {
                std::string lineError;
                if (!simulator.Execute(script[i], &lineError))
                    Report(arguments.script + " line " + std::to_string(i + 1), lineError);
            }
            scriptEnded = true;
            Signal(wakeFd);
        });
    }

    while (true) {
        if (simulator.QuitRequested())
            break;
        // Standard input ending ends the program only once the script has run out as well.
        if (arguments.readStdin && stdinEnded && scriptEnded)
            break;
        pollfd fds[2] = {{signalFd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0 && errno != EINTR)
            break;
        if (fds[0].revents & POLLIN) {
            signalfd_siginfo info{};
            [[maybe_unused]] auto n = ::read(signalFd, &info, sizeof info);
            std::cerr << "tarn-host-sim: " << (info.ssi_signo == SIGINT ? "interrupted" : "terminated")
                      << "\n";
            break;
        }
        if (fds[1].revents & POLLIN) {
            std::uint64_t count = 0;
            [[maybe_unused]] auto n = ::read(wakeFd, &count, sizeof count);
        }
    }

    // Stop first: it ends waits of running commands, so both command threads finish.
    simulator.Stop();
    Signal(stopFd);
    if (stdinThread.joinable())
        stdinThread.join();
    if (scriptThread.joinable())
        scriptThread.join();
    std::cout << simulator.Summary() << std::flush;
    ::close(signalFd);
    ::close(wakeFd);
    ::close(stopFd);
    return 0;
}
