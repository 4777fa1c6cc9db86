#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iostream>
#include <random>
#include <vector>

#include <opencv2/core/core_c.h>

#include "FittingTestSupport.h"
#include "fitting/FaceModelNoVel.h"

using OrvixSDK::FaceModelNoVel;
using OrvixSDK::SystemModel;

namespace {

struct MatDeleter
{
    void operator()(CvMat* m) const { cvReleaseMat(&m); }
};
using MatPtr = std::unique_ptr<CvMat, MatDeleter>;

MatPtr makeMat(int rows, int cols, int type = CV_32FC1)
{
    MatPtr m(cvCreateMat(rows, cols, type));
    cvSetZero(m.get());
    return m;
}

MatPtr column(const std::vector<float>& values)
{
    MatPtr m = makeMat(int(values.size()), 1);
    std::copy(values.begin(), values.end(), m->data.fl);
    return m;
}

TEST(FaceModelNoVelLayout, StateLayoutFollowsTheMask)
{
    struct Case
    {
        int mask;
        unsigned suOffset, auOffset, states;
    };
    // 4 action units, 3 shape units, 10 points.
    const Case cases[] = {
        {1, 6, 6, 6}, {3, 6, 9, 9}, {5, 6, 6, 10}, {7, 6, 9, 13}, {2, 0, 3, 3}, {4, 0, 0, 4}, {6, 0, 3, 7},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.mask);
        FaceModelNoVel model;
        ASSERT_TRUE(model.Create(4, 3, 50, 10, 3.0f, 1.0f, nullptr, c.mask));
        EXPECT_TRUE(model.IsCreated());
        EXPECT_EQ(c.suOffset, model.suOffset);
        EXPECT_EQ(c.auOffset, model.auOffset);
        EXPECT_EQ(c.states, model.GetNumberOfStates());
        EXPECT_EQ(20u, model.GetNumberOfObservations());
        EXPECT_EQ(int(c.states), model.processNoise->rows);
        EXPECT_EQ(1.0f, model.processNoise->data.fl[0]);
        EXPECT_EQ(1.0f, model.observationNoise->data.fl[19]);
    }
}

TEST(FaceModelNoVelLayout, CreateRefusesEmptyStatesAndPoints)
{
    FaceModelNoVel model;
    EXPECT_FALSE(model.Create(4, 3, 50, 10, 3.0f, 1.0f, nullptr, 0));   // no state at all
    EXPECT_FALSE(model.Create(0, 0, 50, 10, 3.0f, 1.0f, nullptr, 6));   // units selected, none present
    EXPECT_FALSE(model.Create(4, 3, 50, 0, 3.0f, 1.0f, nullptr, 7));    // no points
    EXPECT_FALSE(model.IsCreated());
    EXPECT_EQ(0u, model.GetNumberOfStates());
    EXPECT_EQ(nullptr, model.baseShape);
    // Without units only the bases stay absent.
    ASSERT_TRUE(model.Create(0, 0, 50, 5, 3.0f, 1.0f, nullptr, 7));
    EXPECT_EQ(nullptr, model.auBasis);
    EXPECT_EQ(nullptr, model.suBasis);
    EXPECT_EQ(6u, model.GetNumberOfStates());
    model.Destroy();
    EXPECT_FALSE(model.IsCreated());
    EXPECT_EQ(0, model.stateMask);
}

TEST(FaceModelNoVelLayout, EverySlotFailsWhenNotCreated)
{
    FaceModelNoVel model;
    MatPtr m = makeMat(6, 6), v = makeMat(6, 1), h = makeMat(2, 6), o = makeMat(2, 1);
    float pose[3] = {0, 0, 0};
    EXPECT_FALSE(model.PredictState(v.get(), v.get()));
    EXPECT_FALSE(model.ProcessJacobian(m.get()));
    EXPECT_FALSE(model.ProcessNoise(m.get()));
    EXPECT_FALSE(model.ProcessNoiseInv(m.get()));
    EXPECT_FALSE(model.Observe(o.get(), v.get()));
    EXPECT_FALSE(model.ObservationJacobianAndObserve(h.get(), o.get(), v.get()));
    EXPECT_FALSE(model.ObservationNoise(m.get()));
    EXPECT_FALSE(model.ObservationNoiseInv(m.get()));
    EXPECT_FALSE(model.SetInitialState(pose, pose, nullptr, nullptr, v.get()));
    EXPECT_FALSE(model.SetNoiseCovariance(nullptr, nullptr, nullptr));
    EXPECT_FALSE(model.ExtractData(pose, pose, nullptr, nullptr, v.get()));
    // Matrices of the wrong size are refused as well.
    ASSERT_TRUE(model.Create(0, 0, 10, 1, 3.0f, 1.0f, nullptr, 1));
    MatPtr wrong = makeMat(5, 5);
    EXPECT_FALSE(model.ProcessJacobian(wrong.get()));
    EXPECT_FALSE(model.ObservationNoiseInv(wrong.get()));
    EXPECT_FALSE(model.Observe(o.get(), makeMat(5, 1).get()));
}

