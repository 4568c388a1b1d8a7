// The TCP host link: connect, gathered synchronous sends, and a reader thread that hands decoded
// frames to the activating thread's event loop.
//
// The hand-off goes through a queue of the socket's own, under a standard mutex: the reader moves
// each decoded frame into it and posts a wake-up without payload to a receiver object on the
// activating thread, whose handler takes the frames out under the same mutex. Every frame thus
// changes threads through a lock the race checker sees, never inside the event queue's own
// bookkeeping.

#include "calder/QuickSock.h"

#include "calder/FrameCodec.h"
#include "link/PacketCodec.h"

#include "host_link.pb.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QThread>

#include <spdlog/spdlog.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>
#include <string_view>
#include <thread>
#include <vector>

#ifndef MSG_NOSIGNAL
#define MSG_NOSIGNAL 0 // platforms without it get SO_NOSIGPIPE on the socket instead
#endif

namespace {

// A send that makes no progress for this long means the host stopped reading.
constexpr int kSendTimeoutMs = 30000;
constexpr std::size_t kReadChunk = 64 * 1024;
// Send buffers and the reused frame are given back after a send this large.
constexpr std::size_t kKeptBytes = std::size_t{4} << 20;
// A gathered send writes its frames out in pieces of about this size as they are encoded, so that
// the host decodes one piece while the next is encoded, and the buffer stays small enough to be
// kept between sends.
constexpr std::size_t kPieceBytes = std::size_t{1} << 20;
// The reader's wake-ups, the only events a receiver is ever sent.
constexpr auto kWakeEvent = static_cast<QEvent::Type>(QEvent::User + 1);

std::string ErrnoText(int error) {
    return std::strerror(error);
}

// What the reader thread, the receiver and the socket share. The handlers are set before the
// reader starts and never change. `mutex` is held while a handler runs, so that a destructor on
// another thread waits for a running handler; it is recursive because a handler may destroy the
// socket itself.
struct Delivery {
    std::recursive_mutex mutex;
    bool alive = true; // false once the socket is being destroyed (under `mutex`)
    int depth = 0;     // handlers running on the receiver's thread (under `mutex`)
    QuickSock::FrameHandler onFrame;
    QuickSock::ClosedHandler onClosed;

    // The hand-off from the reader to the receiver, under `queueMutex` (never held while a handler
    // runs, so a handler that closes the socket cannot block the reader it waits for).
    std::mutex queueMutex;
    std::deque<calder::HostFrame> frames;
    bool ended = false;      // the reader has finished: the close follows the last frame
    bool closeTaken = false; // the close has been taken for delivery
    bool wakePosted = false; // a wake-up is queued whose drain has not started yet
};

int ConnectOne(const addrinfo& ai, std::chrono::steady_clock::time_point deadline, std::string& error) {
    const int fd = ::socket(ai.ai_family, ai.ai_socktype | SOCK_CLOEXEC, ai.ai_protocol);
    if (fd < 0) {
        error = ErrnoText(errno);
        return -1;
    }
    const int flags = ::fcntl(fd, F_GETFL, 0);
    ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    int rc = ::connect(fd, ai.ai_addr, ai.ai_addrlen);
    if (rc != 0 && errno == EINPROGRESS) {
        while (true) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  deadline - std::chrono::steady_clock::now())
                                  .count();
            pollfd p{fd, POLLOUT, 0};
            const int ready = ::poll(&p, 1, static_cast<int>(std::max<long long>(left, 0)));
            if (ready < 0 && errno == EINTR)
                continue;
            if (ready <= 0) {
                error = ready == 0 ? "timed out" : ErrnoText(errno);
                ::close(fd);
                return -1;
            }
            break;
        }
        int soError = 0;
        socklen_t length = sizeof soError;
        ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &length);
        rc = soError == 0 ? 0 : -1;
        errno = soError;
    }
    if (rc != 0) {
        error = ErrnoText(errno);
        ::close(fd);
        return -1;
    }
    ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    const int one = 1;
    if (ai.ai_family == AF_INET || ai.ai_family == AF_INET6)
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
#ifdef SO_NOSIGPIPE
    ::setsockopt(fd, SOL_SOCKET, SO_NOSIGPIPE, &one, sizeof one);
#endif
    timeval timeout{kSendTimeoutMs / 1000, (kSendTimeoutMs % 1000) * 1000};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    return fd;
}

} // namespace

