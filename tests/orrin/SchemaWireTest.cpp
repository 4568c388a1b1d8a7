// The wire contract of the photogrammetry schema: field numbers, packed encodings, defaults,
// unknown enumeration values and the services' operations, checked against hand-made bytes and
// the compiled descriptors.

#include "Bundle.pb.h"
#include "ListWrappers.pb.h"
#include "Project.pb.h"

#include <google/protobuf/descriptor.h>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

// Hand-made protobuf bytes.
std::string Tag(int field, int wireType) {
    std::string out;
    unsigned v = static_cast<unsigned>(field << 3 | wireType);
    while (v >= 0x80) {
        out.push_back(static_cast<char>((v & 0x7F) | 0x80));
        v >>= 7;
    }
    out.push_back(static_cast<char>(v));
    return out;
}
std::string Varint(std::uint64_t v) {
    std::string out;
    while (v >= 0x80) {
        out.push_back(static_cast<char>((v & 0x7F) | 0x80));
        v >>= 7;
    }
    out.push_back(static_cast<char>(v));
    return out;
}
std::string Fixed64(double d) {
    char bytes[8];
    std::memcpy(bytes, &d, 8); // little-endian host, as the wire
    return std::string(bytes, 8);
}
std::string Packed(int field, const std::vector<double>& values) {
    std::string body;
    for (double v : values)
        body += Fixed64(v);
    return Tag(field, 2) + Varint(body.size()) + body;
}
std::string Text(int field, const std::string& s) {
    return Tag(field, 2) + Varint(s.size()) + s;
}

std::vector<double> Identity() {
    std::vector<double> m(16, 0.0);
    for (int i = 0; i < 4; ++i)
        m[i * 5] = 1.0;
    return m;
}

