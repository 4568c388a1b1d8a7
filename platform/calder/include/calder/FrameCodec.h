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

// Appends the length prefix and the encoded frame to `out`.
CALDER_API void AppendFrame(const HostFrame& frame, std::string& out);

// Incremental decoder: feed it bytes as they arrive and take whole frames out.
class CALDER_API FrameDecoder {
public:
    enum class Status { needMore, frame, tooLarge, malformed };

    explicit FrameDecoder(std::size_t maxFrameBytes);

    // Appends received bytes. Never buffers more than one frame's limit plus the prefix.
    void Feed(std::string_view bytes);
    // Takes the next whole frame into `frame`. tooLarge: the prefix claims more than the limit
    // (nothing was allocated for it); malformed: the payload does not parse. After either,
    // the stream cannot be resynchronised and the connection must be closed.
    Status Next(HostFrame& frame);
    std::size_t Buffered() const { return buffer_.size() - consumed_; }

private:
    std::size_t maxFrameBytes_;
    std::string buffer_;
    std::size_t consumed_ = 0;
};

} // namespace calder
