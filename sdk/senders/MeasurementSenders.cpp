// Point senders: each measured point becomes one measurement-data record in a measurement packet
// (or an update packet), sent over the host socket.

#include "SenderSupport.h"
#include "TarnInstrument.h"

#include <climits>
#include <cstddef>
#include <memory>
#include <utility>

using namespace tarnsdk;

namespace {

const wchar_t* const kSigmaLine = L"ProbeRad.=%f Sigma: x=%f, y=%f, z=%f. mag=%f";

CString SigmaLine(double shownRadius, const Vector& sigma) {
    return CStringFormat(kSigmaLine, shownRadius, sigma.x, sigma.y, sigma.z, sigma.Length());
}

std::unique_ptr<TarnIPMeasDataUncertXYZ> UncertRecord(const Tarnvector& position,
                                                      const Tarnvector& uncertainty) {
    auto record = std::make_unique<TarnIPMeasDataUncertXYZ>();
    record->position = ToVector(position);
    record->uncertainty = ToVector(uncertainty);
    return record;
}

// Sends `record` alone, in an update packet when `asUpdate`, else in a measurement packet with the
// names, the sender's text line and the notes.
void SendRecord(TarnConnection& c, std::unique_ptr<TarnIPMeasData> record, bool asUpdate, double probeRadius,
                double secondDistance, const CString& textLine, const std::string& targetName,
                const std::string& groupName, const std::string& collectionName,
                const std::vector<std::string>& notes) {
    if (asUpdate) {
        TarnIPUpdate update;
        update.secondDistance = secondDistance;
        update.probeRadius = probeRadius;
        AddRecord(update.data, std::move(record));
        SendOne(c, update);
        return;
    }
    TarnIPMeasurement packet;
    packet.collectionName = Widen(collectionName);
    packet.groupName = Widen(groupName);
    packet.targetName = Widen(targetName);
    packet.secondDistance = secondDistance;
    packet.probeRadius = probeRadius;
    AddRecord(packet.data, std::move(record));
    packet.textLines.Add(textLine);
    AppendLines(packet.textLines, notes);
    SendOne(c, packet);
    packet.ClearMeasData();
}

// The path shared by the two uncertainty-point senders: convert in the caller's objects, test the
// link, build the record (with the probing direction when one is given) and send it. The value
// printed after "ProbeRad." is `shownRadius`, which differs between the two senders.
void SendUncertPoint(TarnConnection& c, Tarnvector& position, const Tarnvector* direction,
                     Tarnvector& uncertainty, double probeRadius, double secondDistance, bool asUpdate,
                     bool showSecondDistance, const std::string& targetName, const std::string& groupName,
                     const std::string& collectionName, const std::vector<std::string>& notes) {
    // A direction has no unit.
    ToInchesInPlace(c, position);
    ToInchesInPlace(c, uncertainty);
    probeRadius = ToInches(c, probeRadius);
    secondDistance = ToInches(c, secondDistance);
    if (!IsConnected(c))
        return;

    auto record = UncertRecord(position, uncertainty);
    if (direction != nullptr)
        record->probingDirection.SetProbingDirection(ToVector(*direction));
    const double shownRadius = showSecondDistance ? secondDistance : probeRadius;
    const CString line = asUpdate ? CString() : SigmaLine(shownRadius, record->uncertainty);
    SendRecord(c, std::move(record), asUpdate, probeRadius, secondDistance, line, targetName, groupName,
               collectionName, notes);
}

} // namespace

void TarnInstrument::SendPointToTarn(Tarnvector& position, Tarnvector& uncertainty, double probeRadius,
                                     double secondDistance, bool asUpdate, std::string targetName,
                                     std::string groupName, std::string collectionName,
                                     std::vector<std::string> notes) {
    SendUncertPoint(*connection, position, nullptr, uncertainty, probeRadius, secondDistance, asUpdate, false,
                    targetName, groupName, collectionName, notes);
}

