#pragma once
// The SDK's instrument-interface object: the base library's instrument specialised to carry the
// program's identity, the host-link state and the distance unit, and to hand the host's commands
// to the program's Messenger. Internal to the SDK library.

#include "calder/Packets.h"
#include "calder/TarnInstBase.h"
#include "framework/WinTypes.h"

#include <atomic>
#include <cstdint>
#include <string>

class TarnInstrument;

class TarnConnection : public TarnInstBase {
public:
    explicit TarnConnection(TarnInstrument* ownerInstrument);
    TarnConnection(const TarnConnection&) = delete;
    TarnConnection& operator=(const TarnConnection&) = delete;

    // ---- Virtuals, in the base table's order ----
    CALDER_DECLARE_RUNTIME_CLASS(TarnConnection)
    ~TarnConnection() override;
    // The base record, then one byte of the SDK's own (stored as 0, read and discarded).
    void Serialize(CArchive& ar) override;
    void OnInstrumentTransformChanged() override;
    int OnOpCheckCommand(CString& command) override;
    void OnStartMeasuring() override;
    void OnCollectionGroupTargetNames(TarnIPNames& names) override;
    void OnBatchMeasurePoints(TarnIPBatchMeasure& batch) override;
    void OnStartStopMeasuring(TarnIPStartStop& startStop) override;
    void OnHostLinkAlive() override;
    void OnHeartbeatStopped() override;
    int LogonToTarn() override;
    void SaveSettings() override;
    BOOL PopConnectionDialog(WORD type, std::string name) override;
    void OnAutoMeasProximity(TarnIPAutoMeasProximity& list) override;

    // The inches-per-unit factor of the current distance unit, read afresh on every call.
    double UnitFactor() const { return unitFactors[distanceUnit.load(std::memory_order_relaxed)]; }

    // ---- Fields ----
    std::uint32_t instrumentType = 0; // low 16 bits of the logon type
    std::string instrumentName;
    TarnInstrument* owner = nullptr; // not owned
    // Written by the host-link callbacks on the UI thread, read by senders on any thread.
    std::atomic<bool> connected{false};
    // Index into unitFactors; only SetDistUnit writes it, with a checked code.
    std::atomic<std::int32_t> distanceUnit{1};
    // Inches per unit: feet, inches, metres, centimetres, millimetres.
    double unitFactors[5] = {12.0, 1.0, 39.37007874015748, 0.3937007874015748, 0.03937007874015748};

protected:
    unsigned LogonInstrumentType() const override;
    std::string LogonInstrumentName() const override;
};
