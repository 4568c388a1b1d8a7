#include "Operations.h"

#include "orrinsim/Simulator.h"

#include <algorithm>
#include <cctype>

namespace orrinsim {

namespace {

const std::vector<std::string>& Table() {
    static const std::vector<std::string> names = {"Project.GetName",
                                                   "Project.GetProject",
                                                   "Project.GetSProject",
                                                   "Project.GetCloud",
                                                   "Project.RemoveCloud",
                                                   "Project.RenameCloud",
                                                   "Project.ImportCloud",
                                                   "Project.ImportScaleBar",
                                                   "Project.SetCloud",
                                                   "Project.OpenTemplate",
                                                   "Project.SaveProject",
                                                   "Project.CloseProject",
                                                   "Project.OpenProject",
                                                   "Project.NewProject",
                                                   "Project.SetImagePath",
                                                   "Project.DeleteAllImages",
                                                   "Project.MModeSetup",
                                                   "Project.AutoMeasure",
                                                   "Project.GetDriverCloudName",
                                                   "Project.SetDriver",
                                                   "Project.SetTrackable",
                                                   "Project.GetProject3DFiles",
                                                   "Project.GetProbeCloudName",
                                                   "Project.GetNextCloudFileName",
                                                   "Project.SetProbeCloud",
                                                   "Project.Add3DPoint",
                                                   "Project.Remove3DPoint",
                                                   "Project.LoadSystemCameras",
                                                   "Bundle.Setup",
                                                   "Bundle.Run",
                                                   "Bundle.GetSummary",
                                                   "Capture.Trigger",
                                                   "Capture.StartContinuous",
                                                   "Capture.StopContinuous",
                                                   "Capture.IsContinuousRunning",
                                                   "Capture.SetUpdateGui",
                                                   "Capture.Subscribe"};
    return names;
}

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

} // namespace

std::vector<std::string> OperationNames() {
    return Table();
}

std::optional<std::string> CanonicalOperation(const std::string& name) {
    const std::string wanted = Lower(name);
    for (const auto& full : Table()) {
        const std::string shortName = full.substr(full.find('.') + 1);
        if (wanted == Lower(full) || wanted == Lower(shortName))
            return shortName;
    }
    return std::nullopt;
}

OperationGate::OperationGate(const std::set<std::string>& failing) {
    for (const auto& name : failing)
        if (auto canonical = CanonicalOperation(name))
            failing_.insert(*canonical);
}

bool OperationGate::Enter(const std::string& operation, grpc::ServerContext* context) {
    std::unique_lock lock(mutex_);
    ++calls_[operation];
    changed_.notify_all();
    if (stalled_.count(operation) == 0)
        return !closed_;
    ++waiting_;
    changed_.notify_all();
    // The caller's deadline cancels the call on the server, which has no wake-up for that: look
    // again every few milliseconds.
    while (stalled_.count(operation) != 0 && !closed_ && !(context != nullptr && context->IsCancelled()))
        changed_.wait_for(lock, std::chrono::milliseconds(10));
    --waiting_;
    changed_.notify_all();
    return !closed_ && !(context != nullptr && context->IsCancelled());
}

bool OperationGate::Failing(const std::string& operation) const {
    std::lock_guard lock(mutex_);
    return failing_.count(operation) != 0;
}

grpc::Status OperationGate::Failure(const std::string& operation) {
    return grpc::Status(grpc::StatusCode::ABORTED, operation + " failed (simulated failure)");
}

void OperationGate::SetFailing(const std::string& operation, bool failing) {
    std::lock_guard lock(mutex_);
    if (failing)
        failing_.insert(operation);
    else
        failing_.erase(operation);
}

void OperationGate::SetStalled(const std::string& operation, bool stalled) {
    std::lock_guard lock(mutex_);
    if (stalled)
        stalled_.insert(operation);
    else
        stalled_.erase(operation);
    changed_.notify_all();
}

std::size_t OperationGate::Waiting() const {
    std::lock_guard lock(mutex_);
    return waiting_;
}

bool OperationGate::WaitForWaiting(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return waiting_ >= count; });
}

std::map<std::string, std::size_t> OperationGate::Calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
}

void OperationGate::Close() {
    std::lock_guard lock(mutex_);
    closed_ = true;
    changed_.notify_all();
}

std::optional<grpc::Status> Admit(OperationGate& gate, const std::string& operation,
                                  grpc::ServerContext* context) {
    if (!gate.Enter(operation, context))
        return grpc::Status(grpc::StatusCode::CANCELLED, operation + " was abandoned");
    if (gate.Failing(operation))
        return OperationGate::Failure(operation);
    return std::nullopt;
}

void OperationGate::Open() {
    std::lock_guard lock(mutex_);
    closed_ = false;
}

} // namespace orrinsim
