// The host's commands, handed to the program's Messenger and answered with its verdict.

#include "Messenger.h"
#include "TarnConnection.h"
#include "TarnInstrument.h"
#include "UnitConversion.h"

#include "calder/QuickSock.h"

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr int kCompletedDone = 2;
constexpr int kCompletedRefused = 3;
constexpr int kCompletedBatchRefused = 4;
constexpr int kFlagsStartRefused = 2;

// The program's Messenger, or one with the default answers when the program took its own away.
Messenger& MessengerOf(TarnInstrument* owner) {
    static Messenger defaults;
    return owner != nullptr && owner->messenger != nullptr ? *owner->messenger : defaults;
}

// A Messenger that throws must not unwind through the event loop that delivered the command:
// its request counts as refused.
template <class Call>
bool Ask(Call&& call) {
    try {
        return std::forward<Call>(call)();
    } catch (...) {
        return false;
    }
}

} // namespace

void TarnConnection::OnInstrumentTransformChanged() {
    instrumentTransform.Debug();
}

int TarnConnection::OnOpCheckCommand(CString& command) {
    Messenger& m = MessengerOf(owner);
    const bool accepted = Ask([&] { return m.OpCheckCommandFromTarn(tarnsdk::Narrow(command)); });
    ProcessCompleted(accepted ? kCompletedDone : kCompletedRefused);
    return accepted ? 1 : 0;
}

void TarnConnection::OnStartMeasuring() {
    Messenger& m = MessengerOf(owner);
    if (Ask([&] { return m.BeginMeasureMessageFromTarn(); }))
        return;
    TarnIPFlags refusal;
    refusal.flags = kFlagsStartRefused;
    sock->SendPacket(refusal);
}

void TarnConnection::OnCollectionGroupTargetNames(TarnIPNames& names) {
    Messenger& m = MessengerOf(owner);
    Ask([&] {
        m.CollectionGroupTargetNamesFromTarn(tarnsdk::Narrow(names.firstText),
                                             tarnsdk::Narrow(names.secondText),
                                             tarnsdk::Narrow(names.thirdText));
        return true;
    });
}

void TarnConnection::OnBatchMeasurePoints(TarnIPBatchMeasure& batch) {
    const std::size_t n = batch.elements.size();
    std::vector<std::string> texts1(n);
    std::vector<std::string> texts2(n);
    std::vector<std::string> texts3(n);
    std::vector<Tarnvector> positions(n);
    for (std::size_t i = 0; i < n; ++i) {
        const TarnIPBatchElement& e = batch.elements[i];
        texts1[i] = tarnsdk::Narrow(e.elementText1);
        texts2[i] = tarnsdk::Narrow(e.elementText2 + batch.firstSuffix);
        texts3[i] = tarnsdk::Narrow(e.elementText3 + batch.secondSuffix);
        positions[i] = tarnsdk::FromInches(*this, e.position);
    }
    Messenger& m = MessengerOf(owner);
    const bool accepted = Ask([&] { return m.BatchMeasPointsFromTarn(texts1, texts2, texts3, positions); });
    ProcessCompleted(accepted ? kCompletedDone : kCompletedBatchRefused);
}

void TarnConnection::OnStartStopMeasuring(TarnIPStartStop& startStop) {
    Messenger& m = MessengerOf(owner);
    bool accepted = false;
    switch (startStop.mode) {
    case 1:
        accepted = Ask([&] { return m.BeginMeasureMessageFromTarn(); });
        break;
    case 0:
        accepted = Ask([&] { return m.StopMeasureMessageFromTarn(); });
        break;
    default:
        return; // neither start nor stop: not answered
    }
    ProcessCompleted(accepted ? kCompletedDone : kCompletedRefused);
}

void TarnConnection::OnHostLinkAlive() {
    connected.store(true);
}

void TarnConnection::OnHeartbeatStopped() {
    connected.store(false);
    TarnInstBase::OnHeartbeatStopped();
}

// The list is read and dropped: the SDK offers no automatic measurement.
void TarnConnection::OnAutoMeasProximity(TarnIPAutoMeasProximity& list) {
    const int count = list.GetElementCount();
    for (int i = 0; i < count; ++i) {
        CString text;
        Vector position;
        bool flag = false;
        double value = 0.0;
        list.GetElement(i, text, position, flag, value);
    }
}
