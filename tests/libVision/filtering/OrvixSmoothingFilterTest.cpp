#include "filtering/OrvixSmoothingFilter.h"

#include <functional>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/core/core_c.h>

#include "OrvixSDK/FDP.h"

using OrvixSDK::FDP;
using OrvixSDK::OrvixSmoothingFilter;

namespace {

const int kFrameMs = 30;
const int kWindow = 310;

// 8 x 1 float factors, all -1 except the given (index, value) pairs.
CvMat* makeFactors(std::vector<std::pair<int, float>> set = {})
{
    CvMat* m = cvCreateMat(8, 1, CV_32FC1);
    cvSet(m, cvScalarAll(-1.0));
    for (const auto& entry : set)
        CV_MAT_ELEM(*m, float, entry.first, 0) = entry.second;
    return m;
}

// A jittering face: every point of groups 2..17 defined and moving slowly,
// with noisy qualities, except group 5 (undefined) and group 6 (quality -1).
class JitteringFace
{
public:
    explicit JitteringFace(unsigned seed) : random(seed), noise(0.0f, 0.003f), quality(0.5f, 0.9f) {}

    FDP next(int frame)
    {
        FDP points;
        for (int g = FDP::firstGroup; g <= FDP::lastGroup; ++g) {
            for (int i = 1; i <= FDP::groupSize(g); ++i) {
                if (g == 5)
                    continue;
                const float x = 0.3f + 0.01f * g + 0.002f * i + 0.001f * frame + noise(random);
                const float y = 0.6f - 0.005f * i + 0.0005f * frame + noise(random);
                points.setFPPos(g, i, x, y, 0.1f * i + noise(random));
                points.setFPQuality(g, i, g == 6 ? -1.0f : quality(random));
            }
        }
        return points;
    }

private:
    std::mt19937 random;
    std::normal_distribution<float> noise;
    std::uniform_real_distribution<float> quality;
};

bool inRows(const std::vector<std::vector<int>>& rows, int g, int i)
{
    for (const auto& row : rows) {
        if (row[0] == g && i >= row[1] && i <= row[2])
            return true;
    }
    return false;
}

} // namespace

// ---------------------------------------------------------------------------
// Factors missing or all -1: positions untouched, qualities smoothed

struct UntouchedCase
{
    const char* name;
    std::function<CvMat*()> make;   // may return null
};

class OrvixSmoothingFilterUntouched : public ::testing::TestWithParam<UntouchedCase>
{
};

TEST_P(OrvixSmoothingFilterUntouched, PositionsStayWhileQualitiesAreSmoothed)
{
    CvMat* factors = GetParam().make();
    OrvixSmoothingFilter filter(factors);
    cvReleaseMat(&factors);   // the filter holds its own copy

    JitteringFace face(1);
    int smoothedQualities = 0;
    for (int frame = 0; frame < 25; ++frame) {
        const long time = frame * kFrameMs;
        const FDP input = face.next(frame);
        FDP points = input;
        filter.enable();
        filter.startFrame();
        if (frame == 0)
            filter.reset();
        filter.do_smoothing(&points, time);
        filter.do_smoothingEars(&points, time);
        for (int g = FDP::firstGroup; g <= FDP::lastGroup; ++g) {
            for (int i = 1; i <= FDP::groupSize(g); ++i) {
                const float* in = input.getFPPos(g, i);
                const float* out = points.getFPPos(g, i);
                ASSERT_EQ(in[0], out[0]) << g << "." << i << " frame " << frame;
                ASSERT_EQ(in[1], out[1]) << g << "." << i << " frame " << frame;
                ASSERT_EQ(in[2], out[2]) << g << "." << i << " frame " << frame;
                const float qIn = input.getFPQuality(g, i);
                const float qOut = points.getFPQuality(g, i);
                if (time <= kWindow || g == 5 || g == 6) {
                    ASSERT_EQ(qIn, qOut) << g << "." << i << " frame " << frame;
                } else {
                    smoothedQualities += qIn != qOut ? 1 : 0;
                    ASSERT_GE(qOut, 0.5f);
                    ASSERT_LE(qOut, 0.9f);
                }
            }
        }
    }
    // 14 frames past the window, 245 points with a quality, two passes each.
    EXPECT_GT(smoothedQualities, 14 * 245 * 9 / 10);
}

