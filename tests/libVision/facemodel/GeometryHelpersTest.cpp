#include <cmath>
#include <random>

#include <gtest/gtest.h>
#include <opencv2/core.hpp>

#include "OrvixSDK/GeometryHelpers.h"

using namespace OrvixSDK;

namespace {

const float kPi = 3.14159265358979f;

void expectVec3Near(const float* actual, float x, float y, float z, float tol = 1e-5f)
{
    EXPECT_NEAR(actual[0], x, tol);
    EXPECT_NEAR(actual[1], y, tol);
    EXPECT_NEAR(actual[2], z, tol);
}

void expectMatNear(const float a[4][4], const float b[4][4], float tol, int rows = 4)
{
    for (int i = 0; i < rows; ++i)
        for (int j = 0; j < rows; ++j)
            EXPECT_NEAR(a[i][j], b[i][j], tol) << "element [" << i << "][" << j << "]";
}

void fillRandom(float m[4][4], std::mt19937& rng)
{
    std::uniform_real_distribution<float> dist(-2.0f, 2.0f);
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            m[i][j] = dist(rng);
}

// Determinant computed independently by OpenCV in double precision.
double referenceDet(const float m[4][4], int size)
{
    cv::Mat mat(size, size, CV_64F);
    for (int i = 0; i < size; ++i)
        for (int j = 0; j < size; ++j)
            mat.at<double>(i, j) = m[i][j];
    return cv::determinant(mat);
}

// ---------------------------------------------------------------- vectors

TEST(GeometryVectors, NormalizeScalesToUnitLength)
{
    float v[3] = {3.0f, 0.0f, -4.0f};
    EXPECT_TRUE(normalize(v));
    expectVec3Near(v, 0.6f, 0.0f, -0.8f);

    float unit[3] = {0.0f, 0.0f, 2.5e-3f};
    EXPECT_TRUE(normalize(unit));
    expectVec3Near(unit, 0.0f, 0.0f, 1.0f);
}

TEST(GeometryVectors, NormalizeRefusesZeroAndNaNLeavingTheVector)
{
    float zero[3] = {0.0f, 0.0f, 0.0f};
    EXPECT_FALSE(normalize(zero));
    expectVec3Near(zero, 0.0f, 0.0f, 0.0f, 0.0f);

    float bad[3] = {NAN, 1.0f, 2.0f};
    EXPECT_FALSE(normalize(bad));
    EXPECT_TRUE(std::isnan(bad[0]));
    EXPECT_EQ(bad[1], 1.0f);
    EXPECT_EQ(bad[2], 2.0f);
}

TEST(GeometryVectors, CrossFollowsTheRightHandRuleAndMayAliasItsInputs)
{
    const float x[3] = {1, 0, 0};
    const float y[3] = {0, 1, 0};
    float out[3];
    cross(out, x, y);
    expectVec3Near(out, 0, 0, 1, 0.0f);
    cross(out, y, x);
    expectVec3Near(out, 0, 0, -1, 0.0f);

    float a[3] = {1, 2, 3};
    const float b[3] = {4, 5, 6};
    cross(a, a, b);  // (2*6-3*5, 3*4-1*6, 1*5-2*4)
    expectVec3Near(a, -3, 6, -3, 0.0f);
}

TEST(GeometryVectors, DifferenceAndDistances)
{
    const float a[3] = {1, 2, 3};
    const float b[3] = {4, 6, 3};
    float d[3];
    vect3Diff(d, a, b);
    expectVec3Near(d, -3, -4, 0, 0.0f);
    EXPECT_FLOAT_EQ(vect3Dist(d), 5.0f);
    EXPECT_FLOAT_EQ(vect3Dist(a, b), 5.0f);
    EXPECT_FLOAT_EQ(vect3Dist(b, a), 5.0f);
}

TEST(GeometryVectors, AbsoluteValueAndNoticeableDifference)
{
    EXPECT_EQ(myfabs(-2.5f), 2.5f);
    EXPECT_EQ(myfabs(2.5f), 2.5f);
    EXPECT_EQ(myfabs(-0.0f), 0.0f);

    struct Case { float a, b; bool differs; };
    const Case cases[] = {
        {1.0f, 1.0f, false},
        {1.0f, 1.00005f, false},
        {1.0f, 1.0002f, true},
        {-1.0f, 1.0f, true},
        {0.0f, -0.00005f, false},
        {0.0f, -0.0002f, true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(fdiff(c.a, c.b), c.differs) << c.a << " vs " << c.b;
        EXPECT_EQ(fdiff(c.b, c.a), c.differs) << c.b << " vs " << c.a;
    }
}

// --------------------------------------------------------------- matrices

TEST(GeometryMatrices, IdentityAndCopy)
{
    float m[4][4];
    identityMat(m);
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            EXPECT_EQ(m[i][j], i == j ? 1.0f : 0.0f);

    std::mt19937 rng(7);
    float src[4][4];
    float dst[4][4];
    fillRandom(src, rng);
    copyMat(dst, src);
    expectMatNear(dst, src, 0.0f);
}

TEST(GeometryMatrices, MultMatMatchesTheDefinitionAndAllowsAliasing)
{
    std::mt19937 rng(11);
    for (int trial = 0; trial < 20; ++trial) {
        float a[4][4];
        float b[4][4];
        fillRandom(a, rng);
        fillRandom(b, rng);

        float expected[4][4];
        for (int i = 0; i < 4; ++i)
            for (int j = 0; j < 4; ++j) {
                double sum = 0;
                for (int k = 0; k < 4; ++k)
                    sum += double(a[i][k]) * b[k][j];
                expected[i][j] = float(sum);
            }

        float out[4][4];
        multMat(out, a, b);
        expectMatNear(out, expected, 1e-5f);

        float aliasA[4][4];
        copyMat(aliasA, a);
        multMat(aliasA, aliasA, b);
        expectMatNear(aliasA, expected, 1e-5f);

        float aliasB[4][4];
        copyMat(aliasB, b);
        multMat(aliasB, a, aliasB);
        expectMatNear(aliasB, expected, 1e-5f);
    }
}

TEST(GeometryMatrices, RowVectorProductsPutTheTranslationInRowThree)
{
    // Rotation by 90 degrees about z (row-vector convention) followed by a
    // translation of (10, 20, 30).
    float m[4][4] = {
        {0, 1, 0, 0},
        {-1, 0, 0, 0},
        {0, 0, 1, 0},
        {10, 20, 30, 1},
    };
    const float v[3] = {1, 2, 3};

    float out[3];
    multVect3Mat(out, v, m);
    expectVec3Near(out, 8, 21, 33, 0.0f);

    multVect3Mat3(out, v, m);
    expectVec3Near(out, -2, 1, 3, 0.0f);

    float inPlace[3] = {1, 2, 3};
    multVect3Mat(inPlace, m);
    expectVec3Near(inPlace, 8, 21, 33, 0.0f);

    float v4[4] = {1, 2, 3, 2};
    multVectMat(v4, v4, m);  // aliasing allowed
    EXPECT_EQ(v4[0], 18.0f);
    EXPECT_EQ(v4[1], 41.0f);
    EXPECT_EQ(v4[2], 63.0f);
    EXPECT_EQ(v4[3], 2.0f);

    float v3alias[3] = {1, 2, 3};
    multVect3Mat3(v3alias, v3alias, m);
    expectVec3Near(v3alias, -2, 1, 3, 0.0f);
}

TEST(GeometryMatrices, SubmatrixDropsOneRowAndColumn)
{
    float m[4][4];
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            m[i][j] = float(10 * i + j);

    float out[4][4];
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            out[i][j] = -1.0f;
    m4_submat(m, out, 1, 2);
    const float expected[3][3] = {{0, 1, 3}, {20, 21, 23}, {30, 31, 33}};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            EXPECT_EQ(out[i][j], expected[i][j]);
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(out[3][k], -1.0f) << "row 3 must stay untouched";
        EXPECT_EQ(out[k][3], -1.0f) << "column 3 must stay untouched";
    }

    // Indices outside 0..3 leave the output alone.
    const int bad[][2] = {{-1, 0}, {4, 0}, {0, -1}, {0, 4}};
    for (const auto& rc : bad) {
        m4_submat(m, out, rc[0], rc[1]);
        EXPECT_EQ(out[0][0], 0.0f);
        EXPECT_EQ(out[2][2], 33.0f);
    }
}

TEST(GeometryMatrices, DeterminantsMatchAnIndependentComputation)
{
    std::mt19937 rng(3);
    for (int trial = 0; trial < 50; ++trial) {
        float m[4][4];
        fillRandom(m, rng);
        EXPECT_NEAR(m4_det(m), referenceDet(m, 4), 1e-4);
        EXPECT_NEAR(m3_det(m), referenceDet(m, 3), 1e-4);
    }

    // Swapping two rows flips the sign: catches a wrong cofactor sign pattern.
    float p[4][4] = {{0, 0, 0, 2}, {0, 3, 0, 0}, {0, 0, 4, 0}, {5, 0, 0, 0}};
    EXPECT_FLOAT_EQ(m4_det(p), -120.0f);
}

TEST(GeometryMatrices, InvMatInvertsAndMayAliasItsInput)
{
    std::mt19937 rng(5);
    float identity[4][4];
    identityMat(identity);
    for (int trial = 0; trial < 30; ++trial) {
        float m[4][4];
        fillRandom(m, rng);
        if (std::fabs(m4_det(m)) < 0.1f)
            continue;
        float inv[4][4];
        ASSERT_TRUE(invMat(inv, m));
        float product[4][4];
        multMat(product, m, inv);
        expectMatNear(product, identity, 1e-4f);

        float alias[4][4];
        copyMat(alias, m);
        ASSERT_TRUE(invMat(alias, alias));
        expectMatNear(alias, inv, 1e-6f);
    }
}

TEST(GeometryMatrices, InvMatRefusesNearlySingularMatricesWithoutTouchingTheOutput)
{
    struct Case { float scale; bool invertible; };
    // determinant = scale; the limit is 5e-9.
    const Case cases[] = {{1e-10f, false}, {4e-9f, false}, {0.0f, false},
                          {-1e-10f, false}, {1e-8f, true}, {-1e-8f, true}};
    for (const Case& c : cases) {
        float m[4][4];
        identityMat(m);
        m[0][0] = c.scale;
        float out[4][4];
        for (int i = 0; i < 4; ++i)
            for (int j = 0; j < 4; ++j)
                out[i][j] = 7.0f;
        EXPECT_EQ(invMat(out, m), c.invertible) << "det " << c.scale;
        if (c.invertible)
            EXPECT_NEAR(out[0][0] * c.scale, 1.0f, 1e-5f);
        else
            EXPECT_EQ(out[0][0], 7.0f);
    }
}

TEST(GeometryMatrices, InvMat3InvertsTheUpperLeftBlockOnly)
{
    std::mt19937 rng(9);
    for (int trial = 0; trial < 30; ++trial) {
        float m[4][4];
        fillRandom(m, rng);
        if (std::fabs(m3_det(m)) < 0.1f)
            continue;
        float out[4][4];
        for (int i = 0; i < 4; ++i)
            for (int j = 0; j < 4; ++j)
                out[i][j] = 7.0f;
        ASSERT_TRUE(invMat3(out, m));
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j) {
                double sum = 0;
                for (int k = 0; k < 3; ++k)
                    sum += double(m[i][k]) * out[k][j];
                EXPECT_NEAR(sum, i == j ? 1.0 : 0.0, 1e-4);
            }
        for (int k = 0; k < 4; ++k) {
            EXPECT_EQ(out[3][k], 7.0f);
            EXPECT_EQ(out[k][3], 7.0f);
        }

        float alias[4][4];
        copyMat(alias, m);
        ASSERT_TRUE(invMat3(alias, alias));
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j)
                EXPECT_NEAR(alias[i][j], out[i][j], 1e-6f);
    }
}

