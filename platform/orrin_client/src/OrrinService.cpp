#include "OrrinService.h"

#include "EventStream.h"
#include "Link.h"
#include "SubServices.h"

#include <mutex>

namespace lyra {

struct OrrinService::Impl {
    explicit Impl(const OrrinServiceOptions& options)
        : links(options), status([this] { return stream.connected(); }), capture(links), project(links),
          settings(links), stream(links, status, capture) {}

    detail::LinkState links;
    // The sub-services outlive the event stream (declared before it), which emits their signals.
    detail::ConnectionStatusService status;
    detail::DataCaptureService capture;
    detail::ProjectService project;
    detail::SettingsService settings;
    detail::EventStream stream;
    std::mutex startMutex; // one start or stop at a time
};

OrrinService::OrrinService() : OrrinService(OrrinServiceOptions{}) {}

OrrinService::OrrinService(const OrrinServiceOptions& options) : impl_(std::make_unique<Impl>(options)) {}

OrrinService::~OrrinService() {
    // Whoever is still subscribed is being torn down too: the end of the service is announced
    // to nobody (an explicit stop() does report the lost connection).
    impl_->status.connectionChanged.disconnect_all_slots();
    impl_->capture.epochCaptured.disconnect_all_slots();
    impl_->capture.continuousStopped.disconnect_all_slots();
    stop();
}

void OrrinService::start(const char* host, unsigned short port) {
    std::lock_guard lock(impl_->startMutex);
    impl_->links.replace(detail::MakeLink(host != nullptr ? host : "", port, impl_->links.options()));
    impl_->stream.restart();
}

void OrrinService::stop() {
    std::lock_guard lock(impl_->startMutex);
    impl_->stream.shutdown();
}

IOrrinConnectionStatusService* OrrinService::connectionStatusService() const {
    return &impl_->status;
}
const IOrrinDataCaptureService* OrrinService::dataCaptureService() const {
    return &impl_->capture;
}
IOrrinDataCaptureService* OrrinService::dataCaptureService() {
    return &impl_->capture;
}
IOrrinProjectService* OrrinService::projectService() const {
    return &impl_->project;
}
IOrrinSettingsService* OrrinService::orrinSettingsService() const {
    return &impl_->settings;
}

std::string OrrinService::address() const {
    const auto link = impl_->links.current();
    return link ? link->address : std::string();
}

CallError OrrinService::lastError() const {
    return impl_->links.lastError();
}

} // namespace lyra
