#include <cmath>
#include <vector>

#include <gtest/gtest.h>

#include "support/Common.h"

using OrvixSDK::Common;

namespace {

using Poly = Common::CubicPoly;
using Vec = Common::Vec2D;

float derivative(const Poly& p, float t)
{
    return p.c1 + 2 * p.c2 * t + 3 * p.c3 * t * t;
}

void expectPoly(const Poly& p, float c0, float c1, float c2, float c3)
{
    EXPECT_FLOAT_EQ(p.c0, c0);
    EXPECT_FLOAT_EQ(p.c1, c1);
    EXPECT_FLOAT_EQ(p.c2, c2);
    EXPECT_FLOAT_EQ(p.c3, c3);
}

bool allFinite(const std::vector<float>& values)
{
    for (float v : values)
        if (!std::isfinite(v))
            return false;
    return true;
}

TEST(CommonCubic, HermiteMeetsEndValuesAndTangents)
{
    const float cases[][4] = {{0, 1, 0, 0}, {2, -3, 1.5f, -4}, {5, 5, 0, 0}, {-1, 7, 10, -10}};
    for (const auto& c : cases) {
        Poly p;
        Common::InitCubicPoly(c[0], c[1], c[2], c[3], p);
        EXPECT_FLOAT_EQ(p.eval(0), c[0]);
        EXPECT_NEAR(p.eval(1), c[1], 1e-5);
        EXPECT_FLOAT_EQ(derivative(p, 0), c[2]);
        EXPECT_NEAR(derivative(p, 1), c[3], 1e-5);
    }
}

TEST(CommonCubic, CatmullRomTangentsAreHalfTheNeighbourDifferences)
{
    Poly p;
    Common::InitCatmullRom(0, 1, 4, 9, p);
    EXPECT_FLOAT_EQ(p.eval(0), 1);
    EXPECT_FLOAT_EQ(p.eval(1), 4);
    EXPECT_FLOAT_EQ(derivative(p, 0), 2);   // (4 - 0) / 2
    EXPECT_FLOAT_EQ(derivative(p, 1), 4);   // (9 - 1) / 2
}

TEST(CommonCubic, NonuniformWithKnownIntervals)
{
    Poly p;
    // Tangents 1 and 1, scaled by dt1 = 2: the straight line 1 + 2t.
    Common::InitNonuniformCatmullRom(0, 1, 3, 4, 1, 2, 1, p);
    expectPoly(p, 1, 2, 0, 0);
    // t1 = 0 - 1/2 + 1 = 0.5, t2 = 1 - 1 + 1 = 1, dt1 = 1.
    Common::InitNonuniformCatmullRom(0, 0, 1, 3, 1, 1, 2, p);
    expectPoly(p, 0, 0.5f, 1, -0.5f);
}

TEST(CommonCubic, NonuniformWithEqualIntervalsIsUniform)
{
    const float values[][4] = {{0, 1, 4, 9}, {3, -2, 5, 5}, {1, 1, 1, 1}};
    for (const auto& v : values) {
        for (float dt : {0.5f, 1.0f, 3.0f}) {
            Poly uniform, nonuniform;
            Common::InitCatmullRom(v[0], v[1], v[2], v[3], uniform);
            Common::InitNonuniformCatmullRom(v[0], v[1], v[2], v[3], dt, dt, dt, nonuniform);
            EXPECT_NEAR(nonuniform.c0, uniform.c0, 1e-5);
            EXPECT_NEAR(nonuniform.c1, uniform.c1, 1e-5);
            EXPECT_NEAR(nonuniform.c2, uniform.c2, 1e-5);
            EXPECT_NEAR(nonuniform.c3, uniform.c3, 1e-5);
        }
    }
}

TEST(CommonCubic, VecDistSquared)
{
    EXPECT_FLOAT_EQ(Common::VecDistSquared({1, 2}, {4, 6}), 25);
    EXPECT_FLOAT_EQ(Common::VecDistSquared({-1, -1}, {-1, -1}), 0);
}

TEST(CommonCubic, CentripetalUsesSquareRootDistances)
{
    // Intervals sqrt(1), sqrt(4), sqrt(9) = 1, 2, 3 along x; y constant.
    Poly px, py;
    Common::InitCentripetalCR({0, 5}, {1, 5}, {5, 5}, {14, 5}, px, py);
    Poly expected;
    Common::InitNonuniformCatmullRom(0, 1, 5, 14, 1, 2, 3, expected);
    expectPoly(px, expected.c0, expected.c1, expected.c2, expected.c3);
    expectPoly(py, 5, 0, 0, 0);
}

TEST(CommonCubic, CentripetalReplacesZeroIntervals)
{
    Poly px, py;
    // p0 == p1: dt0 takes dt1 = 2 (dt2 = 2 too): tangents 1 and 2, times 2.
    Common::InitCentripetalCR({0, 0}, {0, 0}, {4, 0}, {8, 0}, px, py);
    expectPoly(px, 0, 2, 4, -2);

    // p1 == p2: dt1 becomes 1; the segment stays at the point, no NaN.
    Common::InitCentripetalCR({-1, 0}, {0, 0}, {0, 0}, {1, 0}, px, py);
    expectPoly(px, 0, 0.5f, -1.5f, 1);
    EXPECT_FLOAT_EQ(px.eval(1), 0);

    // All four points coincide: every interval is replaced.
    Common::InitCentripetalCR({3, 3}, {3, 3}, {3, 3}, {3, 3}, px, py);
    expectPoly(px, 3, 0, 0, 0);
    expectPoly(py, 3, 0, 0, 0);
}

TEST(CommonSpline, ZeroInsertedPointsCopiesThePolyline)
{
    const std::vector<float> points = {0, 0, 1, 2, 3, -1, 7, 7};
    std::vector<float> out = {42};
    Common::calcSpline(points, 0, out);
    EXPECT_EQ(out, points);
    Common::calcSpline(points, -3, out);   // negative counts as 0
    EXPECT_EQ(out, points);
}

TEST(CommonSpline, EquallySpacedCollinearPointsGiveMidpoints)
{
    const std::vector<float> points = {0, 0, 2, 1, 4, 2};
    std::vector<float> out;
    Common::calcSpline(points, 1, out);
    const std::vector<float> expected = {0, 0, 1, 0.5f, 2, 1, 3, 1.5f, 4, 2};
    ASSERT_EQ(out.size(), expected.size());
    for (size_t i = 0; i < out.size(); ++i)
        EXPECT_NEAR(out[i], expected[i], 1e-5) << "at " << i;
    EXPECT_EQ(points, (std::vector<float>{0, 0, 2, 1, 4, 2}));
}

TEST(CommonSpline, PassesThroughInputAndFollowsACircle)
{
    // Eight points 45 degrees apart on a circle of radius 10; the inner
    // segments of the spline must stay close to the circle.
    const int m = 8, n = 3;
    std::vector<float> points;
    for (int i = 0; i < m; ++i) {
        const double a = i * M_PI / 4;
        points.push_back(static_cast<float>(10 * std::cos(a)));
        points.push_back(static_cast<float>(10 * std::sin(a)));
    }
    std::vector<float> out;
    Common::calcSpline(points, n, out);
    ASSERT_EQ(out.size(), static_cast<size_t>(2 * (m + n * (m - 1))));
    for (int i = 0; i < m; ++i) {
        EXPECT_FLOAT_EQ(out[2 * i * (n + 1)], points[2 * i]);
        EXPECT_FLOAT_EQ(out[2 * i * (n + 1) + 1], points[2 * i + 1]);
    }
    for (int pair = n + 1; pair < (m - 2) * (n + 1); ++pair) {
        const float radius = std::hypot(out[2 * pair], out[2 * pair + 1]);
        EXPECT_NEAR(radius, 10.0f, 0.1f) << "pair " << pair;
    }
}

TEST(CommonSpline, CoincidentPointsGiveNoNaN)
{
    const std::vector<std::vector<float>> cases = {
        {1, 1, 1, 1},                   // two equal points
        {0, 0, 0, 0, 5, 5},             // repeated first point
        {0, 0, 5, 5, 5, 5, 9, 0},       // repeated inner point
        {0, 0, 3, 3, 3, 3},             // repeated last point
        {2, 2, 2, 2, 2, 2, 2, 2},       // all equal
    };
    for (const auto& points : cases) {
        std::vector<float> out;
        Common::calcSpline(points, 4, out);
        const size_t m = points.size() / 2;
        EXPECT_EQ(out.size(), 2 * (m + 4 * (m - 1)));
        EXPECT_TRUE(allFinite(out));
    }
    std::vector<float> out;
    Common::calcSpline({1, 1, 1, 1}, 2, out);
    EXPECT_EQ(out, std::vector<float>(8, 1.0f));
}

TEST(CommonSpline, ShortAndOddInputs)
{
    std::vector<float> out = {9, 9};
    Common::calcSpline({}, 3, out);
    EXPECT_TRUE(out.empty());
    Common::calcSpline({4, 5}, 3, out);
    EXPECT_EQ(out, (std::vector<float>{4, 5}));
    Common::calcSpline({4, 5, 6}, 3, out);   // trailing value ignored
    EXPECT_EQ(out, (std::vector<float>{4, 5}));
    Common::calcSpline({0, 0, 2, 0, 7}, 1, out);
    ASSERT_EQ(out.size(), 6u);
    EXPECT_NEAR(out[2], 1.0f, 1e-5);
}

TEST(CommonSpline, OutputMayBeTheInputVector)
{
    std::vector<float> points = {0, 0, 2, 1, 4, 2};
    Common::calcSpline(points, 1, points);
    ASSERT_EQ(points.size(), 10u);
    EXPECT_NEAR(points[2], 1.0f, 1e-5);
    EXPECT_NEAR(points[8], 4.0f, 1e-5);
}

}  // namespace
