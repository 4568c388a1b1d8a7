// The instrument base class: host socket, settings record, host-link supervision and the
// dispatch of the host's commands to the virtual operations.

#include "calder/TarnInstBase.h"

#include "HostLinkSupervisor.h"
#include "SettingsFile.h"
#include "TarnFolders.h"
#include "calder/Archive.h"
#include "calder/QuickSock.h"
#include "link/PacketCodec.h"

#include <QThread>

#include <spdlog/spdlog.h>

#include <atomic>
#include <cstdint>
#include <exception>
#include <memory>
#include <sstream>
#include <utility>

namespace {

using calder::instrument::HostLinkSupervisor;

// The base record: a marker, its version, then the three host fields.
constexpr std::uint32_t kRecordMarker = 0x42494E54; // "TNIB" in file order
constexpr std::uint32_t kRecordVersion = 1;

std::string Utf8(const CString& text) {
    return calder::codec::WideToUtf8(text);
}

// The host address as the socket expects it: a bracketed IPv6 address loses its brackets.
std::string SocketHost(const CString& address) {
    std::string host = Utf8(address);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    return host;
}

} // namespace

struct TarnInstBase::Impl {
    int constructionA = 1;
    int constructionB = 1;
    DockWrapper dockWrapper;
    std::chrono::milliseconds heartbeatTimeout{1000};

    // Cleared by the destructor; every socket handler checks it before it touches the object.
    std::shared_ptr<std::atomic<bool>> live = std::make_shared<std::atomic<bool>>(true);
    // Counts activations; a handler of an earlier link is ignored.
    std::uint64_t generation = 0;
    // Created on the activating thread, destroyed with the object.
    std::unique_ptr<HostLinkSupervisor> supervisor;
    // Type name of the host command being dispatched ("" when none).
    std::string commandInHand;
};

// Marks a host command as the one in hand while its virtual runs; restores the outer one, so
// a command dispatched from a nested event loop inside a handler does not confuse the answers.
class CommandInHand {
public:
    CommandInHand(std::string& slot, std::string name) : slot_(slot), previous_(std::move(slot)) {
        slot_ = std::move(name);
    }
    CommandInHand(const CommandInHand&) = delete;
    CommandInHand& operator=(const CommandInHand&) = delete;
    ~CommandInHand() { slot_ = std::move(previous_); }

private:
    std::string& slot_;
    std::string previous_;
};

TarnInstBase::TarnInstBase(int a, int b) : impl_(std::make_unique<Impl>()) {
    impl_->constructionA = a;
    impl_->constructionB = b;
    sock = new QuickSock();
}

TarnInstBase::~TarnInstBase() {
    // No socket handler may reach this object any more: mark it gone, then close the socket and
    // join its reader thread before any member goes away.
    impl_->live->store(false);
    ++impl_->generation;
    delete sock;
    sock = nullptr;
    impl_->supervisor.reset();
}

void TarnInstBase::Serialize(CArchive& ar) {
    if (ar.IsStoring()) {
        ar << kRecordMarker << kRecordVersion << hostAddress << hostLabel
           << static_cast<std::uint32_t>(hostPort);
        return;
    }
    std::uint32_t marker = 0;
    std::uint32_t version = 0;
    ar >> marker >> version;
    if (marker != kRecordMarker || version != kRecordVersion)
        throw CArchiveException("not a settings record of this library");
    CString address;
    CString label;
    std::uint32_t port = 0;
    ar >> address >> label >> port;
    if (port > 65535)
        throw CArchiveException("settings record holds an invalid port");
    hostAddress = std::move(address);
    hostLabel = std::move(label);
    hostPort = port;
}

// ---- Default behaviour of the host-link virtuals ----
// An instrument overrides these. The base library measures nothing, so it refuses what asks
// for a measurement and only notes the rest.

void TarnInstBase::OnInstrumentTransformChanged() {
    instrumentTransform.Debug();
}

int TarnInstBase::OnOpCheckCommand(CString& command) {
    spdlog::info("calder: op-check command \"{}\" refused: no instrument handles it", Utf8(command));
    ProcessCompleted(3);
    return 0;
}