void TarnInstrument::SendEDMTheoPtToTarn(Tarnvector& distanceAngles, Tarnxform& probeTransform,
                                         bool useTransform, double probeRadius, double secondDistance,
                                         bool /*reservedFlag*/, std::string targetName, std::string groupName,
                                         std::string collectionName, std::vector<std::string> notes) {
    TarnConnection& c = *connection;
    // Only the distance is a length; the two angles stay in degrees.
    distanceAngles.x = ToInches(c, distanceAngles.x);
    TranslationToInchesInPlace(c, probeTransform);
    probeRadius = ToInches(c, probeRadius);
    secondDistance = ToInches(c, secondDistance);
    if (!IsConnected(c))
        return;

    auto record = std::make_unique<TarnIPMeasDataEDMTheo>();
    record->distance = distanceAngles.x;
    // The host counts horizontal angles the other way round.
    record->horizontalAngle = distanceAngles.y;
    UnwrapAngle360(record->horizontalAngle, 0);
    record->horizontalAngle *= -1.0;
    record->verticalAngle = distanceAngles.z;
    if (useTransform)
        record->probingDirection.SetProbingTransform(ToTransform(probeTransform));

    TarnIPMeasurement packet;
    packet.collectionName = Widen(collectionName);
    packet.groupName = Widen(groupName);
    packet.targetName = Widen(targetName);
    packet.secondDistance = secondDistance;
    packet.probeRadius = probeRadius;
    packet.modeFlag = 0;
    AddRecord(packet.data, std::move(record));
    packet.textLines.Add(CStringFormat(L"ProbeRad.=%f ", secondDistance));
    AppendLines(packet.textLines, notes);
    SendOne(c, packet);
    packet.ClearMeasData();
}

void TarnInstrument::SendCMMPtToTarn(Tarnvector& position, Tarnxform& probeTransform, double probeRadius,
                                     double secondDistance, bool asUpdate, bool useAuxValues,
                                     std::vector<double>& auxValues, std::string targetName,
                                     std::string groupName, std::string collectionName,
                                     std::vector<std::string> notes) {
    TarnConnection& c = *connection;
    ToInchesInPlace(c, position);
    TranslationToInchesInPlace(c, probeTransform);
    probeRadius = ToInches(c, probeRadius);
    secondDistance = ToInches(c, secondDistance);
    if (!IsConnected(c))
        return;

    auto record = std::make_unique<TarnIPMeasDataCMM>();
    record->position = ToVector(position);
    record->probingDirection.SetProbingTransform(ToTransform(probeTransform));
    if (useAuxValues && !auxValues.empty()) {
        // The column's size is a 32-bit count; values beyond what it can hold are not sent.
        const int n = auxValues.size() > static_cast<std::size_t>(INT_MAX)
                          ? INT_MAX
                          : static_cast<int>(auxValues.size());
        if (record->auxValues.Create(n, 1)) {
            for (int i = 0; i < n; ++i)
                record->auxValues[i] = auxValues[static_cast<std::size_t>(i)];
        }
    }
    const CString line = asUpdate ? CString() : CStringFormat(L"CMM ProbeRad = %f", probeRadius);
    SendRecord(c, std::move(record), asUpdate, probeRadius, secondDistance, line, targetName, groupName,
               collectionName, notes);
}

void TarnInstrument::SendIJKUncertPointToTarn(Tarnvector& position, Tarnvector& direction,
                                              Tarnvector& uncertainty, double probeRadius,
                                              double secondDistance, bool asUpdate, std::string targetName,
                                              std::string groupName, std::string collectionName,
                                              std::vector<std::string> notes) {
    SendUncertPoint(*connection, position, &direction, uncertainty, probeRadius, secondDistance, asUpdate,
                    true, targetName, groupName, collectionName, notes);
}

void TarnInstrument::SendIJKUncertPointArrayToTarn(std::vector<Tarnvector>& positions,
                                                   std::vector<Tarnvector>& directions,
                                                   std::vector<Tarnvector>& uncertainties, double probeRadius,
                                                   double secondDistance, std::string targetName,
                                                   std::string groupName, std::string collectionName) {
    TarnConnection& c = *connection;
    const std::size_t n = positions.size();
    if (directions.size() != n || uncertainties.size() != n)
        return;
    for (std::size_t i = 0; i < n; ++i) {
        ToInchesInPlace(c, positions[i]);
        ToInchesInPlace(c, uncertainties[i]);
    }
    probeRadius = ToInches(c, probeRadius);
    secondDistance = ToInches(c, secondDistance);
    if (!IsConnected(c))
        return;

    TarnIPMeasurement packet;
    packet.collectionName = Widen(collectionName);
    packet.groupName = Widen(groupName);
    packet.targetName = Widen(targetName);
    packet.secondDistance = secondDistance;
    packet.probeRadius = probeRadius;
    packet.data.Reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        auto record = UncertRecord(positions[i], uncertainties[i]);
        record->probingDirection.SetProbingDirection(ToVector(directions[i]));
        AddRecord(packet.data, std::move(record));
    }
    SendOne(c, packet);
    packet.ClearMeasData();
}