struct QuickSock::Impl {
    std::mutex lifecycle; // Connect, Activate, Close and destruction, one at a time
    std::mutex send;      // one writer at a time; the descriptor stays open while it is held
    std::mutex fdMutex;   // guards `fd`
    int fd = -1;
    std::atomic<bool> connected{false};
    std::atomic<bool> closing{false}; // the socket is being closed from this side
    std::atomic<std::size_t> maxFrameBytes{kDefaultMaxFrameBytes};

    std::thread reader;
    std::shared_ptr<Delivery> delivery;
    QObject* receiver = nullptr; // lives on the activating thread

    // Under `send`:
    std::uint64_t nextMarker = 1;
    calder::HostFrame scratch;
    std::string out;

    int Descriptor() {
        std::lock_guard lock(fdMutex);
        return fd;
    }

    void CloseLocked();
    void RetireReceiver(bool destroying);
    void ReadLoop(int socket, std::shared_ptr<Delivery> d, QObject* target);
    BOOL WriteLocked(const std::string& bytes);
    void TrimLocked(bool bigFrame);
};

namespace {

// Runs one handler under the delivery lock, unless the socket is being destroyed. Returns whether
// delivery may go on (a handler may have destroyed the socket).
template <typename Call>
bool RunHandler(Delivery& d, const char* what, Call&& call) {
    std::lock_guard lock(d.mutex);
    if (!d.alive)
        return false;
    ++d.depth;
    try {
        call();
    } catch (const std::exception& e) {
        spdlog::error("host link: the {} handler failed: {}", what, e.what());
    } catch (...) {
        spdlog::error("host link: the {} handler failed", what);
    }
    --d.depth;
    return d.alive;
}

// Lives on the activating thread and delivers what the reader queued, in order.
class Receiver final : public QObject {
public:
    explicit Receiver(std::shared_ptr<Delivery> d) : delivery_(std::move(d)) {}

protected:
    // Only wake-ups are ever posted here, and they carry nothing: the event is not looked at.
    void customEvent(QEvent*) override { Drain(); }

private:
    // Delivers what was queued when the drain started (later frames have their own wake-up), so
    // that a busy reader cannot keep the event loop from its other work. Frames are taken one at a
    // time, so a drain run by a nested event loop inside a handler keeps the order.
    void Drain() {
        Delivery& d = *delivery_;
        std::size_t budget = 0;
        {
            std::lock_guard lock(d.queueMutex);
            d.wakePosted = false;
            budget = d.frames.size() + 1; // the frames and the close after them
        }
        for (; budget > 0; --budget) {
            std::optional<calder::HostFrame> frame;
            {
                std::lock_guard lock(d.queueMutex);
                if (!d.frames.empty()) {
                    frame.emplace(std::move(d.frames.front()));
                    d.frames.pop_front();
                } else if (d.ended && !d.closeTaken) {
                    d.closeTaken = true;
                } else {
                    return;
                }
            }
            if (!frame) {
                RunHandler(d, "close", [&] {
                    if (d.onClosed)
                        d.onClosed();
                });
                return;
            }
            if (!RunHandler(d, "frame", [&] {
                    if (d.onFrame)
                        d.onFrame(*frame);
                }))
                return;
        }
    }

    std::shared_ptr<Delivery> delivery_;
};

// Queues a frame (or, without one, the end of the stream) for the receiver and wakes it once per
// drain.
void HandOver(Delivery& d, QObject* target, calder::HostFrame* frame) {
    bool wake = false;
    {
        std::lock_guard lock(d.queueMutex);
        if (frame != nullptr)
            d.frames.push_back(std::move(*frame));
        else
            d.ended = true;
        wake = !d.wakePosted;
        d.wakePosted = true;
    }
    if (wake)
        QCoreApplication::postEvent(target, new QEvent(kWakeEvent));
}

} // namespace

