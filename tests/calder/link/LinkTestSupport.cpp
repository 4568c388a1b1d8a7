#include "LinkTestSupport.h"

#include "calder/FrameCodec.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <thread>

namespace linktest {

void EnsureApp() {
    if (QCoreApplication::instance() != nullptr)
        return;
    static int argc = 1;
    static char name[] = "calder_link_tests";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
}

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

void Drain(std::chrono::milliseconds period) {
    const auto deadline = std::chrono::steady_clock::now() + period;
    while (std::chrono::steady_clock::now() < deadline) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

RawPeer::RawPeer() {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener_ < 0)
        throw std::runtime_error("socket failed");
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listener_, 4) != 0)
        throw std::runtime_error("bind/listen failed");
    socklen_t length = sizeof addr;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &length);
    port_ = ntohs(addr.sin_port);
}

RawPeer::~RawPeer() {
    CloseConnection();
    if (listener_ >= 0)
        ::close(listener_);
}

bool RawPeer::Accept(std::chrono::milliseconds timeout) {
    pollfd p{listener_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(timeout.count())) <= 0)
        return false;
    connection_ = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    return connection_ >= 0;
}

void RawPeer::Send(const std::string& bytes) {
    std::size_t at = 0;
    while (at < bytes.size()) {
        const ssize_t n = ::send(connection_, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        at += static_cast<std::size_t>(n);
    }
}

void RawPeer::SendFrame(const calder::HostFrame& frame) {
    std::string wire;
    calder::AppendFrame(frame, wire);
    Send(wire);
}

std::vector<calder::HostFrame> RawPeer::ReadFrames(std::size_t count, std::chrono::milliseconds timeout) {
    std::vector<calder::HostFrame> frames;
    calder::FrameDecoder& decoder = decoder_;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    char chunk[65536];
    while (true) {
        calder::HostFrame f;
        calder::FrameDecoder::Status s;
        while (frames.size() < count && (s = decoder.Next(f)) == calder::FrameDecoder::Status::frame)
            frames.push_back(f);
        if (frames.size() >= count)
            break;
        if (s != calder::FrameDecoder::Status::needMore)
            break;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        pollfd p{connection_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0)
            break;
        const ssize_t n = ::recv(connection_, chunk, sizeof chunk, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        decoder.Feed(std::string_view(chunk, static_cast<std::size_t>(n)));
    }
    return frames;
}

bool RawPeer::WaitForClose(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    char chunk[4096];
    while (true) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        pollfd p{connection_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0)
            return false;
        const ssize_t n = ::recv(connection_, chunk, sizeof chunk, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return true;
    }
}

void RawPeer::CloseConnection() {
    if (connection_ >= 0)
        ::close(connection_);
    connection_ = -1;
}

unsigned UnusedPort() {
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t length = sizeof addr;
    ::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &length);
    ::close(s);
    return ntohs(addr.sin_port);
}

} // namespace linktest
