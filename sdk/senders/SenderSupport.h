#pragma once
// What the senders share beyond the unit and text helpers: the connection test, the notes as text
// lines, the frame packet that both the frame sender and the 6D point sender build, and the owner
// of a batch of packets handed to one SendPackets call.

#include "TarnConnection.h"
#include "TarnTypes.h"
#include "UnitConversion.h"

#include "calder/ObjectModel.h"
#include "calder/Packets.h"
#include "calder/QuickSock.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tarnsdk {

inline bool IsConnected(const TarnConnection& c) {
    return c.connected.load(std::memory_order_acquire);
}

// Widens like Widen, with a shortcut for plain ASCII text, which reads the same in every locale
// this platform offers. For the hot path's many short names.
inline void WidenInto(std::string_view narrow, CString& out) {
    const std::string_view text = narrow.substr(0, narrow.find('\0'));
    for (const char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            out = Widen(text);
            return;
        }
    }
    out.assign(text.begin(), text.end());
}

// Appends every text, widened, in order.
void AppendLines(CStringArray& lines, const std::vector<std::string>& texts);

// The format of the time-stamp line: "TimeStamp, %f" in the current language. A translation whose
// conversions do not take exactly one floating-point value is not used as a format; the English
// one is used instead.
CString TimeStampFormat();
inline CString TimeStampLine(const CString& format, double timeStamp) {
    return CStringFormat(format.c_str(), timeStamp);
}

// Sends a frame packet built from values already in inches: the frame step shared by
// SendFrameDataToTarn and Send6DPointToTarn. Does nothing while the host link is down.
void SendFramePacket(TarnConnection& c, const Tarnxform& frame, double timeStamp, bool flagA, bool flagB,
                     bool flagD, const std::string& objectName, const std::string& collectionName,
                     const std::vector<std::string>& notes, double probeRadius, double secondDistance);

// Hands one packet to the host socket; the result is not examined (a socket without a host drops it).
inline void SendOne(TarnConnection& c, CObject& packet) {
    if (c.sock != nullptr)
        c.sock->SendPacket(packet);
}

// Owns the packets collected for one SendPackets call and deletes them when it goes.
class PacketBatch {
public:
    PacketBatch() = default;
    PacketBatch(const PacketBatch&) = delete;
    PacketBatch& operator=(const PacketBatch&) = delete;
    ~PacketBatch();

    void Reserve(std::size_t n) { packets_.Reserve(n); }
    // Takes over `packet` and returns it.
    template <class T>
    T* Add(std::unique_ptr<T> packet) {
        packets_.Add(packet.get());
        return packet.release();
    }
    // Sends every packet with one gathered write.
    void SendAll(TarnConnection& c) {
        if (c.sock != nullptr)
            c.sock->SendPackets(packets_);
    }

private:
    CObArray packets_;
};

// Takes over a heap record and files it in a packet's `data`, which then owns it.
template <class T>
T* AddRecord(CObArray& data, std::unique_ptr<T> record) {
    data.Add(record.get());
    return record.release();
}

} // namespace tarnsdk
