#include "tarnhostsim/HostSimulator.h"

#include "Commands.h"
#include "JournalFormat.h"
#include "Summary.h"

#include "calder/Discovery.h"
#include "calder/FrameCodec.h"
#include "host_link.pb.h"

#include <QJsonDocument>
#include <QJsonParseError>

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <mutex>
#include <thread>

namespace tarnhostsim {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kReadChunk = 1 << 20;

std::string ErrnoText(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

std::string PeerText(const sockaddr_storage& address) {
    char host[NI_MAXHOST] = {};
    char port[NI_MAXSERV] = {};
    if (getnameinfo(reinterpret_cast<const sockaddr*>(&address), sizeof address, host, sizeof host, port,
                    sizeof port, NI_NUMERICHOST | NI_NUMERICSERV) != 0)
        return "?";
    return std::string(host) + ":" + port;
}

} // namespace

// One instrument connection. The reader state belongs to the I/O thread; writes from any
// thread go through writeMutex so that frames never interleave on the stream.
struct Connection {
    Connection(int socketFd, std::size_t linkId, std::size_t maxFrameBytes, std::string peerText)
        : fd(socketFd), id(linkId), peer(std::move(peerText)), decoder(maxFrameBytes) {}
    ~Connection() { ::close(fd); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    const int fd;
    const std::size_t id;
    const std::string peer;

    // I/O thread only.
    calder::FrameDecoder decoder;
    std::uint64_t lastInMarker = 0;
    std::uint64_t lastInBatch = 0;
    std::uint64_t lastReadSerial = 0;

    std::mutex writeMutex;
    std::uint64_t outMarker = 0; // under writeMutex

    std::atomic<bool> loggedOn{false};
    std::atomic<bool> dropped{false};
    Clock::time_point nextHeartbeat{}; // I/O thread only
};

struct HostSimulator::Impl {
    explicit Impl(Options o) : options(std::move(o)) {}

    Options options;

    mutable std::mutex mutex;
    mutable std::condition_variable changed; // journal, connections, quit, stop
    bool running = false;
    bool stopping = false;
    bool quit = false;
    bool heartbeatsOn = true;
    unsigned port = 0;
    std::filesystem::path discoveryFile;
    std::vector<std::shared_ptr<Connection>> connections;
    std::size_t nextLinkId = 1;
    std::uint64_t batchCounter = 0;
    std::vector<std::string> lines;
    mutable std::vector<QJsonObject> parsed; // parsed lazily, a prefix of `lines`
    std::vector<std::string> events;
    Tally tally;
    std::FILE* journalFile = nullptr;

    int listenFd = -1;
    int wakeFd = -1;
    std::thread ioThread;
    std::mutex lifecycle; // serialises Start and Stop

    // ---- journal and events ----

    void Log(const std::string& text) {
        {
            std::lock_guard lock(mutex);
            events.push_back(text);
        }
        if (options.log)
            options.log(text);
        else
            std::cerr << "tarn-host-sim: " + text + "\n" << std::flush;
    }

    // Under `mutex`.
    void AppendLine(std::string line) {
        if (journalFile) {
            std::fputs(line.c_str(), journalFile);
            std::fputc('\n', journalFile);
            std::fflush(journalFile);
        }
        lines.push_back(std::move(line));
        changed.notify_all();
    }

    // Under `mutex`.
    void SyncParsed() const {
        while (parsed.size() < lines.size()) {
            const std::string& line = lines[parsed.size()];
            QJsonParseError error{};
            const QJsonDocument document = QJsonDocument::fromJson(
                QByteArray::fromRawData(line.data(), static_cast<qsizetype>(line.size())), &error);
            parsed.push_back(document.object());
        }
    }

    std::vector<QJsonObject> Snapshot() const {
        std::lock_guard lock(mutex);
        SyncParsed();
        return parsed;
    }

    // ---- sending ----

    void Wake() const {
        const std::uint64_t one = 1;
        if (wakeFd >= 0) [[maybe_unused]]
            auto n = ::write(wakeFd, &one, sizeof one);
    }