TEST(FaceModelNoVelNoise, ProcessNoiseFromSensitivities)
{
    FaceModelNoVel model;
    ASSERT_TRUE(model.Create(2, 3, 10, 4, 3.0f, 1.0f, nullptr, 5));   // pose + AUs: auOffset 6
    EXPECT_EQ(6u, model.auOffset);
    MatPtr su = column({9, 9, 9});
    MatPtr au = column({0.5f, 0.0f});
    ASSERT_TRUE(model.SetNoiseCovariance(nullptr, su.get(), au.get()));
    const float* q = model.processNoise->data.fl;
    for (int i = 0; i < 6; ++i)
        EXPECT_FLOAT_EQ(0.01f, q[i]);          // no pose vector: default
    EXPECT_FLOAT_EQ(0.5f, q[6]);
    EXPECT_FLOAT_EQ(1e-7f, q[7]);              // an exact 0 pins the state
    // Shape-unit noise is ignored without the shape-unit bit (8 states only).
    EXPECT_EQ(8, model.processNoise->rows);

    MatPtr zeros = column({0, 0, 0, 0, 0, 0});
    MatPtr shortAu = column({0.25f});           // shorter than the unit count
    ASSERT_TRUE(model.SetNoiseCovariance(zeros.get(), nullptr, shortAu.get()));
    for (int i = 0; i < 6; ++i)
        EXPECT_FLOAT_EQ(1e-7f, q[i]);
    EXPECT_FLOAT_EQ(0.25f, q[6]);
    EXPECT_FLOAT_EQ(0.01f, q[7]);              // missing element: default

    // Any element type is read as a scalar.
    MatPtr intPose = makeMat(6, 1, CV_32SC1);
    for (int i = 0; i < 6; ++i)
        intPose->data.i[i] = i + 1;
    ASSERT_TRUE(model.SetNoiseCovariance(intPose.get(), nullptr, nullptr));
    EXPECT_FLOAT_EQ(4.0f, q[3]);
}

TEST(FaceModelNoVelNoise, InverseNoiseMatricesHaveFloors)
{
    FaceModelNoVel model;
    ASSERT_TRUE(model.Create(1, 0, 10, 2, 3.0f, 1.0f, nullptr, 5));
    const float q[7] = {2.0f, 1e-9f, 1e-10f, 0.5f, 1.0f, 1.0f, 4.0f};
    std::copy(q, q + 7, model.processNoise->data.fl);
    const float r[4] = {0.002f, 1e-8f, 0.0f, 100001.0f};
    std::copy(r, r + 4, model.observationNoise->data.fl);

    MatPtr Q = makeMat(7, 7), Qinv = makeMat(7, 7), R = makeMat(4, 4), Rinv = makeMat(4, 4);
    ASSERT_TRUE(model.ProcessNoise(Q.get()));
    ASSERT_TRUE(model.ProcessNoiseInv(Qinv.get()));
    ASSERT_TRUE(model.ObservationNoise(R.get()));
    ASSERT_TRUE(model.ObservationNoiseInv(Rinv.get()));
    EXPECT_FLOAT_EQ(2.0f, CV_MAT_ELEM(*Q, float, 0, 0));
    EXPECT_FLOAT_EQ(0.0f, CV_MAT_ELEM(*Q, float, 0, 1));
    EXPECT_FLOAT_EQ(0.5f, CV_MAT_ELEM(*Qinv, float, 0, 0));
    EXPECT_FLOAT_EQ(1e10f, CV_MAT_ELEM(*Qinv, float, 1, 1));   // q <= 1e-9
    EXPECT_FLOAT_EQ(1e10f, CV_MAT_ELEM(*Qinv, float, 2, 2));
    EXPECT_FLOAT_EQ(0.25f, CV_MAT_ELEM(*Qinv, float, 6, 6));
    EXPECT_FLOAT_EQ(500.0f, CV_MAT_ELEM(*Rinv, float, 0, 0));
    EXPECT_FLOAT_EQ(1e8f, CV_MAT_ELEM(*Rinv, float, 1, 1));    // r <= 1e-8
    EXPECT_FLOAT_EQ(1e8f, CV_MAT_ELEM(*Rinv, float, 2, 2));
    EXPECT_FLOAT_EQ(0.0f, CV_MAT_ELEM(*Rinv, float, 2, 3));
    EXPECT_FLOAT_EQ(100001.0f, CV_MAT_ELEM(*R, float, 3, 3));

    MatPtr F = makeMat(7, 7);
    ASSERT_TRUE(model.ProcessJacobian(F.get()));
    EXPECT_EQ(7.0, cvTrace(F.get()).val[0]);
    EXPECT_EQ(7.0, cvSum(F.get()).val[0]);
}

