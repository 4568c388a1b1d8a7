#pragma once
// Plain value types handed across the SDK's interface. Lengths are in the instrument's distance
// unit (TarnInstrument::SetDistUnit), angles in degrees. Field order and widths are part of the
// library's binary interface.

#include "TarnSdkExport.h"

#include <vector>

// Three doubles: a position, a direction, three sigmas or three angles, as the operation says.
// An aggregate: build it from its three values. Copy and move assignment both copy the three
// values; the source of a move is unchanged. Default-constructed components are zero.
class TARN_SDK_API Tarnvector {
public:
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
};

// Homogeneous 4x4 transform, row-major (m[row][column]); the upper-left 3x3 block is the rotation,
// column 3 of rows 0 to 2 the translation (a length). An aggregate: build it from its sixteen
// values in row order. Copy and move assignment both copy all sixteen values; the source of a
// move is unchanged. A default-constructed transform is the identity.
class TARN_SDK_API Tarnxform {
public:
    double m[4][4] = {{1.0, 0.0, 0.0, 0.0}, {0.0, 1.0, 0.0, 0.0}, {0.0, 0.0, 1.0, 0.0}, {0.0, 0.0, 0.0, 1.0}};
};

// The points of one scanner stripe, in scan order, with the scanner pose that belongs to it.
// Moves take over the point storage (the source is left with no points) but copy the transform
// (the source keeps its own).
class TARN_SDK_API TarnScanStripe {
public:
    TarnScanStripe();
    TarnScanStripe(const TarnScanStripe& other);
    TarnScanStripe(TarnScanStripe&& other) noexcept;
    ~TarnScanStripe();

    TarnScanStripe& operator=(const TarnScanStripe& other);
    TarnScanStripe& operator=(TarnScanStripe&& other) noexcept;

    // Removes every point; the capacity and the transform stay as they were.
    void Clear();

    std::vector<Tarnvector> points;
    Tarnxform transform;
};