TEST(SchemaWire, MessagesEncodeAsTheHandMadeBytes) {
    struct Case {
        const char* what;
        std::function<std::string()> encode;
        std::string expected;
    };
    const std::vector<double> cov{1.0, 0.0, 0.0, 0.0, 4.0, 0.0, 0.0, 0.0, 9.0};
    const std::vector<Case> cases = {
        {"ObjectPoint: label 1, x 2 (fixed64), rays 8, offset 9, covariance 10 packed",
         [&] {
             lyraproto::ObjectPoint p;
             p.set_label("P1");
             p.set_x(1.5);
             p.set_rays(7);
             p.set_offset(2.5);
             for (double v : cov)
                 p.add_covariance(v);
             return p.SerializeAsString();
         },
         Text(1, "P1") + Tag(2, 1) + Fixed64(1.5) + Tag(8, 0) + Varint(7) + Tag(9, 1) + Fixed64(2.5) +
             Packed(10, cov)},
        {"Station: transform 1 packed (16 values, 128 bytes)",
         [&] {
             lyraproto::Station s;
             for (double v : Identity())
                 s.add_transform(v);
             return s.SerializeAsString();
         },
         Packed(1, Identity())},
        {"Camera: station 1, label 15",
         [&] {
             lyraproto::Camera c;
             c.add_station();
             c.set_label("Cam");
             return c.SerializeAsString();
         },
         Tag(1, 2) + Varint(0) + Text(15, "Cam")},
        {"Transformation: matrix 1 packed, rms 2, valid 3",
         [&] {
             lyraproto::Transformation t;
             for (double v : Identity())
                 t.add_matrix(v);
             t.set_rms(0.25);
             t.set_valid(true);
             return t.SerializeAsString();
         },
         Packed(1, Identity()) + Tag(2, 1) + Fixed64(0.25) + Tag(3, 0) + Varint(1)},
        {"ObjectTrackingInfo: name 2, type 3",
         [&] {
             lyraproto::ObjectTrackingInfo o;
             o.set_name("Fixture");
             o.set_type(lyraproto::ObjectTrackingInfo::PROBE);
             return o.SerializeAsString();
         },
         Text(2, "Fixture") + Tag(3, 0) + Varint(3)},
        {"Cloud: label 2, point 3, cloud_type 12",
         [&] {
             lyraproto::Cloud c;
             c.set_label("Tri");
             c.add_point()->set_label("A");
             c.set_cloud_type(lyraproto::Cloud::LUMIDOT);
             return c.SerializeAsString();
         },
         Text(2, "Tri") + Tag(3, 2) + Varint(3) + Text(1, "A") + Tag(12, 0) + Varint(4)},
        {"TriggerEpoch: label 1, camera 3, cloud 4, object_tracking 5, epoch_id 9",
         [&] {
             lyraproto::TriggerEpoch e;
             e.set_label("TriangulationEpoch");
             e.add_camera();
             e.add_cloud();
             e.add_object_tracking();
             e.set_epoch_id(300);
             return e.SerializeAsString();
         },
         Text(1, "TriangulationEpoch") + Tag(3, 2) + Varint(0) + Tag(4, 2) + Varint(0) + Tag(5, 2) +
             Varint(0) + Tag(9, 0) + Varint(300)},
        {"PhotogrammetryProject: label 1, dream_matrix 4 packed, has_dream_matrix 5",
         [&] {
             lyraproto::PhotogrammetryProject p;
             p.set_label("Proj");
             p.add_dream_matrix(2.0);
             p.add_dream_matrix(3.0);
             p.set_has_dream_matrix(true);
             return p.SerializeAsString();
         },
         Text(1, "Proj") + Packed(4, {2.0, 3.0}) + Tag(5, 0) + Varint(1)},
        {"Plane: transform 10 packed by proto3 default",
         [&] {
             lyraproto::Plane p;
             p.add_transform(1.0);
             return p.SerializeAsString();
         },
         Packed(10, {1.0})},
        {"Project3DFilesRequest: type 1 with ALL = 6",
         [&] {
             lyraproto::Project3DFilesRequest r;
             r.set_type(lyraproto::Project3DFilesRequest::ALL);
             return r.SerializeAsString();
         },
         Tag(1, 0) + Varint(6)},
        {"BundleSummaryReply: success 32, eo_info 36 (two-byte tags)",
         [&] {
             lyraproto::BundleSummaryReply r;
             r.set_success(true);
             r.add_eo_info()->set_camera_name("C");
             return r.SerializeAsString();
         },
         Tag(32, 0) + Varint(1) + Tag(36, 2) + Varint(3) + Text(2, "C")},
        {"StringList: value 1",
         [&] {
             lyraproto::StringList l;
             l.add_value("a");
             l.add_value("b");
             return l.SerializeAsString();
         },
         Text(1, "a") + Text(1, "b")},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.encode(), c.expected) << c.what;
}

TEST(SchemaWire, RepeatedDoublesAreReadPackedOrOneByOne) {
    // A peer may send a packed field as separate elements; both forms read the same.
    const std::string unpacked =
        Tag(10, 1) + Fixed64(1.0) + Tag(10, 1) + Fixed64(4.0) + Tag(10, 1) + Fixed64(9.0);
    const std::string packed = Packed(10, {1.0, 4.0, 9.0});
    for (const auto& bytes : {unpacked, packed}) {
        lyraproto::ObjectPoint p;
        ASSERT_TRUE(p.ParseFromString(bytes));
        ASSERT_EQ(p.covariance_size(), 3);
        EXPECT_EQ(p.covariance(0), 1.0);
        EXPECT_EQ(p.covariance(1), 4.0);
        EXPECT_EQ(p.covariance(2), 9.0);
    }
}