void TarnInstBase::OnStartMeasuring() {
    spdlog::info("calder: start request refused: no instrument handles it");
    TarnIPFlags refusal;
    refusal.flags = 2;
    if (sock != nullptr)
        sock->SendPacket(refusal);
}

void TarnInstBase::OnCollectionGroupTargetNames(TarnIPNames& names) {
    spdlog::info("calder: names from host: \"{}\", \"{}\", \"{}\"", Utf8(names.firstText),
                 Utf8(names.secondText), Utf8(names.thirdText));
}

void TarnInstBase::OnBatchMeasurePoints(TarnIPBatchMeasure& batch) {
    spdlog::info("calder: batch of {} points refused: no instrument handles it", batch.elements.size());
    ProcessCompleted(4);
}

void TarnInstBase::OnStartStopMeasuring(TarnIPStartStop& startStop) {
    if (startStop.mode != 0 && startStop.mode != 1)
        return; // not a request this link defines
    spdlog::info("calder: {} request refused: no instrument handles it",
                 startStop.mode == 1 ? "start" : "stop");
    ProcessCompleted(3);
}

void TarnInstBase::OnHostLinkAlive() {
    spdlog::info("calder: host link is up");
}

void TarnInstBase::OnHeartbeatStopped() {
    spdlog::warn("calder: host heartbeat stopped");
}

int TarnInstBase::LogonToTarn() {
    if (cmdLineSocket.socketGiven) {
        hostAddress = cmdLineSocket.host;
        hostPort = cmdLineSocket.port;
    } else if (!PopConnectionDialog(static_cast<WORD>(LogonInstrumentType() & 0xFFFFu),
                                    LogonInstrumentName()) &&
               (hostAddress.empty() || hostPort == 0)) {
        return 0;
    }
    if (!ConnectToTarn())
        return 0;
    return ActivateInstQuickSock() ? 1 : 0;
}

void TarnInstBase::SaveSettings() {
    SaveSettingsNoTTS();
}

BOOL TarnInstBase::PopConnectionDialog(WORD /*instrumentType*/, std::string /*instrumentName*/) {
    return FALSE; // the base library has no picker of its own; the stored host is used
}

void TarnInstBase::OnAutoMeasProximity(TarnIPAutoMeasProximity& list) {
    spdlog::info("calder: proximity list of {} points from host", list.GetElementCount());
}

unsigned TarnInstBase::LogonInstrumentType() const {
    return 0;
}

std::string TarnInstBase::LogonInstrumentName() const {
    return {};
}

// ---- Operations ----

BOOL TarnInstBase::FindTarnDir(const CString& subFolder, CString* folder) {
    if (folder == nullptr)
        return FALSE;
    bool ok = false;
    const auto path = calder::instrument::TarnSubFolder(subFolder, true, &ok);
    *folder = calder::instrument::PathToWide(path);
    if (!ok)
        spdlog::warn("calder: cannot create the folder {}", path.string());
    return ok ? TRUE : FALSE;
}

namespace {
// persistenceDir/settingsFileName, or empty when either is unusable.
std::filesystem::path SettingsPath(const CString& folder, const CString& fileName) {
    if (folder.empty())
        return {};
    const std::string name =
        calder::instrument::SafeFileName(calder::instrument::WideToPath(fileName).string());
    if (name.empty())
        return {};
    return calder::instrument::WideToPath(folder) / name;
}
} // namespace

BOOL TarnInstBase::DoInitInstanceStuff(bool /*flag*/) {
    const auto path = SettingsPath(persistenceDir, settingsFileName);
    if (path.empty()) {
        spdlog::warn("calder: no settings file named; defaults kept");
        return FALSE;
    }
    const auto bytes = calder::instrument::ReadWholeFile(path, calder::instrument::kMaxSettingsFileBytes);
    if (!bytes) {
        spdlog::info("calder: no readable settings file {}; defaults kept", path.string());
        return FALSE;
    }
    // A short or corrupt file must not leave half a record behind: the base fields are put back.
    const CString savedAddress = hostAddress;
    const CString savedLabel = hostLabel;
    const UINT savedPort = hostPort;
    try {
        std::stringstream stream(*bytes, std::ios::in | std::ios::out | std::ios::binary);
        CArchive ar(stream, CArchive::load);
        Serialize(ar);
        return TRUE;
    } catch (const std::exception& e) {
        spdlog::warn("calder: settings file {} is unreadable ({}); defaults kept", path.string(), e.what());
    } catch (...) {
        spdlog::warn("calder: settings file {} is unreadable; defaults kept", path.string());
    }
    hostAddress = savedAddress;
    hostLabel = savedLabel;
    hostPort = savedPort;
    return FALSE;
}

