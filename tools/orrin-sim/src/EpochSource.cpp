#include "EpochSource.h"

namespace orrinsim {

EpochSource::EpochSource(std::vector<lyraproto::TriggerEpoch> given, std::uint64_t seed, std::size_t targets,
                         std::size_t lumidots)
    : given_(std::move(given)), generator_(seed, targets, lumidots) {}

lyraproto::TriggerEpoch EpochSource::Next() {
    std::lock_guard lock(mutex_);
    const std::uint64_t number = next_++;
    if (!given_.empty())
        return given_[static_cast<std::size_t>((number - 1) % given_.size())];
    return generator_.Make(number);
}

} // namespace orrinsim