TEST(SchemaWire, UnsetFieldsReadAsDefaults) {
    lyraproto::ObjectTrackingInfo tracked;
    ASSERT_TRUE(tracked.ParseFromString(Text(2, "Wing")));
    EXPECT_FALSE(tracked.has_transformation());
    EXPECT_FALSE(tracked.transformation().valid());
    EXPECT_EQ(tracked.transformation().matrix_size(), 0);
    EXPECT_EQ(tracked.type(), lyraproto::ObjectTrackingInfo::CLOUD);

    lyraproto::TriggerEpoch epoch;
    ASSERT_TRUE(epoch.ParseFromString(""));
    EXPECT_EQ(epoch.label(), "");
    EXPECT_EQ(epoch.epoch_id(), 0u);
    EXPECT_FALSE(epoch.sob_found());
    EXPECT_FALSE(epoch.has_timestamp());

    lyraproto::ObjectPoint point;
    ASSERT_TRUE(point.ParseFromString(Text(1, "X")));
    EXPECT_EQ(point.x(), 0.0);
    EXPECT_EQ(point.offset(), 0.0);
    EXPECT_EQ(point.covariance_size(), 0);

    lyraproto::Cloud cloud;
    ASSERT_TRUE(cloud.ParseFromString(""));
    EXPECT_EQ(cloud.cloud_type(), lyraproto::Cloud::NONE);
    EXPECT_FALSE(cloud.has_view_settings());
}

TEST(SchemaWire, UnknownEnumerationValuesReadAsTheirNumbers) {
    lyraproto::Cloud cloud;
    ASSERT_TRUE(cloud.ParseFromString(Tag(12, 0) + Varint(9)));
    EXPECT_EQ(static_cast<int>(cloud.cloud_type()), 9);
    EXPECT_EQ(cloud.SerializeAsString(), Tag(12, 0) + Varint(9)) << "kept when passed on";

    lyraproto::ObjectTrackingInfo tracked;
    ASSERT_TRUE(tracked.ParseFromString(Tag(3, 0) + Varint(42)));
    EXPECT_EQ(static_cast<int>(tracked.type()), 42);

    lyraproto::ProbeTrackingInfo probe;
    ASSERT_TRUE(probe.ParseFromString(Tag(2, 0) + Varint(17)));
    EXPECT_EQ(static_cast<int>(probe.probe_type()), 17);
}

TEST(SchemaWire, EnumerationNumbers) {
    using C = lyraproto::Cloud;
    using R = lyraproto::Project3DFilesRequest;
    using O = lyraproto::ObjectTrackingInfo;
    using P = lyraproto::ProbeTrackingInfo;
    using S = lyraproto::CloudSendRequest;
    const std::vector<std::pair<int, int>> pairs = {
        {O::CLOUD, 0},         {O::INSTRUMENT, 1},    {O::SCALEBAR, 2},  {O::PROBE, 3},      {P::NONE, 0},
        {P::SHORT_BOAT, 1},    {P::SHORT_WHEEL, 2},   {P::LONG_BOAT, 3}, {P::LONG_WHEEL, 4}, {C::NONE, 0},
        {C::DRIVER, 1},        {C::TRIANGULATION, 2}, {C::PROBE, 3},     {C::LUMIDOT, 4},    {C::TEMPLATE, 5},
        {R::DRIVER, 0},        {R::TRIANGULATION, 1}, {R::PROBE, 2},     {R::LUMIDOT, 3},    {R::TEMPLATE, 4},
        {R::DETAIL, 5},        {R::ALL, 6},           {S::ALIGNMENT, 0}, {S::TRACKING, 1},   {S::CLEAR, 2},
        {S::ADD_OR_REPLACE, 3}};
    for (std::size_t i = 0; i < pairs.size(); ++i)
        EXPECT_EQ(pairs[i].first, pairs[i].second) << "entry " << i;
}