    // Marks the connection gone: removed from the list at once, its socket shut down so that
    // the I/O thread (and any writer) stops using it; the descriptor closes with the last owner.
    void Drop(const std::shared_ptr<Connection>& connection, const std::string& why) {
        if (connection->dropped.exchange(true))
            return;
        // Logged first: whoever sees the connection end finds the reason already recorded.
        Log("instrument " + std::to_string(connection->id) + " (" + connection->peer + ") " + why);
        {
            std::lock_guard lock(mutex);
            std::erase(connections, connection);
            changed.notify_all();
        }
        ::shutdown(connection->fd, SHUT_RDWR);
        Wake();
    }

    bool WriteAll(const Connection& connection, std::string_view data) const {
        const Clock::time_point deadline = Clock::now() + options.writeTimeout;
        while (!data.empty()) {
            const ssize_t n = ::send(connection.fd, data.data(), data.size(), MSG_NOSIGNAL);
            if (n > 0) {
                data.remove_prefix(static_cast<std::size_t>(n));
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                const auto left =
                    std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
                if (left.count() <= 0)
                    return false;
                pollfd p{connection.fd, POLLOUT, 0};
                if (::poll(&p, 1, static_cast<int>(left.count())) < 0 && errno != EINTR)
                    return false;
                continue;
            }
            return false;
        }
        return true;
    }

    // Sends one frame as one write. Journaled before the write, so that an answer of the
    // instrument can never appear in the journal before the frame it answers.
    // `writeMutex` of the connection must be held.
    bool SendLocked(const std::shared_ptr<Connection>& connection, calder::HostFrame frame,
                    std::string& why) {
        frame.set_writemarker(++connection->outMarker);
        const bool heartbeat = frame.has_heartbeat();
        {
            std::lock_guard lock(mutex);
            if (heartbeat) {
                ++tally.heartbeatsSent;
            } else {
                ++tally.sent[PacketType(frame)];
                if (options.journal)
                    AppendLine(JournalLine("out", ++batchCounter, connection->id, frame));
            }
        }
        std::string bytes;
        if (!calder::AppendFrame(frame, bytes)) {
            why = "was not sent a frame too large to encode";
            return false;
        }
        if (WriteAll(*connection, bytes))
            return true;
        why = errno == 0 || errno == EAGAIN || errno == EWOULDBLOCK
                  ? "stopped reading (write timed out)"
                  : std::string("write failed: ") + std::strerror(errno);
        return false;
    }

    bool Send(const std::shared_ptr<Connection>& connection, const calder::HostFrame& frame) {
        std::string why;
        bool ok = false;
        {
            std::lock_guard lock(connection->writeMutex);
            errno = 0;
            ok = SendLocked(connection, frame, why);
        }
        if (!ok)
            Drop(connection, why);
        return ok;
    }

    // ---- I/O thread ----

    void Accept() {
        sockaddr_storage address{};
        socklen_t length = sizeof address;
        const int fd =
            ::accept4(listenFd, reinterpret_cast<sockaddr*>(&address), &length, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) {
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
                Log(ErrnoText("accept"));
            return;
        }
        const int yes = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
        std::shared_ptr<Connection> connection;
        {
            std::lock_guard lock(mutex);
            connection =
                std::make_shared<Connection>(fd, nextLinkId++, options.maxFrameBytes, PeerText(address));
            connections.push_back(connection);
            changed.notify_all();
        }
        Log("instrument " + std::to_string(connection->id) + " connected from " + connection->peer);
    }

    // Batch number of a frame received: frames carrying the sender's write marker share a batch
    // with the frames before them that carry the same marker; unmarked frames share one with the
    // frames completed by the same read.
    std::uint64_t IncomingBatch(Connection& connection, std::uint64_t marker, std::uint64_t readSerial) {
        const bool same = marker != 0
                              ? marker == connection.lastInMarker && connection.lastInBatch != 0
                              : connection.lastInMarker == 0 && readSerial == connection.lastReadSerial &&
                                    connection.lastInBatch != 0;
        if (!same)
            connection.lastInBatch = ++batchCounter; // caller holds `mutex`
        connection.lastInMarker = marker;
        connection.lastReadSerial = readSerial;
        return connection.lastInBatch;
    }

