#include "SdkTestSupport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>
#include <utility>

namespace sdktest {

RecordingMessenger::RecordingMessenger(std::shared_ptr<MessengerLog> log, bool accept,
                                       const TarnInstrument* const* owner)
    : log_(std::move(log)), accept_(accept), owner_(owner) {}

RecordingMessenger::~RecordingMessenger() {
    log_->destroyed = true;
    if (owner_ != nullptr && *owner_ != nullptr)
        log_->connectionAliveAtDestruction = (*owner_)->connection != nullptr;
}

void RecordingMessenger::CollectionGroupTargetNamesFromTarn(std::string collectionName, std::string groupName,
                                                            std::string targetName) {
    log_->calls.push_back("names");
    log_->names = {std::move(collectionName), std::move(groupName), std::move(targetName)};
}

bool RecordingMessenger::BeginMeasureMessageFromTarn() {
    log_->calls.push_back("begin");
    return accept_;
}

bool RecordingMessenger::StopMeasureMessageFromTarn() {
    log_->calls.push_back("stop");
    return accept_;
}

bool RecordingMessenger::BatchMeasPointsFromTarn(std::vector<std::string> texts1,
                                                 std::vector<std::string> texts2,
                                                 std::vector<std::string> texts3,
                                                 std::vector<Tarnvector> positions) {
    log_->calls.push_back("batch");
    log_->texts1 = std::move(texts1);
    log_->texts2 = std::move(texts2);
    log_->texts3 = std::move(texts3);
    log_->positions = std::move(positions);
    return accept_;
}

bool RecordingMessenger::OpCheckCommandFromTarn(std::string command) {
    log_->calls.push_back("opcheck");
    log_->opCheckCommand = std::move(command);
    return accept_;
}

void GiveCommandLineSocket(TarnInstrument& instrument, unsigned port) {
    const std::string socket = "--tarn=127.0.0.1:" + std::to_string(port);
    const char* argv[] = {"instrument", socket.c_str()};
    instrument.GetAutoSock()->ParseCommandLine(2, argv);
}

namespace {

// A socket bound to 127.0.0.1 on an ephemeral port; -1 on failure.
int BoundLoopbackSocket(unsigned& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(fd);
        return -1;
    }
    port = ntohs(address.sin_port);
    return fd;
}

} // namespace

unsigned RefusingPort() {
    unsigned port = 0;
    const int fd = BoundLoopbackSocket(port);
    if (fd >= 0)
        ::close(fd); // bound but never listening: the port is free and refuses connections
    return port;
}

SilentHost::SilentHost() {
    listener_ = BoundLoopbackSocket(port_);
    if (listener_ >= 0)
        ::listen(listener_, 8);
}

SilentHost::~SilentHost() {
    for (const int fd : accepted_)
        ::close(fd);
    if (listener_ >= 0)
        ::close(listener_);
}

void SilentHost::SayLinkAlive() {
    for (;;) {
        pollfd p{listener_, POLLIN, 0};
        if (::poll(&p, 1, 0) != 1)
            break;
        const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            break;
        accepted_.push_back(fd);
    }
    // One frame: length 2 (little-endian), then a host frame holding only an empty link-alive
    // message (field 2, length-delimited, length 0).
    static const unsigned char frame[] = {0x02, 0x00, 0x00, 0x00, 0x12, 0x00};
    for (const int fd : accepted_)
        (void)::send(fd, frame, sizeof frame, MSG_NOSIGNAL);
}

bool DispatchUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    QDeadlineTimer deadline(timeout);
    while (!done()) {
        if (deadline.hasExpired())
            return done();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(2ms); // do not spin on a shared machine
    }
    return true;
}

std::vector<QJsonObject> Received(const tarnhostsim::HostSimulator& host, const std::string& type) {
    return host.Received(type);
}

bool DispatchUntilReceived(const tarnhostsim::HostSimulator& host, const std::string& type, std::size_t count,
                           std::chrono::milliseconds timeout) {
    return DispatchUntil([&] { return host.Received(type).size() >= count; }, timeout);
}

} // namespace sdktest

#include "ModalAnswer.h"

namespace sdktest {

void HostTest::SetUp() {
    testsupport::EnsureApplication();
    testsupport::ClearSeenMessageBoxes();
    tarnhostsim::Options options;
    options.label = "Tarn";
    options.log = [](const std::string&) {};
    host_ = std::make_unique<tarnhostsim::HostSimulator>(options);
    std::string error;
    ASSERT_TRUE(host_->Start(&error)) << error;
    MakeInstrument(true);
}

void HostTest::TearDown() {
    testsupport::CancelModalWatches();
    instrument_.reset();
    instrumentAddress_ = nullptr;
    if (host_)
        host_->Stop();
    host_.reset();
    // Let the closed socket's last events run while nothing refers to the instrument any more.
    QCoreApplication::processEvents();
}

TarnInstrument& HostTest::MakeInstrument(bool accept) {
    instrument_.reset();
    log_ = std::make_shared<MessengerLog>();
    instrument_ =
        std::make_unique<TarnInstrument>(*new RecordingMessenger(log_, accept, &instrumentAddress_));
    instrumentAddress_ = instrument_.get();
    return *instrument_;
}

bool HostTest::LogOn(int type, const std::string& name) {
    GiveCommandLineSocket(*instrument_, host_->Port());
    return instrument_->Logon(type, name);
}

} // namespace sdktest