TEST(SchemaWire, FieldsReadByTheBridgeHaveTheirNumbersAndTypes) {
    using FD = google::protobuf::FieldDescriptor;
    struct Field {
        const google::protobuf::Descriptor* message;
        const char* name;
        int number;
        FD::Type type;
        bool repeated;
    };
    const auto* epoch = lyraproto::TriggerEpoch::descriptor();
    const auto* project = lyraproto::PhotogrammetryProject::descriptor();
    const auto* camera = lyraproto::Camera::descriptor();
    const auto* station = lyraproto::Station::descriptor();
    const auto* tracked = lyraproto::ObjectTrackingInfo::descriptor();
    const auto* transformation = lyraproto::Transformation::descriptor();
    const auto* cloud = lyraproto::Cloud::descriptor();
    const auto* point = lyraproto::ObjectPoint::descriptor();
    const std::vector<Field> fields = {
        {epoch, "label", 1, FD::TYPE_STRING, false},
        {epoch, "camera", 3, FD::TYPE_MESSAGE, true},
        {epoch, "cloud", 4, FD::TYPE_MESSAGE, true},
        {epoch, "object_tracking", 5, FD::TYPE_MESSAGE, true},
        {epoch, "timestamp", 8, FD::TYPE_MESSAGE, false},
        {epoch, "epoch_id", 9, FD::TYPE_UINT64, false},
        {project, "label", 1, FD::TYPE_STRING, false},
        {project, "camera", 2, FD::TYPE_MESSAGE, true},
        {project, "cloud", 3, FD::TYPE_MESSAGE, true},
        {project, "scale_bars", 6, FD::TYPE_MESSAGE, true},
        {camera, "station", 1, FD::TYPE_MESSAGE, true},
        {camera, "label", 15, FD::TYPE_STRING, false},
        {station, "transform", 1, FD::TYPE_DOUBLE, true},
        {station, "resection_rms", 4, FD::TYPE_DOUBLE, false},
        {tracked, "transformation", 1, FD::TYPE_MESSAGE, false},
        {tracked, "name", 2, FD::TYPE_STRING, false},
        {tracked, "type", 3, FD::TYPE_ENUM, false},
        {transformation, "matrix", 1, FD::TYPE_DOUBLE, true},
        {transformation, "valid", 3, FD::TYPE_BOOL, false},
        {cloud, "label", 2, FD::TYPE_STRING, false},
        {cloud, "point", 3, FD::TYPE_MESSAGE, true},
        {cloud, "cloud_type", 12, FD::TYPE_ENUM, false},
        {point, "label", 1, FD::TYPE_STRING, false},
        {point, "x", 2, FD::TYPE_DOUBLE, false},
        {point, "z", 4, FD::TYPE_DOUBLE, false},
        {point, "rays", 8, FD::TYPE_INT32, false},
        {point, "offset", 9, FD::TYPE_DOUBLE, false},
        {point, "covariance", 10, FD::TYPE_DOUBLE, true},
    };
    for (const auto& f : fields) {
        const auto* field = f.message->FindFieldByName(f.name);
        ASSERT_NE(field, nullptr) << f.message->name() << "." << f.name;
        EXPECT_EQ(field->number(), f.number) << f.message->name() << "." << f.name;
        EXPECT_EQ(field->type(), f.type) << f.message->name() << "." << f.name;
        EXPECT_EQ(field->is_repeated(), f.repeated) << f.message->name() << "." << f.name;
    }
    EXPECT_EQ(lyraproto::AutoMeasureRequest::descriptor()->FindFieldByNumber(2)->name(), "continue");
    EXPECT_EQ(lyraproto::Add3DPointRequest::descriptor()->FindFieldByNumber(1)->name(), "cloudName");
    EXPECT_EQ(lyraproto::SetTrackableRequest::descriptor()->FindFieldByNumber(4)->name(), "ZCutoff");
}

