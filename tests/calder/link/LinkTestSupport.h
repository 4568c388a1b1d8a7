#pragma once
// Helpers of the link tests: the process's Qt application, event waiting, and a raw loopback
// TCP peer that plays the host byte by byte.

#include "calder/FrameCodec.h"

#include "host_link.pb.h"

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace linktest {

// Creates the process's QCoreApplication on first use (tests run on the main thread).
void EnsureApp();

// Processes events until `done` holds or `timeout` passes; returns `done()`.
bool WaitUntil(const std::function<bool()>& done,
               std::chrono::milliseconds timeout = std::chrono::seconds(10));
// Processes events for a while (to let anything still queued arrive).
void Drain(std::chrono::milliseconds period = std::chrono::milliseconds(100));

// A listening socket on 127.0.0.1 with an ephemeral port, and the one connection it accepts.
class RawPeer {
public:
    RawPeer();
    ~RawPeer();
    RawPeer(const RawPeer&) = delete;
    RawPeer& operator=(const RawPeer&) = delete;

    unsigned Port() const { return port_; }
    // Accepts the pending connection (false after `timeout`).
    bool Accept(std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // Writes all bytes (errors of a peer that has gone are ignored).
    void Send(const std::string& bytes);
    void SendFrame(const calder::HostFrame& frame);
    // Reads and decodes until `count` frames have arrived, the connection ends or `timeout`
    // passes.
    std::vector<calder::HostFrame> ReadFrames(std::size_t count,
                                              std::chrono::milliseconds timeout = std::chrono::seconds(20));
    // True when the instrument side has closed its end (EOF or reset) within `timeout`.
    bool WaitForClose(std::chrono::milliseconds timeout = std::chrono::seconds(10));
    void CloseConnection();

private:
    int listener_ = -1;
    int connection_ = -1;
    unsigned port_ = 0;
    calder::FrameDecoder decoder_{std::size_t{64} << 20};
};

// A port on 127.0.0.1 with nothing listening.
unsigned UnusedPort();

} // namespace linktest