TEST(FaceModelNoVelMapping, ClampAndTanhMapping)
{
    // One action unit with limits -1 and 3 (centre 1, half range 2) and two
    // shape units (centre 0, half range 1).
    FaceModelNoVel model;
    const float limits[2] = {-1.0f, 3.0f};
    ASSERT_TRUE(model.Create(1, 2, 10, 4, 3.0f, 1.0f, limits, 7));
    EXPECT_FLOAT_EQ(2.0f, model.auRange->data.fl[0]);
    EXPECT_FLOAT_EQ(1.0f, model.auRange->data.fl[1]);
    EXPECT_FLOAT_EQ(1.0f, model.suRange->data.fl[0]);
    EXPECT_FLOAT_EQ(0.0f, model.suRange->data.fl[1]);

    struct Case
    {
        float auState, suState;
        float auValue, suValue;     // expected values
        float auWritten, suWritten; // state after extraction
    };
    const float t3 = float(std::tanh(3.0));
    const Case cases[] = {
        {0.0f, 0.0f, 1.0f, 0.0f, 0.0f, 0.0f},
        {5.0f, -7.0f, 1.0f + 2.0f * t3, -t3, 3.0f, -3.0f},
        {-3.0f, 3.0f, 1.0f - 2.0f * t3, t3, -3.0f, 3.0f},
        {0.5f, -0.25f, 1.0f + 2.0f * float(std::tanh(0.5)), float(std::tanh(-0.25)), 0.5f, -0.25f},
        {NAN, INFINITY, 1.0f, t3, 0.0f, 3.0f},
    };
    MatPtr state = makeMat(9, 1), su = makeMat(2, 1), au = makeMat(1, 1);
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.auState);
        state->data.fl[8] = c.auState;
        state->data.fl[6] = c.suState;
        state->data.fl[7] = 0.0f;
        float r[3], t[3];
        ASSERT_TRUE(model.ExtractData(r, t, su.get(), au.get(), state.get()));
        EXPECT_NEAR(c.auValue, au->data.fl[0], 1e-6f);
        EXPECT_NEAR(c.suValue, su->data.fl[0], 1e-6f);
        EXPECT_EQ(c.auWritten, state->data.fl[8]);
        EXPECT_EQ(c.suWritten, state->data.fl[6]);
    }

    // The inverse mapping, including values on and beyond the limits.
    struct Inverse
    {
        float value, state;
    };
    const Inverse inverses[] = {
        {1.0f, 0.0f}, {3.0f, 3.0f}, {7.0f, 3.0f}, {-1.0f, -3.0f}, {-5.0f, -3.0f},
        {1.0f + 2.0f * float(std::tanh(1.25)), 1.25f}, {NAN, 0.0f}, {INFINITY, 0.0f},
    };
    for (const Inverse& c : inverses)
    {
        SCOPED_TRACE(c.value);
        EXPECT_NEAR(c.state, FaceModelNoVel::unitState(c.value, 2.0f, 1.0f), 2e-5f);
    }
    EXPECT_EQ(0.0f, FaceModelNoVel::unitState(4.0f, 0.0f, 4.0f));   // a unit of zero range

    // SetInitialState and ExtractData are inverse to each other.
    float rotation[3] = {0.1f, 3.0f, -0.2f}, translation[3] = {0.01f, -0.02f, 0.7f};
    MatPtr suIn = column({0.3f, -0.9f}), auIn = column({2.5f});
    ASSERT_TRUE(model.SetInitialState(rotation, translation, suIn.get(), auIn.get(), state.get()));
    float r[3], t[3];
    ASSERT_TRUE(model.ExtractData(r, t, su.get(), au.get(), state.get()));
    for (int i = 0; i < 3; ++i)
    {
        EXPECT_EQ(rotation[i], r[i]);
        EXPECT_EQ(translation[i], t[i]);
    }
    EXPECT_NEAR(0.3f, su->data.fl[0], 1e-6f);
    EXPECT_NEAR(-0.9f, su->data.fl[1], 1e-6f);
    EXPECT_NEAR(2.5f, au->data.fl[0], 1e-6f);
}