    void HandleFrame(const std::shared_ptr<Connection>& connection, const calder::HostFrame& frame,
                     std::uint64_t readSerial) {
        if (frame.has_heartbeat()) {
            std::lock_guard lock(mutex);
            ++tally.heartbeatsReceived;
            return;
        }
        {
            std::lock_guard lock(mutex);
            ++tally.received[PacketType(frame)];
            if (const auto* packet = PacketOf(frame))
                CountNames(*packet, tally);
            const std::uint64_t batch = IncomingBatch(*connection, frame.writemarker(), readSerial);
            if (options.journal)
                AppendLine(JournalLine("in", batch, connection->id, frame));
        }
        if (frame.has_logon()) {
            Log("instrument " + std::to_string(connection->id) + " logged on: type " +
                std::to_string(frame.logon().instrumenttype()) + ", name '" + frame.logon().instrumentname() +
                "'");
            calder::HostFrame alive;
            alive.mutable_linkalive();
            if (!Send(connection, alive))
                return;
            connection->nextHeartbeat = Clock::now() + options.heartbeatPeriod;
            // Logged on only once the link-alive is out: whoever waits for the logon (a script's
            // waitlogon) must not get a command onto the wire ahead of it.
            if (!connection->loggedOn.exchange(true)) {
                std::lock_guard lock(mutex);
                changed.notify_all();
            }
        }
    }

    void Read(const std::shared_ptr<Connection>& connection, std::vector<char>& buffer,
              std::uint64_t readSerial) {
        // Never more than the decoder can take, so that it holds at most one frame of the limit.
        const std::size_t room = std::clamp<std::size_t>(connection->decoder.Room(), 1, buffer.size());
        const ssize_t n = ::recv(connection->fd, buffer.data(), room, 0);
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
                return;
            Drop(connection, ErrnoText("disconnected (read)"));
            return;
        }
        if (n == 0) {
            Drop(connection,
                 connection->decoder.Buffered() ? "disconnected in the middle of a frame" : "disconnected");
            return;
        }
        connection->decoder.Feed(std::string_view(buffer.data(), static_cast<std::size_t>(n)));
        while (!connection->dropped) {
            calder::HostFrame frame;
            const calder::FrameDecoder::Status status = connection->decoder.Next(frame);
            if (status == calder::FrameDecoder::Status::needMore)
                return;
            if (status == calder::FrameDecoder::Status::tooLarge) {
                Drop(connection, "sent a frame above the limit of " + std::to_string(options.maxFrameBytes) +
                                     " bytes: connection closed");
                return;
            }
            if (status == calder::FrameDecoder::Status::malformed) {
                Drop(connection, "sent a frame that does not decode: connection closed");
                return;
            }
            HandleFrame(connection, frame, readSerial);
        }
    }

    void Heartbeats(const std::vector<std::shared_ptr<Connection>>& snapshot) {
        const Clock::time_point now = Clock::now();
        for (const auto& connection : snapshot) {
            if (!connection->loggedOn || connection->dropped || now < connection->nextHeartbeat)
                continue;
            std::unique_lock writeLock(connection->writeMutex, std::try_to_lock);
            if (!writeLock.owns_lock()) {
                // Another thread is writing to it; the beat follows shortly.
                connection->nextHeartbeat = now + std::chrono::milliseconds(10);
                continue;
            }
            {
                // Checked under the write lock: "heartbeat off" waits for that lock, so no beat
                // leaves after the command has returned.
                std::lock_guard lock(mutex);
                if (!heartbeatsOn)
                    return;
            }
            calder::HostFrame beat;
            beat.mutable_heartbeat();
            std::string why;
            errno = 0;
            const bool ok = SendLocked(connection, beat, why);
            writeLock.unlock();
            if (!ok) {
                Drop(connection, why);
                continue;
            }
            connection->nextHeartbeat = now + options.heartbeatPeriod;
        }
    }

