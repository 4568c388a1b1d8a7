#pragma once
// Geometry types of the host link. Lengths are inches.

#include "calder/Export.h"
#include "calder/ObjectModel.h"

#include <cstddef>
#include <vector>

class CALDER_API Vector {
public:
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;

    Vector() = default;
    Vector(double x_, double y_, double z_) : x(x_), y(y_), z(z_) {}
    double Length() const;
    bool operator==(const Vector&) const = default;
};

class CALDER_API VectorNamed {
public:
    CString name;
    Vector vector;

    VectorNamed() = default;
    VectorNamed(CString name_, const Vector& v) : name(std::move(name_)), vector(v) {}
};

class CALDER_API VectorNamedArray {
public:
    std::ptrdiff_t Add(const VectorNamed& v);
    std::ptrdiff_t GetSize() const { return static_cast<std::ptrdiff_t>(items_.size()); }
    const VectorNamed& GetAt(std::ptrdiff_t i) const { return items_.at(static_cast<std::size_t>(i)); }
    void RemoveAll() { items_.clear(); }

private:
    std::vector<VectorNamed> items_;
};

// Homogeneous 4x4 transform, row-major; translation in column 3. Starts as the identity.
class CALDER_API Transform {
public:
    double m[4][4] = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}};

    Transform() = default;
    Transform(const Transform&) = default;
    Transform& operator=(const Transform&) = default;

    // Sets the sixteen values in row order (m[0][0], m[0][1] ... m[3][3]).
    void Set(double m00, double m01, double m02, double m03, double m10, double m11, double m12, double m13,
             double m20, double m21, double m22, double m23, double m30, double m31, double m32, double m33);
    void Set(const double values[16]);

    // Writes the matrix to the library's debug log (one line per row).
    void Debug() const;
};

// How a measurement was probed: unset, from a direction vector, or from a probe transform.
class CALDER_API ProbingDirection {
public:
    enum class Kind { unset = 0, direction = 1, transform = 2 };

    void SetProbingDirection(const Vector& direction);
    void SetProbingTransform(const Transform& transform);

    Kind kind() const { return kind_; }
    const Vector& direction() const { return direction_; }
    const Transform& transform() const { return transform_; }

private:
    Kind kind_ = Kind::unset;
    Vector direction_;
    Transform transform_;
};

// A matrix of doubles, used as a column vector of auxiliary values.
class CALDER_API GenVec {
public:
    // Makes a rows x columns matrix of zeros; returns false (and stays empty) for a zero or
    // negative size.
    bool Create(int rows, int columns);
    int Rows() const { return rows_; }
    int Columns() const { return columns_; }
    double& operator()(int row, int column);
    double operator()(int row, int column) const;
    // Element i of a column vector (row i, column 0).
    double& operator[](int i) { return (*this)(i, 0); }
    const std::vector<double>& values() const { return values_; }

private:
    int rows_ = 0;
    int columns_ = 0;
    std::vector<double> values_;
};

// Brings `angle` (degrees) into [0, 360) in place. `flag` is reserved and must be 0. Returns
// nonzero on success, 0 when the angle is not finite (it is then left unchanged).
CALDER_API BOOL UnwrapAngle360(double& angle, int flag);
