#pragma once
// Helpers shared by the senders and the host-packet handling: unit conversion between the
// instrument's distance unit and the host's inches, conversion into the base library's geometry
// types, and text widening/narrowing through the C locale (cut at the first zero).
//
// The factor is read afresh for every component, so a unit change on another thread during a
// call can give that call's components different factors; callers that change the unit while
// sending serialise the two themselves.

#include "TarnConnection.h"
#include "TarnTypes.h"

#include "calder/Geometry.h"
#include "calder/ObjectModel.h"
#include "framework/TextConversion.h"

#include <string>
#include <string_view>

namespace tarnsdk {

// A length in the instrument's unit, in inches.
inline double ToInches(const TarnConnection& c, double length) {
    return length * c.UnitFactor();
}

// Rewrites the three components in place, in inches.
inline void ToInchesInPlace(const TarnConnection& c, Tarnvector& v) {
    v.x *= c.UnitFactor();
    v.y *= c.UnitFactor();
    v.z *= c.UnitFactor();
}

// Rewrites the translation (column 3 of rows 0 to 2) in place, in inches; the rotation is
// unit-free.
inline void TranslationToInchesInPlace(const TarnConnection& c, Tarnxform& t) {
    t.m[0][3] *= c.UnitFactor();
    t.m[1][3] *= c.UnitFactor();
    t.m[2][3] *= c.UnitFactor();
}

// A position the host sent in inches, in the instrument's unit.
inline Tarnvector FromInches(const TarnConnection& c, const Vector& v) {
    Tarnvector out;
    out.x = v.x / c.UnitFactor();
    out.y = v.y / c.UnitFactor();
    out.z = v.z / c.UnitFactor();
    return out;
}

inline Vector ToVector(const Tarnvector& v) {
    return Vector(v.x, v.y, v.z);
}

// The sixteen values of `t`, in row order.
inline Transform ToTransform(const Tarnxform& t) {
    double values[16];
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            values[r * 4 + c] = t.m[r][c];
    Transform out;
    out.Set(values);
    return out;
}

// Narrow interface text -> the base library's wide text (cut at the first zero byte).
inline CString Widen(std::string_view narrow) {
    return framework::NarrowToWide(narrow);
}

// The base library's wide text -> narrow interface text (cut at the first zero).
inline std::string Narrow(const CString& wide) {
    return framework::WideToNarrow(wide);
}

} // namespace tarnsdk
