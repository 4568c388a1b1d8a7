// Length-prefixed framing of the host link.

#include "calder/FrameCodec.h"

#include "host_link.pb.h"

#include <algorithm>
#include <climits>

namespace calder {

namespace {

constexpr std::size_t kPrefixBytes = 4;
// Protobuf encodes and parses messages below 2 GiB only.
constexpr std::size_t kLargestEncodable = static_cast<std::size_t>(INT_MAX);
// A buffer that grew for one large frame is given back once it is empty again.
constexpr std::size_t kKeptCapacity = std::size_t{1} << 20;

} // namespace

bool AppendFrame(const HostFrame& frame, std::string& out) {
    const std::size_t size = frame.ByteSizeLong();
    if (size > kLargestEncodable)
        return false;
    const std::size_t start = out.size();
    out.resize(start + kPrefixBytes + size);
    auto* target = reinterpret_cast<std::uint8_t*>(out.data() + start);
    for (std::size_t i = 0; i < kPrefixBytes; ++i)
        target[i] = static_cast<std::uint8_t>((size >> (8 * i)) & 0xFFu);
    frame.SerializeWithCachedSizesToArray(target + kPrefixBytes);
    return true;
}

FrameDecoder::FrameDecoder(std::size_t maxFrameBytes)
    : maxFrameBytes_(std::min(maxFrameBytes, kLargestEncodable)) {}

std::size_t FrameDecoder::PendingLength() const {
    const auto* p = reinterpret_cast<const std::uint8_t*>(buffer_.data() + consumed_);
    return static_cast<std::size_t>(p[0]) | (static_cast<std::size_t>(p[1]) << 8) |
           (static_cast<std::size_t>(p[2]) << 16) | (static_cast<std::size_t>(p[3]) << 24);
}

void FrameDecoder::Fail(Status status) {
    failure_ = status;
    std::string().swap(buffer_);
    consumed_ = 0;
}

std::size_t FrameDecoder::Room() const {
    if (failure_ != Status::needMore)
        return 0;
    const std::size_t most = maxFrameBytes_ + kPrefixBytes;
    const std::size_t held = Buffered();
    return held < most ? most - held : 0;
}

void FrameDecoder::Feed(std::string_view bytes) {
    if (failure_ != Status::needMore || bytes.empty())
        return;
    if (consumed_ > 0) {
        buffer_.erase(0, consumed_);
        consumed_ = 0;
        if (buffer_.empty() && buffer_.capacity() > kKeptCapacity)
            std::string().swap(buffer_);
    }
    // Complete the prefix first, so that a claim over the limit is refused before its payload
    // is stored.
    if (buffer_.size() < kPrefixBytes) {
        const std::size_t head = std::min(kPrefixBytes - buffer_.size(), bytes.size());
        buffer_.append(bytes.substr(0, head));
        bytes.remove_prefix(head);
        if (buffer_.size() < kPrefixBytes)
            return;
        if (PendingLength() > maxFrameBytes_) {
            Fail(Status::tooLarge);
            return;
        }
    }
    buffer_.append(bytes);
}

FrameDecoder::Status FrameDecoder::Next(HostFrame& frame) {
    if (failure_ != Status::needMore)
        return failure_;
    if (Buffered() < kPrefixBytes)
        return Status::needMore;
    const std::size_t length = PendingLength();
    if (length > maxFrameBytes_) {
        Fail(Status::tooLarge);
        return failure_;
    }
    if (Buffered() - kPrefixBytes < length)
        return Status::needMore;
    if (!frame.ParseFromArray(buffer_.data() + consumed_ + kPrefixBytes, static_cast<int>(length))) {
        Fail(Status::malformed);
        return failure_;
    }
    consumed_ += kPrefixBytes + length;
    if (consumed_ == buffer_.size()) {
        consumed_ = 0;
        if (buffer_.capacity() > kKeptCapacity)
            std::string().swap(buffer_);
        else
            buffer_.clear();
    }
    return Status::frame;
}

} // namespace calder
