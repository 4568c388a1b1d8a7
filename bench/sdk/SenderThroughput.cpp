// Throughput of SendIJKUncertPointWithNamesArrayToTarn, the bridge's hot path, against the
// in-process host simulator with its journal off: from the call until the simulator has decoded
// the last frame. Beside it, a baseline: a bare socket loop that writes the same frames,
// encoded beforehand, to the same simulator. Prints points per second, the ratio to the baseline
// and the peak heap use per point.
//
//   sdk_sender_throughput [--sizes 1000,100000,1000000] [--repeat 3]

#include "HeapMeter.h"

#include "PacketCodec.h"
#include "TarnInstrument.h"
#include "calder/FrameCodec.h"
#include "tarnhostsim/HostSimulator.h"

#include "host_link.pb.h"

#include <QApplication>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr double kInchPerMm = 0.03937007874015748;
const char* const kType = "TarnIPMeasurement";

// A folder of its own for the host's and the programs' files, removed at the end.
class TempEnvironment {
public:
    TempEnvironment() {
        std::string pattern = (std::filesystem::temp_directory_path() / "sdk-bench-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::perror("mkdtemp");
            std::exit(1);
        }
        root_ = pattern;
        for (const char* name :
             {"ORRIN_TARN_APPDATA", "TARN_HOME", "TARN_RUNTIME_DIR", "XDG_DATA_HOME", "XDG_RUNTIME_DIR"}) {
            const std::filesystem::path dir = root_ / name;
            std::filesystem::create_directories(dir);
            std::filesystem::permissions(dir, std::filesystem::perms::owner_all);
            ::setenv(name, dir.c_str(), 1);
        }
        ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    }
    ~TempEnvironment() {
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }

private:
    std::filesystem::path root_;
};

struct Input {
    std::vector<Tarnvector> positions;
    std::vector<Tarnvector> directions;
    std::vector<Tarnvector> uncertainties;
    std::vector<std::string> names;
};

Input MakeInput(std::size_t n) {
    Input in;
    in.positions.reserve(n);
    in.directions.reserve(n);
    in.uncertainties.reserve(n);
    in.names.reserve(n);
    char name[32];
    for (std::size_t i = 0; i < n; ++i) {
        const double d = static_cast<double>(i);
        in.positions.push_back({0.5 * d, 0.25 * d, 1000.0 + d});
        in.directions.push_back({0.0, 0.0, 1.0});
        in.uncertainties.push_back({0.01, 0.01, 0.02});
        std::snprintf(name, sizeof name, "TARGET%07zu", i);
        in.names.emplace_back(name);
    }
    return in;
}

std::size_t Decoded(const tarnhostsim::HostSimulator& host) {
    const tarnhostsim::Tally tally = host.Counts();
    const auto it = tally.received.find(kType);
    return it == tally.received.end() ? 0 : it->second;
}

