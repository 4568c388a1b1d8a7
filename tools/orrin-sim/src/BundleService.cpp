#include "Services.h"

namespace orrinsim {

grpc::Status BundleServiceImpl::Setup(grpc::ServerContext* ctx, const lyraproto::BundleSetupRequest*,
                                      google::protobuf::Empty*) {
    if (auto refused = Admit(gate_, "Setup", ctx))
        return *refused;
    return grpc::Status::OK;
}

grpc::Status BundleServiceImpl::Run(grpc::ServerContext* ctx, const lyraproto::BundleRunRequest*,
                                    lyraproto::BundleSummaryReply* reply) {
    if (!gate_.Enter("Run", ctx))
        return grpc::Status(grpc::StatusCode::CANCELLED, "Run was abandoned");
    // A failing bundle is reported the way the photogrammetry system reports it: in the summary.
    if (gate_.Failing("Run")) {
        reply->set_success(false);
        reply->set_warning_message("Bundle failed (simulated failure)");
        return grpc::Status::OK;
    }
    std::lock_guard lock(store_.mutex);
    *reply = Summarize(store_.project);
    store_.lastSummary = *reply;
    return grpc::Status::OK;
}

grpc::Status BundleServiceImpl::GetSummary(grpc::ServerContext* ctx, const lyraproto::BundleSummaryRequest*,
                                           lyraproto::BundleSummaryReply* reply) {
    if (auto refused = Admit(gate_, "GetSummary", ctx))
        return *refused;
    std::lock_guard lock(store_.mutex);
    if (!store_.lastSummary)
        return grpc::Status(grpc::StatusCode::FAILED_PRECONDITION, "no bundle has run yet");
    *reply = *store_.lastSummary;
    return grpc::Status::OK;
}

} // namespace orrinsim
