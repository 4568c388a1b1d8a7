// Packet classes <-> host-link messages.
//
// Encoding writes every field of the target message in place instead of clearing it first:
// clearing a proto3 message frees its sub-messages, and the bridge encodes long runs of packets
// of one kind into one reused frame, where in-place writes keep every allocation alive.

#include "link/PacketCodec.h"

#include "link/Unicode.h"

#include <google/protobuf/descriptor.h>

namespace calder::codec {

namespace {

// Brings a repeated message or string field to `n` elements, keeping the allocated ones.
template <class Repeated>
void ResizeRepeated(Repeated& field, int n) {
    while (field.size() > n)
        field.RemoveLast();
    while (field.size() < n)
        field.Add();
}

int Count(std::size_t n) {
    return static_cast<int>(n);
}

void SetText(const CString& text, std::string* out) {
    unicode::WideToUtf8(text, *out);
}

void SetTexts(const CStringArray& texts, google::protobuf::RepeatedPtrField<std::string>& out) {
    ResizeRepeated(out, Count(static_cast<std::size_t>(texts.GetSize())));
    for (std::ptrdiff_t i = 0; i < texts.GetSize(); ++i)
        unicode::WideToUtf8(texts.GetAt(i), *out.Mutable(static_cast<int>(i)));
}

void SetDoubles(const double* values, std::size_t n, google::protobuf::RepeatedField<double>& out) {
    out.Resize(Count(n), 0.0);
    double* target = out.mutable_data();
    for (std::size_t i = 0; i < n; ++i)
        target[i] = values[i];
}

void EncodeMatrix(const double values[16], Matrix16& out) {
    SetDoubles(values, 16, *out.mutable_m());
}

void EncodeProbing(const ::ProbingDirection& probing, calder::ProbingDirection& out) {
    out.set_kind(static_cast<std::int32_t>(probing.kind()));
    switch (probing.kind()) {
    case ::ProbingDirection::Kind::direction:
        EncodeVector(probing.direction(), *out.mutable_direction());
        if (out.has_transform())
            out.clear_transform();
        break;
    case ::ProbingDirection::Kind::transform:
        EncodeTransform(probing.transform(), *out.mutable_transform());
        if (out.has_direction())
            out.clear_direction();
        break;
    case ::ProbingDirection::Kind::unset:
        if (out.has_direction())
            out.clear_direction();
        if (out.has_transform())
            out.clear_transform();
        break;
    }
}

bool EncodeRecord(const CObject* record, MeasData& out) {
    if (const auto* u = dynamic_cast<const ::TarnIPMeasDataUncertXYZ*>(record)) {
        auto& m = *out.mutable_uncertxyz();
        EncodeProbing(u->probingDirection, *m.mutable_probingdirection());
        EncodeVector(u->position, *m.mutable_position());
        EncodeVector(u->uncertainty, *m.mutable_uncertainty());
        return true;
    }
    if (const auto* c = dynamic_cast<const ::TarnIPMeasDataCMM*>(record)) {
        auto& m = *out.mutable_cmm();
        EncodeProbing(c->probingDirection, *m.mutable_probingdirection());
        EncodeVector(c->position, *m.mutable_position());
        m.set_auxrows(static_cast<std::uint32_t>(c->auxValues.Rows()));
        m.set_auxcolumns(static_cast<std::uint32_t>(c->auxValues.Columns()));
        const auto& values = c->auxValues.values();
        SetDoubles(values.data(), values.size(), *m.mutable_auxvalues());
        return true;
    }
    if (const auto* e = dynamic_cast<const ::TarnIPMeasDataEDMTheo*>(record)) {
        auto& m = *out.mutable_edmtheo();
        EncodeProbing(e->probingDirection, *m.mutable_probingdirection());
        m.set_horizontalangle(e->horizontalAngle);
        m.set_verticalangle(e->verticalAngle);
        m.set_distance(e->distance);
        return true;
    }
    return false;
}

bool EncodeRecords(const CObArray& data, google::protobuf::RepeatedPtrField<MeasData>& out) {
    ResizeRepeated(out, Count(static_cast<std::size_t>(data.GetSize())));
    for (std::ptrdiff_t i = 0; i < data.GetSize(); ++i)
        if (!EncodeRecord(data.GetAt(i), *out.Mutable(static_cast<int>(i))))
            return false;
    return true;
}

bool EncodeMeasurement(const ::TarnIPMeasurement& p, calder::TarnIPMeasurement& m) {
    m.set_seconddistance(p.secondDistance);
    m.set_proberadius(p.probeRadius);
    SetTexts(p.textLines, *m.mutable_textlines());
    SetText(p.collectionName, m.mutable_collectionname());
    SetText(p.groupName, m.mutable_groupname());
    SetText(p.targetName, m.mutable_targetname());
    m.set_modeflag(p.modeFlag);
    return EncodeRecords(p.data, *m.mutable_data());
}

bool EncodeUpdate(const ::TarnIPUpdate& p, calder::TarnIPUpdate& m) {
    m.set_seconddistance(p.secondDistance);
    m.set_proberadius(p.probeRadius);
    return EncodeRecords(p.data, *m.mutable_data());
}

template <class Message>
void EncodeGeomCommon(const ::TarnIPGeom& p, Message& m) {
    SetText(p.collectionName, m.mutable_collectionname());
    SetText(p.name, m.mutable_name());
    SetTexts(p.textLines, *m.mutable_textlines());
}

void EncodeGeomFrame(const ::TarnIPGeomFrame& p, calder::TarnIPGeomFrame& m) {
    EncodeGeomCommon(p, m);
    EncodeTransform(p.transform, *m.mutable_transform());
    m.set_flaga(p.flagA);
    m.set_flagb(p.flagB);
    m.set_flagc(p.flagC);
    m.set_flagd(p.flagD);
    m.set_seconddistance(p.secondDistance);
    m.set_proberadius(p.probeRadius);
}

void EncodeGeomLine(const ::TarnIPGeomLine& p, calder::TarnIPGeomLine& m) {
    EncodeGeomCommon(p, m);
    EncodeVector(p.point1, *m.mutable_point1());
    EncodeVector(p.point2, *m.mutable_point2());
    m.set_code(p.code);
}

void EncodeGeomCircle(const ::TarnIPGeomCircle& p, calder::TarnIPGeomCircle& m) {
    EncodeGeomCommon(p, m);
    EncodeTransform(p.transform, *m.mutable_transform());
    m.set_radius(p.radius);
}

void EncodeGeomSphere(const ::TarnIPGeomSphere& p, calder::TarnIPGeomSphere& m) {
    EncodeGeomCommon(p, m);
    EncodeVector(p.center, *m.mutable_center());
    m.set_radius(p.radius);
}

void EncodeGeomCylinder(const ::TarnIPGeomCylinder& p, calder::TarnIPGeomCylinder& m) {
    EncodeGeomCommon(p, m);
    EncodeVector(p.point1, *m.mutable_point1());
    EncodeVector(p.point2, *m.mutable_point2());
    m.set_radius(p.radius);
}

void EncodeNetworkElementList(const ::TarnIPNetworkElementList& p, calder::TarnIPNetworkElementList& m) {
    auto& elements = *m.mutable_elements();
    ResizeRepeated(elements, Count(static_cast<std::size_t>(p.elements.GetSize())));
    for (std::ptrdiff_t i = 0; i < p.elements.GetSize(); ++i) {
        const ::TarnIPNetworkElement& e = *p.elements.GetAt(i);
        auto& out = *elements.Mutable(static_cast<int>(i));
        SetText(e.name, out.mutable_name());
        EncodeMatrix(e.matrix, *out.mutable_matrix());
    }
}

void EncodePointSetTracking(const ::TarnIPPointSetTracking& p, calder::TarnIPPointSetTracking& m) {
    auto& points = *m.mutable_namedpoints();
    ResizeRepeated(points, Count(static_cast<std::size_t>(p.namedPoints.GetSize())));
    for (std::ptrdiff_t i = 0; i < p.namedPoints.GetSize(); ++i) {
        const ::VectorNamed& v = p.namedPoints.GetAt(i);
        auto& out = *points.Mutable(static_cast<int>(i));
        SetText(v.name, out.mutable_name());
        EncodeVector(v.vector, *out.mutable_vector());
    }
}

template <class Point>
void EncodePoints(const std::vector<Point>& points, google::protobuf::RepeatedField<double>& out) {
    out.Resize(Count(points.size() * 3), 0.0);
    double* target = out.mutable_data();
    for (const Point& p : points) {
        *target++ = p.x;
        *target++ = p.y;
        *target++ = p.z;
    }
}

void EncodeScanStripeCloud(const ::TarnIPScanStripeCloud& p, calder::TarnIPScanStripeCloud& m) {
    SetText(p.collectionName, m.mutable_collectionname());
    SetText(p.name, m.mutable_name());
    auto& stripes = *m.mutable_stripes();
    ResizeRepeated(stripes, Count(p.stripes.size()));
    for (std::size_t i = 0; i < p.stripes.size(); ++i) {
        auto& out = *stripes.Mutable(static_cast<int>(i));
        EncodePoints(p.stripes[i].points, *out.mutable_points());
        EncodeTransform(p.stripes[i].transform, *out.mutable_transform());
    }
}

void EncodeCloud(const ::TarnIPCloud& p, calder::TarnIPCloud& m) {
    SetText(p.collectionName, m.mutable_collectionname());
    SetText(p.name, m.mutable_name());
    EncodePoints(p.points, *m.mutable_points());
}

void EncodeInstReportItem(const ::TarnIPInstReportItem& p, calder::TarnIPInstReportItem& m) {
    SetText(p.heading, m.mutable_heading());
    SetText(p.note, m.mutable_note());
    SetTexts(p.lines, *m.mutable_lines());
}

} // namespace

// ---- Text ----

void WideToUtf8(std::wstring_view wide, std::string& out) {
    unicode::WideToUtf8(wide, out);
}

std::string WideToUtf8(std::wstring_view wide) {
    std::string out;
    unicode::WideToUtf8(wide, out);
    return out;
}

CString Utf8ToWide(std::string_view utf8) {
    return unicode::Utf8ToWide(utf8);
}

// ---- Geometry ----

void EncodeVector(const Vector& v, Vec3& out) {
    out.set_x(v.x);
    out.set_y(v.y);
    out.set_z(v.z);
}

Vector DecodeVector(const Vec3& v) {
    return Vector(v.x(), v.y(), v.z());
}

void EncodeTransform(const Transform& t, Matrix16& out) {
    EncodeMatrix(&t.m[0][0], out);
}

bool DecodeTransform(const Matrix16& m, Transform& out) {
    if (m.m_size() != 16)
        return false;
    out.Set(m.m().data());
    return true;
}

// ---- Instrument packets ----

bool EncodePacket(const CObject& packet, HostFrame& frame) {
    frame.set_writemarker(0);
    // The measurement packet first: the bridge sends it by the hundred thousand.
    if (const auto* p = dynamic_cast<const ::TarnIPMeasurement*>(&packet))
        return EncodeMeasurement(*p, *frame.mutable_measurement());
    if (const auto* p = dynamic_cast<const ::TarnIPGeomFrame*>(&packet)) {
        EncodeGeomFrame(*p, *frame.mutable_geomframe());
        return true;
    }
    if (const auto* p = dynamic_cast<const ::TarnIPCloud*>(&packet)) {
        EncodeCloud(*p, *frame.mutable_cloud());
        return true;
    }
    if (const auto* p = dynamic_cast<const ::TarnIPNetworkElementList*>(&packet)) {
        EncodeNetworkElementList(*p, *frame.mutable_networkelementlist());
        return true;
    }
    if (const auto* p = dynamic_cast<const ::TarnIPUpdate*>(&packet))
        return EncodeUpdate(*p, *frame.mutable_update());
    if (const auto* p = dynamic_cast<const ::TarnIPGeomLine*>(&packet)) {
        EncodeGeomLine(*p, *frame.mutable_geomline());
        return true;
    }
    if (const auto* p = dynamic_cast<const ::TarnIPGeomCircle*>(&packet)) {
        EncodeGeomCircle(*p, *frame.mutable_geomcircle());
        return true;
    }
    if (const auto* p = dynamic_cast<const ::TarnIPGeomSphere*>(&packet)) {
        EncodeGeomSphere(*p, *frame.mutable_geomsphere());
        return true;
    }
    if (const auto* p = dynamic_cast<const ::TarnIPGeomCylinder*>(&packet)) {
        EncodeGeomCylinder(*p, *frame.mutable_geomcylinder());
        return true;
    }
    if (const auto* p = dynamic_cast<const ::TarnIPPointSetTracking*>(&packet)) {
        EncodePointSetTracking(*p, *frame.mutable_pointsettracking());
        return true;
    }
    if (const auto* p = dynamic_cast<const ::TarnIPScanStripeCloud*>(&packet)) {
        EncodeScanStripeCloud(*p, *frame.mutable_scanstripecloud());
        return true;
    }
    if (const auto* p = dynamic_cast<const ::TarnIPInstReportItem*>(&packet)) {
        EncodeInstReportItem(*p, *frame.mutable_instreportitem());
        return true;
    }
    if (const auto* p = dynamic_cast<const ::TarnPPRunMP*>(&packet)) {
        auto& m = *frame.mutable_runmp();
        SetText(p->planName, m.mutable_planname());
        m.set_runoption(p->runOption);
        return true;
    }
    if (const auto* p = dynamic_cast<const ::TarnIPFlags*>(&packet)) {
        frame.mutable_flags()->set_flags(p->flags);
        return true;
    }
    return false;
}

// ---- Host commands ----

TarnIPNames DecodeNames(const Names& message) {
    TarnIPNames names;
    names.firstText = Utf8ToWide(message.firsttext());
    names.secondText = Utf8ToWide(message.secondtext());
    names.thirdText = Utf8ToWide(message.thirdtext());
    return names;
}

TarnIPStartStop DecodeStartStop(const StartStop& message) {
    TarnIPStartStop startStop;
    startStop.mode = message.mode();
    return startStop;
}

TarnIPBatchMeasure DecodeBatch(const Batch& message) {
    TarnIPBatchMeasure batch;
    batch.firstSuffix = Utf8ToWide(message.firstsuffix());
    batch.secondSuffix = Utf8ToWide(message.secondsuffix());
    batch.elements.reserve(static_cast<std::size_t>(message.elements_size()));
    for (const BatchElement& e : message.elements()) {
        TarnIPBatchElement element;
        element.elementText1 = Utf8ToWide(e.elementtext1());
        element.elementText2 = Utf8ToWide(e.elementtext2());
        element.elementText3 = Utf8ToWide(e.elementtext3());
        element.position = DecodeVector(e.position());
        batch.elements.push_back(std::move(element));
    }
    return batch;
}

TarnIPAutoMeasProximity DecodeAutoMeasProximity(const AutoMeasProximity& message) {
    TarnIPAutoMeasProximity list;
    list.elements.reserve(static_cast<std::size_t>(message.elements_size()));
    for (const ProximityElement& e : message.elements()) {
        TarnIPAutoMeasProximity::Element element;
        element.text = Utf8ToWide(e.text());
        element.position = DecodeVector(e.position());
        element.flag = e.flag();
        element.value = e.value();
        list.elements.push_back(std::move(element));
    }
    return list;
}

CString DecodeOpCheck(const OpCheck& message) {
    return Utf8ToWide(message.command());
}

bool DecodeInstrumentTransformChanged(const InstrumentTransformChanged& message, Transform& out) {
    return message.has_transform() && DecodeTransform(message.transform(), out);
}

void EncodeNames(const TarnIPNames& names, HostFrame& frame) {
    frame.Clear();
    auto& m = *frame.mutable_names();
    SetText(names.firstText, m.mutable_firsttext());
    SetText(names.secondText, m.mutable_secondtext());
    SetText(names.thirdText, m.mutable_thirdtext());
}

void EncodeStartStop(const TarnIPStartStop& startStop, HostFrame& frame) {
    frame.Clear();
    frame.mutable_startstop()->set_mode(startStop.mode);
}

void EncodeBatch(const TarnIPBatchMeasure& batch, HostFrame& frame) {
    frame.Clear();
    auto& m = *frame.mutable_batch();
    SetText(batch.firstSuffix, m.mutable_firstsuffix());
    SetText(batch.secondSuffix, m.mutable_secondsuffix());
    for (const TarnIPBatchElement& e : batch.elements) {
        auto& out = *m.add_elements();
        SetText(e.elementText1, out.mutable_elementtext1());
        SetText(e.elementText2, out.mutable_elementtext2());
        SetText(e.elementText3, out.mutable_elementtext3());
        EncodeVector(e.position, *out.mutable_position());
    }
}

void EncodeAutoMeasProximity(const TarnIPAutoMeasProximity& list, HostFrame& frame) {
    frame.Clear();
    auto& m = *frame.mutable_automeasproximity();
    for (const auto& e : list.elements) {
        auto& out = *m.add_elements();
        SetText(e.text, out.mutable_text());
        EncodeVector(e.position, *out.mutable_position());
        out.set_flag(e.flag);
        out.set_value(e.value);
    }
}

// ---- Link frames ----

void EncodeLogon(unsigned instrumentType, std::string_view instrumentName, HostFrame& frame) {
    frame.Clear();
    auto& m = *frame.mutable_logon();
    m.set_instrumenttype(instrumentType);
    // The name crosses as UTF-8; anything else would make the frame unreadable for the host.
    m.set_instrumentname(WideToUtf8(Utf8ToWide(instrumentName)));
}

void EncodeProcessCompleted(int code, std::string_view command, HostFrame& frame) {
    frame.Clear();
    auto& m = *frame.mutable_processcompleted();
    m.set_code(code);
    m.set_command(std::string(command));
}

std::string FramePacketName(const HostFrame& frame) {
    static const google::protobuf::OneofDescriptor* const packet =
        HostFrame::descriptor()->FindOneofByName("packet");
    const google::protobuf::FieldDescriptor* field =
        frame.GetReflection()->GetOneofFieldDescriptor(frame, packet);
    if (field == nullptr || field->message_type() == nullptr)
        return {};
    return field->message_type()->name();
}

} // namespace calder::codec
