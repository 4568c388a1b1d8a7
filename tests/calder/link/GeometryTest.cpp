// Geometry helpers: angle unwrapping, matrices, transforms and their debug output.

#include "calder/Geometry.h"

#include <spdlog/sinks/ringbuffer_sink.h>
#include <spdlog/spdlog.h>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace {

TEST(Geometry, UnwrapAngle360BringsFiniteAnglesIntoRange) {
    struct Case {
        double in;
        double out;
    };
    const std::vector<Case> cases = {
        {30.0, 30.0},   {0.0, 0.0},   {-0.0, 0.0},   {359.5, 359.5}, {360.0, 0.0},
        {-30.0, 330.0}, {720.5, 0.5}, {-720.0, 0.0}, {-1e-20, 0.0},  {1e6, 1e6 - 2777 * 360.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.in);
        double angle = c.in;
        EXPECT_NE(UnwrapAngle360(angle, 0), 0);
        EXPECT_DOUBLE_EQ(angle, c.out);
        EXPECT_GE(angle, 0.0);
        EXPECT_LT(angle, 360.0);
        EXPECT_FALSE(std::signbit(angle));
    }
}

TEST(Geometry, UnwrapAngle360LeavesNonFiniteAnglesAlone) {
    for (const double bad :
         {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
          -std::numeric_limits<double>::infinity()}) {
        double angle = bad;
        EXPECT_EQ(UnwrapAngle360(angle, 0), 0);
        if (std::isnan(bad))
            EXPECT_TRUE(std::isnan(angle));
        else
            EXPECT_EQ(angle, bad);
    }
}

TEST(Geometry, GenVecCreateMakesZeroColumnAndRefusesBadSizes) {
    GenVec v;
    ASSERT_TRUE(v.Create(3, 1));
    EXPECT_EQ(v.Rows(), 3);
    EXPECT_EQ(v.Columns(), 1);
    EXPECT_EQ(v.values(), std::vector<double>(3, 0.0));
    v[2] = 4.5;
    EXPECT_EQ(v(2, 0), 4.5);
    EXPECT_THROW(v(3, 0), std::out_of_range);
    EXPECT_THROW(v(0, 1), std::out_of_range);

    for (const auto& [rows, columns] : std::vector<std::pair<int, int>>{{0, 1}, {-1, 1}, {2, 0}, {2, -5}}) {
        GenVec bad;
        bad.Create(1, 1);
        EXPECT_FALSE(bad.Create(rows, columns));
        EXPECT_EQ(bad.Rows(), 0);
        EXPECT_TRUE(bad.values().empty());
    }
}

TEST(Geometry, TransformSetIsRowMajorAndAssignmentCopies) {
    Transform t;
    EXPECT_EQ(t.m[0][0], 1.0);
    EXPECT_EQ(t.m[3][3], 1.0);
    EXPECT_EQ(t.m[0][3], 0.0);
    t.Set(1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16);
    EXPECT_EQ(t.m[0][3], 4.0);
    EXPECT_EQ(t.m[1][0], 5.0);
    EXPECT_EQ(t.m[3][2], 15.0);
    Transform u;
    u = t;
    t.m[0][0] = -1;
    EXPECT_EQ(u.m[0][0], 1.0);
    EXPECT_EQ(u.m[2][3], 12.0);
}

TEST(Geometry, TransformDebugWritesRowsToTheDefaultLogger) {
    auto sink = std::make_shared<spdlog::sinks::ringbuffer_sink_mt>(16);
    auto logger = std::make_shared<spdlog::logger>("geometry-test", sink);
    logger->set_level(spdlog::level::debug);
    auto previous = spdlog::default_logger();
    spdlog::set_default_logger(logger);

    Transform t;
    t.Set(1, 0, 0, 10.5, 0, 1, 0, -2, 0, 0, 1, 3, 0, 0, 0, 1);
    t.Debug();
    const auto lines = sink->last_formatted();
    spdlog::set_default_logger(previous);

    ASSERT_EQ(lines.size(), 4u);
    EXPECT_NE(lines[0].find("1.000000 0.000000 0.000000 10.500000"), std::string::npos) << lines[0];
    EXPECT_NE(lines[1].find("-2.000000"), std::string::npos) << lines[1];
    EXPECT_NE(lines[3].find("0.000000 0.000000 0.000000 1.000000"), std::string::npos) << lines[3];
}

TEST(Geometry, ProbingDirectionRemembersHowItWasSet) {
    ProbingDirection p;
    EXPECT_EQ(p.kind(), ProbingDirection::Kind::unset);
    p.SetProbingDirection(Vector(0, 0, 1));
    EXPECT_EQ(p.kind(), ProbingDirection::Kind::direction);
    EXPECT_EQ(p.direction(), Vector(0, 0, 1));
    Transform t;
    t.m[0][3] = 5;
    p.SetProbingTransform(t);
    EXPECT_EQ(p.kind(), ProbingDirection::Kind::transform);
    EXPECT_EQ(p.transform().m[0][3], 5.0);
}

} // namespace
