// The orrin-sim program as a black box: a client written against OrrinService.h triggers,
// streams and fetches the project and epochs given as protobuf JSON; the program ends on "quit",
// SIGINT and SIGTERM, and refuses bad arguments with a message.

#include "OrrinTestSupport.h"

#include <google/protobuf/util/json_util.h>

#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>

namespace {

using namespace orrintest;

// A temporary folder of its own, removed at the end.
class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "orrin-sim-test-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    std::string File(const std::string& name, const std::string& content) const {
        const auto p = path_ / name;
        std::ofstream(p) << content;
        return p.string();
    }

private:
    std::filesystem::path path_;
};

// One run of the program with a pipe on its standard input and one on its standard error.
class SimProcess {
public:
    explicit SimProcess(const std::vector<std::string>& args) {
        // Everything the child needs is prepared before the fork: the test process has threads,
        // so the child may only call async-signal-safe functions until exec.
        std::string program = ORRIN_SIM_PATH;
        std::vector<std::string> copy = args;
        std::vector<char*> argv{program.data()};
        for (auto& a : copy)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        int in[2], err[2];
        if (::pipe(in) != 0 || ::pipe(err) != 0)
            throw std::runtime_error("pipe failed");
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(in[0], STDIN_FILENO);
            ::dup2(err[1], STDERR_FILENO);
            ::close(in[1]);
            ::close(err[0]);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        ::close(in[0]);
        ::close(err[1]);
        stdin_ = in[1];
        stderr_ = err[0];
    }
    ~SimProcess() {
        if (pid_ > 0 && !exited_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        ::close(stdin_);
        ::close(stderr_);
    }

    // Reads standard error until `pattern` matches a line (or the pipe closes, or time runs out).
    std::optional<std::smatch> WaitForLine(const std::regex& pattern) {
        const auto end = std::chrono::steady_clock::now() + kWait;
        for (;;) {
            std::size_t nl;
            while ((nl = buffer_.find('\n')) != std::string::npos) {
                lines_.push_back(buffer_.substr(0, nl));
                buffer_.erase(0, nl + 1);
                std::smatch match;
                if (std::regex_search(lines_.back(), match, pattern))
                    return match;
            }
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                return std::nullopt;
            pollfd pfd{stderr_, POLLIN, 0};
            if (::poll(&pfd, 1, static_cast<int>(left.count())) <= 0)
                return std::nullopt;
            char chunk[4096];
            const auto n = ::read(stderr_, chunk, sizeof chunk);
            if (n <= 0) {
                if (!buffer_.empty())
                    buffer_ += '\n';
                else
                    return std::nullopt;
                continue;
            }
            buffer_.append(chunk, static_cast<std::size_t>(n));
        }
    }
    // Everything read from standard error so far, to the end when the program has ended.
    std::string Errors() {
        WaitForLine(std::regex("(?!x)x")); // drains what is there
        std::string all;
        for (const auto& l : lines_)
            all += l + "\n";
        return all;
    }

    void Send(const std::string& line) {
        [[maybe_unused]] auto n = ::write(stdin_, (line + "\n").data(), line.size() + 1);
    }
    void Signal(int signal) { ::kill(pid_, signal); }

    // The exit code, or -1 when the program did not end in time (it is killed then).
    int Wait() {
        const auto end = std::chrono::steady_clock::now() + kWait;
        while (std::chrono::steady_clock::now() < end) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                exited_ = true;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(10ms);
        }
        return -1;
    }

private:
    pid_t pid_ = -1;
    bool exited_ = false;
    int stdin_ = -1;
    int stderr_ = -1;
    std::string buffer_;
    std::vector<std::string> lines_;
};

std::string Json(const google::protobuf::Message& m) {
    std::string out;
    google::protobuf::util::JsonPrintOptions options;
    options.add_whitespace = false;
    if (!google::protobuf::util::MessageToJsonString(m, &out, options).ok())
        throw std::runtime_error("to JSON failed");
    return out;
}

const std::regex kReady(R"(ready on 127\.0\.0\.1:(\d+))");

