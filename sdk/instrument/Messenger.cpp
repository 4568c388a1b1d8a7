#include "Messenger.h"

#include <utility>

Messenger::Messenger() = default;
Messenger::~Messenger() = default;

void Messenger::CollectionGroupTargetNamesFromTarn(std::string, std::string, std::string) {}
bool Messenger::BeginMeasureMessageFromTarn() {
    return false;
}
bool Messenger::StopMeasureMessageFromTarn() {
    return false;
}
bool Messenger::BatchMeasPointsFromTarn(std::vector<std::string>, std::vector<std::string>,
                                        std::vector<std::string>, std::vector<Tarnvector>) {
    return false;
}
bool Messenger::OpCheckCommandFromTarn(std::string) {
    return false;
}