    void Run() {
        std::vector<char> buffer(kReadChunk);
        std::uint64_t readSerial = 0;
        bool beatsWereOn = true;
        while (true) {
            std::vector<std::shared_ptr<Connection>> snapshot;
            bool beats = false;
            {
                std::lock_guard lock(mutex);
                if (stopping)
                    return;
                snapshot = connections;
                beats = heartbeatsOn;
            }
            if (beats && !beatsWereOn) {
                // Resumed: beat at once rather than a period later.
                for (const auto& connection : snapshot)
                    connection->nextHeartbeat = Clock::now();
            }
            beatsWereOn = beats;
            if (beats)
                Heartbeats(snapshot);

            int timeout = -1;
            if (beats) {
                const Clock::time_point now = Clock::now();
                for (const auto& connection : snapshot) {
                    if (!connection->loggedOn || connection->dropped)
                        continue;
                    const auto wait =
                        std::chrono::duration_cast<std::chrono::milliseconds>(connection->nextHeartbeat - now)
                            .count();
                    const int ms = static_cast<int>(std::clamp<long long>(wait + 1, 0, 60000));
                    timeout = timeout < 0 ? ms : std::min(timeout, ms);
                }
            }

            std::vector<pollfd> fds;
            fds.push_back({wakeFd, POLLIN, 0});
            fds.push_back({listenFd, POLLIN, 0});
            for (const auto& connection : snapshot)
                fds.push_back({connection->fd, POLLIN, 0});
            if (::poll(fds.data(), fds.size(), timeout) < 0) {
                if (errno == EINTR)
                    continue;
                Log(ErrnoText("poll"));
                return;
            }
            if (fds[0].revents) {
                std::uint64_t count = 0;
                [[maybe_unused]] auto n = ::read(wakeFd, &count, sizeof count);
            }
            if (fds[1].revents & POLLIN)
                Accept();
            for (std::size_t i = 0; i < snapshot.size(); ++i) {
                if (fds[i + 2].revents && !snapshot[i]->dropped)
                    Read(snapshot[i], buffer, ++readSerial);
            }
        }
    }

    bool Listen(std::string& error) {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV | AI_PASSIVE;
        addrinfo* found = nullptr;
        if (options.port > 65535) {
            error = "port " + std::to_string(options.port) + " is out of range";
            return false;
        }
        const std::string service = std::to_string(options.port);
        if (const int rc = ::getaddrinfo(options.host.c_str(), service.c_str(), &hints, &found); rc != 0) {
            error =
                "cannot listen on '" + options.host + "': " + gai_strerror(rc) + " (give a numeric address)";
            return false;
        }
        const int fd = ::socket(found->ai_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd < 0) {
            error = ErrnoText("socket");
            ::freeaddrinfo(found);
            return false;
        }
        const int yes = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        if (::bind(fd, found->ai_addr, found->ai_addrlen) != 0 || ::listen(fd, 16) != 0) {
            error = ErrnoText(("cannot listen on " + options.host + ":" + service).c_str());
            ::close(fd);
            ::freeaddrinfo(found);
            return false;
        }
        ::freeaddrinfo(found);
        sockaddr_storage bound{};
        socklen_t length = sizeof bound;
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length);
        port = bound.ss_family == AF_INET6 ? ntohs(reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port)
                                           : ntohs(reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
        listenFd = fd;
        return true;
    }