TEST(OrrinSimProgram, ServesGivenProjectAndEpochsToAClient) {
    TempDir dir;
    lyraproto::PhotogrammetryProject project;
    project.set_label("Bracket");
    auto* cloud = project.add_cloud();
    cloud->set_label("Bracket-Tri");
    cloud->set_cloud_type(lyraproto::Cloud::TRIANGULATION);
    cloud->add_point()->set_label("CODE1");
    std::string epochLines;
    std::vector<lyraproto::TriggerEpoch> epochs;
    for (std::uint64_t id : {11, 12, 13}) {
        epochs.push_back(MakeEpoch(id, id == 12 ? "Other" : "TriangulationEpoch"));
        epochLines += Json(epochs.back()) + "\n\n"; // blank lines are skipped
    }
    SimProcess sim({"--port", "0", "--project", dir.File("project.json", Json(project)), "--epochs",
                    dir.File("epochs.jsonl", epochLines), "--rate", "50", "--stop-after", "2", "--fail",
                    "getcloud,Bundle.Run"});
    const auto ready = sim.WaitForLine(kReady);
    ASSERT_TRUE(ready) << sim.Errors();
    const auto port = static_cast<unsigned short>(std::stoi((*ready)[1]));

    lyra::OrrinService service(QuickClient());
    Recorder events(service);
    service.start("127.0.0.1", port);
    ASSERT_TRUE(events.WaitForState(true));

    lyraproto::PhotogrammetryProject got;
    ASSERT_TRUE(service.projectService()->getProject(&got));
    EXPECT_TRUE(SameMessage(got, project));
    EXPECT_EQ(service.projectService()->getName(), "Bracket");
    std::vector<std::string> files;
    ASSERT_TRUE(service.projectService()->getProject3DFiles(files));
    EXPECT_EQ(files, std::vector<std::string>{"Bracket-Tri"});
    lyraproto::Cloud c;
    EXPECT_FALSE(service.projectService()->getCloud("Bracket-Tri", &c)) << "--fail names it";
    EXPECT_FALSE(service.projectService()->runBundle());
    EXPECT_TRUE(service.projectService()->autoMeasure());

    lyraproto::TriggerEpoch epoch;
    ASSERT_TRUE(service.dataCaptureService()->trigger(&epoch));
    EXPECT_TRUE(SameMessage(epoch, epochs[0]));
    ASSERT_TRUE(service.dataCaptureService()->startContinuous());
    ASSERT_TRUE(events.WaitForStops(1));
    const auto streamed = events.FullEpochs();
    ASSERT_EQ(streamed.size(), 2u);
    EXPECT_TRUE(SameMessage(streamed[0], epochs[1]));
    EXPECT_TRUE(SameMessage(streamed[1], epochs[2]));

    sim.Send("status");
    sim.Send("quit");
    EXPECT_EQ(sim.Wait(), 0) << sim.Errors();
    ASSERT_TRUE(events.WaitForState(false));
    service.stop();
}

TEST(OrrinSimProgram, EndsOnSignals) {
    for (int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal);
        SimProcess sim({"--port", "0", "--seed", "5"});
        ASSERT_TRUE(sim.WaitForLine(kReady)) << sim.Errors();
        sim.Signal(signal);
        EXPECT_EQ(sim.Wait(), 0);
    }
}

TEST(OrrinSimProgram, RefusesBadArguments) {
    TempDir dir;
    const std::string badEpochs = dir.File("bad.jsonl", "{\"epochId\": \"12\"}\n{not json}\n");
    const std::string badProject = dir.File("bad.json", "[1, 2]");
    struct Case {
        std::vector<std::string> args;
        const char* message;
    };
    const std::vector<Case> cases = {
        {{"--port", "70000"}, "bad port"},
        {{"--port", "x1"}, "bad port"},
        {{"--seed", "-3"}, "bad seed"},
        {{"--rate", "-1"}, "bad rate"},
        {{"--rate", "fast"}, "bad rate"},
        {{"--stop-after", "2.5"}, "bad epoch count"},
        {{"--fail", "Trigger,Explode"}, "unknown operation \"Explode\""},
        {{"--project", "/nonexistent/p.json"}, "cannot open"},
        {{"--project", badProject}, "not a project"},
        {{"--epochs", badEpochs}, "bad.jsonl:2: not an epoch"},
        {{"--colour", "red"}, "unknown option"},
        {{"--port"}, "missing value"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.front() + (c.args.size() > 1 ? " " + c.args[1] : std::string()));
        SimProcess sim(c.args);
        EXPECT_EQ(sim.Wait(), 2);
        EXPECT_NE(sim.Errors().find(c.message), std::string::npos) << sim.Errors();
    }
}

TEST(OrrinSimProgram, PortInUseIsAnError) {
    auto holder = StartSim(QuietSim());
    SimProcess sim({"--port", std::to_string(holder->Port())});
    EXPECT_EQ(sim.Wait(), 1);
    EXPECT_NE(sim.Errors().find("cannot listen on 127.0.0.1:" + std::to_string(holder->Port())),
              std::string::npos)
        << sim.Errors();
}

} // namespace
