// Project operations through the client against the real simulator: a given project is served
// unchanged, the 3D files are the clouds by label, and the generated project and epochs hold
// what the bridge needs to show (proper poses, every cloud and tracked-object kind).

#include "OrrinTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <set>

namespace {

using namespace orrintest;

class OrrinProject : public ::testing::Test {
protected:
    void Open(orrinsim::Options options) {
        sim_ = StartSim(std::move(options));
        service_ = std::make_unique<lyra::OrrinService>(QuickClient());
        Connect(*service_, *sim_);
    }
    void TearDown() override {
        if (service_)
            service_->stop();
    }
    lyra::IOrrinProjectService& project() { return *service_->projectService(); }

    std::unique_ptr<orrinsim::Simulator> sim_;
    std::unique_ptr<lyra::OrrinService> service_;
};

// Checks a 4x4 row-major rigid transform: orthonormal rotation, last row 0 0 0 1.
void ExpectRigid(const google::protobuf::RepeatedField<double>& m, const std::string& what) {
    ASSERT_EQ(m.size(), 16) << what;
    for (int a = 0; a < 3; ++a)
        for (int b = 0; b < 3; ++b) {
            double dot = 0.0;
            for (int r = 0; r < 3; ++r)
                dot += m[r * 4 + a] * m[r * 4 + b];
            EXPECT_NEAR(dot, a == b ? 1.0 : 0.0, 1e-9) << what << " columns " << a << "," << b;
        }
    const double det = m[0] * (m[5] * m[10] - m[6] * m[9]) - m[1] * (m[4] * m[10] - m[6] * m[8]) +
                       m[2] * (m[4] * m[9] - m[5] * m[8]);
    EXPECT_NEAR(det, 1.0, 1e-9) << what << " is a rotation, not a reflection";
    EXPECT_EQ(m[12], 0.0);
    EXPECT_EQ(m[13], 0.0);
    EXPECT_EQ(m[14], 0.0);
    EXPECT_EQ(m[15], 1.0);
}

void ExpectCovariance(const lyraproto::ObjectPoint& p) {
    ASSERT_EQ(p.covariance_size(), 9) << p.label();
    for (int i : {0, 4, 8})
        EXPECT_GT(p.covariance(i), 0.0) << p.label();
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            EXPECT_EQ(p.covariance(r * 3 + c), p.covariance(c * 3 + r)) << p.label();
}

TEST_F(OrrinProject, GivenProjectIsServedUnchanged) {
    lyraproto::PhotogrammetryProject given;
    given.set_label("Wing Jig — Ø 12");
    auto* camera = given.add_camera();
    camera->set_label("CamA");
    camera->add_station()->add_transform(2.0);
    for (const auto& [label, type] : std::vector<std::pair<std::string, lyraproto::Cloud::CloudType>>{
             {"Tri A", lyraproto::Cloud::TRIANGULATION},
             {"Probe B", lyraproto::Cloud::PROBE},
             {"Odd", static_cast<lyraproto::Cloud::CloudType>(11)}}) {
        auto* cloud = given.add_cloud();
        cloud->set_label(label);
        cloud->set_cloud_type(type);
        auto* p = cloud->add_point();
        p->set_label(label + "-1");
        p->set_offset(1.25);
        p->add_covariance(0.5);
    }
    auto options = QuietSim();
    options.project = given;
    Open(options);

    lyraproto::PhotogrammetryProject got;
    got.set_label("stale");
    ASSERT_TRUE(project().getProject(&got));
    EXPECT_TRUE(SameMessage(got, given)) << got.DebugString();
    EXPECT_EQ(project().getName(), "Wing Jig — Ø 12");

    std::vector<std::string> files{"stale"};
    ASSERT_TRUE(project().getProject3DFiles(files));
    EXPECT_EQ(files, (std::vector<std::string>{"Tri A", "Probe B", "Odd"}));
    for (int i = 0; i < given.cloud_size(); ++i) {
        lyraproto::Cloud cloud;
        ASSERT_TRUE(project().getCloud(files[i], &cloud)) << files[i];
        EXPECT_TRUE(SameMessage(cloud, given.cloud(i))) << files[i];
    }
    lyraproto::Cloud none;
    none.set_label("kept");
    EXPECT_FALSE(project().getCloud("No such file", &none));
    EXPECT_EQ(service_->lastError().code, static_cast<int>(grpc::StatusCode::NOT_FOUND));
    EXPECT_EQ(none.label(), "kept");
}

TEST_F(OrrinProject, GeneratedProjectIsRealistic) {
    Open(QuietSim(42));
    lyraproto::PhotogrammetryProject p;
    ASSERT_TRUE(project().getProject(&p));
    EXPECT_EQ(project().getName(), p.label());
    EXPECT_EQ(p.label(), "DemoProject-42");

    ASSERT_GE(p.camera_size(), 2);
    std::set<std::string> cameraLabels;
    for (const auto& camera : p.camera()) {
        cameraLabels.insert(camera.label());
        ASSERT_GE(camera.station_size(), 2) << camera.label();
        for (const auto& station : camera.station()) {
            ExpectRigid(station.transform(), camera.label());
            EXPECT_EQ(station.point_size(), 0) << "image observations only on request";
        }
    }
    EXPECT_EQ(cameraLabels.size(), static_cast<std::size_t>(p.camera_size()));

    std::map<int, const lyraproto::Cloud*> byType;
    for (const auto& cloud : p.cloud())
        byType[cloud.cloud_type()] = &cloud;
    ASSERT_TRUE(byType.count(lyraproto::Cloud::TRIANGULATION));
    ASSERT_TRUE(byType.count(lyraproto::Cloud::PROBE));
    ASSERT_TRUE(byType.count(lyraproto::Cloud::LUMIDOT));
    EXPECT_EQ(p.cloud(0).cloud_type(), lyraproto::Cloud::TRIANGULATION) << "the first cloud is the one sent";

    int coded = 0, uncoded = 0;
    for (const auto& point : byType[lyraproto::Cloud::TRIANGULATION]->point()) {
        ExpectCovariance(point);
        coded += point.label().rfind("CODE", 0) == 0;
        uncoded += point.label().rfind("TARGET", 0) == 0;
    }
    EXPECT_GT(coded, 0);
    EXPECT_GT(uncoded, 0);
    bool scratch = false;
    for (const auto& point : byType[lyraproto::Cloud::PROBE]->point()) {
        EXPECT_GT(point.offset(), 0.0) << point.label();
        scratch = scratch || point.label().front() == '_';
    }
    EXPECT_TRUE(scratch) << "a probe point the forwarding leaves out";

    // Every 3D file is a cloud of the project, found by its label.
    std::vector<std::string> files;
    ASSERT_TRUE(project().getProject3DFiles(files));
    ASSERT_EQ(files.size(), static_cast<std::size_t>(p.cloud_size()));
    for (int i = 0; i < p.cloud_size(); ++i) {
        EXPECT_EQ(files[i], p.cloud(i).label());
        lyraproto::Cloud cloud;
        ASSERT_TRUE(project().getCloud(files[i], &cloud));
        EXPECT_TRUE(SameMessage(cloud, p.cloud(i))) << files[i];
    }

    EXPECT_TRUE(project().autoMeasure());
    EXPECT_TRUE(project().runBundle());
}

TEST_F(OrrinProject, GeneratedEpochsCarryEveryKindOfTrackedObject) {
    Open(QuietSim(3));
    lyraproto::TriggerEpoch epoch;
    std::set<int> types;
    bool valid = false, invalid = false, unset = false;
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(service_->dataCaptureService()->trigger(&epoch));
        EXPECT_EQ(epoch.epoch_id(), static_cast<std::uint64_t>(i + 1));
        EXPECT_EQ(epoch.label(), i == 4 ? "TrackingEpoch" : "TriangulationEpoch");
        EXPECT_TRUE(epoch.has_timestamp());
        ASSERT_GE(epoch.camera_size(), 2);
        for (const auto& camera : epoch.camera())
            for (const auto& station : camera.station())
                ExpectRigid(station.transform(), camera.label());
        for (const auto& t : epoch.object_tracking()) {
            types.insert(t.type());
            if (!t.has_transformation()) {
                unset = true;
                continue;
            }
            ExpectRigid(t.transformation().matrix(), t.name());
            (t.transformation().valid() ? valid : invalid) = true;
        }
        std::set<int> clouds;
        for (const auto& cloud : epoch.cloud())
            clouds.insert(cloud.cloud_type());
        EXPECT_TRUE(clouds.count(lyraproto::Cloud::TRIANGULATION) && clouds.count(lyraproto::Cloud::PROBE) &&
                    clouds.count(lyraproto::Cloud::LUMIDOT) && clouds.count(lyraproto::Cloud::DRIVER));
    }
    EXPECT_EQ(types, (std::set<int>{0, 1, 2, 3}));
    EXPECT_TRUE(valid);
    EXPECT_TRUE(invalid);
    EXPECT_TRUE(unset);
}

TEST_F(OrrinProject, UpdateGuiFlagReachesTheServer) {
    Open(QuietSim());
    for (bool flag : {true, false, true}) {
        ASSERT_TRUE(service_->orrinSettingsService()->setUpdateGui(flag));
        EXPECT_EQ(sim_->UpdateGui(), flag);
    }
}

TEST_F(OrrinProject, SameSeedSameProject) {
    Open(QuietSim(9));
    lyraproto::PhotogrammetryProject first;
    ASSERT_TRUE(project().getProject(&first));
    orrinsim::Simulator again(QuietSim(9));
    EXPECT_TRUE(SameMessage(again.Project(), sim_->Project()));
    orrinsim::Simulator other(QuietSim(10));
    EXPECT_FALSE(SameMessage(other.Project(), sim_->Project()));
}

} // namespace