    std::vector<std::shared_ptr<Connection>> Targets() const {
        std::lock_guard lock(mutex);
        return connections;
    }
};

HostSimulator::HostSimulator(Options options) : impl_(std::make_unique<Impl>(std::move(options))) {}

HostSimulator::~HostSimulator() {
    Stop();
}

bool HostSimulator::Start(std::string* error) {
    std::lock_guard lifecycle(impl_->lifecycle);
    Impl& d = *impl_;
    std::string why;
    const auto fail = [&](std::string text) {
        if (error)
            *error = std::move(text);
        return false;
    };
    {
        std::lock_guard lock(d.mutex);
        if (d.running)
            return fail("already running");
        if (d.stopping)
            return fail("a stopped simulator cannot start again");
    }
    if (!d.options.journalPath.empty()) {
        d.journalFile = std::fopen(d.options.journalPath.c_str(), "w");
        if (!d.journalFile)
            return fail("cannot write the journal '" + d.options.journalPath + "': " + std::strerror(errno));
    }
    if (!d.Listen(why)) {
        if (d.journalFile)
            std::fclose(d.journalFile), d.journalFile = nullptr;
        return fail(why);
    }
    d.wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (d.wakeFd < 0) {
        why = ErrnoText("eventfd");
        ::close(d.listenFd), d.listenFd = -1;
        if (d.journalFile)
            std::fclose(d.journalFile), d.journalFile = nullptr;
        return fail(why);
    }
    {
        std::lock_guard lock(d.mutex);
        d.running = true;
    }
    d.ioThread = std::thread([&d] { d.Run(); });
    if (d.options.announce) {
        calder::discovery::Entry entry;
        entry.label = d.options.label;
        entry.address = d.options.host;
        entry.port = d.port;
        entry.instrumentTypes = d.options.types;
        entry.pid = static_cast<long>(::getpid());
        std::filesystem::path file = calder::discovery::Announce(entry);
        if (file.empty())
            d.Log("could not announce the host for discovery (folder " +
                  calder::discovery::RuntimeFolder().string() + ")");
        std::lock_guard lock(d.mutex);
        d.discoveryFile = std::move(file);
    }
    return true;
}

void HostSimulator::Stop() {
    std::lock_guard lifecycle(impl_->lifecycle);
    Impl& d = *impl_;
    std::vector<std::shared_ptr<Connection>> open;
    std::filesystem::path discovery;
    {
        std::lock_guard lock(d.mutex);
        if (!d.running)
            return;
        d.running = false;
        d.stopping = true;
        open.swap(d.connections);
        discovery.swap(d.discoveryFile);
        d.changed.notify_all();
    }
    if (!discovery.empty())
        calder::discovery::Withdraw(discovery);
    d.Wake();
    if (d.ioThread.joinable())
        d.ioThread.join();
    for (const auto& connection : open) {
        connection->dropped = true;
        ::shutdown(connection->fd, SHUT_RDWR);
    }
    open.clear();
    ::close(d.listenFd);
    d.listenFd = -1;
    ::close(d.wakeFd);
    d.wakeFd = -1;
    std::lock_guard lock(d.mutex);
    if (d.journalFile)
        std::fclose(d.journalFile), d.journalFile = nullptr;
}

bool HostSimulator::Running() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->running;
}

unsigned HostSimulator::Port() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->port;
}

std::string HostSimulator::Address() const {
    const unsigned port = Port();
    const std::string& host = impl_->options.host;
    return (host.find(':') != std::string::npos ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

std::filesystem::path HostSimulator::DiscoveryFile() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->discoveryFile;
}

bool HostSimulator::Execute(const std::string& commandLine, std::string* error) {
    Impl& d = *impl_;
    std::string why;
    const auto fail = [&](std::string text) {
        if (error)
            *error = std::move(text);
        return false;
    };
    Command command;
    if (!ParseCommand(commandLine, command, why))
        return fail(why);
    if (command.kind == Command::Kind::nothing)
        return true;
    if (!Running())
        return fail("the simulator is not running");

    switch (command.kind) {
    case Command::Kind::nothing:
        return true;
    case Command::Kind::send: {
        const std::vector<std::shared_ptr<Connection>> targets = d.Targets();
        if (targets.empty())
            return fail("no instrument is connected; nothing sent");
        std::size_t delivered = 0;
        for (const auto& connection : targets)
            delivered += d.Send(connection, command.frame) ? 1 : 0;
        if (delivered == 0)
            return fail("the frame could not be written to any instrument");
        return true;
    }
    case Command::Kind::heartbeat: {
        {
            std::lock_guard lock(d.mutex);
            d.heartbeatsOn = command.on;
        }
        if (!command.on) {
            // A beat already past its check holds the write lock until it is out.
            for (const auto& connection : d.Targets())
                std::lock_guard barrier(connection->writeMutex);
        }
        d.Wake();
        return true;
    }
    case Command::Kind::close: {
        for (const auto& connection : d.Targets())
            d.Drop(connection, "closed by command");
        return true;
    }
    case Command::Kind::wait: {
        std::unique_lock lock(d.mutex);
        d.changed.wait_for(lock, command.duration, [&] { return d.stopping; });
        return true;
    }
    case Command::Kind::waitLogon: {
        if (!WaitForLoggedOn(1, command.duration))
            return fail("no instrument logged on within " + std::to_string(command.duration.count()) + " ms");
        return true;
    }
    case Command::Kind::quit: {
        std::lock_guard lock(d.mutex);
        d.quit = true;
        d.changed.notify_all();
        return true;
    }
    }
    return true;
}

bool HostSimulator::QuitRequested() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->quit;
}

