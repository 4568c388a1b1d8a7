#pragma once
// Framing of the host link, shared by the instrument side (QuickSock) and the host simulator:
// each frame is a 4-byte little-endian length followed by that many bytes of one
// calder::HostFrame.

#include "calder/Export.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace calder {

class HostFrame;

// Appends the length prefix and the encoded frame to `out`. Returns false (and leaves `out` as
// it was) for a frame too large to encode (2 GiB or more).
CALDER_API bool AppendFrame(const HostFrame& frame, std::string& out);

// Incremental decoder: feed it bytes as they arrive and take whole frames out.
class CALDER_API FrameDecoder {
public:
    enum class Status { needMore, frame, tooLarge, malformed };

    // Frames up to `maxFrameBytes` are accepted (at most 2 GiB - 1, the most a frame can encode).
    explicit FrameDecoder(std::size_t maxFrameBytes);

    // Appends received bytes. Once a prefix over the limit is seen, nothing more is kept.
    // A reader that feeds at most Room() bytes at a time, and takes every whole frame out after
    // each feed, never buffers more than one frame's limit plus the prefix.
    void Feed(std::string_view bytes);
    // Takes the next whole frame into `frame`. tooLarge: the prefix claims more than the limit
    // (nothing was allocated for it); malformed: the payload does not parse. After either,
    // the stream cannot be resynchronised and the connection must be closed.
    Status Next(HostFrame& frame);
    std::size_t Buffered() const { return buffer_.size() - consumed_; }
    // Bytes the decoder can take before it holds one whole frame of the largest size (0 after
    // an error).
    std::size_t Room() const;
    std::size_t MaxFrameBytes() const { return maxFrameBytes_; }

private:
    // The length claimed by the prefix at the read position (Buffered() >= 4).
    std::size_t PendingLength() const;
    void Fail(Status status);

    std::size_t maxFrameBytes_;
    std::string buffer_;
    std::size_t consumed_ = 0;
    Status failure_ = Status::needMore; // needMore: no failure
};

} // namespace calder