void TarnInstBase::SaveSettingsNoTTS() {
    const auto path = SettingsPath(persistenceDir, settingsFileName);
    if (path.empty()) {
        spdlog::warn("calder: no settings file named; settings not saved");
        return;
    }
    std::string bytes;
    try {
        std::stringstream stream(std::ios::in | std::ios::out | std::ios::binary);
        {
            CArchive ar(stream, CArchive::store);
            Serialize(ar);
            ar.Flush();
        }
        bytes = stream.str();
    } catch (const std::exception& e) {
        spdlog::error("calder: settings not saved: {}", e.what());
        return;
    }
    if (!calder::instrument::WriteFileAtomically(path, bytes))
        spdlog::error("calder: cannot write the settings file {}", path.string());
}

BOOL TarnInstBase::ConnectToTarn() {
    if (sock == nullptr)
        return FALSE;
    const std::string host = SocketHost(hostAddress);
    if (host.empty() || hostPort == 0 || hostPort > 65535) {
        spdlog::warn("calder: no valid host socket to connect to ({}:{})", host, hostPort);
        return FALSE;
    }
    if (sock->IsConnected())
        sock->Close();
    if (!sock->Connect(host, hostPort)) {
        spdlog::warn("calder: cannot connect to host {}:{}", host, hostPort);
        return FALSE;
    }
    spdlog::info("calder: connected to host {}:{}", host, hostPort);
    return TRUE;
}

BOOL TarnInstBase::ActivateInstQuickSock() {
    if (sock == nullptr || !sock->IsConnected())
        return FALSE;

    // The supervisor's timer runs in the activating thread's event loop.
    if (!impl_->supervisor || impl_->supervisor->thread() != QThread::currentThread()) {
        auto live = impl_->live;
        impl_->supervisor = std::make_unique<HostLinkSupervisor>(
            [this, live] {
                if (live->load())
                    RaiseHostLinkAlive();
            },
            [this, live] {
                if (live->load())
                    RaiseHeartbeatStopped();
            });
    }
    impl_->supervisor->SetTimeout(impl_->heartbeatTimeout);

    // The new link's handlers run only from this thread's event loop, so nothing of it can
    // arrive before the state below is switched over. A refused activation (for example a
    // socket that is already active) leaves the running link as it is.
    const std::uint64_t generation = impl_->generation + 1;
    auto live = impl_->live;
    const bool activated = sock->Activate(
        [this, live, generation](const calder::HostFrame& frame) {
            if (live->load() && generation == impl_->generation)
                DispatchFrame(frame);
        },
        [this, live, generation] {
            if (live->load() && generation == impl_->generation && impl_->supervisor)
                impl_->supervisor->Closed();
        });
    if (!activated) {
        spdlog::warn("calder: cannot activate the host socket");
        return FALSE;
    }
    impl_->generation = generation;
    impl_->supervisor->Begin();

    calder::HostFrame logon;
    calder::codec::EncodeLogon(LogonInstrumentType(), LogonInstrumentName(), logon);
    if (!sock->SendFrame(logon)) {
        spdlog::warn("calder: cannot send the logon to the host");
        return FALSE;
    }
    return TRUE;
}

BOOL TarnInstBase::DisconnectFromTarn() {
    if (sock == nullptr || !sock->IsConnected())
        return FALSE;
    // The end of the link is reported by the socket's closed handler, from the event loop.
    sock->Close();
    return TRUE;
}

void TarnInstBase::ProcessCompleted(int code) {
    calder::HostFrame frame;
    calder::codec::EncodeProcessCompleted(code, impl_->commandInHand, frame);
    if (sock == nullptr || !sock->SendFrame(frame))
        spdlog::debug("calder: completion {} not sent: no host link", code);
}

