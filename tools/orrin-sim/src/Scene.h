#pragma once
// The generated photogrammetry scene: a project with cameras, stations, clouds of every kind and
// scale bars, and the epochs that trigger and continuous capture return. Deterministic for a
// seed (apart from the epochs' time stamps).

#include "Project.pb.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace orrinsim {

lyraproto::PhotogrammetryProject GenerateProject(std::uint64_t seed);

class EpochGenerator {
public:
    EpochGenerator(std::uint64_t seed, std::size_t targets, std::size_t lumidots);
    // Epoch number `number` (1, 2, ...): every fifth one is a tracking epoch (label
    // "TrackingEpoch"), the others are triangulation epochs ("TriangulationEpoch").
    lyraproto::TriggerEpoch Make(std::uint64_t number);

private:
    std::uint64_t seed_;
    std::size_t targets_;
    std::size_t lumidots_;
    // A few distinct epochs, generated once and reused with a new number, label and time.
    std::vector<lyraproto::TriggerEpoch> pool_;
};

} // namespace orrinsim
