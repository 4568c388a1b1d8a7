#pragma once
// An instrument that records every host-link virtual it receives, with the thread it ran on,
// and answers each host command with a chosen completion code.

#include "calder/TarnInstBase.h"

#include <QThread>

#include <optional>
#include <string>
#include <vector>

class RecordingInstrument : public TarnInstBase {
public:
    struct Call {
        std::string name;
        QThread* thread = nullptr;
    };

    RecordingInstrument() : TarnInstBase(1, 1) {}

    int Count(const std::string& name) const {
        int n = 0;
        for (const auto& call : calls)
            n += call.name == name ? 1 : 0;
        return n;
    }
    bool AllOn(const std::string& name, QThread* thread) const {
        for (const auto& call : calls) {
            if (call.name == name && call.thread != thread)
                return false;
        }
        return true;
    }

    void OnInstrumentTransformChanged() override {
        Record("OnInstrumentTransformChanged");
        transform = instrumentTransform;
        Answer();
    }
    int OnOpCheckCommand(CString& command) override {
        Record("OnOpCheckCommand");
        opCheck = command;
        Answer();
        return 1;
    }
    void OnStartMeasuring() override {
        Record("OnStartMeasuring");
        Answer();
    }
    void OnCollectionGroupTargetNames(TarnIPNames& n) override {
        Record("OnCollectionGroupTargetNames");
        names = {n.firstText, n.secondText, n.thirdText};
        Answer();
    }
    void OnBatchMeasurePoints(TarnIPBatchMeasure& b) override {
        Record("OnBatchMeasurePoints");
        batch = b;
        Answer();
    }
    void OnStartStopMeasuring(TarnIPStartStop& s) override {
        Record("OnStartStopMeasuring");
        startStopMode = s.mode;
        Answer();
    }
    void OnHostLinkAlive() override { Record("OnHostLinkAlive"); }
    void OnHeartbeatStopped() override { Record("OnHeartbeatStopped"); }
    void OnAutoMeasProximity(TarnIPAutoMeasProximity& list) override {
        Record("OnAutoMeasProximity");
        proximity = list;
        Answer();
    }

    std::vector<Call> calls;
    int answerCode = 2; // completion code sent for every command; 0: none
    std::vector<CString> names;
    std::optional<int> startStopMode;
    TarnIPBatchMeasure batch;
    CString opCheck;
    TarnIPAutoMeasProximity proximity;
    Transform transform;

protected:
    unsigned LogonInstrumentType() const override { return 212; }
    std::string LogonInstrumentName() const override { return "Recorder"; }

private:
    void Record(const char* name) { calls.push_back({name, QThread::currentThread()}); }
    void Answer() {
        if (answerCode != 0)
            ProcessCompleted(answerCode);
    }
};
