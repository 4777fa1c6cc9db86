#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/core/core_c.h>

#include "fitting/ExtendedInformationFilter.h"
#include "fitting/SystemModel.h"

using OrvixSDK::ExtendedInformationFilter;
using OrvixSDK::SystemModel;

namespace {

// A linear system z = A x with diagonal noises, for checks against the
// closed-form information-filter step.
class LinearModel : public SystemModel
{
public:
    LinearModel(int states, int observations) : n(states), m(observations), A(observations, states, CV_64F)
    {
        q.assign(size_t(n), 1.0);
        r.assign(size_t(m), 1.0);
        A = 0.0;
    }

    bool IsCreated() const override { return created; }
    unsigned GetNumberOfStates() const override { return unsigned(n); }
    unsigned GetNumberOfObservations() const override { return unsigned(m); }

    bool PredictState(CvMat* predicted, CvMat* state) override
    {
        cvCopy(state, predicted);
        return true;
    }
    bool ProcessJacobian(CvMat* F) override
    {
        cvSetIdentity(F);
        return true;
    }
    bool ProcessNoise(CvMat* Q) override { return diagonal(Q, q, false); }
    bool ProcessNoiseInv(CvMat* Qinv) override { return diagonal(Qinv, q, true); }
    bool Observe(CvMat* observation, CvMat* state) override
    {
        for (int i = 0; i < m; ++i)
        {
            double sum = 0.0;
            for (int j = 0; j < n; ++j)
                sum += A.at<double>(i, j) * state->data.fl[j];
            observation->data.fl[i] = float(sum);
        }
        return true;
    }
    bool ObservationJacobianAndObserve(CvMat* H, CvMat* observation, CvMat* state) override
    {
        ++jacobianCalls;
        if (failJacobian)
            return false;
        for (int i = 0; i < m; ++i)
            for (int j = 0; j < n; ++j)
                CV_MAT_ELEM(*H, float, i, j) = float(A.at<double>(i, j));
        return observation == nullptr || Observe(observation, state);
    }
    bool ObservationNoise(CvMat* R) override { return diagonal(R, r, false); }
    bool ObservationNoiseInv(CvMat* Rinv) override { return diagonal(Rinv, r, true); }

    // The face-specific slots are not used by the filter.
    bool Create(unsigned, unsigned, unsigned, unsigned, float, float, const float*, int) override { return false; }
    bool SetInitialState(const float*, const float*, const CvMat*, const CvMat*, CvMat*) override { return false; }
    bool SetNoiseCovariance(const CvMat*, const CvMat*, const CvMat*) override { return false; }
    bool ExtractData(float*, float*, CvMat*, CvMat*, CvMat*) override { return false; }
    void Destroy() override { created = false; }

