// Field mapping between the packet classes and the host link's messages.

#include "link/PacketCodec.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace cc = calder::codec;

namespace {

Transform Numbered() {
    Transform t;
    t.Set(1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16);
    return t;
}

std::vector<double> Values(const calder::Matrix16& m) {
    return {m.m().begin(), m.m().end()};
}

const std::vector<double> kNumbered = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};

std::unique_ptr<CObject> Measurement() {
    auto p = std::make_unique<TarnIPMeasurement>();
    p->secondDistance = 0.25;
    p->probeRadius = 0.5;
    p->textLines.Add(L"ProbeRad.=0.500000");
    p->textLines.Add(L"Größe");
    p->collectionName = L"A";
    p->groupName = L"G1";
    p->targetName = L"T\U0001F600";
    auto* r = new TarnIPMeasDataUncertXYZ;
    r->position = Vector(1, 2, 3);
    r->uncertainty = Vector(0.1, 0.2, 0.3);
    r->probingDirection.SetProbingDirection(Vector(0, 0, 1));
    p->data.Add(r);
    auto* cmm = new TarnIPMeasDataCMM;
    cmm->position = Vector(4, 5, 6);
    cmm->auxValues.Create(2, 1);
    cmm->auxValues[0] = 7;
    cmm->auxValues[1] = 8;
    cmm->probingDirection.SetProbingTransform(Numbered());
    p->data.Add(cmm);
    auto* theo = new TarnIPMeasDataEDMTheo;
    theo->horizontalAngle = -30;
    theo->verticalAngle = 90;
    theo->distance = 39.37;
    p->data.Add(theo);
    return p;
}

struct MappingCase {
    const char* name;
    std::function<std::unique_ptr<CObject>()> build;
    std::function<void(const calder::HostFrame&)> check;
};