bool HostSimulator::WaitForQuit(std::chrono::milliseconds timeout) const {
    std::unique_lock lock(impl_->mutex);
    return impl_->changed.wait_for(lock, timeout, [&] { return impl_->quit; });
}

std::vector<std::string> HostSimulator::JournalLines() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->lines;
}

std::vector<QJsonObject> HostSimulator::Journal() const {
    return impl_->Snapshot();
}

namespace {
std::vector<QJsonObject> Select(const std::vector<QJsonObject>& journal, const char* dir,
                                const std::string& type) {
    std::vector<QJsonObject> out;
    const QString qtype = QString::fromStdString(type);
    for (const QJsonObject& entry : journal) {
        if (entry.value("dir").toString() == QLatin1String(dir) &&
            (type.empty() || entry.value("type").toString() == qtype))
            out.push_back(entry);
    }
    return out;
}
} // namespace

std::vector<QJsonObject> HostSimulator::Received(const std::string& type) const {
    return Select(impl_->Snapshot(), "in", type);
}

std::vector<QJsonObject> HostSimulator::Sent(const std::string& type) const {
    return Select(impl_->Snapshot(), "out", type);
}

bool HostSimulator::WaitFor(const std::function<bool(const std::vector<QJsonObject>&)>& predicate,
                            std::chrono::milliseconds timeout) const {
    Impl& d = *impl_;
    const Clock::time_point deadline = Clock::now() + timeout;
    std::unique_lock lock(d.mutex);
    while (true) {
        d.SyncParsed();
        const std::vector<QJsonObject> journal = d.parsed;
        const std::size_t seen = d.lines.size();
        lock.unlock();
        // The predicate runs unlocked: it may call back into the simulator.
        if (predicate(journal))
            return true;
        lock.lock();
        if (!d.changed.wait_until(lock, deadline, [&] { return d.lines.size() != seen; }))
            return false;
    }
}

bool HostSimulator::WaitForReceived(const std::string& type, std::size_t count,
                                    std::chrono::milliseconds timeout) const {
    return WaitFor(
        [&](const std::vector<QJsonObject>& journal) { return Select(journal, "in", type).size() >= count; },
        timeout);
}

std::size_t HostSimulator::ConnectedInstruments() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->connections.size();
}

std::size_t HostSimulator::LoggedOnInstruments() const {
    std::lock_guard lock(impl_->mutex);
    return static_cast<std::size_t>(std::count_if(impl_->connections.begin(), impl_->connections.end(),
                                                  [](const auto& c) { return c->loggedOn.load(); }));
}

bool HostSimulator::WaitForLoggedOn(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(impl_->mutex);
    return impl_->changed.wait_for(lock, timeout, [&] {
        return impl_->stopping ||
               static_cast<std::size_t>(std::count_if(impl_->connections.begin(), impl_->connections.end(),
                                                      [](const auto& c) { return c->loggedOn.load(); })) >=
                   count;
    }) && !impl_->stopping;
}

std::vector<std::string> HostSimulator::Events() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->events;
}

Tally HostSimulator::Counts() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->tally;
}

std::string HostSimulator::Summary() const {
    return FormatSummary(Counts());
}

} // namespace tarnhostsim
