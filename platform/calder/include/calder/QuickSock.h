#pragma once
// The TCP host link: length-prefixed protobuf frames (4-byte little-endian length, then one
// calder::HostFrame).
//
// Sends are synchronous and may come from any thread (one send mutex); SendPackets writes all of
// its frames as one uninterrupted run, in pieces as they are encoded. Without a connected socket,
// packets are dropped silently.
// Received frames are decoded on a reader thread and delivered on the thread that called
// Activate, through that thread's Qt event loop. A frame longer than the limit closes the
// connection without allocating the claimed size.

#include "calder/Export.h"
#include "calder/ObjectModel.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

namespace calder {
class HostFrame;
}

class CALDER_API QuickSock {
public:
    static constexpr std::size_t kDefaultMaxFrameBytes = 256u * 1024u * 1024u;

    using FrameHandler = std::function<void(const calder::HostFrame&)>;
    using ClosedHandler = std::function<void()>;

    QuickSock();
    QuickSock(const QuickSock&) = delete;
    QuickSock& operator=(const QuickSock&) = delete;
    ~QuickSock(); // closes the socket and joins the reader thread

    // Connects to host:port (IPv4 or IPv6 text, or a host name). Blocks up to `timeoutMs`.
    bool Connect(const std::string& host, unsigned port, int timeoutMs = 5000);
    bool IsConnected() const;
    // Closes the socket; the reader thread ends and the closed handler runs (on the activating
    // thread) if the socket was active.
    void Close();

    // Starts the reader thread. `onFrame` and `onClosed` run on the calling thread, which must
    // run a Qt event loop (or process its events). Returns false when not connected.
    bool Activate(FrameHandler onFrame, ClosedHandler onClosed);

    // Encodes and sends one packet (a packet class of Packets.h). Returns nonzero when written
    // whole; 0 when not connected, on a write error, or for an object that is no packet.
    BOOL SendPacket(CObject& packet);
    // Sends every packet of the array as one uninterrupted run of frames with one write marker.
    BOOL SendPackets(CObArray& packets);
    // Sends a link frame.
    BOOL SendFrame(const calder::HostFrame& frame);

    void SetMaxFrameBytes(std::size_t limit);
    std::size_t MaxFrameBytes() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};