void QuickSock::Impl::ReadLoop(int socket, std::shared_ptr<Delivery> d, QObject* target) {
    calder::FrameDecoder decoder(maxFrameBytes.load());
    std::vector<char> chunk(kReadChunk);
    std::string reason;
    calder::HostFrame frame;
    bool running = true;
    while (running) {
        const std::size_t want = std::min(chunk.size(), decoder.Room());
        const ssize_t n = ::recv(socket, chunk.data(), want, 0);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            reason = "read failed: " + ErrnoText(errno);
            break;
        }
        if (n == 0) {
            reason = "the host closed the connection";
            break;
        }
        decoder.Feed(std::string_view(chunk.data(), static_cast<std::size_t>(n)));
        for (auto status = decoder.Next(frame); running && status != calder::FrameDecoder::Status::needMore;
             status = decoder.Next(frame)) {
            if (status == calder::FrameDecoder::Status::frame) {
                HandOver(*d, target, &frame);
            } else {
                reason = status == calder::FrameDecoder::Status::tooLarge
                             ? "protocol error: a frame is longer than the limit of " +
                                   std::to_string(decoder.MaxFrameBytes()) + " bytes"
                             : std::string("protocol error: a frame could not be decoded");
                running = false;
            }
        }
    }
    connected = false;
    ::shutdown(socket, SHUT_RDWR);
    if (closing)
        spdlog::debug("host link: connection closed");
    else
        spdlog::warn("host link: connection closed: {}", reason);
    HandOver(*d, target, nullptr);
}