// A face-like system model with known content, and an independent double
// implementation of its observation function for finite differences.
class FaceModelNoVelJacobian : public ::testing::TestWithParam<int>
{
protected:
    static constexpr int P = 12, S = 3, A = 4;

    void SetUp() override
    {
        mask = GetParam();
        const float limits[2 * A] = {-1.0f, 1.0f, 0.0f, 2.0f, -0.5f, 0.5f, -3.0f, 1.0f};
        ASSERT_TRUE(model.Create(A, S, 100, P, 3.0f, 1.1f, limits, mask));
        std::mt19937 rng(11);
        std::uniform_real_distribution<double> unit(-1.0, 1.0);
        for (int r = 0; r < 3 * P; ++r)
        {
            model.baseShape->data.fl[r] = float((r % 3 == 2 ? 0.03 : 0.07) * unit(rng));
            for (int u = 0; u < S; ++u)
                CV_MAT_ELEM(*model.suBasis, float, r, u) = float(0.01 * unit(rng));
            for (int u = 0; u < A; ++u)
                CV_MAT_ELEM(*model.auBasis, float, r, u) = float(0.03 * unit(rng));
        }
        for (int u = 0; u < S; ++u)
        {
            model.suUse->data.i[u] = 1;
            model.suValues->data.fl[u] = 0.2f * float(u) - 0.1f;
        }
        for (int u = 0; u < A; ++u)
        {
            model.auUse->data.i[u] = u == 2 ? 0 : 1;   // unit 2 is not estimated
            model.auValues->data.fl[u] = 0.1f * float(u);
        }
        for (int i = 0; i < 2 * P; ++i)
            model.observationNoise->data.fl[i] = 0.002f;
        model.observationNoise->data.fl[2 * 5] = 100001.0f;   // point 5 excluded

        const float rotation[3] = {0.15f, 3.4f, -0.3f}, translation[3] = {0.03f, -0.02f, 0.55f};
        n = int(model.GetNumberOfStates());
        state.assign(size_t(n), 0.0);
        MatPtr s = makeMat(n, 1);
        MatPtr su = column({0.4f, -0.7f, 0.95f}), au = column({0.8f, 1.95f, 0.2f, -2.5f});
        ASSERT_TRUE(model.SetInitialState(rotation, translation, su.get(), au.get(), s.get()));
        for (int i = 0; i < n; ++i)
            state[size_t(i)] = s->data.fl[i];
        // Unit states well away from 0, where the slope of tanh matters.
        if ((mask & SystemModel::STATE_ACTION_UNITS) != 0)
        {
            EXPECT_GT(std::fabs(state[model.auOffset + 1]), 1.5);
        }
    }