TEST(GeometryMatrices, InvMat3RefusesADeterminantBelowTheLimit)
{
    float m[4][4];
    identityMat(m);
    m[2][2] = 0.0004f;
    float out[4][4];
    identityMat(out);
    out[0][0] = 7.0f;
    EXPECT_FALSE(invMat3(out, m));
    EXPECT_EQ(out[0][0], 7.0f);

    m[2][2] = 0.0006f;
    EXPECT_TRUE(invMat3(out, m));
    EXPECT_NEAR(out[2][2], 1.0f / 0.0006f, 0.1f);
}

// ------------------------------------------------------------ quaternions

TEST(GeometryQuaternions, MatrixFromQuaternionRotatesRowVectors)
{
    // 90 degrees about z: the row vector (1, 0, 0) turns into (0, 1, 0).
    float axis[3] = {0, 0, 1};
    float q[4];
    aa2quat(q, axis, kPi / 2);
    float m[4][4];
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            m[i][j] = 9.0f;
    rotMatFromQuat(m, q);
    const float v[3] = {1, 0, 0};
    float out[3];
    multVect3Mat3(out, v, m);
    expectVec3Near(out, 0, 1, 0);
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(m[3][k], 9.0f);
        EXPECT_EQ(m[k][3], 9.0f);
    }
}

