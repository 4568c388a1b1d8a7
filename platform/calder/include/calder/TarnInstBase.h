#pragma once
// The instrument base class: host socket, settings record, host-link supervision, and the
// virtual operations through which the host's packets reach an instrument.

#include "calder/CmdLineSocket.h"
#include "calder/DockWrapper.h"
#include "calder/Export.h"
#include "calder/Geometry.h"
#include "calder/ObjectModel.h"
#include "calder/Packets.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>

class QuickSock;
namespace calder {
class HostFrame;
}

class CALDER_API TarnInstBase : public CObject {
public:
    // `a` and `b` select the base library's defaults; (1, 1) is the standard instrument.
    TarnInstBase(int a, int b);
    TarnInstBase(const TarnInstBase&) = delete;
    TarnInstBase& operator=(const TarnInstBase&) = delete;

    CALDER_DECLARE_RUNTIME_CLASS(TarnInstBase)
    ~TarnInstBase() override;
    // The base record: hostAddress, hostLabel, hostPort.
    void Serialize(CArchive& ar) override;

    // ---- Host-link virtuals, in table order ----
    virtual void OnInstrumentTransformChanged();
    virtual int OnOpCheckCommand(CString& command);
    virtual void OnStartMeasuring();
    virtual void OnCollectionGroupTargetNames(TarnIPNames& names);
    virtual void OnBatchMeasurePoints(TarnIPBatchMeasure& batch);
    virtual void OnStartStopMeasuring(TarnIPStartStop& startStop);
    virtual void OnHostLinkAlive();
    virtual void OnHeartbeatStopped();
    virtual int LogonToTarn();
    virtual void SaveSettings();
    virtual BOOL PopConnectionDialog(WORD instrumentType, std::string instrumentName);
    virtual void OnAutoMeasProximity(TarnIPAutoMeasProximity& list);

    // ---- Operations ----

    // Fills `folder` with the host installation's sub-folder (created when missing):
    // $TARN_HOME/<sub>, default <user data folder>/Tarn/<sub>. Nonzero on success.
    BOOL FindTarnDir(const CString& subFolder, CString* folder);
    // Reads persistenceDir/settingsFileName through Serialize (a missing or unreadable file keeps
    // the defaults). Nonzero when the record was read.
    BOOL DoInitInstanceStuff(bool flag);
    // Writes persistenceDir/settingsFileName through Serialize.
    void SaveSettingsNoTTS();
    // Connects the host socket to hostAddress:hostPort. Nonzero on success.
    BOOL ConnectToTarn();
    // Sends the logon frame and starts receiving on the calling thread. Nonzero on success.
    BOOL ActivateInstQuickSock();
    // Closes the host socket. Nonzero when a connection was closed.
    BOOL DisconnectFromTarn();
    // Answers the host command in hand: 2 done, 3 or 4 failed.
    void ProcessCompleted(int code);
    void SignalInterfaceReady();
    void SignalInterfaceFailed();
    DockWrapper* GetDockWrapper();

    // Time without a heartbeat after which OnHeartbeatStopped is raised (default 1 s).
    void SetHeartbeatTimeout(std::chrono::milliseconds timeout);

    // ---- Members ----
    QuickSock* sock = nullptr; // owned; exists from construction
    Transform instrumentTransform;
    CString settingsFileName;
    CmdLineSocket cmdLineSocket;
    CString persistenceDir;
    CString hostAddress;
    CString hostLabel;
    UINT hostPort = 0;

protected:
    // The identity sent in the logon frame; instruments override these.
    virtual unsigned LogonInstrumentType() const;
    virtual std::string LogonInstrumentName() const;

private:
    void DispatchFrame(const calder::HostFrame& frame);
    void RaiseHostLinkAlive();
    void RaiseHeartbeatStopped();
    static void GuardedCall(const char* what, const std::function<void()>& call);

    struct Impl;
    std::unique_ptr<Impl> impl_;
};
