// Value types and transforms built from an origin and fixed-axis angles.

#include "SdkTestSupport.h"
#include "TestApplication.h"
#include "TestEnvironment.h"

#include "Messenger.h"
#include "TarnInstrument.h"
#include "TarnTypes.h"

#include <gtest/gtest.h>

#include <ostream>

#include <array>
#include <cmath>
#include <memory>
#include <numbers>
#include <type_traits>
#include <utility>

namespace {

using Matrix = std::array<std::array<double, 4>, 4>;

static_assert(std::is_trivially_copyable_v<Tarnvector>);
static_assert(std::is_trivially_copyable_v<Tarnxform>);
static_assert(std::is_aggregate_v<Tarnvector>);
static_assert(std::is_aggregate_v<Tarnxform>);
static_assert(sizeof(Tarnvector) == 3 * sizeof(double));
static_assert(sizeof(Tarnxform) == 16 * sizeof(double));
static_assert(!std::is_copy_constructible_v<TarnInstrument>);
static_assert(!std::is_move_constructible_v<TarnInstrument>);

Matrix Multiply(const Matrix& a, const Matrix& b) {
    Matrix r{};
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            for (int k = 0; k < 4; ++k)
                r[i][j] += a[i][k] * b[k][j];
    return r;
}

// Elementary rotations about the fixed axes, built independently of the SDK.
Matrix Rx(double deg) {
    const double a = deg * std::numbers::pi / 180.0;
    return {
        {{1, 0, 0, 0}, {0, std::cos(a), -std::sin(a), 0}, {0, std::sin(a), std::cos(a), 0}, {0, 0, 0, 1}}};
}
Matrix Ry(double deg) {
    const double a = deg * std::numbers::pi / 180.0;
    return {
        {{std::cos(a), 0, std::sin(a), 0}, {0, 1, 0, 0}, {-std::sin(a), 0, std::cos(a), 0}, {0, 0, 0, 1}}};
}
Matrix Rz(double deg) {
    const double a = deg * std::numbers::pi / 180.0;
    return {
        {{std::cos(a), -std::sin(a), 0, 0}, {std::sin(a), std::cos(a), 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}};
}

struct RotationCase {
    const char* label;
    Tarnvector origin;
    Tarnvector angles;
    int unit;
    // Rows 0 to 2 of the rotation, and the translation expected in inches.
    std::array<std::array<double, 3>, 3> rotation;
    std::array<double, 3> translation;
};

void PrintTo(const RotationCase& c, std::ostream* os) {
    *os << c.label;
}

class TransformFromAngles : public ::testing::TestWithParam<RotationCase> {};

TEST_P(TransformFromAngles, BuildsRotationAndTranslationInInches) {
    testsupport::EnsureApplication();
    const RotationCase& c = GetParam();
    TarnInstrument instrument(*new Messenger);
    ASSERT_TRUE(instrument.SetDistUnit(c.unit));
    const Tarnxform t = instrument.SetFromOriginAndFixedRxyzDegrees(c.origin, c.angles);
    for (int r = 0; r < 3; ++r) {
        for (int col = 0; col < 3; ++col)
            EXPECT_NEAR(t.m[r][col], c.rotation[r][col], 1e-15) << "m[" << r << "][" << col << "]";
        EXPECT_DOUBLE_EQ(t.m[r][3], c.translation[r]) << "translation " << r;
    }
    // Row 3 is exact.
    EXPECT_EQ(t.m[3][0], 0.0);
    EXPECT_EQ(t.m[3][1], 0.0);
    EXPECT_EQ(t.m[3][2], 0.0);
    EXPECT_EQ(t.m[3][3], 1.0);
}

constexpr double kMm = 0.03937007874015748;

INSTANTIATE_TEST_SUITE_P(
    Table, TransformFromAngles,
    ::testing::Values(
        RotationCase{
            "identityInches", {1, 2, 3}, {0, 0, 0}, 1, {{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}}, {1, 2, 3}},
        RotationCase{"identityMillimetres",
                     {1, 2, 3},
                     {0, 0, 0},
                     4,
                     {{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}},
                     {1 * kMm, 2 * kMm, 3 * kMm}},
        RotationCase{"feet", {1, 0, -2}, {0, 0, 0}, 0, {{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}}, {12, 0, -24}},
        RotationCase{"aboutX90", {0, 0, 0}, {90, 0, 0}, 1, {{{1, 0, 0}, {0, 0, -1}, {0, 1, 0}}}, {0, 0, 0}},
        RotationCase{"aboutZ90", {0, 0, 0}, {0, 0, 90}, 1, {{{0, -1, 0}, {1, 0, 0}, {0, 0, 1}}}, {0, 0, 0}},
        // The X axis (column 0) goes onto -Z.
        RotationCase{"aboutY90", {0, 0, 0}, {0, 90, 0}, 1, {{{0, 0, 1}, {0, 1, 0}, {-1, 0, 0}}}, {0, 0, 0}},
        RotationCase{"metres",
                     {1, 1, 1},
                     {0, 0, 0},
                     2,
                     {{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}},
                     {39.37007874015748, 39.37007874015748, 39.37007874015748}}),
    [](const ::testing::TestParamInfo<RotationCase>& param) { return std::string(param.param.label); });

TEST(TransformFromAngles, EqualsFixedAxisProductXThenYThenZ) {
    testsupport::EnsureApplication();
    TarnInstrument instrument(*new Messenger);
    const Tarnvector cases[] = {{30, 45, 60}, {-170, 10, 400}, {12.5, -89.9, 0.1}, {720, -360, 1e-9}};
    for (const Tarnvector& angles : cases) {
        const Tarnxform t = instrument.SetFromOriginAndFixedRxyzDegrees({0, 0, 0}, angles);
        const Matrix expected = Multiply(Rz(angles.z), Multiply(Ry(angles.y), Rx(angles.x)));
        for (int r = 0; r < 4; ++r)
            for (int c = 0; c < 4; ++c)
                EXPECT_NEAR(t.m[r][c], expected[r][c], 1e-12)
                    << "angles " << angles.x << "," << angles.y << "," << angles.z << " m[" << r << "][" << c
                    << "]";
    }
}

TEST(TransformFromAngles, LaterUnitChangeLeavesBuiltTransform) {
    testsupport::EnsureApplication();
    TarnInstrument instrument(*new Messenger);
    instrument.SetDistUnit(3);
    const Tarnxform t = instrument.SetFromOriginAndFixedRxyzDegrees({1, 0, 0}, {0, 0, 0});
    instrument.SetDistUnit(0);
    EXPECT_DOUBLE_EQ(t.m[0][3], 0.3937007874015748);
}

TEST(PlainValues, AssignmentsCopyAndLeaveSource) {
    Tarnvector a{1, 2, 3};
    Tarnvector b;
    EXPECT_EQ(b.x, 0.0);
    b = std::move(a);
    EXPECT_EQ(b.x, 1.0);
    EXPECT_EQ(b.z, 3.0);
    EXPECT_EQ(a.y, 2.0); // source unchanged

    Tarnxform identity;
    EXPECT_EQ(identity.m[0][0], 1.0);
    EXPECT_EQ(identity.m[0][3], 0.0);
    Tarnxform x{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}; // row order
    EXPECT_EQ(x.m[1][0], 5.0);
    EXPECT_EQ(x.m[3][3], 16.0);
    Tarnxform y;
    y = std::move(x);
    EXPECT_EQ(y.m[2][3], 12.0);
    EXPECT_EQ(x.m[2][3], 12.0);
}

Tarnxform Translation(double tx) {
    Tarnxform t;
    t.m[0][3] = tx;
    return t;
}

TEST(ScanStripe, CopiesAndMoves) {
    TarnScanStripe empty;
    EXPECT_TRUE(empty.points.empty());

    TarnScanStripe source;
    source.points = {{1, 0, 0}, {2, 0, 0}};
    source.transform = Translation(7);

    TarnScanStripe copy(source);
    EXPECT_EQ(copy.points.size(), 2u);
    EXPECT_EQ(copy.transform.m[0][3], 7.0);
    EXPECT_EQ(source.points.size(), 2u);

    const Tarnvector* storage = source.points.data();
    TarnScanStripe moved(std::move(source));
    EXPECT_EQ(moved.points.data(), storage); // storage taken over, not copied
    EXPECT_TRUE(source.points.empty());
    EXPECT_EQ(source.transform.m[0][3], 7.0); // the source keeps its transform
    EXPECT_EQ(moved.transform.m[0][3], 7.0);

    TarnScanStripe target;
    target.points.reserve(10);
    const Tarnvector* targetStorage = target.points.data();
    target = moved; // large enough: the storage is reused
    EXPECT_EQ(target.points.data(), targetStorage);
    EXPECT_EQ(target.points.size(), 2u);
    EXPECT_EQ(target.points[1].x, 2.0);

    TarnScanStripe other;
    other.points = {{9, 9, 9}};
    other.transform = Translation(3);
    const Tarnvector* otherStorage = other.points.data();
    target = std::move(other);
    EXPECT_EQ(target.points.data(), otherStorage);
    EXPECT_EQ(target.points.size(), 1u);
    EXPECT_TRUE(other.points.empty());
    EXPECT_EQ(other.transform.m[0][3], 3.0);
    EXPECT_EQ(target.transform.m[0][3], 3.0);
}

TEST(ScanStripe, SelfAssignmentKeepsEverything) {
    TarnScanStripe s;
    s.points = {{1, 2, 3}, {4, 5, 6}};
    s.transform = Translation(5);
    TarnScanStripe& alias = s;
    s = alias;
    EXPECT_EQ(s.points.size(), 2u);
    EXPECT_EQ(s.points[1].y, 5.0);
    EXPECT_EQ(s.transform.m[0][3], 5.0);
    s = std::move(alias);
    EXPECT_EQ(s.points.size(), 2u);
    EXPECT_EQ(s.transform.m[0][3], 5.0);
}

TEST(ScanStripe, ClearKeepsCapacityAndTransform) {
    TarnScanStripe s;
    s.points = {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}};
    s.transform = Translation(2);
    const auto capacity = s.points.capacity();
    s.Clear();
    EXPECT_TRUE(s.points.empty());
    EXPECT_EQ(s.points.capacity(), capacity);
    EXPECT_EQ(s.transform.m[0][3], 2.0);
}

// ---- Messenger defaults ----

class BeginOnly : public Messenger {
public:
    explicit BeginOnly(bool* destroyed) : destroyed_(destroyed) {}
    ~BeginOnly() override { *destroyed_ = true; }
    bool BeginMeasureMessageFromTarn() override { return true; }

private:
    bool* destroyed_;
};

TEST(MessengerDefaults, RefuseEverythingAndOverridesStayLocal) {
    Messenger plain;
    plain.CollectionGroupTargetNamesFromTarn("C", "G", "T");
    EXPECT_FALSE(plain.BeginMeasureMessageFromTarn());
    EXPECT_FALSE(plain.StopMeasureMessageFromTarn());
    EXPECT_FALSE(plain.BatchMeasPointsFromTarn({"a"}, {"b"}, {"c"}, {Tarnvector{1, 2, 3}}));
    EXPECT_FALSE(plain.OpCheckCommandFromTarn("check"));

    bool destroyed = false;
    std::unique_ptr<Messenger> derived = std::make_unique<BeginOnly>(&destroyed);
    EXPECT_TRUE(derived->BeginMeasureMessageFromTarn());
    EXPECT_FALSE(derived->StopMeasureMessageFromTarn());
    derived.reset(); // through the base
    EXPECT_TRUE(destroyed);
}

} // namespace
