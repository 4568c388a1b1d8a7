// Geometry senders (line, circle, sphere, cylinder, plane) and the command senders (history
// entry, measurement plan, removal of the 6D target model).

#include "HistoryItem.h"
#include "SenderSupport.h"
#include "TarnInstrument.h"

#include <ctime>

using namespace tarnsdk;

namespace {

template <class Packet>
void SetNames(Packet& packet, const std::string& objectName, const std::string& collectionName,
              const std::vector<std::string>& notes) {
    packet.name = Widen(objectName);
    packet.collectionName = Widen(collectionName);
    AppendLines(packet.textLines, notes);
}

} // namespace

void TarnInstrument::SendLineToTarn(Tarnvector& point1, Tarnvector& point2, char code, std::string objectName,
                                    std::string collectionName, std::vector<std::string> notes) {
    TarnConnection& c = *connection;
    ToInchesInPlace(c, point1);
    ToInchesInPlace(c, point2);
    if (!IsConnected(c))
        return;

    TarnIPGeomLine packet;
    packet.point1 = ToVector(point1);
    packet.point2 = ToVector(point2);
    // The code is a byte: 0xFF is 255, not -1.
    packet.code = static_cast<unsigned char>(code);
    SetNames(packet, objectName, collectionName, notes);
    SendOne(c, packet);
}

void TarnInstrument::SendCircleToTarn(Tarnxform& frame, double radius, double /*reservedValue*/,
                                      std::string objectName, std::string collectionName,
                                      std::vector<std::string> notes) {
    TarnConnection& c = *connection;
    TranslationToInchesInPlace(c, frame);
    radius = ToInches(c, radius);
    if (!IsConnected(c))
        return;

    TarnIPGeomCircle packet;
    packet.transform = ToTransform(frame);
    packet.radius = radius;
    SetNames(packet, objectName, collectionName, notes);
    packet.transform.Debug();
    SendOne(c, packet);
}

void TarnInstrument::SendSphereToTarn(Tarnvector& center, double radius, std::string objectName,
                                      std::string collectionName, std::vector<std::string> notes) {
    TarnConnection& c = *connection;
    ToInchesInPlace(c, center);
    radius = ToInches(c, radius);
    if (!IsConnected(c))
        return;

    TarnIPGeomSphere packet;
    packet.center = ToVector(center);
    packet.radius = radius;
    SetNames(packet, objectName, collectionName, notes);
    SendOne(c, packet);
}

void TarnInstrument::SendCylinderToTarn(Tarnvector& point1, Tarnvector& point2, double radius,
                                        std::string objectName, std::string collectionName,
                                        std::vector<std::string> notes) {
    TarnConnection& c = *connection;
    ToInchesInPlace(c, point1);
    ToInchesInPlace(c, point2);
    radius = ToInches(c, radius);
    if (!IsConnected(c))
        return;

    TarnIPGeomCylinder packet;
    packet.point1 = ToVector(point1);
    packet.point2 = ToVector(point2);
    packet.radius = radius;
    SetNames(packet, objectName, collectionName, notes);
    SendOne(c, packet);
}

void TarnInstrument::SendPlaneToTarn(Tarnxform& frame, std::vector<Tarnvector> points,
                                     std::string /*objectName*/, std::string /*collectionName*/,
                                     std::vector<std::string> /*notes*/) {
    // The host link has no plane packet: the caller's frame is converted like every other
    // sender's, and nothing is sent.
    TarnConnection& c = *connection;
    TranslationToInchesInPlace(c, frame);
    for (Tarnvector& point : points)
        ToInchesInPlace(c, point);
}

void TarnInstrument::SendInstrumentHistoryUpdate(std::string heading, std::vector<std::string> lines,
                                                 std::string note) {
    TarnConnection& c = *connection;
    if (!IsConnected(c))
        return;
    // Without a local time there is no entry to make: nothing is sent (and nothing thrown
    // through the program's send path).
    const std::time_t now = std::time(nullptr);
    std::unique_ptr<TarnIPInstReportItem> item =
        now == static_cast<std::time_t>(-1) ? nullptr : MakeHistoryItem(heading, lines, note, now);
    if (item == nullptr)
        return;
    SendOne(c, *item);
}

void TarnInstrument::RunMPByName(std::string planName) {
    // No connection test: the socket drops the request when no host is connected.
    TarnPPRunMP request;
    request.planName = Widen(planName);
    request.runOption = 1;
    SendOne(*connection, request);
}

void TarnInstrument::Remove6DTargetModel() {
    TarnConnection& c = *connection;
    if (!IsConnected(c))
        return;
    TarnIPGeomFrame packet;
    packet.flagA = 1;
    packet.flagC = 1;
    SendOne(c, packet);
}
