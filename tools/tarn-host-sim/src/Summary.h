#pragma once
// Counting what crossed the link, and the printed summary of it.

#include "tarnhostsim/HostSimulator.h"

#include <string>

namespace google::protobuf {
class Message;
}

namespace tarnhostsim {

// Adds one to the collection (group) count for every collectionName (groupName) field found in
// the packet, nested records included.
void CountNames(const google::protobuf::Message& packet, Tally& tally);

std::string FormatSummary(const Tally& tally);

} // namespace tarnhostsim
