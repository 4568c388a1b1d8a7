#include "EpochSource.h"

namespace orrinsim {

EpochSource::EpochSource(std::vector<lyraproto::TriggerEpoch> given, std::uint64_t seed, std::size_t targets,
                         std::size_t lumidots)
    : generator_(seed, targets, lumidots) {
    for (auto& epoch : given) {
        auto event = std::make_shared<orrinclient::CaptureEvent>();
        event->mutable_epoch()->Swap(&epoch);
        given_.push_back(std::move(event));
    }
}

lyraproto::TriggerEpoch EpochSource::Next() {
    std::unique_lock lock(mutex_);
    const std::uint64_t number = next_++;
    if (!given_.empty()) {
        const auto event = given_[static_cast<std::size_t>((number - 1) % given_.size())];
        lock.unlock();
        return event->epoch();
    }
    return generator_.Make(number);
}

std::shared_ptr<const orrinclient::CaptureEvent> EpochSource::NextEvent() {
    std::unique_lock lock(mutex_);
    const std::uint64_t number = next_++;
    if (!given_.empty())
        return given_[static_cast<std::size_t>((number - 1) % given_.size())];
    auto event = std::make_shared<orrinclient::CaptureEvent>();
    *event->mutable_epoch() = generator_.Make(number);
    return event;
}

} // namespace orrinsim
