// Geometry types of the host link.

#include "calder/Geometry.h"

#include <spdlog/spdlog.h>

#include <cmath>
#include <limits>
#include <stdexcept>

double Vector::Length() const {
    return std::sqrt(x * x + y * y + z * z);
}

std::ptrdiff_t VectorNamedArray::Add(const VectorNamed& v) {
    items_.push_back(v);
    return static_cast<std::ptrdiff_t>(items_.size()) - 1;
}

void Transform::Set(double m00, double m01, double m02, double m03, double m10, double m11, double m12,
                    double m13, double m20, double m21, double m22, double m23, double m30, double m31,
                    double m32, double m33) {
    const double values[16] = {m00, m01, m02, m03, m10, m11, m12, m13,
                               m20, m21, m22, m23, m30, m31, m32, m33};
    Set(values);
}

void Transform::Set(const double values[16]) {
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            m[r][c] = values[r * 4 + c];
}

void Transform::Debug() const {
    auto logger = spdlog::default_logger();
    if (!logger || !logger->should_log(spdlog::level::debug))
        return;
    for (int r = 0; r < 4; ++r)
        logger->debug("Transform row {}: {:.6f} {:.6f} {:.6f} {:.6f}", r, m[r][0], m[r][1], m[r][2], m[r][3]);
}

void ProbingDirection::SetProbingDirection(const Vector& direction) {
    kind_ = Kind::direction;
    direction_ = direction;
}

void ProbingDirection::SetProbingTransform(const Transform& transform) {
    kind_ = Kind::transform;
    transform_ = transform;
}

bool GenVec::Create(int rows, int columns) {
    rows_ = 0;
    columns_ = 0;
    values_.clear();
    if (rows <= 0 || columns <= 0)
        return false;
    const std::size_t count = static_cast<std::size_t>(rows) * static_cast<std::size_t>(columns);
    values_.assign(count, 0.0);
    rows_ = rows;
    columns_ = columns;
    return true;
}

double& GenVec::operator()(int row, int column) {
    if (row < 0 || row >= rows_ || column < 0 || column >= columns_)
        throw std::out_of_range("GenVec: index out of range");
    return values_[static_cast<std::size_t>(row) * static_cast<std::size_t>(columns_) +
                   static_cast<std::size_t>(column)];
}

double GenVec::operator()(int row, int column) const {
    if (row < 0 || row >= rows_ || column < 0 || column >= columns_)
        throw std::out_of_range("GenVec: index out of range");
    return values_[static_cast<std::size_t>(row) * static_cast<std::size_t>(columns_) +
                   static_cast<std::size_t>(column)];
}

BOOL UnwrapAngle360(double& angle, int /*flag: reserved*/) {
    if (!std::isfinite(angle))
        return FALSE;
    double a = std::fmod(angle, 360.0);
    if (a < 0.0)
        a += 360.0;
    // A tiny negative angle rounds up to exactly 360 above; -0 becomes +0.
    if (a >= 360.0)
        a = 0.0;
    angle = a + 0.0;
    return TRUE;
}