void TarnInstrument::SendIJKUncertPointWithNamesArrayToTarn(
    std::vector<Tarnvector>& positions, std::vector<Tarnvector>& directions,
    std::vector<Tarnvector>& uncertainties, std::vector<std::string> targetNames, double probeRadius,
    double secondDistance, std::string groupName, std::string collectionName) {
    TarnConnection& c = *connection;
    const std::size_t n = positions.size();
    if (directions.size() != n || uncertainties.size() != n || targetNames.size() != n)
        return;
    for (std::size_t i = 0; i < n; ++i) {
        ToInchesInPlace(c, positions[i]);
        ToInchesInPlace(c, uncertainties[i]);
    }
    probeRadius = ToInches(c, probeRadius);
    secondDistance = ToInches(c, secondDistance);
    if (!IsConnected(c))
        return;

    // The bridge's hot path. The packets live in one block (one allocation instead of one per
    // point, freed together after the send); each still owns its own record. The shared names
    // are widened once and copied into each packet.
    CString collection, group;
    WidenInto(collectionName, collection);
    WidenInto(groupName, group);
    const std::unique_ptr<TarnIPMeasurement[]> packets(new TarnIPMeasurement[n]);
    CObArray batch;
    batch.Reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        TarnIPMeasurement& packet = packets[i];
        packet.collectionName = collection;
        packet.groupName = group;
        WidenInto(targetNames[i], packet.targetName);
        packet.secondDistance = secondDistance;
        packet.probeRadius = probeRadius;
        auto record = UncertRecord(positions[i], uncertainties[i]);
        record->probingDirection.SetProbingDirection(ToVector(directions[i]));
        AddRecord(packet.data, std::move(record));
        batch.Add(&packet);
    }
    // One gathered write for all points; an empty batch writes nothing.
    if (c.sock != nullptr)
        c.sock->SendPackets(batch);
}

void TarnInstrument::Send6DPointToTarn(Tarnvector& position, Tarnxform& probeTransform, double timeStamp,
                                       Tarnvector& uncertainty, double probeRadius, double secondDistance,
                                       bool asFrame, std::string targetName, std::string groupName,
                                       std::string collectionName, std::vector<std::string> notes) {
    TarnConnection& c = *connection;
    ToInchesInPlace(c, position);
    TranslationToInchesInPlace(c, probeTransform);
    ToInchesInPlace(c, uncertainty);
    probeRadius = ToInches(c, probeRadius);
    secondDistance = ToInches(c, secondDistance);
    if (!IsConnected(c))
        return;

    if (asFrame) {
        // The probe pose goes as a frame of its own; the values are in inches already.
        SendFramePacket(c, probeTransform, timeStamp, true, true, true, targetName, collectionName,
                        std::vector<std::string>{std::string()}, probeRadius, secondDistance);
        return;
    }
    auto record = UncertRecord(position, uncertainty);
    record->probingDirection.SetProbingTransform(ToTransform(probeTransform));
    const CString line = SigmaLine(secondDistance, record->uncertainty);
    SendRecord(c, std::move(record), false, probeRadius, secondDistance, line, targetName, groupName,
               collectionName, notes);
}

void TarnInstrument::SendBatchofPtsToTarn(std::vector<Tarnvector>& positions,
                                          std::vector<Tarnxform>& probeTransforms,
                                          std::vector<Tarnvector>& uncertainties,
                                          std::vector<std::string>& collectionNames,
                                          std::vector<std::string>& groupNames,
                                          std::vector<std::string>& targetNames, double probeRadius,
                                          double secondDistance, std::vector<std::string> notes) {
    const std::size_t n = positions.size();
    if (probeTransforms.size() == n) {
        // One 6D point per position, each with its own names. A list shorter than the points
        // would have to be read past its end: then nothing is converted and nothing is sent.
        if (uncertainties.size() < n || collectionNames.size() < n || groupNames.size() < n ||
            targetNames.size() < n)
            return;
        for (std::size_t i = 0; i < n; ++i)
            Send6DPointToTarn(positions[i], probeTransforms[i], 0.0, uncertainties[i], probeRadius,
                              secondDistance, false, targetNames[i], groupNames[i], collectionNames[i],
                              notes);
        return;
    }
    // All points in one packet under the first names. Without a first name in each list there
    // is nothing to name the points with: nothing is converted and nothing is sent.
    if (collectionNames.empty() || groupNames.empty() || targetNames.empty())
        return;
    std::vector<Tarnvector> directions(n, Tarnvector{0.0, 0.0, 0.0});
    SendIJKUncertPointArrayToTarn(positions, directions, uncertainties, probeRadius, secondDistance,
                                  targetNames[0], groupNames[0], collectionNames[0]);
}