    // h(state) in double, straight from the model's fields.
    std::vector<double> reference(const std::vector<double>& x) const
    {
        double pose[6];
        for (int i = 0; i < 3; ++i)
        {
            pose[i] = model.rotation[i];
            pose[3 + i] = model.translation[i];
        }
        if ((mask & SystemModel::STATE_POSE) != 0)
            std::copy(x.begin(), x.begin() + 6, pose);
        auto value = [](double s, const CvMat* range, int u) {
            s = std::max(-3.0, std::min(3.0, s));
            return std::tanh(s) * range->data.fl[2 * u] + range->data.fl[2 * u + 1];
        };
        std::vector<double> su(S), au(A);
        for (int u = 0; u < S; ++u)
            su[size_t(u)] = (mask & SystemModel::STATE_SHAPE_UNITS) != 0 ? value(x[model.suOffset + u], model.suRange, u)
                                                                        : model.suValues->data.fl[u];
        for (int u = 0; u < A; ++u)
            au[size_t(u)] = (mask & SystemModel::STATE_ACTION_UNITS) != 0
                                ? value(x[model.auOffset + u], model.auRange, u)
                                : model.auValues->data.fl[u];
        double R[3][3];
        OrvixTest::rotationMatrix(pose, R);
        std::vector<double> h(2 * P);
        for (int j = 0; j < P; ++j)
        {
            double p[3];
            for (int k = 0; k < 3; ++k)
            {
                const int r = 3 * j + k;
                p[k] = model.baseShape->data.fl[r];
                for (int u = 0; u < S; ++u)
                    p[k] += CV_MAT_ELEM(*model.suBasis, float, r, u) * su[size_t(u)];
                for (int u = 0; u < A; ++u)
                    p[k] += CV_MAT_ELEM(*model.auBasis, float, r, u) * au[size_t(u)];
            }
            double c[3];
            for (int i = 0; i < 3; ++i)
                c[i] = model.scale * (R[i][0] * p[0] + R[i][1] * p[1] + R[i][2] * p[2]) + pose[3 + i];
            h[size_t(2 * j)] = model.focus * c[0] / c[2];
            h[size_t(2 * j + 1)] = model.focus * c[1] / c[2];
        }
        return h;
    }

    MatPtr stateMat() const
    {
        MatPtr s = makeMat(n, 1);
        for (int i = 0; i < n; ++i)
            s->data.fl[i] = float(state[size_t(i)]);
        return s;
    }

    FaceModelNoVel model;
    int mask = 0;
    int n = 0;
    std::vector<double> state;
};

TEST_P(FaceModelNoVelJacobian, ObserveMatchesDoubleReference)
{
    MatPtr s = stateMat(), obs = makeMat(2 * P, 1);
    ASSERT_TRUE(model.Observe(obs.get(), s.get()));
    const std::vector<double> h = reference(state);
    for (int i = 0; i < 2 * P; ++i)
        EXPECT_NEAR(h[size_t(i)], obs->data.fl[i], 2e-6 * std::max(1.0, std::fabs(h[size_t(i)])));
}

TEST_P(FaceModelNoVelJacobian, MatchesCentralDifferences)
{
    MatPtr s = stateMat(), H = makeMat(2 * P, n), obs = makeMat(2 * P, 1);
    ASSERT_TRUE(model.ObservationJacobianAndObserve(H.get(), obs.get(), s.get()));

    // Central differences of the double reference, step 1e-6: truncation
    // and rounding errors are far below the float precision of H.
    const double step = 1e-6;
    double maxAbs = 0.0, maxRel = 0.0, largest = 0.0;
    for (int c = 0; c < n; ++c)
    {
        std::vector<double> plus = state, minus = state;
        plus[size_t(c)] += step;
        minus[size_t(c)] -= step;
        const std::vector<double> hp = reference(plus), hm = reference(minus);
        for (int r = 0; r < 2 * P; ++r)
        {
            const bool excluded = r / 2 == 5;
            const bool unused = (mask & SystemModel::STATE_ACTION_UNITS) != 0 && c == int(model.auOffset) + 2;
            const double fd = excluded || unused ? 0.0 : (hp[size_t(r)] - hm[size_t(r)]) / (2 * step);
            const double an = CV_MAT_ELEM(*H, float, r, c);
            const double err = std::fabs(an - fd);
            maxAbs = std::max(maxAbs, err);
            maxRel = std::max(maxRel, err / std::max(1.0, std::fabs(fd)));
            largest = std::max(largest, std::fabs(fd));
            EXPECT_NEAR(fd, an, 1e-5 * std::max(1.0, std::fabs(fd))) << "row " << r << " column " << c;
        }
    }
    std::cout << "[ jacobian ] mask " << mask << ": largest entry " << largest << ", max |H - FD| " << maxAbs
              << ", max relative " << maxRel << std::endl;
    RecordProperty("MaxAbsError", std::to_string(maxAbs));
}

