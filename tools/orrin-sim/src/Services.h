#pragma once
// The three gRPC services of the simulator over its shared state: the schema's Project and
// Bundle services and the client library's capture service. Every call passes the operation
// gate first (counting, stalls, simulated failures).

#include "CaptureHub.h"
#include "EpochSource.h"
#include "Operations.h"

#include "Bundle.grpc.pb.h"
#include "OrrinCapture.grpc.pb.h"
#include "Project.grpc.pb.h"

#include <atomic>
#include <mutex>
#include <optional>
#include <string>

namespace orrinsim {

// The open project and what the operations change in it.
struct ProjectStore {
    mutable std::mutex mutex;
    lyraproto::PhotogrammetryProject project;
    std::string driverCloud; // the driver and probe cloud names, as last set
    std::string probeCloud;
    std::optional<lyraproto::BundleSummaryReply> lastSummary;
};

class ProjectServiceImpl final : public lyraproto::Project::Service {
public:
    ProjectServiceImpl(ProjectStore& store, OperationGate& gate, std::uint64_t seed)
        : store_(store), gate_(gate), seed_(seed) {}

    using Ctx = grpc::ServerContext;
    using Empty = google::protobuf::Empty;
    using StringValue = google::protobuf::StringValue;

    grpc::Status GetName(Ctx*, const Empty*, StringValue*) override;
    grpc::Status GetProject(Ctx*, const lyraproto::ProjectRequest*, lyraproto::ProjectReply*) override;
    grpc::Status GetSProject(Ctx*, const lyraproto::ProjectRequest*, lyraproto::ProjectReply*) override;
    grpc::Status GetCloud(Ctx*, const lyraproto::CloudRequest*, lyraproto::CloudReply*) override;
    grpc::Status RemoveCloud(Ctx*, const lyraproto::CloudRequest*, lyraproto::CloudReply*) override;
    grpc::Status RenameCloud(Ctx*, const lyraproto::CloudRenameRequest*, Empty*) override;
    grpc::Status SetCloud(Ctx*, const lyraproto::CloudSendRequest*, lyraproto::CloudSendReply*) override;
    grpc::Status SaveProject(Ctx*, const Empty*, Empty*) override;
    grpc::Status CloseProject(Ctx*, const Empty*, Empty*) override;
    grpc::Status OpenProject(Ctx*, const lyraproto::OpenProjectRequest*,
                             lyraproto::OpenProjectReply*) override;
    grpc::Status NewProject(Ctx*, const lyraproto::NewProjectRequest*, lyraproto::NewProjectReply*) override;
    grpc::Status SetImagePath(Ctx*, const lyraproto::PathRequest*, Empty*) override;
    grpc::Status DeleteAllImages(Ctx*, const Empty*, Empty*) override;
    grpc::Status MModeSetup(Ctx*, const lyraproto::MModeSetupRequest*, Empty*) override;
    grpc::Status AutoMeasure(Ctx*, const lyraproto::AutoMeasureRequest*,
                             lyraproto::BundleSummaryReply*) override;
    grpc::Status GetDriverCloudName(Ctx*, const Empty*, StringValue*) override;
    grpc::Status SetDriver(Ctx*, const StringValue*, Empty*) override;
    grpc::Status SetTrackable(Ctx*, const lyraproto::SetTrackableRequest*,
                              lyraproto::SetTrackableReply*) override;
    grpc::Status GetProject3DFiles(Ctx*, const lyraproto::Project3DFilesRequest*,
                                   lyraproto::StringList*) override;
    grpc::Status GetProbeCloudName(Ctx*, const Empty*, StringValue*) override;
    grpc::Status GetNextCloudFileName(Ctx*, const StringValue*, StringValue*) override;
    grpc::Status SetProbeCloud(Ctx*, const StringValue*, Empty*) override;
    grpc::Status Add3DPoint(Ctx*, const lyraproto::Add3DPointRequest*, Empty*) override;
    grpc::Status Remove3DPoint(Ctx*, const lyraproto::Remove3DPointRequest*, Empty*) override;
    grpc::Status LoadSystemCameras(Ctx*, const lyraproto::LoadSystemCamerasRequest*,
                                   lyraproto::LoadSystemCamerasReply*) override;

private:
    ProjectStore& store_;
    OperationGate& gate_;
    std::uint64_t seed_;
};

class BundleServiceImpl final : public lyraproto::Bundle::Service {
public:
    BundleServiceImpl(ProjectStore& store, OperationGate& gate) : store_(store), gate_(gate) {}

    grpc::Status Setup(grpc::ServerContext*, const lyraproto::BundleSetupRequest*,
                       google::protobuf::Empty*) override;
    grpc::Status Run(grpc::ServerContext*, const lyraproto::BundleRunRequest*,
                     lyraproto::BundleSummaryReply*) override;
    grpc::Status GetSummary(grpc::ServerContext*, const lyraproto::BundleSummaryRequest*,
                            lyraproto::BundleSummaryReply*) override;

private:
    ProjectStore& store_;
    OperationGate& gate_;
};

class CaptureServiceImpl final : public orrinclient::Capture::Service {
public:
    CaptureServiceImpl(EpochSource& source, CaptureHub& hub, OperationGate& gate,
                       std::atomic<bool>& updateGui)
        : source_(source), hub_(hub), gate_(gate), updateGui_(updateGui) {}

    using Empty = google::protobuf::Empty;
    using BoolValue = google::protobuf::BoolValue;

    grpc::Status Trigger(grpc::ServerContext*, const Empty*, lyraproto::TriggerEpoch*) override;
    grpc::Status StartContinuous(grpc::ServerContext*, const Empty*, BoolValue*) override;
    grpc::Status StopContinuous(grpc::ServerContext*, const Empty*, BoolValue*) override;
    grpc::Status IsContinuousRunning(grpc::ServerContext*, const Empty*, BoolValue*) override;
    grpc::Status SetUpdateGui(grpc::ServerContext*, const BoolValue*, Empty*) override;
    grpc::Status Subscribe(grpc::ServerContext*, const orrinclient::SubscribeRequest*,
                           grpc::ServerWriter<orrinclient::CaptureEvent>*) override;

private:
    EpochSource& source_;
    CaptureHub& hub_;
    OperationGate& gate_;
    std::atomic<bool>& updateGui_;
};

// A bundle summary for the project as it stands (the simulator's bundle always converges).
lyraproto::BundleSummaryReply Summarize(const lyraproto::PhotogrammetryProject& project);

} // namespace orrinsim