void TarnInstBase::SignalInterfaceReady() {
    calder::HostFrame frame;
    frame.mutable_interfaceready();
    if (sock != nullptr)
        sock->SendFrame(frame);
}

void TarnInstBase::SignalInterfaceFailed() {
    calder::HostFrame frame;
    frame.mutable_interfacefailed();
    if (sock != nullptr)
        sock->SendFrame(frame);
}

DockWrapper* TarnInstBase::GetDockWrapper() {
    return &impl_->dockWrapper;
}

void TarnInstBase::SetHeartbeatTimeout(std::chrono::milliseconds timeout) {
    impl_->heartbeatTimeout = timeout;
    if (impl_->supervisor)
        impl_->supervisor->SetTimeout(timeout);
}

// ---- Dispatch ----

void TarnInstBase::RaiseHostLinkAlive() {
    GuardedCall("OnHostLinkAlive", [this] { OnHostLinkAlive(); });
}

void TarnInstBase::RaiseHeartbeatStopped() {
    GuardedCall("OnHeartbeatStopped", [this] { OnHeartbeatStopped(); });
}

void TarnInstBase::GuardedCall(const char* what, const std::function<void()>& call) {
    // A handler's exception must not unwind through the event loop (that would end the program).
    try {
        call();
    } catch (const std::exception& e) {
        spdlog::error("calder: {} failed: {}", what, e.what());
    } catch (...) {
        spdlog::error("calder: {} failed", what);
    }
}

void TarnInstBase::DispatchFrame(const calder::HostFrame& frame) {
    namespace codec = calder::codec;
    using Case = calder::HostFrame::PacketCase;
    switch (frame.packet_case()) {
    case Case::kLinkAlive:
        impl_->supervisor->LinkAlive();
        return;
    case Case::kHeartbeat:
        impl_->supervisor->Heartbeat();
        return;
    case Case::kNames: {
        TarnIPNames names = codec::DecodeNames(frame.names());
        CommandInHand inHand(impl_->commandInHand, "Names");
        GuardedCall("OnCollectionGroupTargetNames", [&] { OnCollectionGroupTargetNames(names); });
        return;
    }
    case Case::kStartStop: {
        TarnIPStartStop startStop = codec::DecodeStartStop(frame.startstop());
        CommandInHand inHand(impl_->commandInHand, "StartStop");
        GuardedCall("OnStartStopMeasuring", [&] { OnStartStopMeasuring(startStop); });
        return;
    }
    case Case::kStartMeasuring: {
        CommandInHand inHand(impl_->commandInHand, "StartMeasuring");
        GuardedCall("OnStartMeasuring", [&] { OnStartMeasuring(); });
        return;
    }
    case Case::kBatch: {
        TarnIPBatchMeasure batch = codec::DecodeBatch(frame.batch());
        CommandInHand inHand(impl_->commandInHand, "Batch");
        GuardedCall("OnBatchMeasurePoints", [&] { OnBatchMeasurePoints(batch); });
        return;
    }
    case Case::kOpCheck: {
        CString command = codec::DecodeOpCheck(frame.opcheck());
        CommandInHand inHand(impl_->commandInHand, "OpCheck");
        GuardedCall("OnOpCheckCommand", [&] { OnOpCheckCommand(command); });
        return;
    }
    case Case::kAutoMeasProximity: {
        TarnIPAutoMeasProximity list = codec::DecodeAutoMeasProximity(frame.automeasproximity());
        CommandInHand inHand(impl_->commandInHand, "AutoMeasProximity");
        GuardedCall("OnAutoMeasProximity", [&] { OnAutoMeasProximity(list); });
        return;
    }
    case Case::kInstrumentTransformChanged: {
        Transform transform;
        if (!codec::DecodeInstrumentTransformChanged(frame.instrumenttransformchanged(), transform)) {
            spdlog::warn("calder: host sent an incomplete instrument transform; ignored");
            return;
        }
        instrumentTransform = transform;
        CommandInHand inHand(impl_->commandInHand, "InstrumentTransformChanged");
        GuardedCall("OnInstrumentTransformChanged", [&] { OnInstrumentTransformChanged(); });
        return;
    }
    default:
        spdlog::debug("calder: ignoring host frame \"{}\"", codec::FramePacketName(frame));
        return;
    }
}
