// Frame and cloud senders: coordinate frames, a network of instrument frames, tracked point sets
// and point clouds.

#include "SenderSupport.h"
#include "TarnInstrument.h"

#include <cstddef>
#include <memory>

using namespace tarnsdk;

namespace {

void SetMatrix(double (&out)[16], const Tarnxform& frame) {
    for (int r = 0; r < 4; ++r)
        for (int col = 0; col < 4; ++col)
            out[r * 4 + col] = frame.m[r][col];
}

bool HasZeroTranslation(const Tarnxform& frame) {
    return frame.m[0][3] == 0.0 && frame.m[1][3] == 0.0 && frame.m[2][3] == 0.0;
}

} // namespace

void TarnInstrument::SendFrameDataToTarn(Tarnxform& frame, double timeStamp, bool flagA, bool flagB,
                                         bool flagD, std::string objectName, std::string collectionName,
                                         std::vector<std::string> notes, double probeRadius,
                                         double secondDistance) {
    TarnConnection& c = *connection;
    TranslationToInchesInPlace(c, frame);
    probeRadius = ToInches(c, probeRadius);
    secondDistance = ToInches(c, secondDistance);
    SendFramePacket(c, frame, timeStamp, flagA, flagB, flagD, objectName, collectionName, notes, probeRadius,
                    secondDistance);
}

void TarnInstrument::SendMultipleFrameDataToTarn(std::vector<Tarnxform>& frames,
                                                 std::vector<double>& timeStamps, std::string objectName,
                                                 double probeRadius, double secondDistance) {
    TarnConnection& c = *connection;
    for (Tarnxform& frame : frames)
        TranslationToInchesInPlace(c, frame);
    if (!IsConnected(c))
        return;

    // Unlike SendFrameDataToTarn, this sender passes the two distances on as given.
    const bool withLines = timeStamps.size() == frames.size();
    const CString name = Widen(objectName);
    const CString timeStampFormat = withLines ? TimeStampFormat() : CString();
    PacketBatch batch;
    batch.Reserve(frames.size());
    for (std::size_t i = 0; i < frames.size(); ++i) {
        auto packet = std::make_unique<TarnIPGeomFrame>();
        packet->transform = ToTransform(frames[i]);
        packet->flagA = 0;
        packet->flagD = 0;
        packet->secondDistance = secondDistance;
        packet->probeRadius = probeRadius;
        if (withLines) {
            packet->textLines.Add(TimeStampLine(timeStampFormat, timeStamps[i]));
            packet->textLines.Add(CStringFormat(L"Object <%s>", name.c_str()));
        }
        batch.Add(std::move(packet));
    }
    batch.SendAll(c);
}

void TarnInstrument::SendMultipleInstFramesToTarn(std::vector<Tarnxform>& frames,
                                                  std::vector<std::string>& frameNames,
                                                  std::vector<std::int64_t>& /*frameIds*/) {
    TarnConnection& c = *connection;
    for (Tarnxform& frame : frames)
        TranslationToInchesInPlace(c, frame);
    if (!IsConnected(c))
        return;

    const bool withNames = frameNames.size() == frames.size();
    TarnIPNetworkElementList list;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        // A frame still at the origin is left out of the network.
        if (HasZeroTranslation(frames[i]))
            continue;
        auto element = std::make_unique<TarnIPNetworkElement>();
        if (withNames)
            element->name = Widen(frameNames[i]);
        SetMatrix(element->matrix, frames[i]);
        list.elements.Add(element.release());
    }
    SendOne(c, list);
}

void TarnInstrument::SendPointSetTrackingToTarn(std::vector<Tarnvector>& points,
                                                std::vector<std::string>& pointNames) {
    TarnConnection& c = *connection;
    for (Tarnvector& point : points)
        ToInchesInPlace(c, point);
    if (!IsConnected(c) || points.size() != pointNames.size())
        return;

    TarnIPPointSetTracking packet;
    for (std::size_t i = 0; i < points.size(); ++i)
        packet.namedPoints.Add(VectorNamed(Widen(pointNames[i]), ToVector(points[i])));
    SendOne(c, packet);
}

void TarnInstrument::SendScanStripeCloudToTarn(std::vector<TarnScanStripe>& stripes, std::string cloudName,
                                               std::string collectionName) {
    TarnConnection& c = *connection;
    if (!IsConnected(c))
        return;

    TarnIPScanStripeCloud cloud;
    cloud.name = Widen(cloudName);
    cloud.collectionName = Widen(collectionName);
    cloud.stripes.reserve(stripes.size());
    for (TarnScanStripe& stripe : stripes) {
        cloud.AddStripe();
        cloud.LastStripe().points.reserve(stripe.points.size());
        // The caller's points stay in its unit; only their copies in the packet are in inches.
        for (const Tarnvector& p : stripe.points) {
            TarnIPScanStripePoint point{ToInches(c, p.x), ToInches(c, p.y), ToInches(c, p.z)};
            cloud.AddPoint(point);
        }
        TranslationToInchesInPlace(c, stripe.transform);
        cloud.LastStripe().transform = ToTransform(stripe.transform);
    }
    SendOne(c, cloud);
}

void TarnInstrument::SendPointCloudToTarn(std::vector<Tarnvector>& points, std::string cloudName,
                                          std::string collectionName) {
    TarnConnection& c = *connection;
    if (!IsConnected(c))
        return;

    TarnIPCloud cloud;
    cloud.name = Widen(cloudName);
    cloud.collectionName = Widen(collectionName);
    cloud.Reserve(points.size());
    for (const Tarnvector& p : points) {
        TarnIPCloudBlockPt point{ToInches(c, p.x), ToInches(c, p.y), ToInches(c, p.z)};
        cloud.AddPoint(point);
    }
    SendOne(c, cloud);
}