// Matrix -> quaternion -> matrix must give the rotation back, in every branch
// of the conversion.
void expectRoundTrip(const float axisIn[3], float angle)
{
    float axis[3] = {axisIn[0], axisIn[1], axisIn[2]};
    float q[4];
    aa2quat(q, axis, angle);
    float m[4][4];
    identityMat(m);
    rotMatFromQuat(m, q);

    float back[4];
    quatFromRotMat(back, m);
    const float norm = std::sqrt(back[0] * back[0] + back[1] * back[1] +
                                 back[2] * back[2] + back[3] * back[3]);
    EXPECT_NEAR(norm, 1.0f, 1e-4f);
    // Same rotation: the same quaternion up to sign.
    const float dot = q[0] * back[0] + q[1] * back[1] + q[2] * back[2] + q[3] * back[3];
    EXPECT_NEAR(std::fabs(dot), 1.0f, 1e-4f);

    float m2[4][4];
    identityMat(m2);
    rotMatFromQuat(m2, back);
    expectMatNear(m2, m, 1e-4f, 3);
}

TEST(GeometryQuaternions, RoundTripOfRandomRotations)
{
    std::mt19937 rng(21);
    std::uniform_real_distribution<float> coord(-1.0f, 1.0f);
    std::uniform_real_distribution<float> angle(-kPi, kPi);
    for (int trial = 0; trial < 200; ++trial) {
        const float axis[3] = {coord(rng), coord(rng), coord(rng)};
        SCOPED_TRACE(trial);
        expectRoundTrip(axis, angle(rng));
    }
}

