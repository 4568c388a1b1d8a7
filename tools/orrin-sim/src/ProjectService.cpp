#include "Services.h"

#include "Scene.h"

#include <algorithm>
#include <chrono>
#include <filesystem>

namespace orrinsim {

namespace {

using Status = grpc::Status;
using Code = grpc::StatusCode;

lyraproto::Cloud* FindCloud(lyraproto::PhotogrammetryProject& project, const std::string& label) {
    for (auto& cloud : *project.mutable_cloud())
        if (cloud.label() == label)
            return &cloud;
    return nullptr;
}

Status NoCloud(const std::string& label) {
    return Status(Code::NOT_FOUND, "no 3D file named \"" + label + "\"");
}

// The cloud type of a 3D-file request as the type stored in a cloud (the two enumerations
// number the kinds differently); nullopt for ALL and for kinds without clouds here (DETAIL).
std::optional<lyraproto::Cloud::CloudType> StoredType(lyraproto::Project3DFilesRequest::CloudType type) {
    using R = lyraproto::Project3DFilesRequest;
    using C = lyraproto::Cloud;
    switch (type) {
    case R::DRIVER:
        return C::DRIVER;
    case R::TRIANGULATION:
        return C::TRIANGULATION;
    case R::PROBE:
        return C::PROBE;
    case R::LUMIDOT:
        return C::LUMIDOT;
    case R::TEMPLATE:
        return C::TEMPLATE;
    default:
        return std::nullopt;
    }
}

// The project as stored, with the image observations only when asked for.
void CopyProject(const ProjectStore& store, bool withImageObservations, lyraproto::ProjectReply* reply) {
    std::lock_guard lock(store.mutex);
    *reply->mutable_project() = store.project;
    if (!withImageObservations)
        for (auto& camera : *reply->mutable_project()->mutable_camera())
            for (auto& station : *camera.mutable_station())
                station.clear_point();
}

std::string Stem(const std::string& path) {
    return std::filesystem::path(path).stem().string();
}

} // namespace

lyraproto::BundleSummaryReply Summarize(const lyraproto::PhotogrammetryProject& project) {
    lyraproto::BundleSummaryReply summary;
    int pictures = 0;
    for (const auto& camera : project.camera()) {
        pictures += camera.station_size();
        for (const auto& station : camera.station()) {
            auto* eo = summary.add_eo_info();
            eo->set_camera_name(camera.label());
            eo->set_rms(station.resection_rms());
            for (double q : {1.0, 0.0, 0.0, 0.0})
                eo->add_quaternion(q);
        }
    }
    int points = 0;
    double lo[3] = {0, 0, 0}, hi[3] = {0, 0, 0};
    bool first = true;
    for (const auto& cloud : project.cloud()) {
        if (cloud.cloud_type() != lyraproto::Cloud::TRIANGULATION)
            continue;
        for (const auto& p : cloud.point()) {
            ++points;
            const double v[3] = {p.x(), p.y(), p.z()};
            for (int i = 0; i < 3; ++i) {
                lo[i] = first ? v[i] : std::min(lo[i], v[i]);
                hi[i] = first ? v[i] : std::max(hi[i], v[i]);
            }
            first = false;
        }
    }
    summary.set_total_picture_count(pictures);
    summary.set_total_point_count(points);
    summary.set_total_scalebar_count(project.scale_bars_size());
    summary.set_accepted_scalebar_count(project.scale_bars_size());
    summary.set_total_internal_triangulation_rms(0.0061);
    summary.set_total_rms_x(0.0042);
    summary.set_total_rms_y(0.0044);
    summary.set_total_rms_z(0.0079);
    summary.set_limiting_rms_x(0.0031);
    summary.set_limiting_rms_y(0.0033);
    summary.set_limiting_rms_z(0.0058);
    summary.set_residual_rms_x(0.00021);
    summary.set_residual_rms_y(0.00022);
    summary.set_residual_rms_xy(0.00030);
    summary.set_plan_quality_factor(0.62);
    summary.set_scalebar_rms(0.0018);
    summary.set_min_x(lo[0]);
    summary.set_max_x(hi[0]);
    summary.set_min_y(lo[1]);
    summary.set_max_y(hi[1]);
    summary.set_min_z(lo[2]);
    summary.set_max_z(hi[2]);
    summary.set_success(true);
    summary.set_time_stamp(
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
            .count());
    if (project.cloud_size() > 0)
        summary.set_cloud_name(project.cloud(0).label());
    summary.set_rigorous_scale(true);
    return summary;
}

Status ProjectServiceImpl::GetName(Ctx* ctx, const Empty*, StringValue* reply) {
    if (auto refused = Admit(gate_, "GetName", ctx))
        return *refused;
    std::lock_guard lock(store_.mutex);
    reply->set_value(store_.project.label());
    return Status::OK;
}

Status ProjectServiceImpl::GetProject(Ctx* ctx, const lyraproto::ProjectRequest* request,
                                      lyraproto::ProjectReply* reply) {
    if (auto refused = Admit(gate_, "GetProject", ctx))
        return *refused;
    CopyProject(store_, request->include_image_obs(), reply);
    return Status::OK;
}

Status ProjectServiceImpl::GetSProject(Ctx* ctx, const lyraproto::ProjectRequest* request,
                                       lyraproto::ProjectReply* reply) {
    if (auto refused = Admit(gate_, "GetSProject", ctx))
        return *refused;
    CopyProject(store_, request->include_image_obs(), reply);
    return Status::OK;
}

Status ProjectServiceImpl::GetCloud(Ctx* ctx, const lyraproto::CloudRequest* request,
                                    lyraproto::CloudReply* reply) {
    if (auto refused = Admit(gate_, "GetCloud", ctx))
        return *refused;
    std::lock_guard lock(store_.mutex);
    const auto* cloud = FindCloud(store_.project, request->name());
    if (cloud == nullptr)
        return NoCloud(request->name());
    *reply->mutable_cloud() = *cloud;
    return Status::OK;
}

Status ProjectServiceImpl::RemoveCloud(Ctx* ctx, const lyraproto::CloudRequest* request,
                                       lyraproto::CloudReply* reply) {
    if (auto refused = Admit(gate_, "RemoveCloud", ctx))
        return *refused;
    std::lock_guard lock(store_.mutex);
    auto* clouds = store_.project.mutable_cloud();
    for (int i = 0; i < clouds->size(); ++i) {
        if (clouds->Get(i).label() == request->name()) {
            reply->mutable_cloud()->Swap(clouds->Mutable(i));
            clouds->erase(clouds->begin() + i);
            return Status::OK;
        }
    }
    return NoCloud(request->name());
}

Status ProjectServiceImpl::RenameCloud(Ctx* ctx, const lyraproto::CloudRenameRequest* request, Empty*) {
    if (auto refused = Admit(gate_, "RenameCloud", ctx))
        return *refused;
    std::lock_guard lock(store_.mutex);
    auto* cloud = FindCloud(store_.project, request->oldcloudname());
    if (cloud == nullptr)
        return NoCloud(request->oldcloudname());
    if (request->newcloudname().empty())
        return Status(Code::INVALID_ARGUMENT, "a 3D file needs a name");
    if (request->newcloudname() != request->oldcloudname() &&
        FindCloud(store_.project, request->newcloudname()))
        return Status(Code::ALREADY_EXISTS, "a 3D file named \"" + request->newcloudname() + "\" exists");
    cloud->set_label(request->newcloudname());
    return Status::OK;
}

Status ProjectServiceImpl::SetCloud(Ctx* ctx, const lyraproto::CloudSendRequest* request,
                                    lyraproto::CloudSendReply* reply) {
    if (auto refused = Admit(gate_, "SetCloud", ctx))
        return *refused;
    std::lock_guard lock(store_.mutex);
    const std::string& label = request->cloud().label();
    if (label.empty())
        return Status(Code::INVALID_ARGUMENT, "a 3D file needs a name");
    auto* existing = FindCloud(store_.project, label);
    if (request->type() == lyraproto::CloudSendRequest::CLEAR) {
        if (existing != nullptr)
            existing->clear_point();
    } else if (existing != nullptr) {
        *existing = request->cloud();
    } else {
        *store_.project.add_cloud() = request->cloud();
    }
    reply->set_name(label);
    return Status::OK;
}

Status ProjectServiceImpl::SaveProject(Ctx* ctx, const Empty*, Empty*) {
    if (auto refused = Admit(gate_, "SaveProject", ctx))
        return *refused;
    return Status::OK;
}

Status ProjectServiceImpl::CloseProject(Ctx* ctx, const Empty*, Empty*) {
    if (auto refused = Admit(gate_, "CloseProject", ctx))
        return *refused;
    std::lock_guard lock(store_.mutex);
    store_.project.Clear();
    store_.driverCloud.clear();
    store_.probeCloud.clear();
    store_.lastSummary.reset();
    return Status::OK;
}

Status ProjectServiceImpl::OpenProject(Ctx* ctx, const lyraproto::OpenProjectRequest* request,
                                       lyraproto::OpenProjectReply* reply) {
    if (auto refused = Admit(gate_, "OpenProject", ctx))
        return *refused;
    if (request->full_path_name().empty()) {
        reply->set_success(false);
        return Status::OK;
    }
    // The simulator has no project files: it opens a generated project under the file's name.
    std::lock_guard lock(store_.mutex);
    store_.project = GenerateProject(seed_);
    store_.project.set_label(Stem(request->full_path_name()));
    store_.driverCloud.clear();
    store_.probeCloud.clear();
    store_.lastSummary.reset();
    reply->set_success(true);
    reply->set_has_synced_images(false);
    return Status::OK;
}

Status ProjectServiceImpl::NewProject(Ctx* ctx, const lyraproto::NewProjectRequest* request,
                                      lyraproto::NewProjectReply* reply) {
    if (auto refused = Admit(gate_, "NewProject", ctx))
        return *refused;
    if (request->full_path_name().empty()) {
        reply->set_success(false);
        return Status::OK;
    }
    std::lock_guard lock(store_.mutex);
    store_.project.Clear();
    store_.project.set_label(Stem(request->full_path_name()));
    store_.driverCloud.clear();
    store_.probeCloud.clear();
    store_.lastSummary.reset();
    reply->set_success(true);
    return Status::OK;
}

Status ProjectServiceImpl::SetImagePath(Ctx* ctx, const lyraproto::PathRequest*, Empty*) {
    if (auto refused = Admit(gate_, "SetImagePath", ctx))
        return *refused;
    return Status::OK;
}

Status ProjectServiceImpl::DeleteAllImages(Ctx* ctx, const Empty*, Empty*) {
    if (auto refused = Admit(gate_, "DeleteAllImages", ctx))
        return *refused;
    return Status::OK;
}

Status ProjectServiceImpl::MModeSetup(Ctx* ctx, const lyraproto::MModeSetupRequest*, Empty*) {
    if (auto refused = Admit(gate_, "MModeSetup", ctx))
        return *refused;
    return Status::OK;
}

Status ProjectServiceImpl::AutoMeasure(Ctx* ctx, const lyraproto::AutoMeasureRequest*,
                                       lyraproto::BundleSummaryReply* reply) {
    if (!gate_.Enter("AutoMeasure", ctx))
        return Status(Code::CANCELLED, "AutoMeasure was abandoned");
    // A failing run is reported the way the photogrammetry system reports it: in the summary.
    if (gate_.Failing("AutoMeasure")) {
        reply->set_success(false);
        reply->set_warning_message("AutoMeasure failed (simulated failure)");
        return Status::OK;
    }
    std::lock_guard lock(store_.mutex);
    *reply = Summarize(store_.project);
    store_.lastSummary = *reply;
    return Status::OK;
}

Status ProjectServiceImpl::GetDriverCloudName(Ctx* ctx, const Empty*, StringValue* reply) {
    if (auto refused = Admit(gate_, "GetDriverCloudName", ctx))
        return *refused;
    std::lock_guard lock(store_.mutex);
    if (!store_.driverCloud.empty()) {
        reply->set_value(store_.driverCloud);
        return Status::OK;
    }
    for (const auto& cloud : store_.project.cloud())
        if (cloud.cloud_type() == lyraproto::Cloud::DRIVER) {
            reply->set_value(cloud.label());
            break;
        }
    return Status::OK;
}

Status ProjectServiceImpl::SetDriver(Ctx* ctx, const StringValue* request, Empty*) {
    if (auto refused = Admit(gate_, "SetDriver", ctx))
        return *refused;
    std::lock_guard lock(store_.mutex);
    if (FindCloud(store_.project, request->value()) == nullptr)
        return NoCloud(request->value());
    store_.driverCloud = request->value();
    return Status::OK;
}

Status ProjectServiceImpl::SetTrackable(Ctx* ctx, const lyraproto::SetTrackableRequest* request,
                                        lyraproto::SetTrackableReply* reply) {
    if (auto refused = Admit(gate_, "SetTrackable", ctx))
        return *refused;
    std::lock_guard lock(store_.mutex);
    const bool known = FindCloud(store_.project, request->name()) != nullptr;
    reply->set_success(known);
    if (!known)
        reply->set_reason("no 3D file named \"" + request->name() + "\"");
    return Status::OK;
}

Status ProjectServiceImpl::GetProject3DFiles(Ctx* ctx, const lyraproto::Project3DFilesRequest* request,
                                             lyraproto::StringList* reply) {
    if (auto refused = Admit(gate_, "GetProject3DFiles", ctx))
        return *refused;
    const bool all = request->type() == lyraproto::Project3DFilesRequest::ALL;
    const auto wanted = StoredType(request->type());
    std::lock_guard lock(store_.mutex);
    for (const auto& cloud : store_.project.cloud())
        if (all || (wanted && cloud.cloud_type() == *wanted))
            reply->add_value(cloud.label());
    return Status::OK;
}

Status ProjectServiceImpl::GetProbeCloudName(Ctx* ctx, const Empty*, StringValue* reply) {
    if (auto refused = Admit(gate_, "GetProbeCloudName", ctx))
        return *refused;
    std::lock_guard lock(store_.mutex);
    if (!store_.probeCloud.empty()) {
        reply->set_value(store_.probeCloud);
        return Status::OK;
    }
    for (const auto& cloud : store_.project.cloud())
        if (cloud.cloud_type() == lyraproto::Cloud::PROBE) {
            reply->set_value(cloud.label());
            break;
        }
    return Status::OK;
}

Status ProjectServiceImpl::GetNextCloudFileName(Ctx* ctx, const StringValue* request, StringValue* reply) {
    if (auto refused = Admit(gate_, "GetNextCloudFileName", ctx))
        return *refused;
    std::lock_guard lock(store_.mutex);
    // The base name itself when it is free, else the base with the first free number.
    std::string base = request->value().empty() ? std::string("Cloud") : request->value();
    std::string candidate = base;
    for (int n = 1; FindCloud(store_.project, candidate) != nullptr; ++n)
        candidate = base + std::to_string(n);
    reply->set_value(candidate);
    return Status::OK;
}

Status ProjectServiceImpl::SetProbeCloud(Ctx* ctx, const StringValue* request, Empty*) {
    if (auto refused = Admit(gate_, "SetProbeCloud", ctx))
        return *refused;
    std::lock_guard lock(store_.mutex);
    if (FindCloud(store_.project, request->value()) == nullptr)
        return NoCloud(request->value());
    store_.probeCloud = request->value();
    return Status::OK;
}

Status ProjectServiceImpl::Add3DPoint(Ctx* ctx, const lyraproto::Add3DPointRequest* request, Empty*) {
    if (auto refused = Admit(gate_, "Add3DPoint", ctx))
        return *refused;
    std::lock_guard lock(store_.mutex);
    auto* cloud = FindCloud(store_.project, request->cloudname());
    if (cloud == nullptr)
        return NoCloud(request->cloudname());
    lyraproto::ObjectPoint* target = nullptr;
    for (auto& p : *cloud->mutable_point())
        if (p.label() == request->label())
            target = &p;
    if (target != nullptr && !request->overwrite())
        return Status(Code::ALREADY_EXISTS, "a point named \"" + request->label() + "\" exists");
    if (target == nullptr) {
        target = cloud->add_point();
        target->set_label(request->label());
    }
    target->set_x(request->x());
    target->set_y(request->y());
    target->set_z(request->z());
    return Status::OK;
}

Status ProjectServiceImpl::Remove3DPoint(Ctx* ctx, const lyraproto::Remove3DPointRequest* request, Empty*) {
    if (auto refused = Admit(gate_, "Remove3DPoint", ctx))
        return *refused;
    std::lock_guard lock(store_.mutex);
    auto* cloud = FindCloud(store_.project, request->cloudname());
    if (cloud == nullptr)
        return NoCloud(request->cloudname());
    auto* points = cloud->mutable_point();
    for (int i = 0; i < points->size(); ++i)
        if (points->Get(i).label() == request->pointlabel()) {
            points->erase(points->begin() + i);
            return Status::OK;
        }
    return Status(Code::NOT_FOUND, "no point named \"" + request->pointlabel() + "\"");
}

Status ProjectServiceImpl::LoadSystemCameras(Ctx* ctx, const lyraproto::LoadSystemCamerasRequest*,
                                             lyraproto::LoadSystemCamerasReply* reply) {
    if (auto refused = Admit(gate_, "LoadSystemCameras", ctx))
        return *refused;
    std::lock_guard lock(store_.mutex);
    for (const auto& camera : store_.project.camera()) {
        auto* c = reply->add_cameras();
        *c = camera;
        c->clear_station();
    }
    return Status::OK;
}

} // namespace orrinsim
