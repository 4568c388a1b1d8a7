#pragma once
// Turns host-link frames into journal lines: one JSON object per frame, every field of the
// packet written (also at its default value), found generically through protobuf reflection so
// that every packet class is covered without a per-class writer.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace google::protobuf {
class Message;
}
namespace calder {
class HostFrame;
}

namespace tarnhostsim {

// The packet carried by the frame, or nullptr when the frame carries none (or one unknown here).
const google::protobuf::Message* PacketOf(const calder::HostFrame& frame);

// The packet class name ("Logon", "TarnIPMeasurement", ...); "Unknown" without a packet.
std::string PacketType(const calder::HostFrame& frame);

// One journal line, without the line break:
//   {"dir":"in","batch":3,"type":"Logon","link":1,"instrumentType":212,"instrumentName":"Orrin"}
std::string JournalLine(std::string_view dir, std::uint64_t batch, std::size_t link,
                        const calder::HostFrame& frame);

// The JSON text of one string value, quoted and escaped; invalid UTF-8 becomes U+FFFD.
void AppendJsonString(std::string_view text, std::string& out);
// The JSON text of one double: shortest form that reads back to the same value. Non-finite
// values, which JSON cannot carry, become the strings "nan", "inf" and "-inf".
void AppendJsonDouble(double value, std::string& out);

} // namespace tarnhostsim