    bool created = true;
    bool failJacobian = false;
    int jacobianCalls = 0;
    int n, m;
    cv::Mat A;
    std::vector<double> q, r;

private:
    static bool diagonal(CvMat* M, const std::vector<double>& d, bool inverse)
    {
        cvSetZero(M);
        for (size_t i = 0; i < d.size(); ++i)
            CV_MAT_ELEM(*M, float, int(i), int(i)) = float(inverse ? 1.0 / d[i] : d[i]);
        return true;
    }
};

// x + (A' R^-1 A + Q^-1)^-1 A' R^-1 (z - A x) in double.
std::vector<double> closedFormStep(const LinearModel& model, const std::vector<double>& x,
                                   const std::vector<double>& z)
{
    cv::Mat Qinv = cv::Mat::zeros(model.n, model.n, CV_64F), Rinv = cv::Mat::zeros(model.m, model.m, CV_64F);
    for (int i = 0; i < model.n; ++i)
        Qinv.at<double>(i, i) = 1.0 / model.q[size_t(i)];
    for (int i = 0; i < model.m; ++i)
        Rinv.at<double>(i, i) = 1.0 / model.r[size_t(i)];
    cv::Mat X(x, true), Z(z, true);
    cv::Mat Y = model.A.t() * Rinv * model.A + Qinv;
    cv::Mat step = Y.inv(cv::DECOMP_LU) * model.A.t() * Rinv * (Z - model.A * X);
    cv::Mat next = X + step;
    return std::vector<double>(next.begin<double>(), next.end<double>());
}

struct MatDeleter
{
    void operator()(CvMat* m) const { cvReleaseMat(&m); }
};
using MatPtr = std::unique_ptr<CvMat, MatDeleter>;

MatPtr column(const std::vector<double>& values)
{
    MatPtr m(cvCreateMat(int(values.size()), 1, CV_32FC1));
    for (size_t i = 0; i < values.size(); ++i)
        m->data.fl[i] = float(values[i]);
    return m;
}

MatPtr identity(int n)
{
    MatPtr m(cvCreateMat(n, n, CV_32FC1));
    cvSetIdentity(m.get());
    return m;
}

class ExtendedInformationFilterTest : public ::testing::Test
{
protected:
    ExtendedInformationFilterTest() : model(3, 5)
    {
        std::mt19937 rng(3);
        std::uniform_real_distribution<double> unit(-1.0, 1.0);
        for (int i = 0; i < model.m; ++i)
            for (int j = 0; j < model.n; ++j)
                model.A.at<double>(i, j) = unit(rng);
        model.q = {0.5, 2.0, 0.1};
        model.r = {0.01, 0.02, 0.5, 0.01, 1.0};
    }

    void start(const std::vector<double>& x)
    {
        ASSERT_TRUE(filter.Create(&model));
        MatPtr s = column(x), info = identity(model.n);
        ASSERT_TRUE(filter.Initialize(s.get(), info.get()));
    }

    std::vector<double> state() const
    {
        std::vector<double> x(size_t(model.n));
        for (int i = 0; i < model.n; ++i)
            x[size_t(i)] = filter.state->data.fl[i];
        return x;
    }