// Waits until the simulator has decoded `target` measurement frames in all.
bool WaitDecoded(const tarnhostsim::HostSimulator& host, std::size_t target) {
    const Clock::time_point deadline = Clock::now() + 300s;
    while (Decoded(host) < target) {
        if (Clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(100us);
    }
    return true;
}

long MaxRssKiB() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// ---- the instrument through the SDK ----

class SdkSide {
public:
    explicit SdkSide(tarnhostsim::HostSimulator& host) : host_(host), instrument_(*new Messenger()) {
        const std::string socket = "127.0.0.1:" + std::to_string(host.Port());
        const char* argv[] = {"sdk_sender_throughput", "--tarn", socket.c_str()};
        instrument_.GetAutoSock()->ParseCommandLine(3, argv);
        if (!instrument_.Logon(212, "Orrin") || !KeepAlive()) {
            std::fprintf(stderr, "the instrument could not log on to the host simulator\n");
            std::exit(1);
        }
        instrument_.SetDistUnit(4);
    }

    // Lets the instrument handle the host's heartbeats that queued up during a long send.
    bool KeepAlive() {
        const Clock::time_point deadline = Clock::now() + 10s;
        do {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            if (instrument_.IsConnectedToTarn())
                return true;
        } while (Clock::now() < deadline);
        return false;
    }

    struct Times {
        double call;  // until the call returned
        double total; // until the host decoded the last frame
    };

    // The sender converts the lists in place and takes the names by value: they are handed
    // over, not copied.
    Times Send(Input&& input) {
        if (!KeepAlive()) {
            std::fprintf(stderr, "the host link went down\n");
            std::exit(1);
        }
        const std::size_t target = Decoded(host_) + input.positions.size();
        const Clock::time_point start = Clock::now();
        instrument_.SendIJKUncertPointWithNamesArrayToTarn(input.positions, input.directions,
                                                           input.uncertainties, std::move(input.names), 0.5,
                                                           0.0, "Group", "Collection");
        const Clock::time_point returned = Clock::now();
        if (!WaitDecoded(host_, target)) {
            std::fprintf(stderr, "the host did not decode every frame\n");
            std::exit(1);
        }
        const Clock::time_point end = Clock::now();
        return {std::chrono::duration<double>(returned - start).count(),
                std::chrono::duration<double>(end - start).count()};
    }

private:
    tarnhostsim::HostSimulator& host_;
    TarnInstrument instrument_;
};

// ---- the baseline: a bare socket writing frames encoded beforehand ----

class BareSocket {
public:
    explicit BareSocket(tarnhostsim::HostSimulator& host) : host_(host) {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<std::uint16_t>(host.Port()));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (fd_ < 0 || ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            std::perror("baseline connect");
            std::exit(1);
        }
        const int one = 1;
        ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        // The host answers with link-alive and heartbeats: read and drop them.
        reader_ = std::thread([fd = fd_] {
            char buffer[4096];
            while (::read(fd, buffer, sizeof buffer) > 0) {
            }
        });
        calder::HostFrame logon;
        calder::codec::EncodeLogon(212, "Baseline", logon);
        std::string bytes;
        calder::AppendFrame(logon, bytes);
        Write(bytes);
    }
    ~BareSocket() {
        ::shutdown(fd_, SHUT_RDWR);
        reader_.join();
        ::close(fd_);
    }

    // The frames the sender makes of `input` (lengths converted from millimetres), all marked as
    // one write.
    static std::string Encode(const Input& input) {
        std::string bytes;
        calder::HostFrame frame;
        TarnIPMeasurement packet;
        packet.collectionName = L"Collection";
        packet.groupName = L"Group";
        packet.probeRadius = 0.5 * kInchPerMm;
        auto* record = new TarnIPMeasDataUncertXYZ;
        packet.data.Add(record);
        for (std::size_t i = 0; i < input.positions.size(); ++i) {
            const Tarnvector& p = input.positions[i];
            const Tarnvector& d = input.directions[i];
            const Tarnvector& u = input.uncertainties[i];
            packet.targetName.assign(input.names[i].begin(), input.names[i].end());
            record->position = Vector(p.x * kInchPerMm, p.y * kInchPerMm, p.z * kInchPerMm);
            record->uncertainty = Vector(u.x * kInchPerMm, u.y * kInchPerMm, u.z * kInchPerMm);
            record->probingDirection.SetProbingDirection(Vector(d.x, d.y, d.z));
            calder::codec::EncodePacket(packet, frame);
            frame.set_writemarker(0x5eed);
            calder::AppendFrame(frame, bytes);
        }
        return bytes;
    }

    double Send(const std::string& bytes, std::size_t frames) {
        const std::size_t target = Decoded(host_) + frames;
        const Clock::time_point start = Clock::now();
        Write(bytes);
        if (!WaitDecoded(host_, target)) {
            std::fprintf(stderr, "the host did not decode every baseline frame\n");
            std::exit(1);
        }
        return std::chrono::duration<double>(Clock::now() - start).count();
    }

private:
    void Write(const std::string& bytes) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (n <= 0) {
                std::perror("baseline send");
                std::exit(1);
            }
            done += static_cast<std::size_t>(n);
        }
    }

    tarnhostsim::HostSimulator& host_;
    int fd_ = -1;
    std::thread reader_;
};

