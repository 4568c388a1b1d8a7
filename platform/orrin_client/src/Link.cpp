#include "Link.h"

#include <utility>

namespace lyra::detail {

std::shared_ptr<Link> MakeLink(const std::string& host, unsigned short port,
                               const OrrinServiceOptions& options) {
    auto link = std::make_shared<Link>();
    const bool ipv6 = host.find(':') != std::string::npos && host.front() != '[';
    link->address = (ipv6 ? "[" + host + "]" : host) + ":" + std::to_string(port);

    grpc::ChannelArguments args;
    args.SetMaxReceiveMessageSize(options.maxReceiveMessageBytes);
    // The channel's own reconnection must not lag behind the event stream's: without these it
    // waits up to two minutes before it tries a server that has come back. (The "minimum
    // reconnect backoff" is left alone: gRPC takes it as the time a connection attempt may
    // last, and a short one fails every server that is slow to accept.)
    const int first = static_cast<int>(options.firstReconnectDelay.count());
    const int cap = static_cast<int>(options.maxReconnectDelay.count());
    args.SetInt(GRPC_ARG_INITIAL_RECONNECT_BACKOFF_MS, first);
    args.SetInt(GRPC_ARG_MAX_RECONNECT_BACKOFF_MS, cap);
    // Each service object gets a channel of its own, never one shared with another service
    // object of the process that talks to the same address.
    args.SetInt(GRPC_ARG_USE_LOCAL_SUBCHANNEL_POOL, 1);

    link->channel = grpc::CreateCustomChannel(link->address, grpc::InsecureChannelCredentials(), args);
    link->project = lyraproto::Project::NewStub(link->channel);
    link->bundle = lyraproto::Bundle::NewStub(link->channel);
    link->capture = orrinclient::Capture::NewStub(link->channel);
    return link;
}

std::shared_ptr<Link> LinkState::current() const {
    std::lock_guard lock(mutex_);
    return link_;
}

void LinkState::replace(std::shared_ptr<Link> link) {
    std::lock_guard lock(mutex_);
    link_ = std::move(link);
}

void LinkState::SetDeadline(grpc::ClientContext& context, std::chrono::milliseconds timeout) {
    context.set_deadline(std::chrono::system_clock::now() + timeout);
}

void LinkState::recordError(const char* operation, const grpc::Status& status) {
    recordError(operation, static_cast<int>(status.error_code()), status.error_message());
}

void LinkState::recordError(const char* operation, int code, const std::string& message) {
    std::lock_guard lock(mutex_);
    lastError_ = CallError{operation, code, message};
}

CallError LinkState::lastError() const {
    std::lock_guard lock(mutex_);
    return lastError_;
}

} // namespace lyra::detail