void QuickSock::Impl::CloseLocked() {
    closing = true;
    connected = false;
    const int socket = Descriptor();
    if (socket >= 0)
        ::shutdown(socket, SHUT_RDWR);
    if (reader.joinable())
        reader.join();
    std::lock_guard sendLock(send);
    std::lock_guard fdLock(fdMutex);
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

void QuickSock::Impl::RetireReceiver(bool destroying) {
    if (receiver == nullptr)
        return;
    // A receiver is deleted on its own thread and never inside one of its own handlers;
    // deleteLater covers both, and the queued callbacks it still holds go with it.
    bool direct = false;
    if (destroying && delivery && receiver->thread() == QThread::currentThread()) {
        std::lock_guard lock(delivery->mutex);
        direct = delivery->depth == 0;
    }
    if (direct)
        delete receiver;
    else
        receiver->deleteLater();
    receiver = nullptr;
}

BOOL QuickSock::Impl::WriteLocked(const std::string& bytes) {
    const int socket = Descriptor();
    if (socket < 0 || !connected)
        return FALSE;
    const char* p = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::send(socket, p, left, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            const int error = errno;
            // A frame cut off mid-way leaves the stream unusable: close it.
            if (error == EAGAIN || error == EWOULDBLOCK)
                spdlog::warn("host link: the host stopped reading; closing the connection");
            else
                spdlog::warn("host link: write failed: {}", ErrnoText(error));
            connected = false;
            ::shutdown(socket, SHUT_RDWR);
            return FALSE;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    return TRUE;
}

void QuickSock::Impl::TrimLocked(bool bigFrame) {
    if (out.capacity() > kKeptBytes)
        std::string().swap(out);
    else
        out.clear();
    if (bigFrame)
        scratch.Clear();
}

QuickSock::QuickSock() : impl_(std::make_unique<Impl>()) {}

QuickSock::~QuickSock() {
    // First stop the handlers (waiting for one that runs on another thread), then close.
    std::shared_ptr<Delivery> d;
    {
        std::lock_guard lock(impl_->lifecycle);
        d = impl_->delivery;
    }
    if (d) {
        std::lock_guard deliveryLock(d->mutex);
        d->alive = false;
    }
    std::lock_guard lock(impl_->lifecycle);
    impl_->CloseLocked();
    impl_->RetireReceiver(true);
}

bool QuickSock::Connect(const std::string& host, unsigned port, int timeoutMs) {
    std::lock_guard lock(impl_->lifecycle);
    impl_->CloseLocked();
    if (host.empty() || port == 0 || port > 65535) {
        spdlog::warn("host link: cannot connect to \"{}\" port {}: invalid address", host, port);
        return false;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    const int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
    if (rc != 0) {
        spdlog::warn("host link: cannot resolve \"{}\": {}", host, ::gai_strerror(rc));
        return false;
    }
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    int socket = -1;
    std::string error = "no address";
    for (const addrinfo* ai = found; ai != nullptr && socket < 0; ai = ai->ai_next)
        socket = ConnectOne(*ai, deadline, error);
    ::freeaddrinfo(found);
    if (socket < 0) {
        spdlog::warn("host link: cannot connect to {}:{}: {}", host, port, error);
        return false;
    }
    {
        std::lock_guard sendLock(impl_->send);
        std::lock_guard fdLock(impl_->fdMutex);
        impl_->fd = socket;
    }
    impl_->closing = false;
    impl_->connected = true;
    spdlog::info("host link: connected to {}:{}", host, port);
    return true;
}

bool QuickSock::IsConnected() const {
    return impl_->connected;
}

void QuickSock::Close() {
    std::lock_guard lock(impl_->lifecycle);
    impl_->CloseLocked();
}

bool QuickSock::Activate(FrameHandler onFrame, ClosedHandler onClosed) {
    std::lock_guard lock(impl_->lifecycle);
    if (!impl_->connected || impl_->reader.joinable())
        return false;
    impl_->RetireReceiver(false);
    auto d = std::make_shared<Delivery>();
    d->onFrame = std::move(onFrame);
    d->onClosed = std::move(onClosed);
    impl_->delivery = d;
    impl_->receiver = new Receiver(d);
    impl_->reader = std::thread(&Impl::ReadLoop, impl_.get(), impl_->Descriptor(), d, impl_->receiver);
    return true;
}

BOOL QuickSock::SendPacket(CObject& packet) {
    std::lock_guard lock(impl_->send);
    if (!impl_->connected)
        return FALSE;
    if (!calder::codec::EncodePacket(packet, impl_->scratch)) {
        spdlog::warn("host link: {} cannot be sent", packet.GetRuntimeClassName());
        return FALSE;
    }
    impl_->scratch.set_writemarker(impl_->nextMarker++);
    if (!calder::AppendFrame(impl_->scratch, impl_->out)) {
        spdlog::warn("host link: {} is too large to send", packet.GetRuntimeClassName());
        impl_->TrimLocked(true);
        return FALSE;
    }
    const BOOL ok = impl_->WriteLocked(impl_->out);
    impl_->TrimLocked(impl_->out.size() > kKeptBytes);
    return ok;
}

BOOL QuickSock::SendPackets(CObArray& packets) {
    // The send mutex is held from the first frame to the last, so the pieces written on the way
    // still form one uninterrupted run of frames on the wire, all with one marker.
    std::lock_guard lock(impl_->send);
    if (!impl_->connected)
        return FALSE;
    const std::uint64_t marker = impl_->nextMarker++;
    const auto count = static_cast<std::size_t>(packets.GetSize());
    bool all = true;
    bool big = false;
    bool written = true;
    bool sized = false;
    std::size_t index = 0;
    for (CObject* packet : packets) {
        ++index;
        if (packet == nullptr || !calder::codec::EncodePacket(*packet, impl_->scratch)) {
            spdlog::warn("host link: {} cannot be sent",
                         packet ? packet->GetRuntimeClassName() : "a null packet");
            all = false;
            continue;
        }
        impl_->scratch.set_writemarker(marker);
        const std::size_t before = impl_->out.size();
        if (!calder::AppendFrame(impl_->scratch, impl_->out)) {
            spdlog::warn("host link: {} is too large to send", packet->GetRuntimeClassName());
            all = false;
            big = true;
            continue;
        }
        const std::size_t frameBytes = impl_->out.size() - before;
        big = big || frameBytes > kKeptBytes;
        if (!sized) {
            // Batches are mostly of one kind: room for a piece of frames like the first one, so
            // that the buffer does not grow frame by frame.
            sized = true;
            if (frameBytes < kPieceBytes)
                impl_->out.reserve(impl_->out.size() + frameBytes +
                                   std::min(frameBytes * (count - index), kPieceBytes));
        }
        if (impl_->out.size() >= kPieceBytes) {
            written = impl_->WriteLocked(impl_->out);
            impl_->out.clear();
            if (!written)
                break; // the connection is closed; the rest cannot follow
        }
    }
    if (written && !impl_->out.empty())
        written = impl_->WriteLocked(impl_->out);
    impl_->TrimLocked(big);
    return written && all ? TRUE : FALSE;
}

BOOL QuickSock::SendFrame(const calder::HostFrame& frame) {
    std::lock_guard lock(impl_->send);
    if (!impl_->connected)
        return FALSE;
    bool appended = false;
    if (frame.writemarker() != 0) {
        appended = calder::AppendFrame(frame, impl_->out);
    } else {
        calder::HostFrame marked(frame);
        marked.set_writemarker(impl_->nextMarker++);
        appended = calder::AppendFrame(marked, impl_->out);
    }
    if (!appended) {
        spdlog::warn("host link: a frame is too large to send");
        return FALSE;
    }
    const BOOL ok = impl_->WriteLocked(impl_->out);
    impl_->TrimLocked(false);
    return ok;
}

void QuickSock::SetMaxFrameBytes(std::size_t limit) {
    impl_->maxFrameBytes = limit;
}

std::size_t QuickSock::MaxFrameBytes() const {
    return impl_->maxFrameBytes;
}