std::vector<std::size_t> ParseSizes(const std::string& text) {
    std::vector<std::size_t> sizes;
    std::stringstream in(text);
    std::string item;
    while (std::getline(in, item, ','))
        sizes.push_back(std::stoul(item));
    return sizes;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::size_t> sizes{1000, 100000, 1000000};
    int repeat = 3;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--sizes")
            sizes = ParseSizes(argv[i + 1]);
        else if (option == "--repeat")
            repeat = std::max(1, std::atoi(argv[i + 1]));
        else {
            std::fprintf(stderr, "usage: %s [--sizes N,N,...] [--repeat R]\n", argv[0]);
            return 2;
        }
    }

    TempEnvironment environment;
    QApplication app(argc, argv);

    tarnhostsim::Options options;
    options.announce = false;
    options.journal = false;
    options.log = [](const std::string&) {};
    tarnhostsim::HostSimulator host(options);
    std::string error;
    if (!host.Start(&error)) {
        std::fprintf(stderr, "host simulator: %s\n", error.c_str());
        return 1;
    }

    SdkSide sdk(host);
    BareSocket bare(host);

    std::printf(
        "SendIJKUncertPointWithNamesArrayToTarn -> in-process host simulator (journal off), loopback\n");
    std::printf("time: from the call until the simulator decoded the last frame; median of %d runs (ten "
                "times as many up to 10,000 points)\n",
                repeat);
    std::printf("baseline: the same frames, encoded beforehand, written by a bare socket loop\n");
    std::printf("call: median time until the sender returned (building, encoding and writing the frames)\n");
    std::printf("heap: peak live operator-new bytes during one send, above the level at the call\n");
    std::printf(
        "frame: bytes on the wire per point; RSS+: growth of the peak resident size in that send\n\n");
    std::printf("%10s %14s %14s %7s %9s %9s %13s %13s\n", "points", "SDK points/s", "bare points/s", "ratio",
                "call s", "frame B", "heap B/point", "RSS+ B/point");

    bool goalMet = true;
    for (const std::size_t n : sizes) {
        const Input input = MakeInput(n);

        // The first send of this size runs under the heap meter. The RSS high-water mark grows
        // only by what this send needs beyond the process's peak so far (a lower bound).
        Input metered = input;
        const long rssBefore = MaxRssKiB();
        heapmeter::Start();
        sdk.Send(std::move(metered));
        const std::size_t heapPeak = heapmeter::Stop();
        const long rssGrowth = MaxRssKiB() - rssBefore;

        const std::string frames = BareSocket::Encode(input);
        // Small batches take a millisecond or two: more runs steady their median.
        const int runs = n <= 10000 ? repeat * 10 : repeat;
        std::vector<double> sdkTimes, callTimes, bareTimes;
        for (int r = 0; r < runs; ++r) {
            const SdkSide::Times times = sdk.Send(Input(input));
            sdkTimes.push_back(times.total);
            callTimes.push_back(times.call);
            bareTimes.push_back(bare.Send(frames, n));
        }

        const double points = static_cast<double>(n);
        const double sdkRate = points / Median(sdkTimes);
        const double bareRate = points / Median(bareTimes);
        const double ratio = sdkRate / bareRate;
        goalMet = goalMet && ratio >= 0.5;
        std::printf("%10zu %14.0f %14.0f %7.2f %9.4f %9.0f %13.0f %13.0f\n", n, sdkRate, bareRate, ratio,
                    Median(callTimes), static_cast<double>(frames.size()) / points,
                    static_cast<double>(heapPeak) / points, static_cast<double>(rssGrowth) * 1024.0 / points);
        std::fflush(stdout);
    }
    std::printf("\ngoal (SDK at least half the baseline's rate): %s\n", goalMet ? "met" : "NOT met");
    host.Stop();
    return 0;
}
