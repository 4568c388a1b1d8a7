#include "Scene.h"

#include <google/protobuf/util/time_util.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <numbers>
#include <random>
#include <string>

namespace orrinsim {

namespace {

// Lengths are millimetres; the measured part is about 2 m across, centred at the origin.
using Vec = std::array<double, 3>;

Vec Sub(const Vec& a, const Vec& b) {
    return {a[0] - b[0], a[1] - b[1], a[2] - b[2]};
}
Vec Cross(const Vec& a, const Vec& b) {
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
Vec Normalized(const Vec& v) {
    const double n = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    return {v[0] / n, v[1] / n, v[2] / n};
}

// A rigid 4x4 transform, row by row, translation in the last column: the pose of a camera at
// `eye` looking at `target` (its z axis towards the target, its x axis horizontal).
template <typename Repeated>
void SetLookAt(Repeated* out, const Vec& eye, const Vec& target) {
    const Vec z = Normalized(Sub(target, eye));
    Vec up{0.0, 0.0, 1.0};
    if (std::abs(z[2]) > 0.99)
        up = {0.0, 1.0, 0.0};
    const Vec x = Normalized(Cross(up, z));
    const Vec y = Cross(z, x);
    const double m[16] = {x[0], y[0], z[0], eye[0], x[1], y[1], z[1], eye[1],
                          x[2], y[2], z[2], eye[2], 0.0,  0.0,  0.0,  1.0};
    out->Clear();
    for (double v : m)
        out->Add(v);
}

// A rotation about z by `angle` and a translation.
template <typename Repeated>
void SetRigid(Repeated* out, double angle, const Vec& t) {
    const double c = std::cos(angle), s = std::sin(angle);
    const double m[16] = {c, -s, 0.0, t[0], s, c, 0.0, t[1], 0.0, 0.0, 1.0, t[2], 0.0, 0.0, 0.0, 1.0};
    out->Clear();
    for (double v : m)
        out->Add(v);
}

class Builder {
public:
    explicit Builder(std::uint64_t seed) : rng_(seed) {}

    double Uniform(double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(rng_); }
    int UniformInt(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }

    // A point on the part's surface (a box of 2000 x 1200 x 600) with its outward normal and a
    // covariance of a few micrometres, slightly correlated.
    void FillPoint(lyraproto::ObjectPoint* p, const std::string& label, double sigma, int rays) {
        const int face = UniformInt(0, 2);
        Vec pos{Uniform(-1000, 1000), Uniform(-600, 600), Uniform(-300, 300)};
        Vec normal{0, 0, 0};
        const double side = UniformInt(0, 1) == 0 ? -1.0 : 1.0;
        if (face == 0) {
            pos[2] = 300 * side;
            normal[2] = side;
        } else if (face == 1) {
            pos[1] = 600 * side;
            normal[1] = side;
        } else {
            pos[0] = 1000 * side;
            normal[0] = side;
        }
        p->set_label(label);
        p->set_x(pos[0]);
        p->set_y(pos[1]);
        p->set_z(pos[2]);
        p->set_i(normal[0]);
        p->set_j(normal[1]);
        p->set_k(normal[2]);
        p->set_rays(rays);
        SetCovariance(p, sigma);
    }

    void SetCovariance(lyraproto::ObjectPoint* p, double sigma) {
        const double s[3] = {sigma * Uniform(0.7, 1.3), sigma * Uniform(0.7, 1.3), sigma * Uniform(1.0, 2.0)};
        const double rxy = Uniform(-0.3, 0.3), rxz = Uniform(-0.2, 0.2), ryz = Uniform(-0.2, 0.2);
        const double cov[9] = {s[0] * s[0],       rxy * s[0] * s[1], rxz * s[0] * s[2],
                               rxy * s[0] * s[1], s[1] * s[1],       ryz * s[1] * s[2],
                               rxz * s[0] * s[2], ryz * s[1] * s[2], s[2] * s[2]};
        p->clear_covariance();
        for (double v : cov)
            p->add_covariance(v);
    }

    void FillCamera(lyraproto::Camera* camera, int index, int stations, int imagePoints, bool forEpoch) {
        camera->set_label("Camera" + std::to_string(index));
        camera->set_c(24.0 + Uniform(-0.05, 0.05));
        camera->set_xp(Uniform(-0.05, 0.05));
        camera->set_yp(Uniform(-0.05, 0.05));
        camera->set_k1(Uniform(-2e-4, 2e-4));
        camera->set_k2(Uniform(-1e-7, 1e-7));
        camera->set_k3(0.0);
        camera->set_p1(Uniform(-1e-5, 1e-5));
        camera->set_p2(Uniform(-1e-5, 1e-5));
        camera->set_b1(Uniform(-1e-4, 1e-4));
        camera->set_b2(Uniform(-1e-4, 1e-4));
        camera->set_image_width(5120);
        camera->set_image_height(5120);
        camera->set_pixel_size(0.0045);
        for (int s = 0; s < stations; ++s) {
            auto* station = camera->add_station();
            // Stations on a ring around the part, cameras at different heights.
            const double turn = forEpoch ? index / 3.0 : (s + index * 0.25) / std::max(stations, 1);
            const double angle = 2 * std::numbers::pi * turn + Uniform(-0.02, 0.02);
            const Vec eye{4500 * std::cos(angle), 4500 * std::sin(angle), 800.0 * index + Uniform(-20, 20)};
            SetLookAt(station->mutable_transform(), eye, {Uniform(-5, 5), Uniform(-5, 5), Uniform(-5, 5)});
            station->set_image_filename(camera->label() + "_" + std::to_string(1000 + s) + ".jpg");
            station->set_resection_rms(Uniform(0.0002, 0.0012));
            for (int i = 0; i < imagePoints; ++i) {
                auto* ip = station->add_point();
                ip->set_label("CODE" + std::to_string(i + 1));
                ip->set_x(Uniform(-11, 11));
                ip->set_y(Uniform(-11, 11));
                ip->set_vx(Uniform(-3e-4, 3e-4));
                ip->set_vy(Uniform(-3e-4, 3e-4));
                ip->set_brightest_pixel(UniformInt(120, 255));
            }
        }
    }

    // Coded targets first (a third of them, at least one), then uncoded targets.
    void FillTriangulation(lyraproto::Cloud* cloud, const std::string& label, std::size_t count) {
        cloud->set_label(label);
        cloud->set_archive_name(label + ".3dc");
        cloud->set_cloud_type(lyraproto::Cloud::TRIANGULATION);
        const std::size_t coded = count == 0 ? 0 : std::max<std::size_t>(1, count / 3);
        for (std::size_t i = 0; i < count; ++i) {
            const bool isCoded = i < coded;
            const std::string name =
                isCoded ? "CODE" + std::to_string(i + 1) : "TARGET" + std::to_string(i - coded + 1);
            FillPoint(cloud->add_point(), name, isCoded ? 0.008 : 0.012, UniformInt(isCoded ? 6 : 3, 14));
        }
    }

    void FillProbe(lyraproto::Cloud* cloud, const std::string& label, int points, bool withScratch) {
        cloud->set_label(label);
        cloud->set_archive_name(label + ".3dc");
        cloud->set_cloud_type(lyraproto::Cloud::PROBE);
        for (int i = 0; i < points; ++i) {
            auto* p = cloud->add_point();
            FillPoint(p, "P" + std::to_string(i + 1), 0.02, 0);
            p->set_offset(i % 2 == 0 ? 1.5 : 3.0); // probe tip radius
        }
        if (withScratch) { // a point the operator marked as scratch
            auto* p = cloud->add_point();
            FillPoint(p, "_temp", 0.05, 0);
            p->set_offset(1.5);
        }
    }

    void FillLumidot(lyraproto::Cloud* cloud, const std::string& label, std::size_t count) {
        cloud->set_label(label);
        cloud->set_archive_name(label + ".3dc");
        cloud->set_cloud_type(lyraproto::Cloud::LUMIDOT);
        for (std::size_t i = 0; i < count; ++i)
            FillPoint(cloud->add_point(), "L" + std::to_string(i + 1), 0.03, UniformInt(2, 4));
    }

    void FillSimple(lyraproto::Cloud* cloud, const std::string& label, lyraproto::Cloud::CloudType type,
                    int count, const std::string& prefix) {
        cloud->set_label(label);
        cloud->set_archive_name(label + ".3dc");
        cloud->set_cloud_type(type);
        for (int i = 0; i < count; ++i)
            FillPoint(cloud->add_point(), prefix + std::to_string(i + 1), 0.01, UniformInt(4, 10));
    }

    void AddGeometry(lyraproto::Cloud* cloud) {
        auto* plane = cloud->add_plane();
        plane->set_label("TopPlane");
        plane->set_a(0.0);
        plane->set_b(0.0);
        plane->set_c(1.0);
        plane->set_d(-300.0);
        plane->set_rms(Uniform(0.005, 0.02));
        for (int i = 0; i < 4; ++i)
            FillPoint(plane->add_hull_points(), "H" + std::to_string(i + 1), 0.01, 5);
        auto* circle = cloud->add_circle();
        circle->set_label("Bore1");
        circle->set_c(1.0);
        circle->set_d(-300.0);
        circle->set_x(Uniform(-200, 200));
        circle->set_y(Uniform(-100, 100));
        circle->set_z(300.0);
        circle->set_radius(25.0 + Uniform(-0.05, 0.05));
        circle->set_final_rms(Uniform(0.003, 0.01));
        SetRigid(circle->mutable_transform(), 0.0, {circle->x(), circle->y(), circle->z()});
        auto* sphere = cloud->add_sphere();
        sphere->set_label("ToolingBall1");
        sphere->set_x(900.0);
        sphere->set_y(500.0);
        sphere->set_z(350.0);
        sphere->set_radius(19.05);
        sphere->set_final_rms(Uniform(0.002, 0.006));
    }

    void FillTracking(lyraproto::TriggerEpoch* epoch, std::uint64_t phase) {
        const double t = static_cast<double>(phase) * 0.05;
        auto add = [&](const std::string& name, lyraproto::ObjectTrackingInfo::ObjectType type, bool valid,
                       bool withTransform, const Vec& where) {
            auto* info = epoch->add_object_tracking();
            info->set_name(name);
            info->set_type(type);
            if (withTransform) {
                auto* tr = info->mutable_transformation();
                SetRigid(tr->mutable_matrix(), t, where);
                tr->set_rms(valid ? Uniform(0.005, 0.03) : 0.0);
                tr->set_valid(valid);
            }
            return info;
        };
        using OT = lyraproto::ObjectTrackingInfo;
        add("Fixture", OT::CLOUD, true, true, {10 * std::sin(t), 5 * std::cos(t), 0.0});
        // An object that left the cameras' view: a transformation without a solution, and in
        // some epochs no transformation at all.
        add("Wing", OT::CLOUD, false, phase % 3 != 0, {0.0, 0.0, 0.0});
        add("Tracker1", OT::INSTRUMENT, true, true, {-2500.0, 0.0, 1200.0});
        auto* bar = add("Bar1", OT::SCALEBAR, true, true, {0.0, -900.0, 0.0});
        auto* probe = add("ShortBoat", OT::PROBE, true, true, {600.0 + t, 200.0, 310.0});

        auto* sb = epoch->add_scalebar_tracking();
        *sb->mutable_info() = *bar;
        for (int i = 0; i < 2; ++i) {
            auto* dd = sb->add_distance_difference();
            dd->set_distance(i == 0 ? 1000.0 : 1500.0);
            dd->set_difference(Uniform(-0.01, 0.01));
        }
        auto* pt = epoch->add_probe_tracking();
        *pt->mutable_info() = *probe;
        pt->set_probe_type(lyraproto::ProbeTrackingInfo::SHORT_BOAT);
        pt->set_probe_id(1);
        FillPoint(pt->add_transformed_probe_points(), "TIP", 0.02, 0);
    }

private:
    std::mt19937_64 rng_;
};

constexpr std::size_t kPoolSize = 8;

} // namespace

lyraproto::PhotogrammetryProject GenerateProject(std::uint64_t seed) {
    Builder b(seed);
    lyraproto::PhotogrammetryProject project;
    project.set_label("DemoProject-" + std::to_string(seed));
    for (int c = 1; c <= 3; ++c)
        b.FillCamera(project.add_camera(), c, 4, 5, false);

    // The first cloud is the one a whole-project transfer sends.
    auto* tri = project.add_cloud();
    b.FillTriangulation(tri, "Triangulation1", 60);
    b.AddGeometry(tri);
    b.FillProbe(project.add_cloud(), "Probe1", 8, true);
    b.FillLumidot(project.add_cloud(), "Lumidot1", 400);
    b.FillSimple(project.add_cloud(), "Driver", lyraproto::Cloud::DRIVER, 6, "DRV");
    b.FillSimple(project.add_cloud(), "WingTemplate", lyraproto::Cloud::TEMPLATE, 10, "TPL");

    SetRigid(project.mutable_dream_matrix(), 0.01, {1.5, -0.7, 0.2});
    project.set_has_dream_matrix(true);
    auto* bar = project.add_scale_bars();
    bar->set_name("Bar1");
    for (int i = 0; i < 2; ++i) {
        auto* d = bar->add_point_to_point_distances();
        d->set_label1(i == 0 ? "SB1" : "SB2");
        d->set_label2(i == 0 ? "SB2" : "SB3");
        d->set_distance(i == 0 ? 1000.012 : 1499.987);
        d->set_sigma(0.002);
    }
    return project;
}

EpochGenerator::EpochGenerator(std::uint64_t seed, std::size_t targets, std::size_t lumidots)
    : seed_(seed), targets_(targets), lumidots_(lumidots) {}

lyraproto::TriggerEpoch EpochGenerator::Make(std::uint64_t number) {
    const std::size_t slot = static_cast<std::size_t>((number - 1) % kPoolSize);
    while (pool_.size() <= slot) {
        const std::uint64_t phase = pool_.size();
        Builder b(seed_ * 1000003u + phase + 1);
        lyraproto::TriggerEpoch epoch;
        epoch.set_sob_found(true);
        for (int c = 1; c <= 3; ++c) // a fixed rig: one station per camera
            b.FillCamera(epoch.add_camera(), c, 1, 0, true);
        b.FillTriangulation(epoch.add_cloud(), "Triangulation", targets_);
        b.FillProbe(epoch.add_cloud(), "Probe", 1, phase % 4 == 3);
        if (lumidots_ > 0)
            b.FillLumidot(epoch.add_cloud(), "Lumidot", lumidots_);
        b.FillSimple(epoch.add_cloud(), "Driver", lyraproto::Cloud::DRIVER, 4, "DRV");
        b.FillTracking(&epoch, phase);
        pool_.push_back(std::move(epoch));
    }
    lyraproto::TriggerEpoch epoch = pool_[slot];
    epoch.set_epoch_id(number);
    epoch.set_label(number % 5 == 0 ? "TrackingEpoch" : "TriangulationEpoch");
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    *epoch.mutable_timestamp() = google::protobuf::util::TimeUtil::NanosecondsToTimestamp(
        std::chrono::duration_cast<std::chrono::nanoseconds>(now).count());
    return epoch;
}

} // namespace orrinsim
