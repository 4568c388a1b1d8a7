#pragma once
// The one sequence of epochs that trigger and continuous capture take from, in order: the given
// epochs (unchanged, starting over when used up) or generated ones.

#include "Scene.h"

#include <mutex>

namespace orrinsim {

class EpochSource {
public:
    EpochSource(std::vector<lyraproto::TriggerEpoch> given, std::uint64_t seed, std::size_t targets,
                std::size_t lumidots);
    lyraproto::TriggerEpoch Next();

private:
    std::mutex mutex_;
    std::vector<lyraproto::TriggerEpoch> given_;
    EpochGenerator generator_;
    std::uint64_t next_ = 1;
};

} // namespace orrinsim
