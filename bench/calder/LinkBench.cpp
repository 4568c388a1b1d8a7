// Encoding and sending speed of named measurement packets, with the heap allocations per packet.

#include "calder/FrameCodec.h"
#include "calder/QuickSock.h"
#include "link/PacketCodec.h"

#include <benchmark/benchmark.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <arpa/inet.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <thread>
#include <vector>

// Counts every allocation of the process (the libraries' included).
namespace {
std::atomic<std::size_t> allocations{0};
}

void* operator new(std::size_t size) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size == 0 ? 1 : size))
        return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

namespace {

// The packets the bridge builds for one epoch of named points.
struct NamedPoints {
    std::vector<std::unique_ptr<TarnIPMeasurement>> owned;
    CObArray array;

    explicit NamedPoints(std::size_t n) {
        array.Reserve(n);
        for (std::size_t i = 0; i < n; ++i) {
            auto p = std::make_unique<TarnIPMeasurement>();
            p->collectionName = L"Epoch collection 0001";
            p->groupName = L"TriangulationGroup";
            p->targetName = L"Target_" + std::to_wstring(i);
            p->probeRadius = 0.125;
            auto* r = new TarnIPMeasDataUncertXYZ;
            r->position = Vector(1.0 * i, 2.5, -3.25);
            r->uncertainty = Vector(0.001, 0.002, 0.003);
            r->probingDirection.SetProbingDirection(Vector(0, 0, 1));
            p->data.Add(r);
            array.Add(p.get());
            owned.push_back(std::move(p));
        }
    }
};

void BM_EncodeNamedPoints(benchmark::State& state) {
    const auto n = static_cast<std::size_t>(state.range(0));
    NamedPoints packets(n);
    calder::HostFrame frame;
    std::string out;
    std::size_t allocs = 0;
    for (auto _ : state) {
        out.clear();
        const std::size_t before = allocations.load();
        for (CObject* p : packets.array) {
            calder::codec::EncodePacket(*p, frame);
            frame.set_writemarker(7);
            calder::AppendFrame(frame, out);
        }
        allocs += allocations.load() - before;
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * n));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * out.size()));
    state.counters["allocs/packet"] =
        static_cast<double>(allocs) / static_cast<double>(state.iterations() * n);
}
BENCHMARK(BM_EncodeNamedPoints)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);

// A loopback peer that reads and discards everything.
class Sink {
public:
    Sink() {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        ::listen(listener_, 1);
        socklen_t length = sizeof addr;
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &length);
        port_ = ntohs(addr.sin_port);
        thread_ = std::thread([this] {
            const int c = ::accept(listener_, nullptr, nullptr);
            std::vector<char> buffer(1 << 20);
            while (::recv(c, buffer.data(), buffer.size(), 0) > 0) {
            }
            ::close(c);
        });
    }
    ~Sink() {
        thread_.join();
        ::close(listener_);
    }
    unsigned Port() const { return port_; }

private:
    int listener_ = -1;
    unsigned port_ = 0;
    std::thread thread_;
};

void BM_SendPacketsLoopback(benchmark::State& state) {
    const auto n = static_cast<std::size_t>(state.range(0));
    NamedPoints packets(n);
    Sink sink;
    std::size_t allocs = 0;
    {
        QuickSock sock;
        if (!sock.Connect("127.0.0.1", sink.Port())) {
            state.SkipWithError("no loopback connection");
            return;
        }
        for (auto _ : state) {
            const std::size_t before = allocations.load();
            benchmark::DoNotOptimize(sock.SendPackets(packets.array));
            allocs += allocations.load() - before;
        }
    } // closing the socket ends the sink
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * n));
    state.counters["allocs/packet"] =
        static_cast<double>(allocs) / static_cast<double>(state.iterations() * n);
}
BENCHMARK(BM_SendPacketsLoopback)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