INSTANTIATE_TEST_SUITE_P(
    Factors, OrvixSmoothingFilterUntouched,
    ::testing::Values(
        UntouchedCase{"AllMinusOne", [] { return makeFactors(); }},
        UntouchedCase{"Null", []() -> CvMat* { return nullptr; }},
        UntouchedCase{"OneElementMinusOne",
                      [] {
                          CvMat* m = cvCreateMat(1, 1, CV_32FC1);
                          cvSet(m, cvScalarAll(-1.0));
                          return m;
                      }},
        UntouchedCase{"MultiChannelOfZeros",
                      [] {
                          CvMat* m = cvCreateMat(8, 1, CV_32FC3);
                          cvSetZero(m);
                          return m;
                      }},
        UntouchedCase{"DoubleMinusOne",
                      [] {
                          CvMat* m = cvCreateMat(2, 4, CV_64FC1);
                          cvSet(m, cvScalarAll(-1.0));
                          return m;
                      }}),
    [](const ::testing::TestParamInfo<UntouchedCase>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Each factor smooths its own regions

struct RegionCase
{
    const char* name;
    std::function<CvMat*()> make;
    std::vector<std::vector<int>> smoothedRows;   // (group, first, last)
};

class OrvixSmoothingFilterRegions : public ::testing::TestWithParam<RegionCase>
{
};

TEST_P(OrvixSmoothingFilterRegions, OnlyTheRowsOfSetFactorsMove)
{
    const RegionCase& c = GetParam();
    CvMat* factors = c.make();
    OrvixSmoothingFilter filter(nullptr);
    filter.setSmoothingFactors(factors);
    cvReleaseMat(&factors);

    JitteringFace face(2);
    for (int frame = 0; frame < 12; ++frame) {
        const long time = frame * kFrameMs;
        const FDP input = face.next(frame);
        FDP points = input;
        filter.startFrame();
        filter.do_smoothing(&points, time);
        filter.do_smoothingEars(&points, time);
        for (int g = FDP::firstGroup; g <= FDP::lastGroup; ++g) {
            for (int i = 1; i <= FDP::groupSize(g); ++i) {
                const float* in = input.getFPPos(g, i);
                const float* out = points.getFPPos(g, i);
                ASSERT_EQ(in[2], out[2]) << g << "." << i;
                if (inRows(c.smoothedRows, g, i)) {
                    if (frame < 5)   // from 6 samples on (5 give back the newest)
                        continue;
                    ASSERT_NE(in[0], out[0]) << g << "." << i << " frame " << frame;
                    ASSERT_NE(in[1], out[1]) << g << "." << i << " frame " << frame;
                } else {
                    ASSERT_EQ(in[0], out[0]) << g << "." << i << " frame " << frame;
                    ASSERT_EQ(in[1], out[1]) << g << "." << i << " frame " << frame;
                }
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Factors, OrvixSmoothingFilterRegions,
    ::testing::Values(
        // A 1 x 1 double matrix gives factor 0; the seven missing ones are -1.
        RegionCase{"ShortDoubleMatrixSetsFactorZero",
                   [] {
                       CvMat* m = cvCreateMat(1, 1, CV_64FC1);
                       cvSetZero(m);
                       return m;
                   },
                   {{4, 1, 6}, {14, 1, 12}}},
        RegionCase{"FactorOne", [] { return makeFactors({{1, 0.5f}}); },
                   {{8, 1, 10}, {2, 2, 9}, {17, 5, 20}}},
        RegionCase{"FactorTwo", [] { return makeFactors({{2, 3.0f}}); }, {{3, 5, 6}}},
        RegionCase{"FactorThree", [] { return makeFactors({{3, 1.0f}}); },
                   {{3, 1, 4}, {3, 7, 14}, {12, 5, 12}, {16, 1, 28}}},
        RegionCase{"FactorFour", [] { return makeFactors({{4, 1.0f}}); },
                   {{9, 3, 5}, {9, 15, 15}, {14, 22, 25}}},
        // The contour ignores quality: factor -0.01 keeps it still, while the
        // chin's quality term lifts it above 0.
        RegionCase{"FactorFiveSlightlyNegative", [] { return makeFactors({{5, -0.01f}}); },
                   {{2, 1, 1}}},
        RegionCase{"FactorSixIsUnused", [] { return makeFactors({{6, 1.0f}}); }, {}},
        RegionCase{"FactorSevenSmoothsTheEars", [] { return makeFactors({{7, 1.0f}}); },
                   {{10, 1, 24}}}),
    [](const ::testing::TestParamInfo<RegionCase>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Switching on and off

TEST(OrvixSmoothingFilter, DisabledFilterLeavesPointsAndRadiiAloneUntilEnabledOrReset)
{
    CvMat* factors = makeFactors({{0, 1}, {1, 1}, {2, 1}, {3, 1}, {4, 1}, {5, 1}, {7, 1}});
    OrvixSmoothingFilter filter(factors);
    cvReleaseMat(&factors);
    JitteringFace face(3);
    std::mt19937 random(4);
    std::normal_distribution<float> radius(4.0f, 0.2f);
    long start0 = -1, start1 = -1;

    // Positions move once more than 5 samples lie in the window (with 5 they
    // come back almost unchanged, so frame 4 is not checked); qualities and
    // radii once the run is longer than the window.
    auto runFrame = [&](int frame, bool positionsMove, bool othersMove) {
        const long time = 1000 + frame * kFrameMs;
        const FDP input = face.next(frame);
        FDP points = input;
        const float radiiIn[2] = {radius(random), radius(random)};
        float radii[2] = {radiiIn[0], radiiIn[1]};
        filter.startFrame();
        filter.do_smoothing(&points, time - 1000);
        filter.do_smoothingEars(&points, time - 1000);
        filter.do_smoothingIris(radii, &start0, &start1, time);
        if (frame != 4) {
            EXPECT_EQ(positionsMove, input.getFPPos(3, 5)[0] != points.getFPPos(3, 5)[0]) << "frame " << frame;
            EXPECT_EQ(positionsMove, input.getFPPos(10, 7)[1] != points.getFPPos(10, 7)[1]) << "frame " << frame;
        }
        EXPECT_EQ(othersMove, input.getFPQuality(3, 5) != points.getFPQuality(3, 5)) << "frame " << frame;
        EXPECT_EQ(othersMove, radiiIn[0] != radii[0]) << "frame " << frame;
        EXPECT_EQ(othersMove, radiiIn[1] != radii[1]) << "frame " << frame;
    };

    for (int frame = 0; frame <= 11; ++frame)
        runFrame(frame, frame >= 5, frame == 11);
    filter.disable();
    for (int frame = 12; frame < 16; ++frame)
        runFrame(frame, false, false);
    EXPECT_EQ(1000, start0);
    EXPECT_EQ(1000, start1);
    filter.enable();
    runFrame(16, true, true);
    filter.disable();
    filter.reset();
    // Enabled again, but every sample lies outside the window: nothing to
    // smooth until the history builds up once more.
    runFrame(17, false, false);
    runFrame(18, false, true);
}

// ---------------------------------------------------------------------------
// Iris radii

TEST(OrvixSmoothingFilter, UnknownIrisRadiusPassesThroughAndRestartsThatEye)
{
    OrvixSmoothingFilter filter(nullptr);
    std::mt19937 random(6);
    std::normal_distribution<float> noise(0.0f, 0.2f);
    long start[2] = {-1, -1};
    // Eye 0 is known from 1000 ms, lost at 1600 ms and back from 1690 ms;
    // eye 1 is known from 1300 ms on.
    auto known = [](int eye, long t) {
        return eye == 0 ? (t < 1600 || t >= 1690) : t >= 1300;
    };
    auto runStart = [](int eye, long t) -> long {
        if (eye == 0)
            return t < 1600 ? 1000 : (t < 1690 ? -1 : 1690);
        return t < 1300 ? -1 : 1300;
    };
    for (long t = 1000; t <= 2500; t += kFrameMs) {
        float in[2];
        for (int eye = 0; eye < 2; ++eye)
            in[eye] = known(eye, t) ? 4.0f + noise(random) : -1.0f;
        float radii[2] = {in[0], in[1]};
        filter.startFrame();
        filter.do_smoothingIris(radii, &start[0], &start[1], t);
        for (int eye = 0; eye < 2; ++eye) {
            const long expectedStart = runStart(eye, t);
            EXPECT_EQ(expectedStart, start[eye]) << "eye " << eye << " at " << t;
            if (!known(eye, t)) {
                EXPECT_EQ(-1.0f, radii[eye]) << "eye " << eye << " at " << t;
            } else if (t - expectedStart <= kWindow) {
                EXPECT_EQ(in[eye], radii[eye]) << "eye " << eye << " at " << t;
            } else {
                EXPECT_NE(in[eye], radii[eye]) << "eye " << eye << " at " << t;
                EXPECT_GT(radii[eye], 3.0f);
                EXPECT_LT(radii[eye], 5.0f);
            }
        }
    }
}

TEST(OrvixSmoothingFilter, NullArgumentsAreIgnored)
{
    OrvixSmoothingFilter filter(nullptr);
    filter.startFrame();
    filter.do_smoothing(nullptr, 0);
    filter.do_smoothingEars(nullptr, 0);
    long start = -1;
    filter.do_smoothingIris(nullptr, &start, &start, 0);
    EXPECT_EQ(-1, start);
    float radii[2] = {3.0f, 4.0f};
    filter.do_smoothingIris(radii, nullptr, nullptr, 500);
    EXPECT_EQ(3.0f, radii[0]);
    EXPECT_EQ(4.0f, radii[1]);
    filter.setSmoothingFactors(nullptr);
}