TEST(GeometryQuaternions, RoundTripOfHalfTurnsUsesTheLargestDiagonal)
{
    const float axes[][3] = {
        {1, 0, 0}, {0, 1, 0}, {0, 0, 1},
        {1, 0.2f, -0.1f}, {0.1f, -1, 0.3f}, {-0.2f, 0.1f, 1},
        {1, 1, 0}, {0, 1, 1}, {1, 0, 1}, {1, 1, 1},
    };
    const float angles[] = {kPi, -kPi, 3.14159f, kPi - 0.001f, kPi - 0.02f};
    for (const auto& axis : axes)
        for (float angle : angles) {
            SCOPED_TRACE(::testing::Message() << "axis " << axis[0] << "," << axis[1] << ","
                                              << axis[2] << " angle " << angle);
            expectRoundTrip(axis, angle);
        }
    std::mt19937 rng(4);
    std::uniform_real_distribution<float> coord(-1.0f, 1.0f);
    for (int trial = 0; trial < 200; ++trial) {
        const float axis[3] = {coord(rng), coord(rng), coord(rng)};
        SCOPED_TRACE(trial);
        expectRoundTrip(axis, kPi);
    }
}

TEST(GeometryQuaternions, HalfTurnBranchesGiveTheExpectedQuaternion)
{
    struct Case {
        float m[3][3];
        float q[4];
    };
    const float h = std::sqrt(0.5f);
    const Case cases[] = {
        {{{1, 0, 0}, {0, -1, 0}, {0, 0, -1}}, {1, 0, 0, 0}},
        {{{-1, 0, 0}, {0, 1, 0}, {0, 0, -1}}, {0, 1, 0, 0}},
        {{{-1, 0, 0}, {0, -1, 0}, {0, 0, 1}}, {0, 0, 1, 0}},
        // Half turn about (1, 1, 0): equal diagonal elements go to x.
        {{{0, 1, 0}, {1, 0, 0}, {0, 0, -1}}, {h, h, 0, 0}},
        // About (0, 1, 1): y and z tie, y wins.
        {{{-1, 0, 0}, {0, 0, 1}, {0, 1, 0}}, {0, h, h, 0}},
    };
    for (const Case& c : cases) {
        float m[4][4];
        identityMat(m);
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j)
                m[i][j] = c.m[i][j];
        float q[4];
        quatFromRotMat(q, m);
        for (int k = 0; k < 4; ++k)
            EXPECT_NEAR(q[k], c.q[k], 1e-6f) << "component " << k;
    }
}

