#pragma once
// A bare instrument for the host simulator's tests: a loopback TCP socket that writes and reads
// host-link frames with the base library's codec, and nothing else.

#include "host_link.pb.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "calder/FrameCodec.h"

namespace hostsimtest {

using namespace std::chrono_literals;

class RawInstrument {
public:
    RawInstrument() = default;
    ~RawInstrument();
    RawInstrument(const RawInstrument&) = delete;
    RawInstrument& operator=(const RawInstrument&) = delete;

    bool Connect(unsigned port);
    void Close();

    // Writes bytes as they are, in one write.
    bool WriteRaw(std::string_view bytes);
    // Writes the frames, each with the given write marker, in one write.
    bool Write(const calder::HostFrame& frame, std::uint64_t marker = 0);
    bool Logon(unsigned type = 212, const std::string& name = "Orrin");

    // The next frame other than a heartbeat (heartbeats are counted), or nullopt when none came
    // within `timeout` or the connection ended.
    std::optional<calder::HostFrame> NextPacket(std::chrono::milliseconds timeout = 10s);
    // The next frame of any kind, heartbeats included.
    std::optional<calder::HostFrame> NextFrame(std::chrono::milliseconds timeout = 10s);
    // True once the host closed the connection (waits up to `timeout` for it, discarding frames).
    bool WaitForClose(std::chrono::milliseconds timeout = 10s);
    std::size_t HeartbeatsSeen() const { return heartbeats_; }

private:
    int fd_ = -1;
    bool closed_ = false;
    calder::FrameDecoder decoder_{std::size_t(256) << 20};
    std::size_t heartbeats_ = 0;
};

// A frame holding one packet, built by `fill`.
template <typename Fill>
calder::HostFrame MakeFrame(Fill fill) {
    calder::HostFrame frame;
    fill(frame);
    return frame;
}

} // namespace hostsimtest
