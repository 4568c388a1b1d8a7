#include "Services.h"

namespace orrinsim {

grpc::Status CaptureServiceImpl::Trigger(grpc::ServerContext* ctx, const Empty*,
                                         lyraproto::TriggerEpoch* reply) {
    if (auto refused = Admit(gate_, "Trigger", ctx))
        return *refused;
    *reply = source_.Next();
    return grpc::Status::OK;
}

grpc::Status CaptureServiceImpl::StartContinuous(grpc::ServerContext* ctx, const Empty*, BoolValue* reply) {
    if (auto refused = Admit(gate_, "StartContinuous", ctx))
        return *refused;
    reply->set_value(hub_.Start());
    return grpc::Status::OK;
}

grpc::Status CaptureServiceImpl::StopContinuous(grpc::ServerContext* ctx, const Empty*, BoolValue* reply) {
    if (auto refused = Admit(gate_, "StopContinuous", ctx))
        return *refused;
    reply->set_value(hub_.Stop());
    return grpc::Status::OK;
}

grpc::Status CaptureServiceImpl::IsContinuousRunning(grpc::ServerContext* ctx, const Empty*,
                                                     BoolValue* reply) {
    if (auto refused = Admit(gate_, "IsContinuousRunning", ctx))
        return *refused;
    reply->set_value(hub_.Running());
    return grpc::Status::OK;
}

grpc::Status CaptureServiceImpl::SetUpdateGui(grpc::ServerContext* ctx, const BoolValue* request, Empty*) {
    if (auto refused = Admit(gate_, "SetUpdateGui", ctx))
        return *refused;
    updateGui_.store(request->value());
    return grpc::Status::OK;
}

grpc::Status CaptureServiceImpl::Subscribe(grpc::ServerContext* ctx, const orrinclient::SubscribeRequest*,
                                           grpc::ServerWriter<orrinclient::CaptureEvent>* writer) {
    if (auto refused = Admit(gate_, "Subscribe", ctx))
        return *refused;
    return hub_.Serve(ctx, writer);
}

} // namespace orrinsim