    LinearModel model;
    ExtendedInformationFilter filter;
    const std::vector<double> x0 = {0.3, -1.2, 2.0};
    const std::vector<double> z = {1.0, -0.5, 0.25, 2.0, -1.5};
};

TEST_F(ExtendedInformationFilterTest, OneUpdateIsTheClosedFormStep)
{
    start(x0);
    ASSERT_TRUE(filter.Update(column(z).get()));
    const std::vector<double> want = closedFormStep(model, x0, z);
    for (int i = 0; i < model.n; ++i)
        EXPECT_NEAR(want[size_t(i)], filter.state->data.fl[i], 1e-5 * std::max(1.0, std::fabs(want[size_t(i)])));

    // The information of the step is H' R^-1 H + Q^-1 and the gain P H' R^-1.
    cv::Mat Y = cv::cvarrToMat(filter.information), P = cv::cvarrToMat(filter.covariance);
    cv::Mat product;
    cv::Mat(Y * P).convertTo(product, CV_64F);
    EXPECT_LT(cv::norm(product - cv::Mat::eye(model.n, model.n, CV_64F), cv::NORM_INF), 1e-4);

    // A second step starts from the process noise again: no information is
    // carried over from the first.
    const std::vector<double> x1 = state();
    ASSERT_TRUE(filter.Update(column(z).get()));
    const std::vector<double> want2 = closedFormStep(model, x1, z);
    for (int i = 0; i < model.n; ++i)
    {
        EXPECT_NEAR(want2[size_t(i)], filter.state->data.fl[i], 1e-5 * std::max(1.0, std::fabs(want2[size_t(i)])));
        EXPECT_FLOAT_EQ(float(1.0 / model.q[size_t(i)]), CV_MAT_ELEM(*filter.predictedInformation, float, i, i));
    }
}

TEST_F(ExtendedInformationFilterTest, RepeatedUpdatesReachTheLeastSquaresSolution)
{
    start(x0);
    MatPtr zm = column(z);
    for (int k = 0; k < 60; ++k)
        ASSERT_TRUE(filter.Update(zm.get()));
    // Weighted least squares: (A' R^-1 A)^-1 A' R^-1 z.
    cv::Mat Rinv = cv::Mat::zeros(model.m, model.m, CV_64F);
    for (int i = 0; i < model.m; ++i)
        Rinv.at<double>(i, i) = 1.0 / model.r[size_t(i)];
    cv::Mat ls = (model.A.t() * Rinv * model.A).inv() * model.A.t() * Rinv * cv::Mat(z, true);
    for (int i = 0; i < model.n; ++i)
        EXPECT_NEAR(ls.at<double>(i), filter.state->data.fl[i], 1e-4);
}

TEST_F(ExtendedInformationFilterTest, TinyProcessNoisePinsAState)
{
    model.q = {1.0, 1e-7, 1.0};
    start(x0);
    ASSERT_TRUE(filter.Update(column(z).get()));
    EXPECT_NEAR(x0[1], filter.state->data.fl[1], 1e-4);
    EXPECT_GT(std::fabs(filter.state->data.fl[0] - x0[0]), 1e-2);
}

TEST_F(ExtendedInformationFilterTest, LifecycleGuards)
{
    MatPtr zm = column(z), s = column(x0), info = identity(3);
    // Nothing works before Create.
    EXPECT_FALSE(filter.Initialize(s.get(), info.get()));
    EXPECT_FALSE(filter.Update(zm.get()));
    EXPECT_FALSE(filter.Create(nullptr));
    model.created = false;
    EXPECT_FALSE(filter.Create(&model));
    EXPECT_FALSE(filter.created);
    model.created = true;

    ASSERT_TRUE(filter.Create(&model));
    EXPECT_EQ(5, filter.observationJacobian->rows);
    EXPECT_EQ(3, filter.observationJacobian->cols);
    EXPECT_EQ(5, filter.observationNoiseInv->rows);
    // Update before Initialize fails and leaves the state alone.
    filter.state->data.fl[0] = 42.0f;
    EXPECT_FALSE(filter.Update(zm.get()));
    EXPECT_EQ(42.0f, filter.state->data.fl[0]);
    EXPECT_EQ(0, model.jacobianCalls);

    // Sizes must match.
    MatPtr shortState = column({1.0, 2.0}), bigInfo = identity(4);
    EXPECT_FALSE(filter.Initialize(shortState.get(), info.get()));
    EXPECT_FALSE(filter.Initialize(s.get(), bigInfo.get()));
    EXPECT_FALSE(filter.initialized);
    ASSERT_TRUE(filter.Initialize(s.get(), info.get()));
    EXPECT_FALSE(filter.Update(column({1.0, 2.0}).get()));
    EXPECT_FALSE(filter.Update(nullptr));

    filter.Destroy();
    EXPECT_FALSE(filter.created);
    EXPECT_FALSE(filter.initialized);
    EXPECT_EQ(nullptr, filter.state);
    EXPECT_FALSE(filter.Update(zm.get()));
}

TEST_F(ExtendedInformationFilterTest, FailedUpdatesKeepTheState)
{
    start(x0);
    const std::vector<double> before = state();

    // An observation that is not a number.
    std::vector<double> bad = z;
    bad[2] = std::numeric_limits<double>::quiet_NaN();
    EXPECT_FALSE(filter.Update(column(bad).get()));
    EXPECT_EQ(before, state());

    // A model that cannot evaluate its Jacobian.
    model.failJacobian = true;
    EXPECT_FALSE(filter.Update(column(z).get()));
    EXPECT_EQ(before, state());
    model.failJacobian = false;

    // A singular information matrix: no prior and two identical states.
    model.q = {std::numeric_limits<double>::infinity(), std::numeric_limits<double>::infinity(), 1.0};
    for (int i = 0; i < model.m; ++i)
        model.A.at<double>(i, 1) = model.A.at<double>(i, 0);
    EXPECT_FALSE(filter.Update(column(z).get()));
    EXPECT_EQ(before, state());

    // The filter works again once the system is sound.
    model.q = {1.0, 1.0, 1.0};
    EXPECT_TRUE(filter.Update(column(z).get()));
}

}  // namespace
