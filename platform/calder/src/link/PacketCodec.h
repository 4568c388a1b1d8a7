#pragma once
// Mapping between the packet classes and the host link's protobuf messages. Internal to the base
// library; exported for its tests and for the host simulator. Texts travel as UTF-8; a wide text
// is cut at its first zero character, like every other text conversion of the library.

#include "calder/Export.h"
#include "calder/Geometry.h"
#include "calder/ObjectModel.h"
#include "calder/Packets.h"

#include "host_link.pb.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace calder::codec {

// ---- Text ----

// Wide (UTF-32) text to UTF-8, stopping at the first zero; code points that UTF-8 cannot carry
// (surrogates, values above U+10FFFF) become U+FFFD. Replaces the contents of `out` (its
// capacity is kept, so a reused string does not reallocate).
CALDER_API void WideToUtf8(std::wstring_view wide, std::string& out);
CALDER_API std::string WideToUtf8(std::wstring_view wide);
// UTF-8 to wide text, stopping at the first zero byte; malformed sequences become U+FFFD.
CALDER_API CString Utf8ToWide(std::string_view utf8);

// ---- Geometry ----

CALDER_API void EncodeVector(const Vector& v, Vec3& out);
CALDER_API Vector DecodeVector(const Vec3& v);
CALDER_API void EncodeTransform(const Transform& t, Matrix16& out);
// False (and `out` untouched) unless the matrix holds exactly sixteen values.
CALDER_API bool DecodeTransform(const Matrix16& m, Transform& out);

// ---- Instrument packets (instrument to host) ----

// Encodes one packet of Packets.h into `frame`, replacing what it held before. Returns false
// (the frame's contents are then unspecified) for an object that is no sendable packet, or for a
// measurement or update packet holding a record of a kind the link cannot carry.
//
// Encoding into the same frame again and again reuses its sub-messages and string buffers, so a
// long run of packets of one kind allocates almost nothing after the first.
CALDER_API bool EncodePacket(const CObject& packet, HostFrame& frame);

// ---- Host commands (host to instrument) ----

CALDER_API TarnIPNames DecodeNames(const Names& message);
CALDER_API TarnIPStartStop DecodeStartStop(const StartStop& message);
CALDER_API TarnIPBatchMeasure DecodeBatch(const Batch& message);
CALDER_API TarnIPAutoMeasProximity DecodeAutoMeasProximity(const AutoMeasProximity& message);
// The op-check command text.
CALDER_API CString DecodeOpCheck(const OpCheck& message);
// False (and `out` untouched) when the message carries no complete matrix.
CALDER_API bool DecodeInstrumentTransformChanged(const InstrumentTransformChanged& message, Transform& out);

// The reverse direction, for the host side and for tests.
CALDER_API void EncodeNames(const TarnIPNames& names, HostFrame& frame);
CALDER_API void EncodeStartStop(const TarnIPStartStop& startStop, HostFrame& frame);
CALDER_API void EncodeBatch(const TarnIPBatchMeasure& batch, HostFrame& frame);
CALDER_API void EncodeAutoMeasProximity(const TarnIPAutoMeasProximity& list, HostFrame& frame);

// ---- Link frames ----

CALDER_API void EncodeLogon(unsigned instrumentType, std::string_view instrumentName, HostFrame& frame);
CALDER_API void EncodeProcessCompleted(int code, std::string_view command, HostFrame& frame);

// The message type name of the packet a frame carries ("StartStop", "TarnIPMeasurement"...),
// or "" for a frame without one.
CALDER_API std::string FramePacketName(const HostFrame& frame);

} // namespace calder::codec