TEST_P(FaceModelNoVelJacobian, ExcludedAndUnusedGiveZeros)
{
    MatPtr s = stateMat(), H = makeMat(2 * P, n);
    cvSet(H.get(), cvScalarAll(7.0));
    // The observation may be skipped.
    ASSERT_TRUE(model.ObservationJacobianAndObserve(H.get(), nullptr, s.get()));
    for (int c = 0; c < n; ++c)
    {
        EXPECT_EQ(0.0f, CV_MAT_ELEM(*H, float, 10, c));
        EXPECT_EQ(0.0f, CV_MAT_ELEM(*H, float, 11, c));
    }
    if ((mask & SystemModel::STATE_ACTION_UNITS) != 0)
    {
        for (int r = 0; r < 2 * P; ++r)
            EXPECT_EQ(0.0f, CV_MAT_ELEM(*H, float, r, int(model.auOffset) + 2));
    }
}

TEST_P(FaceModelNoVelJacobian, PointsBehindTheCameraAreLeftOut)
{
    // Put point 3 on the camera plane and point 4 behind it, with no unit
    // displacement there.
    MatPtr s = stateMat(), H = makeMat(2 * P, n), obs = makeMat(2 * P, 1);
    const bool poseStates = (mask & SystemModel::STATE_POSE) != 0;
    double R[3][3], r[3], t[3];
    for (int i = 0; i < 3; ++i)
    {
        r[i] = poseStates ? state[size_t(i)] : model.rotation[i];
        t[i] = poseStates ? state[size_t(3 + i)] : model.translation[i];
    }
    OrvixTest::rotationMatrix(r, R);
    for (int j = 3; j <= 4; ++j)
    {
        const double wantZ = j == 3 ? 0.0 : -0.1;
        // Camera point (0, 0, wantZ) -> model point R^T (c - t) / scale.
        const double c[3] = {0.0 - t[0], 0.0 - t[1], wantZ - t[2]};
        for (int k = 0; k < 3; ++k)
        {
            model.baseShape->data.fl[3 * j + k] =
                float((R[0][k] * c[0] + R[1][k] * c[1] + R[2][k] * c[2]) / model.scale);
            for (int u = 0; u < S; ++u)
                CV_MAT_ELEM(*model.suBasis, float, 3 * j + k, u) = 0.0f;
            for (int u = 0; u < A; ++u)
                CV_MAT_ELEM(*model.auBasis, float, 3 * j + k, u) = 0.0f;
        }
    }
    ASSERT_TRUE(model.ObservationJacobianAndObserve(H.get(), obs.get(), s.get()));
    for (int i = 0; i < 2 * P; ++i)
        EXPECT_TRUE(std::isfinite(obs->data.fl[i])) << i;
    for (int row = 6; row < 10; ++row)
    {
        EXPECT_EQ(0.0f, obs->data.fl[row]);
        for (int c = 0; c < n; ++c)
            EXPECT_EQ(0.0f, CV_MAT_ELEM(*H, float, row, c));
    }
}

INSTANTIATE_TEST_SUITE_P(Masks, FaceModelNoVelJacobian, ::testing::Values(1, 3, 5, 7, 6));

TEST(FaceModelNoVelPredict, StaticStateAndFixedPoseWithoutPoseBit)
{
    FaceModelNoVel model;
    ASSERT_TRUE(model.Create(1, 0, 4, 1, 2.0f, 1.0f, nullptr, 4));   // action units only
    model.baseShape->data.fl[2] = 0.0f;
    CV_MAT_ELEM(*model.auBasis, float, 0, 0) = 0.01f;
    model.auUse->data.i[0] = 1;
    MatPtr state = makeMat(1, 1), predicted = makeMat(1, 1), obs = makeMat(2, 1);
    const float rotation[3] = {0.0f, 0.0f, 0.0f}, translation[3] = {0.1f, 0.0f, 1.0f};
    MatPtr au = column({5.0f});   // halfway: limits default to -10..10
    ASSERT_TRUE(model.SetInitialState(rotation, translation, nullptr, au.get(), state.get()));
    EXPECT_NEAR(std::atanh(0.5), state->data.fl[0], 1e-6);
    ASSERT_TRUE(model.PredictState(predicted.get(), state.get()));
    EXPECT_EQ(state->data.fl[0], predicted->data.fl[0]);
    // The pose given to SetInitialState is the one observed.
    ASSERT_TRUE(model.Observe(obs.get(), state.get()));
    EXPECT_NEAR(2.0 * (0.1 + 0.05) / 1.0, obs->data.fl[0], 1e-6);
    EXPECT_NEAR(0.0, obs->data.fl[1], 1e-6);
}

}  // namespace
