#include "TarnTypes.h"

#include <utility>

TarnScanStripe::TarnScanStripe() = default;

TarnScanStripe::TarnScanStripe(const TarnScanStripe& other)
    : points(other.points), transform(other.transform) {}

// The transform is copied, not moved: the source keeps its own.
TarnScanStripe::TarnScanStripe(TarnScanStripe&& other) noexcept
    : points(std::move(other.points)), transform(other.transform) {
    other.points.clear();
}

TarnScanStripe::~TarnScanStripe() = default;

TarnScanStripe& TarnScanStripe::operator=(const TarnScanStripe& other) {
    if (this != &other)
        points.assign(other.points.begin(), other.points.end()); // reuses the storage when large enough
    transform = other.transform;
    return *this;
}

TarnScanStripe& TarnScanStripe::operator=(TarnScanStripe&& other) noexcept {
    if (this != &other) {
        std::vector<Tarnvector> released;
        released.swap(points); // the own storage goes now, not when the source dies
        points.swap(other.points);
    }
    transform = other.transform;
    return *this;
}

void TarnScanStripe::Clear() {
    points.clear();
}
