#include "SubServices.h"

#include <google/protobuf/empty.pb.h>
#include <google/protobuf/wrappers.pb.h>

namespace lyra::detail {

namespace {

// Runs one unary call on the current link with the given deadline. `call` receives the link and
// the prepared context and returns the status.
template <typename Call>
bool Invoke(LinkState& links, const char* operation, std::chrono::milliseconds deadline, Call&& call) {
    const auto link = links.current();
    if (!link) {
        links.recordError(operation, static_cast<int>(grpc::StatusCode::UNAVAILABLE),
                          "the service was not started");
        return false;
    }
    grpc::ClientContext context;
    LinkState::SetDeadline(context, deadline);
    const grpc::Status status = call(*link, context);
    if (!status.ok()) {
        links.recordError(operation, status);
        return false;
    }
    return true;
}

// A reply that says the operation failed although the call went through.
void RecordRefusal(LinkState& links, const char* operation, const std::string& reason) {
    links.recordError(operation, static_cast<int>(grpc::StatusCode::ABORTED),
                      reason.empty() ? std::string("the photogrammetry system reported a failure") : reason);
}

} // namespace

bool DataCaptureService::trigger(lyraproto::TriggerEpoch* epoch) {
    if (epoch == nullptr)
        return false;
    lyraproto::TriggerEpoch reply;
    if (!Invoke(links_, "Trigger", links_.options().triggerDeadline,
                [&](Link& link, grpc::ClientContext& context) {
                    return link.capture->Trigger(&context, google::protobuf::Empty(), &reply);
                }))
        return false;
    epoch->Swap(&reply);
    return true;
}

bool DataCaptureService::startContinuous() {
    google::protobuf::BoolValue reply;
    if (!Invoke(links_, "StartContinuous", links_.options().callDeadline,
                [&](Link& link, grpc::ClientContext& context) {
                    return link.capture->StartContinuous(&context, google::protobuf::Empty(), &reply);
                }))
        return false;
    if (!reply.value())
        RecordRefusal(links_, "StartContinuous", "continuous capture did not start");
    return reply.value();
}

bool DataCaptureService::stopContinuous() {
    google::protobuf::BoolValue reply;
    if (!Invoke(links_, "StopContinuous", links_.options().callDeadline,
                [&](Link& link, grpc::ClientContext& context) {
                    return link.capture->StopContinuous(&context, google::protobuf::Empty(), &reply);
                }))
        return false;
    if (!reply.value())
        RecordRefusal(links_, "StopContinuous", "continuous capture did not stop");
    return reply.value();
}

bool DataCaptureService::isContinuousRunning() const {
    google::protobuf::BoolValue reply;
    if (!Invoke(links_, "IsContinuousRunning", links_.options().callDeadline,
                [&](Link& link, grpc::ClientContext& context) {
                    return link.capture->IsContinuousRunning(&context, google::protobuf::Empty(), &reply);
                }))
        return false;
    return reply.value();
}

bool ProjectService::getProject(lyraproto::PhotogrammetryProject* project) {
    if (project == nullptr)
        return false;
    lyraproto::ProjectRequest request;
    request.set_include_image_obs(false);
    lyraproto::ProjectReply reply;
    if (!Invoke(links_, "GetProject", links_.options().callDeadline,
                [&](Link& link, grpc::ClientContext& context) {
                    return link.project->GetProject(&context, request, &reply);
                }))
        return false;
    project->Swap(reply.mutable_project());
    return true;
}

std::string ProjectService::getName() {
    google::protobuf::StringValue reply;
    if (!Invoke(links_, "GetName", links_.options().callDeadline,
                [&](Link& link, grpc::ClientContext& context) {
                    return link.project->GetName(&context, google::protobuf::Empty(), &reply);
                }))
        return {};
    return reply.value();
}

bool ProjectService::getProject3DFiles(std::vector<std::string>& files) {
    files.clear();
    lyraproto::Project3DFilesRequest request;
    request.set_type(lyraproto::Project3DFilesRequest::ALL);
    lyraproto::StringList reply;
    if (!Invoke(links_, "GetProject3DFiles", links_.options().callDeadline,
                [&](Link& link, grpc::ClientContext& context) {
                    return link.project->GetProject3DFiles(&context, request, &reply);
                }))
        return false;
    files.assign(reply.value().begin(), reply.value().end());
    return true;
}

bool ProjectService::getCloud(const std::string& name, lyraproto::Cloud* cloud) {
    if (cloud == nullptr)
        return false;
    lyraproto::CloudRequest request;
    request.set_name(name);
    lyraproto::CloudReply reply;
    if (!Invoke(links_, "GetCloud", links_.options().callDeadline,
                [&](Link& link, grpc::ClientContext& context) {
                    return link.project->GetCloud(&context, request, &reply);
                }))
        return false;
    cloud->Swap(reply.mutable_cloud());
    return true;
}

bool ProjectService::runBundle() {
    lyraproto::BundleRunRequest request;
    request.mutable_start()->set_value(true);
    request.mutable_accept()->set_value(true);
    request.mutable_initial_bundle()->set_value(false);
    request.mutable_hide_warnings()->set_value(true);
    lyraproto::BundleSummaryReply reply;
    if (!Invoke(links_, "Run", links_.options().longDeadline, [&](Link& link, grpc::ClientContext& context) {
            return link.bundle->Run(&context, request, &reply);
        }))
        return false;
    if (!reply.success())
        RecordRefusal(links_, "Run", reply.warning_message());
    return reply.success();
}

bool ProjectService::autoMeasure() {
    // One unattended run from start to end, without dialogs on the photogrammetry system.
    lyraproto::AutoMeasureRequest request;
    request.set_begin(true);
    request.set_continue_(true);
    request.set_close(true);
    request.set_attended_mode(false);
    request.set_find_new_points(true);
    request.set_solve_picture_stations(true);
    request.set_show_pictures(false);
    request.set_hide_bundle_warnings(true);
    request.set_hide_dialogs(true);
    lyraproto::BundleSummaryReply reply;
    if (!Invoke(links_, "AutoMeasure", links_.options().longDeadline,
                [&](Link& link, grpc::ClientContext& context) {
                    return link.project->AutoMeasure(&context, request, &reply);
                }))
        return false;
    if (!reply.success())
        RecordRefusal(links_, "AutoMeasure", reply.warning_message());
    return reply.success();
}

bool SettingsService::setUpdateGui(bool update) {
    google::protobuf::BoolValue request;
    request.set_value(update);
    google::protobuf::Empty reply;
    return Invoke(links_, "SetUpdateGui", links_.options().callDeadline,
                  [&](Link& link, grpc::ClientContext& context) {
                      return link.capture->SetUpdateGui(&context, request, &reply);
                  });
}

} // namespace lyra::detail
