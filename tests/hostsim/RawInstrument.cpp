#include "RawInstrument.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace hostsimtest {

RawInstrument::~RawInstrument() {
    Close();
}

bool RawInstrument::Connect(unsigned port) {
    Close();
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0)
        return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    closed_ = false;
    decoder_ = calder::FrameDecoder(std::size_t(256) << 20);
    return ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
}

void RawInstrument::Close() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

bool RawInstrument::WriteRaw(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

bool RawInstrument::Write(const calder::HostFrame& frame, std::uint64_t marker) {
    calder::HostFrame copy = frame;
    copy.set_writemarker(marker);
    std::string bytes;
    return calder::AppendFrame(copy, bytes) && WriteRaw(bytes);
}

bool RawInstrument::Logon(unsigned type, const std::string& name) {
    calder::HostFrame frame;
    frame.mutable_logon()->set_instrumenttype(type);
    frame.mutable_logon()->set_instrumentname(name);
    return Write(frame);
}

std::optional<calder::HostFrame> RawInstrument::NextFrame(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (true) {
        calder::HostFrame frame;
        const calder::FrameDecoder::Status status = decoder_.Next(frame);
        if (status == calder::FrameDecoder::Status::frame)
            return frame;
        if (status != calder::FrameDecoder::Status::needMore || closed_ || fd_ < 0)
            return std::nullopt;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return std::nullopt;
        pollfd p{fd_, POLLIN, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return std::nullopt;
        char buffer[65536];
        const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
        if (n <= 0) {
            closed_ = true;
            return std::nullopt;
        }
        decoder_.Feed(std::string_view(buffer, static_cast<std::size_t>(n)));
    }
}

std::optional<calder::HostFrame> RawInstrument::NextPacket(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (true) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        std::optional<calder::HostFrame> frame = NextFrame(std::max(left, std::chrono::milliseconds(0)));
        if (!frame || !frame->has_heartbeat())
            return frame;
        ++heartbeats_;
    }
}

bool RawInstrument::WaitForClose(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!closed_) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        pollfd p{fd_, POLLIN, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return false;
        char buffer[65536];
        const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
        if (n <= 0)
            closed_ = true;
    }
    return true;
}

} // namespace hostsimtest