TEST(GeometryQuaternions, AxisAngleRoundTrip)
{
    std::mt19937 rng(13);
    std::uniform_real_distribution<float> coord(-1.0f, 1.0f);
    std::uniform_real_distribution<float> angles(0.01f, kPi - 0.01f);
    for (int trial = 0; trial < 100; ++trial) {
        float axis[3] = {coord(rng), coord(rng), coord(rng)};
        const float angle = angles(rng);
        float q[4];
        aa2quat(q, axis, angle);
        EXPECT_NEAR(vect3Dist(axis), 1.0f, 1e-6f) << "axis is normalised in place";

        float back[3];
        EXPECT_NEAR(quat2aa(q, back), angle, 1e-3f);
        expectVec3Near(back, axis[0], axis[1], axis[2], 1e-3f);
    }
}

TEST(GeometryQuaternions, AxisAngleWithoutRotation)
{
    // A zero axis gives the identity quaternion and becomes (1, 0, 0).
    float axis[3] = {0, 0, 0};
    float q[4];
    aa2quat(q, axis, 1.3f);
    EXPECT_EQ(q[0], 0.0f);
    EXPECT_EQ(q[1], 0.0f);
    EXPECT_EQ(q[2], 0.0f);
    EXPECT_EQ(q[3], 1.0f);
    expectVec3Near(axis, 1, 0, 0, 0.0f);

    // No rotation: angle 0 about (0, 0, 1), also for a w a hair above 1.
    const float identities[][4] = {{0, 0, 0, 1}, {0, 0, 0, 1.0000001f}, {0, 0, 0, -1}};
    for (const auto& id : identities) {
        float out[3] = {5, 5, 5};
        const float angle = quat2aa(id, out);
        EXPECT_EQ(angle, 0.0f);
        expectVec3Near(out, 0, 0, 1, 0.0f);
    }

    // A tiny rotation keeps its axis (s is replaced by 1 below 0.0005).
    const float small[4] = {0, 0.0001f, 0, 1};
    float out[3];
    EXPECT_FALSE(std::isnan(quat2aa(small, out)));
    expectVec3Near(out, 0, 1, 0);
}

}  // namespace