TEST(PacketCodec, EncodesEveryFieldOfThePackets) {
    const std::vector<MappingCase> cases = {
        {"measurement", Measurement,
         [](const calder::HostFrame& f) {
             ASSERT_EQ(f.packet_case(), calder::HostFrame::kMeasurement);
             const auto& m = f.measurement();
             EXPECT_EQ(m.seconddistance(), 0.25);
             EXPECT_EQ(m.proberadius(), 0.5);
             ASSERT_EQ(m.textlines_size(), 2);
             EXPECT_EQ(m.textlines(1), "Gr\xC3\xB6\xC3\x9F"
                                       "e");
             EXPECT_EQ(m.collectionname(), "A");
             EXPECT_EQ(m.groupname(), "G1");
             EXPECT_EQ(m.targetname(), "T\xF0\x9F\x98\x80");
             EXPECT_EQ(m.modeflag(), 1);
             ASSERT_EQ(m.data_size(), 3);
             const auto& u = m.data(0).uncertxyz();
             EXPECT_EQ(u.position().y(), 2);
             EXPECT_EQ(u.uncertainty().z(), 0.3);
             EXPECT_EQ(u.probingdirection().kind(), 1);
             EXPECT_EQ(u.probingdirection().direction().z(), 1);
             EXPECT_FALSE(u.probingdirection().has_transform());
             const auto& c = m.data(1).cmm();
             EXPECT_EQ(c.position().x(), 4);
             EXPECT_EQ(c.auxrows(), 2u);
             EXPECT_EQ(c.auxcolumns(), 1u);
             EXPECT_EQ(std::vector<double>(c.auxvalues().begin(), c.auxvalues().end()),
                       (std::vector<double>{7, 8}));
             EXPECT_EQ(c.probingdirection().kind(), 2);
             EXPECT_EQ(Values(c.probingdirection().transform()), kNumbered);
             const auto& e = m.data(2).edmtheo();
             EXPECT_EQ(e.horizontalangle(), -30);
             EXPECT_EQ(e.verticalangle(), 90);
             EXPECT_EQ(e.distance(), 39.37);
             EXPECT_EQ(e.probingdirection().kind(), 0);
         }},
        {"update",
         [] {
             auto p = std::make_unique<TarnIPUpdate>();
             p->probeRadius = 1.5;
             auto* r = new TarnIPMeasDataUncertXYZ;
             r->position = Vector(7, 8, 9);
             p->data.Add(r);
             return p;
         },
         [](const calder::HostFrame& f) {
             ASSERT_EQ(f.packet_case(), calder::HostFrame::kUpdate);
             EXPECT_EQ(f.update().proberadius(), 1.5);
             ASSERT_EQ(f.update().data_size(), 1);
             EXPECT_EQ(f.update().data(0).uncertxyz().position().z(), 9);
         }},
        {"frame",
         [] {
             auto p = std::make_unique<TarnIPGeomFrame>();
             p->collectionName = L"C";
             p->name = L"Kamera";
             p->textLines.Add(L"TimeStamp, 1.000000");
             p->transform = Numbered();
             p->flagA = 1;
             p->flagC = 1;
             p->secondDistance = 2;
             p->probeRadius = 3;
             return p;
         },
         [](const calder::HostFrame& f) {
             ASSERT_EQ(f.packet_case(), calder::HostFrame::kGeomFrame);
             const auto& m = f.geomframe();
             EXPECT_EQ(m.name(), "Kamera");
             EXPECT_EQ(m.collectionname(), "C");
             EXPECT_EQ(m.textlines(0), "TimeStamp, 1.000000");
             EXPECT_EQ(Values(m.transform()), kNumbered);
             EXPECT_EQ(m.flaga(), 1);
             EXPECT_EQ(m.flagb(), 0);
             EXPECT_EQ(m.flagc(), 1);
             EXPECT_EQ(m.seconddistance(), 2);
             EXPECT_EQ(m.proberadius(), 3);
         }},
        {"line",
         [] {
             auto p = std::make_unique<TarnIPGeomLine>();
             p->point1 = Vector(1, 0, 0);
             p->point2 = Vector(0, 1, 0);
             p->code = 255;
             return p;
         },
         [](const calder::HostFrame& f) {
             ASSERT_EQ(f.packet_case(), calder::HostFrame::kGeomLine);
             EXPECT_EQ(f.geomline().code(), 255);
             EXPECT_EQ(f.geomline().point2().y(), 1);
         }},
        {"sphere",
         [] {
             auto p = std::make_unique<TarnIPGeomSphere>();
             p->center = Vector(0.5, 0, 0);
             p->radius = 0.78;
             return p;
         },
         [](const calder::HostFrame& f) {
             ASSERT_EQ(f.packet_case(), calder::HostFrame::kGeomSphere);
             EXPECT_EQ(f.geomsphere().center().x(), 0.5);
             EXPECT_EQ(f.geomsphere().radius(), 0.78);
         }},
        {"network elements",
         [] {
             auto p = std::make_unique<TarnIPNetworkElementList>();
             for (const wchar_t* name : {L"S1", L"S2"}) {
                 auto* e = new TarnIPNetworkElement;
                 e->name = name;
                 for (int i = 0; i < 16; ++i)
                     e->matrix[i] = i + 1;
                 p->elements.Add(e);
             }
             return p;
         },
         [](const calder::HostFrame& f) {
             ASSERT_EQ(f.packet_case(), calder::HostFrame::kNetworkElementList);
             ASSERT_EQ(f.networkelementlist().elements_size(), 2);
             EXPECT_EQ(f.networkelementlist().elements(1).name(), "S2");
             EXPECT_EQ(Values(f.networkelementlist().elements(1).matrix()), kNumbered);
         }},
        {"cloud",
         [] {
             auto p = std::make_unique<TarnIPCloud>();
             p->name = L"cloud";
             for (double i : {1.0, 2.0}) {
                 TarnIPCloudBlockPt pt{i, i * 10, i * 100};
                 p->AddPoint(pt);
             }
             return p;
         },
         [](const calder::HostFrame& f) {
             ASSERT_EQ(f.packet_case(), calder::HostFrame::kCloud);
             EXPECT_EQ(f.cloud().name(), "cloud");
             EXPECT_EQ(std::vector<double>(f.cloud().points().begin(), f.cloud().points().end()),
                       (std::vector<double>{1, 10, 100, 2, 20, 200}));
         }},
        {"scan stripes",
         [] {
             auto p = std::make_unique<TarnIPScanStripeCloud>();
             p->AddStripe();
             TarnIPScanStripePoint pt{1, 2, 3};
             p->AddPoint(pt);
             p->LastStripe().transform = Numbered();
             p->AddStripe();
             return p;
         },
         [](const calder::HostFrame& f) {
             ASSERT_EQ(f.packet_case(), calder::HostFrame::kScanStripeCloud);
             ASSERT_EQ(f.scanstripecloud().stripes_size(), 2);
             const auto& s = f.scanstripecloud().stripes(0);
             EXPECT_EQ(std::vector<double>(s.points().begin(), s.points().end()),
                       (std::vector<double>{1, 2, 3}));
             EXPECT_EQ(Values(s.transform()), kNumbered);
             EXPECT_EQ(f.scanstripecloud().stripes(1).points_size(), 0);
         }},
        {"tracking",
         [] {
             auto p = std::make_unique<TarnIPPointSetTracking>();
             p->namedPoints.Add(VectorNamed(L"P7", Vector(1, 2, 3)));
             return p;
         },
         [](const calder::HostFrame& f) {
             ASSERT_EQ(f.packet_case(), calder::HostFrame::kPointSetTracking);
             EXPECT_EQ(f.pointsettracking().namedpoints(0).name(), "P7");
             EXPECT_EQ(f.pointsettracking().namedpoints(0).vector().z(), 3);
         }},
        {"report item",
         [] {
             auto p = std::make_unique<TarnIPInstReportItem>();
             p->heading = L"Calibration (x)";
             p->lines.Add(L"l1");
             return p;
         },
         [](const calder::HostFrame& f) {
             ASSERT_EQ(f.packet_case(), calder::HostFrame::kInstReportItem);
             EXPECT_EQ(f.instreportitem().heading(), "Calibration (x)");
             EXPECT_EQ(f.instreportitem().note(), "");
             EXPECT_EQ(f.instreportitem().lines_size(), 1);
         }},
        {"run plan",
         [] {
             auto p = std::make_unique<TarnPPRunMP>();
             p->planName = L"Plan A";
             p->runOption = 1;
             return p;
         },
         [](const calder::HostFrame& f) {
             ASSERT_EQ(f.packet_case(), calder::HostFrame::kRunMP);
             EXPECT_EQ(f.runmp().planname(), "Plan A");
             EXPECT_EQ(f.runmp().runoption(), 1);
         }},
        {"flags",
         [] {
             auto p = std::make_unique<TarnIPFlags>();
             p->flags = 2;
             return p;
         },
         [](const calder::HostFrame& f) {
             ASSERT_EQ(f.packet_case(), calder::HostFrame::kFlags);
             EXPECT_EQ(f.flags().flags(), 2);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto packet = c.build();
        calder::HostFrame frame;
        ASSERT_TRUE(cc::EncodePacket(*packet, frame));
        // What the host reads is the parsed bytes, not the in-memory message.
        calder::HostFrame parsed;
        ASSERT_TRUE(parsed.ParseFromString(frame.SerializeAsString()));
        c.check(parsed);
        EXPECT_EQ(cc::FramePacketName(parsed), packet->GetRuntimeClassName());
    }
}

TEST(PacketCodec, RefusesObjectsTheLinkCannotCarry) {
    calder::HostFrame frame;
    CObject plain;
    EXPECT_FALSE(cc::EncodePacket(plain, frame));
    TarnIPGeom bareGeometry;
    EXPECT_FALSE(cc::EncodePacket(bareGeometry, frame));
    TarnIPMeasurement withBareRecord;
    withBareRecord.data.Add(new TarnIPMeasDataXYZ);
    EXPECT_FALSE(cc::EncodePacket(withBareRecord, frame));
    TarnIPMeasurement withNull;
    withNull.data.Add(nullptr);
    EXPECT_FALSE(cc::EncodePacket(withNull, frame));
}

// Reusing one frame for a run of packets must give exactly the bytes of a fresh encoding,
// whatever the frame held before (fewer records, other record kinds, other packet kinds).
TEST(PacketCodec, ReusedFrameEncodesLikeAFreshOne) {
    std::vector<std::unique_ptr<CObject>> sequence;
    sequence.push_back(Measurement());
    {
        auto p = std::make_unique<TarnIPMeasurement>();
        p->targetName = L"short";
        auto* r = new TarnIPMeasDataEDMTheo; // the slot that held an UncertXYZ record
        r->distance = 1;
        p->data.Add(r);
        sequence.push_back(std::move(p));
    }
    {
        auto p = std::make_unique<TarnIPMeasurement>();
        auto* r = new TarnIPMeasDataUncertXYZ; // probing direction back to unset
        r->position = Vector(1, 1, 1);
        p->data.Add(r);
        sequence.push_back(std::move(p));
    }
    sequence.push_back(std::make_unique<TarnIPMeasurement>());
    {
        auto p = std::make_unique<TarnIPCloud>();
        TarnIPCloudBlockPt pt{1, 2, 3};
        p->AddPoint(pt);
        p->AddPoint(pt);
        sequence.push_back(std::move(p));
    }
    sequence.push_back(std::make_unique<TarnIPCloud>());
    sequence.push_back(Measurement());

    calder::HostFrame reused;
    for (std::size_t i = 0; i < sequence.size(); ++i) {
        SCOPED_TRACE(i);
        calder::HostFrame fresh;
        ASSERT_TRUE(cc::EncodePacket(*sequence[i], fresh));
        ASSERT_TRUE(cc::EncodePacket(*sequence[i], reused));
        EXPECT_EQ(reused.SerializeAsString(), fresh.SerializeAsString());
    }
}

TEST(PacketCodec, DecodesHostCommands) {
    calder::HostFrame frame;
    auto& names = *frame.mutable_names();
    names.set_firsttext("Sammlung \xC3\xA4");
    names.set_secondtext("");
    names.set_thirdtext("T\xF0\x9F\x98\x80");
    const TarnIPNames n = cc::DecodeNames(frame.names());
    EXPECT_EQ(n.firstText, L"Sammlung ä");
    EXPECT_EQ(n.secondText, L"");
    EXPECT_EQ(n.thirdText, L"T\U0001F600");

    calder::StartStop startStop;
    startStop.set_mode(2);
    EXPECT_EQ(cc::DecodeStartStop(startStop).mode, 2);

    calder::Batch batch;
    batch.set_firstsuffix("_M");
    batch.set_secondsuffix("_N");
    auto* e = batch.add_elements();
    e->set_elementtext1("A");
    e->set_elementtext2("G1");
    e->set_elementtext3("T1");
    e->mutable_position()->set_x(1);
    batch.add_elements(); // an element without a position reads as the origin
    const TarnIPBatchMeasure b = cc::DecodeBatch(batch);
    EXPECT_EQ(b.firstSuffix, L"_M");
    EXPECT_EQ(b.secondSuffix, L"_N");
    ASSERT_EQ(b.elements.size(), 2u);
    EXPECT_EQ(b.elements[0].elementText2, L"G1");
    EXPECT_EQ(b.elements[0].position, Vector(1, 0, 0));
    EXPECT_EQ(b.elements[1].position, Vector(0, 0, 0));

    calder::AutoMeasProximity proximity;
    auto* p = proximity.add_elements();
    p->set_text("P");
    p->mutable_position()->set_z(3);
    p->set_flag(true);
    p->set_value(0.5);
    const TarnIPAutoMeasProximity list = cc::DecodeAutoMeasProximity(proximity);
    ASSERT_EQ(list.GetElementCount(), 1);
    EXPECT_EQ(list.elements[0].text, L"P");
    EXPECT_EQ(list.elements[0].position, Vector(0, 0, 3));
    EXPECT_TRUE(list.elements[0].flag);
    EXPECT_EQ(list.elements[0].value, 0.5);

    calder::OpCheck opCheck;
    opCheck.set_command("CheckLevel");
    EXPECT_EQ(cc::DecodeOpCheck(opCheck), L"CheckLevel");

    calder::InstrumentTransformChanged changed;
    Transform t;
    EXPECT_FALSE(cc::DecodeInstrumentTransformChanged(changed, t)) << "no matrix";
    for (int i = 0; i < 15; ++i)
        changed.mutable_transform()->add_m(i + 1);
    EXPECT_FALSE(cc::DecodeInstrumentTransformChanged(changed, t)) << "fifteen values";
    EXPECT_EQ(t.m[0][0], 1.0);
    EXPECT_EQ(t.m[0][1], 0.0);
    changed.mutable_transform()->add_m(16);
    ASSERT_TRUE(cc::DecodeInstrumentTransformChanged(changed, t));
    EXPECT_EQ(t.m[0][1], 2.0);
    EXPECT_EQ(t.m[2][3], 12.0);
    EXPECT_EQ(t.m[3][3], 16.0);
}

TEST(PacketCodec, HostCommandsRoundTrip) {
    TarnIPBatchMeasure batch;
    batch.firstSuffix = L"_M";
    batch.elements.push_back({L"A", L"G1", L"T1", Vector(1, 2, 3)});
    calder::HostFrame frame;
    cc::EncodeBatch(batch, frame);
    const TarnIPBatchMeasure back = cc::DecodeBatch(frame.batch());
    ASSERT_EQ(back.elements.size(), 1u);
    EXPECT_EQ(back.elements[0].elementText3, L"T1");
    EXPECT_EQ(back.elements[0].position, Vector(1, 2, 3));
    EXPECT_EQ(cc::FramePacketName(frame), "Batch");

    TarnIPNames names;
    names.firstText = L"C";
    cc::EncodeNames(names, frame);
    EXPECT_EQ(frame.packet_case(), calder::HostFrame::kNames);
    EXPECT_EQ(cc::DecodeNames(frame.names()).firstText, L"C");

    cc::EncodeProcessCompleted(2, "StartStop", frame);
    EXPECT_EQ(frame.processcompleted().code(), 2);
    EXPECT_EQ(frame.processcompleted().command(), "StartStop");
    cc::EncodeLogon(212, "Orrin", frame);
    EXPECT_EQ(frame.logon().instrumenttype(), 212u);
    EXPECT_EQ(frame.logon().instrumentname(), "Orrin");
    EXPECT_EQ(cc::FramePacketName(calder::HostFrame()), "");
}

TEST(PacketCodec, TextConversionReplacesWhatCannotCross) {
    struct Utf8Case {
        std::string in;
        CString out;
    };
    const std::vector<Utf8Case> toWide = {
        {"plain", L"plain"},
        {"\xC3\xA4\xE2\x82\xAC\xF0\x9F\x98\x80", L"ä€\U0001F600"},
        {std::string("cut\0here", 8), L"cut"},
        {"bad \xFF end", L"bad \uFFFD end"},
        {"short \xE2\x82", L"short \uFFFD"},
        {"overlong \xC0\xAF", L"overlong \uFFFD\uFFFD"},
        {"surrogate \xED\xA0\x80!", L"surrogate \uFFFD\uFFFD\uFFFD!"},
        {"lead then ascii \xE2x", L"lead then ascii \uFFFDx"},
    };
    for (const auto& c : toWide) {
        SCOPED_TRACE(c.in);
        EXPECT_EQ(cc::Utf8ToWide(c.in), c.out);
    }
    EXPECT_EQ(cc::WideToUtf8(CString(L"a\0b", 3)), "a");
    EXPECT_EQ(cc::WideToUtf8(CString(1, static_cast<wchar_t>(0xD800))), "\xEF\xBF\xBD");
    EXPECT_EQ(cc::WideToUtf8(CString(1, static_cast<wchar_t>(0x110000))), "\xEF\xBF\xBD");
    EXPECT_EQ(cc::WideToUtf8(L"ä€\U0001F600"), "\xC3\xA4\xE2\x82\xAC\xF0\x9F\x98\x80");
}

} // namespace
