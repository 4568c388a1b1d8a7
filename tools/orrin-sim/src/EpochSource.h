#pragma once
// The one sequence of epochs that trigger and continuous capture take from, in order: the given
// epochs (unchanged, starting over when used up) or generated ones.

#include "Scene.h"

#include "OrrinCapture.pb.h"

#include <memory>
#include <mutex>

namespace orrinsim {

class EpochSource {
public:
    EpochSource(std::vector<lyraproto::TriggerEpoch> given, std::uint64_t seed, std::size_t targets,
                std::size_t lumidots);
    // The next epoch, for a trigger reply.
    lyraproto::TriggerEpoch Next();
    // The next epoch as a stream event, shared by every subscriber it is queued for. Given
    // epochs are wrapped once, so streaming them copies nothing.
    std::shared_ptr<const orrinclient::CaptureEvent> NextEvent();

private:
    std::mutex mutex_;
    std::vector<std::shared_ptr<const orrinclient::CaptureEvent>> given_;
    EpochGenerator generator_;
    std::uint64_t next_ = 1;
};

} // namespace orrinsim