TEST(SchemaWire, ServicesDeclareTheirOperationsInOrder) {
    struct Op {
        const char* name;
        const char* request;
        const char* reply;
    };
    const std::vector<Op> project = {
        {"GetName", "google.protobuf.Empty", "google.protobuf.StringValue"},
        {"GetProject", "lyraproto.ProjectRequest", "lyraproto.ProjectReply"},
        {"GetSProject", "lyraproto.ProjectRequest", "lyraproto.ProjectReply"},
        {"GetCloud", "lyraproto.CloudRequest", "lyraproto.CloudReply"},
        {"RemoveCloud", "lyraproto.CloudRequest", "lyraproto.CloudReply"},
        {"RenameCloud", "lyraproto.CloudRenameRequest", "google.protobuf.Empty"},
        {"ImportCloud", "lyraproto.CloudImportRequest", "lyraproto.CloudReply"},
        {"ImportScaleBar", "lyraproto.ScaleBarImportRequest", "lyraproto.ScaleBarImportReply"},
        {"SetCloud", "lyraproto.CloudSendRequest", "lyraproto.CloudSendReply"},
        {"OpenTemplate", "lyraproto.TemplateRequest", "google.protobuf.Empty"},
        {"SaveProject", "google.protobuf.Empty", "google.protobuf.Empty"},
        {"CloseProject", "google.protobuf.Empty", "google.protobuf.Empty"},
        {"OpenProject", "lyraproto.OpenProjectRequest", "lyraproto.OpenProjectReply"},
        {"NewProject", "lyraproto.NewProjectRequest", "lyraproto.NewProjectReply"},
        {"SetImagePath", "lyraproto.PathRequest", "google.protobuf.Empty"},
        {"DeleteAllImages", "google.protobuf.Empty", "google.protobuf.Empty"},
        {"MModeSetup", "lyraproto.MModeSetupRequest", "google.protobuf.Empty"},
        {"AutoMeasure", "lyraproto.AutoMeasureRequest", "lyraproto.BundleSummaryReply"},
        {"GetDriverCloudName", "google.protobuf.Empty", "google.protobuf.StringValue"},
        {"SetDriver", "google.protobuf.StringValue", "google.protobuf.Empty"},
        {"SetTrackable", "lyraproto.SetTrackableRequest", "lyraproto.SetTrackableReply"},
        {"GetProject3DFiles", "lyraproto.Project3DFilesRequest", "lyraproto.StringList"},
        {"GetProbeCloudName", "google.protobuf.Empty", "google.protobuf.StringValue"},
        {"GetNextCloudFileName", "google.protobuf.StringValue", "google.protobuf.StringValue"},
        {"SetProbeCloud", "google.protobuf.StringValue", "google.protobuf.Empty"},
        {"Add3DPoint", "lyraproto.Add3DPointRequest", "google.protobuf.Empty"},
        {"Remove3DPoint", "lyraproto.Remove3DPointRequest", "google.protobuf.Empty"},
        {"LoadSystemCameras", "lyraproto.LoadSystemCamerasRequest", "lyraproto.LoadSystemCamerasReply"},
    };
    const std::vector<Op> bundle = {
        {"Setup", "lyraproto.BundleSetupRequest", "google.protobuf.Empty"},
        {"Run", "lyraproto.BundleRunRequest", "lyraproto.BundleSummaryReply"},
        {"GetSummary", "lyraproto.BundleSummaryRequest", "lyraproto.BundleSummaryReply"},
    };
    const auto* pool = google::protobuf::DescriptorPool::generated_pool();
    for (const auto& [serviceName, ops] :
         {std::pair{"lyraproto.Project", project}, std::pair{"lyraproto.Bundle", bundle}}) {
        const auto* service = pool->FindServiceByName(serviceName);
        ASSERT_NE(service, nullptr) << serviceName;
        ASSERT_EQ(service->method_count(), static_cast<int>(ops.size())) << serviceName;
        for (int i = 0; i < service->method_count(); ++i) {
            const auto* m = service->method(i);
            EXPECT_EQ(m->name(), ops[i].name) << serviceName << " #" << i + 1;
            EXPECT_EQ(m->input_type()->full_name(), ops[i].request) << m->name();
            EXPECT_EQ(m->output_type()->full_name(), ops[i].reply) << m->name();
            EXPECT_FALSE(m->client_streaming() || m->server_streaming()) << m->name();
        }
    }
}

} // namespace
