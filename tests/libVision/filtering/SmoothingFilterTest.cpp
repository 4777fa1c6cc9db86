#include "filtering/SmoothingFilter.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

using OrvixSDK::SmoothingFilter;

namespace {

const int kHistory = 31;
const int kWindow = 310;
const int kFrameMs = 30;

enum class Op { MovingAverage, ChangeAdaptive, TimedAdaptive, PolynomialBlend };

std::string opName(Op op)
{
    switch (op) {
    case Op::MovingAverage:
        return "MovingAverage";
    case Op::ChangeAdaptive:
        return "ChangeAdaptive";
    case Op::TimedAdaptive:
        return "TimedAdaptive";
    case Op::PolynomialBlend:
        return "PolynomialBlend";
    }
    return "Unknown";
}

// One call of the operation over all values, with the settings the tracking
// code uses (averages over 3 values; blend factor 1 for every value).
void apply(SmoothingFilter& filter, Op op, std::vector<float>& values, long time)
{
    const int count = static_cast<int>(values.size());
    switch (op) {
    case Op::MovingAverage:
        filter.smooth(values.data(), count, 3);
        break;
    case Op::ChangeAdaptive:
        filter.smooth_w(values.data(), count, 3);
        break;
    case Op::TimedAdaptive:
        filter.smooth_w_time(values.data(), count, time, kWindow, 0.5f, 0.05f, 1.0f, 0.5f, 1.0f);
        break;
    case Op::PolynomialBlend: {
        std::vector<float*> pointers;
        for (float& value : values)
            pointers.push_back(&value);
        std::vector<float> factors(values.size(), 1.0f);
        filter.smooth_w_time_SG(pointers.data(), count, time, kWindow, factors.data());
        break;
    }
    }
}

void runFrame(SmoothingFilter& filter, Op op, std::vector<float>& values, long time)
{
    filter.startFrame();
    apply(filter, op, values, time);
}

// Everything a smoothing call may change.
struct Snapshot
{
    int currentChannel;
    int frameCount;
    std::vector<float> history;
    std::vector<int> timestamps;
    std::vector<int> writeIndex;
    std::vector<bool> warmedUp;

    explicit Snapshot(const SmoothingFilter& f)
        : currentChannel(f.getCurrentChannel()), frameCount(f.getFrameCount())
    {
        for (int ch = 0; ch < f.getChannelCount(); ++ch) {
            history.insert(history.end(), f.getHistory(ch), f.getHistory(ch) + f.getHistoryLength());
            timestamps.insert(timestamps.end(), f.getTimestamps(ch),
                              f.getTimestamps(ch) + f.getHistoryLength());
            writeIndex.push_back(f.getWriteIndex(ch));
            warmedUp.push_back(f.isWarmedUp(ch));
        }
    }
    bool operator==(const Snapshot& o) const
    {
        // Bitwise comparison of the stored floats (NaN-safe).
        return currentChannel == o.currentChannel && frameCount == o.frameCount &&
               history.size() == o.history.size() &&
               std::memcmp(history.data(), o.history.data(), history.size() * sizeof(float)) == 0 &&
               timestamps == o.timestamps && writeIndex == o.writeIndex && warmedUp == o.warmedUp;
    }
};

double rms(const std::vector<double>& errors)
{
    double sum = 0.0;
    for (double e : errors)
        sum += e * e;
    return std::sqrt(sum / errors.size());
}

} // namespace

// ---------------------------------------------------------------------------
// Known answers

TEST(SmoothingFilterMovingAverage, AveragesTheLastNValuesOnceWarmedUp)
{
    // n = 3 warms up when frameCount exceeds 3, i.e. from the fourth frame.
    const float input[5][3] = {
        {1, 10, -10}, {2, 0, 0}, {3, 20, -20}, {4, 40, -40}, {5, 10, -10}};
    const float expected[5][3] = {
        {1, 10, -10}, {2, 0, 0}, {3, 20, -20}, {3, 20, -20}, {4, 70.0f / 3, -70.0f / 3}};
    const int expectedInt[5][3] = {
        {1, 10, -10}, {2, 0, 0}, {3, 20, -20}, {3, 20, -20}, {4, 23, -23}};  // toward zero

    SmoothingFilter floats(3, 5);
    SmoothingFilter ints(3, 5);
    for (int frame = 0; frame < 5; ++frame) {
        float f[3];
        int i[3];
        for (int c = 0; c < 3; ++c) {
            f[c] = input[frame][c];
            i[c] = static_cast<int>(input[frame][c]);
        }
        floats.startFrame();
        floats.smooth(f, 3, 3);
        ints.startFrame();
        ints.smooth(i, 3, 3);
        for (int c = 0; c < 3; ++c) {
            EXPECT_FLOAT_EQ(expected[frame][c], f[c]) << "frame " << frame << " channel " << c;
            EXPECT_EQ(expectedInt[frame][c], i[c]) << "frame " << frame << " channel " << c;
        }
        EXPECT_EQ(3, floats.getCurrentChannel());
    }
}

TEST(SmoothingFilterChangeAdaptive, WeightsFallWithTheLargestRecentChange)
{
    // n = 3, warmed up from the fourth frame.  With c the largest change
    // against the two values before, w_s = exp(-20 * c * s):
    // channel 0 (0.10 0.10 0.11 0.12 0.12):
    //   frame 4: c = 0.02, (0.12 + e^-0.4 * 0.11 + e^-0.8 * 0.10) / (1 + e^-0.4 + e^-0.8) = 0.112598
    //   frame 5: c = 0.01, (0.12 + e^-0.2 * 0.12 + e^-0.4 * 0.11) / (1 + e^-0.2 + e^-0.4) = 0.117307
    // channel 1 (1 1 1 1.05 1.05):
    //   frame 4: c = 0.05, (1.05 + e^-1 * 1.00 + e^-2 * 1.00) / (1 + e^-1 + e^-2) = 1.033262
    //   frame 5: c = 0.05, (1.05 + e^-1 * 1.05 + e^-2 * 1.00) / (1 + e^-1 + e^-2) = 1.045498
    const float input[5][2] = {{0.10f, 1.0f}, {0.10f, 1.0f}, {0.11f, 1.0f}, {0.12f, 1.05f},
                               {0.12f, 1.05f}};
    const float expected[5][2] = {{0.10f, 1.0f}, {0.10f, 1.0f}, {0.11f, 1.0f},
                                  {0.112598f, 1.033262f}, {0.117307f, 1.045498f}};
    SmoothingFilter filter(2, 5);
    for (int frame = 0; frame < 5; ++frame) {
        float values[2] = {input[frame][0], input[frame][1]};
        filter.startFrame();
        filter.smooth_w(values, 2, 3);
        EXPECT_NEAR(expected[frame][0], values[0], 1e-6) << "frame " << frame;
        EXPECT_NEAR(expected[frame][1], values[1], 1e-6) << "frame " << frame;
    }
}

// ---------------------------------------------------------------------------
// Behaviour shared by all four operations

class SmoothingFilterOps : public ::testing::TestWithParam<Op>
{
};

TEST_P(SmoothingFilterOps, ConstantSignalComesBackUnchanged)
{
    const std::vector<float> constants = {0.37f, -2.5f, 120.0f};
    SmoothingFilter filter(3, kHistory);
    for (int frame = 0; frame < 60; ++frame) {
        std::vector<float> values = constants;
        runFrame(filter, GetParam(), values, frame * kFrameMs);
        for (size_t c = 0; c < constants.size(); ++c)
            EXPECT_NEAR(constants[c], values[c], 2e-6f * std::fabs(constants[c]))
                << "frame " << frame << " channel " << c;
    }
    if (GetParam() != Op::PolynomialBlend) {
        EXPECT_TRUE(filter.isWarmedUp(0));
    }
}

TEST_P(SmoothingFilterOps, DisabledFilterReturnsAtOnceAndResetEnablesIt)
{
    std::mt19937 random(7);
    std::normal_distribution<float> noise(0.5f, 0.1f);
    SmoothingFilter filter(2, kHistory);
    long time = 0;
    for (int frame = 0; frame < 20; ++frame, time += kFrameMs) {
        std::vector<float> values = {noise(random), noise(random)};
        runFrame(filter, GetParam(), values, time);
    }

    filter.startFrame();
    std::vector<float> warm = {noise(random), noise(random)};
    apply(filter, GetParam(), warm, time);   // mid-frame: currentChannel is 2
    filter.disable();
    EXPECT_FALSE(filter.isEnabled());
    const Snapshot before(filter);
    std::vector<float> values = {noise(random), noise(random)};
    const std::vector<float> input = values;
    apply(filter, GetParam(), values, time + kFrameMs);
    EXPECT_EQ(input, values);
    EXPECT_TRUE(before == Snapshot(filter));

    filter.reset();
    EXPECT_TRUE(filter.isEnabled());
    filter.startFrame();
    apply(filter, GetParam(), values, 0);
    EXPECT_EQ(2, filter.getCurrentChannel());
}

TEST_P(SmoothingFilterOps, ValuesBeyondTheLastChannelAreLeftAlone)
{
    std::mt19937 random(11);
    std::normal_distribution<float> noise(0.5f, 0.1f);
    SmoothingFilter filter(3, kHistory);
    for (int frame = 0; frame < 30; ++frame) {
        std::vector<float> values(7);
        for (float& v : values)
            v = noise(random);
        const std::vector<float> input = values;
        runFrame(filter, GetParam(), values, frame * kFrameMs);
        EXPECT_EQ(3, filter.getCurrentChannel());
        for (int c = 3; c < 7; ++c)
            EXPECT_EQ(input[c], values[c]);
        // A further call in the same frame has no channel left.
        std::vector<float> more = {1.0f, 2.0f};
        apply(filter, GetParam(), more, frame * kFrameMs);
        EXPECT_EQ(1.0f, more[0]);
        EXPECT_EQ(2.0f, more[1]);
        EXPECT_EQ(3, filter.getCurrentChannel());
    }
}

TEST_P(SmoothingFilterOps, NonFiniteValuePassesThroughWithoutPoisoningItsChannel)
{
    const float kNaN = std::numeric_limits<float>::quiet_NaN();
    const float kInf = std::numeric_limits<float>::infinity();
    SmoothingFilter filter(2, kHistory);
    for (int frame = 0; frame < 60; ++frame) {
        std::vector<float> values = {0.5f, -3.0f};
        if (frame == 20)
            values[0] = kNaN;
        if (frame == 21)
            values[0] = kInf;
        runFrame(filter, GetParam(), values, frame * kFrameMs);
        EXPECT_EQ(2, filter.getCurrentChannel());
        if (frame == 20) {
            EXPECT_TRUE(std::isnan(values[0]));
        } else if (frame == 21) {
            EXPECT_EQ(kInf, values[0]);
        } else {
            EXPECT_NEAR(0.5f, values[0], 1e-6f) << "frame " << frame;
        }
        // The channel after it keeps its own history.
        EXPECT_NEAR(-3.0f, values[1], 1e-5f) << "frame " << frame;
    }
}

INSTANTIATE_TEST_SUITE_P(AllOperations, SmoothingFilterOps,
                         ::testing::Values(Op::MovingAverage, Op::ChangeAdaptive,
                                           Op::TimedAdaptive, Op::PolynomialBlend),
                         [](const ::testing::TestParamInfo<Op>& info) { return opName(info.param); });

// ---------------------------------------------------------------------------
// Arguments out of range

TEST(SmoothingFilterArguments, AverageLengthOutsideTheHistoryDoesNothing)
{
    const int lengths[] = {0, -1, 6, 1000};
    for (int n : lengths) {
        for (int form = 0; form < 3; ++form) {
            SmoothingFilter filter(2, 5);
            for (int frame = 0; frame < 8; ++frame) {
                filter.startFrame();
                float f[2] = {1.0f + frame, 2.0f * frame};
                int i[2] = {frame, -frame};
                const Snapshot before(filter);
                if (form == 0)
                    filter.smooth(f, 2, n);
                else if (form == 1)
                    filter.smooth(i, 2, n);
                else
                    filter.smooth_w(f, 2, n);
                EXPECT_TRUE(before == Snapshot(filter)) << "n " << n << " form " << form;
                EXPECT_EQ(1.0f + frame, f[0]);
                EXPECT_EQ(2.0f * frame, f[1]);
                EXPECT_EQ(frame, i[0]);
                EXPECT_EQ(-frame, i[1]);
            }
        }
    }
}

TEST(SmoothingFilterArguments, NullValuesAndDegenerateSizesAreHarmless)
{
    SmoothingFilter filter(2, 5);
    filter.startFrame();
    float* nullFloats = nullptr;
    int* nullInts = nullptr;
    filter.smooth(nullFloats, 2, 1);
    filter.smooth(nullInts, 2, 1);
    filter.smooth_w(nullFloats, 2, 1);
    filter.smooth_w_time(nullFloats, 2, 0, kWindow, 1, 0, 1, 0, 1);
    filter.smooth_w_time(nullInts, 2, 0, kWindow, 1, 0, 1, 0, 1);
    float value = 1.0f;
    float* pointers[2] = {nullptr, &value};
    const float factors[2] = {1.0f, 1.0f};
    filter.smooth_w_time_SG(nullptr, 2, 0, kWindow, factors);
    filter.smooth_w_time_SG(pointers, 2, 0, kWindow, nullptr);
    EXPECT_EQ(0, filter.getCurrentChannel());
    filter.smooth_w_time_SG(pointers, 2, 0, kWindow, factors);
    EXPECT_EQ(2, filter.getCurrentChannel());   // the null entry still holds its channel
    EXPECT_EQ(1.0f, value);

    // No channels, no history: every call leaves the values alone.
    SmoothingFilter empty(-4, 0);
    EXPECT_EQ(0, empty.getChannelCount());
    EXPECT_EQ(1, empty.getHistoryLength());
    SmoothingFilter shortHistory(2, -3);
    EXPECT_EQ(1, shortHistory.getHistoryLength());
    for (int frame = 0; frame < 20; ++frame) {
        for (SmoothingFilter* f : {&empty, &shortHistory}) {
            std::vector<float> values = {0.25f + frame, 0.5f};
            for (Op op : {Op::MovingAverage, Op::ChangeAdaptive, Op::TimedAdaptive,
                          Op::PolynomialBlend}) {
                std::vector<float> copy = values;
                runFrame(*f, op, copy, frame * kFrameMs);
                EXPECT_EQ(values, copy) << opName(op) << " frame " << frame;
            }
        }
    }
}

TEST(SmoothingFilterArguments, IntegerFormsTakeMoreThanFiveHundredValues)
{
    const int count = 1200;
    SmoothingFilter average(count, 5);
    SmoothingFilter timed(count, 5);
    for (int frame = 0; frame < 3; ++frame) {
        std::vector<int> values(count);
        for (int c = 0; c < count; ++c)
            values[c] = c + 2 * frame;
        average.startFrame();
        average.smooth(values.data(), count, 2);
        EXPECT_EQ(count, average.getCurrentChannel());
        for (int c = 0; c < count; ++c) {
            // n = 2 warms up in frame 3: mean of c + 4 and c + 2.
            ASSERT_EQ(frame == 2 ? c + 3 : c + 2 * frame, values[c]) << "channel " << c;
        }

        std::vector<int> constant(count, 7);
        timed.startFrame();
        timed.smooth_w_time(constant.data(), count, 400 + frame * kFrameMs, kWindow, 0.5f, 0.05f,
                            1.0f, 0.5f, 1.0f);
        EXPECT_EQ(count, timed.getCurrentChannel());
        for (int c = 0; c < count; ++c)
            ASSERT_EQ(7, constant[c]);
    }
}

// ---------------------------------------------------------------------------
// reset

TEST(SmoothingFilterReset, ForgetsThePastButKeepsValuesAndChannel)
{
    SmoothingFilter filter(2, 4);
    for (int frame = 0; frame < 6; ++frame) {
        float values[2] = {1.0f * frame, 2.0f * frame};
        filter.startFrame();
        filter.smooth_w_time(values, 1, 400 + frame, kWindow, 0.5f, 0.05f, 1.0f, 0.5f, 1.0f);
    }
    filter.disable();
    const std::vector<float> stored(filter.getHistory(0), filter.getHistory(0) + 4);
    filter.reset();
    EXPECT_TRUE(filter.isEnabled());
    EXPECT_EQ(0, filter.getFrameCount());
    EXPECT_EQ(1, filter.getCurrentChannel());
    for (int ch = 0; ch < 2; ++ch) {
        EXPECT_EQ(0, filter.getWriteIndex(ch));
        EXPECT_FALSE(filter.isWarmedUp(ch));
        for (int s = 0; s < 4; ++s)
            EXPECT_EQ(-10000000, filter.getTimestamps(ch)[s]);
    }
    EXPECT_EQ(stored, std::vector<float>(filter.getHistory(0), filter.getHistory(0) + 4));
}

// ---------------------------------------------------------------------------
// Time-windowed adaptive average

TEST(SmoothingFilterTimedAdaptive, SmoothsOnlyOnceTheRunIsLongerThanTheWindow)
{
    std::mt19937 random(3);
    std::normal_distribution<float> noise(0.7f, 0.05f);
    SmoothingFilter filter(1, kHistory);
    std::vector<double> rawErrors, smoothErrors;
    for (long time = 0; time <= 3000; time += kFrameMs) {
        float value = noise(random);
        const float input = value;
        filter.startFrame();
        filter.smooth_w_time(&value, 1, time, kWindow, 0.5f, 0.05f, 1.0f, 0.5f, 1.0f);
        if (time <= kWindow) {
            EXPECT_EQ(input, value) << "time " << time;
        } else {
            EXPECT_NE(input, value) << "time " << time;
            rawErrors.push_back(input - 0.7);
            smoothErrors.push_back(value - 0.7);
        }
    }
    EXPECT_LT(rms(smoothErrors), 0.8 * rms(rawErrors));
}

TEST(SmoothingFilterTimedAdaptive, RunStartingBeyondTheWindowIgnoresBoundsOfEarlierRuns)
{
    // Bounds left by a wildly changing earlier run must not shape a new run
    // whose first call already lies beyond the window.
    std::mt19937 random(5);
    std::normal_distribution<float> noise(0.5f, 0.05f);
    std::vector<float> sequence;
    for (int i = 0; i < 40; ++i)
        sequence.push_back(noise(random));

    SmoothingFilter used(1, kHistory);
    for (long time = 0; time < 2000; time += kFrameMs) {
        float value = (time / kFrameMs) % 2 ? 50.0f : -50.0f;
        used.startFrame();
        used.smooth_w_time(&value, 1, time, kWindow, 0.5f, 0.05f, 1.0f, 0.5f, 1.0f);
    }
    used.reset();
    SmoothingFilter fresh(1, kHistory);
    for (size_t i = 0; i < sequence.size(); ++i) {
        float a = sequence[i];
        float b = sequence[i];
        const long time = 5000 + static_cast<long>(i) * kFrameMs;
        used.startFrame();
        used.smooth_w_time(&a, 1, time, kWindow, 0.5f, 0.05f, 1.0f, 0.5f, 1.0f);
        fresh.startFrame();
        fresh.smooth_w_time(&b, 1, time, kWindow, 0.5f, 0.05f, 1.0f, 0.5f, 1.0f);
        EXPECT_EQ(b, a) << "call " << i;
    }
}

// ---------------------------------------------------------------------------
// Polynomial blend

// With exactly 5 samples the degree-4 fit runs through every sample and the
// blend returns (almost) the newest value, so the cases only check frames
// with at most 4 or at least 6 samples in the window.
struct BlendSpacingCase
{
    int frameMs;
    int lastUnchangedFrame;   // -1: every frame
    int firstSmoothedFrame;   // -1: never
};

class SmoothingFilterBlendSpacing : public ::testing::TestWithParam<BlendSpacingCase>
{
};

TEST_P(SmoothingFilterBlendSpacing, FewerThanFiveSamplesInTheWindowLeaveValuesUnchanged)
{
    const BlendSpacingCase& spacing = GetParam();
    std::mt19937 random(13);
    std::normal_distribution<float> noise(0.5f, 0.02f);
    SmoothingFilter filter(2, kHistory);
    for (int frame = 0; frame < 40; ++frame) {
        std::vector<float> values = {noise(random), noise(random)};
        const std::vector<float> input = values;
        runFrame(filter, Op::PolynomialBlend, values, static_cast<long>(frame) * spacing.frameMs);
        if (spacing.lastUnchangedFrame < 0 || frame <= spacing.lastUnchangedFrame) {
            EXPECT_EQ(input, values) << "frame " << frame;
        }
        if (spacing.firstSmoothedFrame >= 0 && frame >= spacing.firstSmoothedFrame) {
            EXPECT_NE(input[0], values[0]) << "frame " << frame;
            EXPECT_NE(input[1], values[1]) << "frame " << frame;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Spacings, SmoothingFilterBlendSpacing,
                         ::testing::Values(BlendSpacingCase{30, 3, 5}, BlendSpacingCase{61, 3, 5},
                                           BlendSpacingCase{77, 3, -1}, BlendSpacingCase{78, -1, -1},
                                           BlendSpacingCase{100, -1, -1},
                                           BlendSpacingCase{400, -1, -1}),
                         [](const ::testing::TestParamInfo<BlendSpacingCase>& info) {
                             return "Every" + std::to_string(info.param.frameMs) + "ms";
                         });

TEST(SmoothingFilterBlend, LinearRampIsReproduced)
{
    // The degree-1 and degree-4 fits are exact; up to factor 5 they outweigh
    // the lagging degree-0 fit by far.
    const float factorsToTry[] = {0.0f, 1.0f, 3.0f, 5.0f};
    for (float factor : factorsToTry) {
        SmoothingFilter filter(2, kHistory);
        for (int frame = 0; frame < 60; ++frame) {
            float x = 0.2f + 0.01f * frame;
            float y = 0.8f - 0.004f * frame;
            float* values[2] = {&x, &y};
            const float factors[2] = {factor, factor};
            filter.startFrame();
            filter.smooth_w_time_SG(values, 2, frame * kFrameMs, kWindow, factors);
            EXPECT_NEAR(0.2f + 0.01f * frame, x, 2e-4f) << "factor " << factor << " frame " << frame;
            EXPECT_NEAR(0.8f - 0.004f * frame, y, 2e-4f) << "factor " << factor << " frame " << frame;
        }
    }
}

TEST(SmoothingFilterBlend, NoisyPointComesOutCloserToTheTruth)
{
    // Small factors follow a moving point; large ones smooth a still point
    // hard (and would lag behind a moving one).
    struct Case
    {
        float velocity;   // per millisecond
        float factor;
        double maxRatio;  // smoothed RMS error / raw RMS error
    };
    const Case cases[] = {{0.0001f, 0.0f, 0.9}, {0.0001f, 1.0f, 0.95}, {0.00003f, 1.0f, 0.8},
                          {0.0f, 5.0f, 0.5}};
    for (const Case& c : cases) {
        std::mt19937 random(17);
        std::normal_distribution<float> noise(0.0f, 0.004f);
        SmoothingFilter filter(2, kHistory);
        std::vector<double> rawErrors, smoothErrors;
        for (int frame = 0; frame < 300; ++frame) {
            const long time = frame * 33L;
            const float truthX = 0.3f + c.velocity * time;
            const float truthY = 0.6f - 0.5f * c.velocity * time;
            float x = truthX + noise(random);
            float y = truthY + noise(random);
            rawErrors.push_back(x - truthX);
            rawErrors.push_back(y - truthY);
            float* values[2] = {&x, &y};
            const float factors[2] = {c.factor, c.factor};
            filter.startFrame();
            filter.smooth_w_time_SG(values, 2, time, kWindow, factors);
            smoothErrors.push_back(x - truthX);
            smoothErrors.push_back(y - truthY);
        }
        EXPECT_LT(rms(smoothErrors), c.maxRatio * rms(rawErrors))
            << "velocity " << c.velocity << " factor " << c.factor;
    }
}

TEST(SmoothingFilterBlend, NegativeFactorsLeaveTheirValuesAloneAndUseNoChannel)
{
    std::mt19937 random(19);
    std::normal_distribution<float> noise(0.5f, 0.02f);
    const float factors[5] = {-1.0f, 0.0f, std::numeric_limits<float>::quiet_NaN(), 2.0f, -0.5f};
    SmoothingFilter filter(4, kHistory);
    for (int frame = 0; frame < 20; ++frame) {
        float in[5];
        float out[5];
        float* pointers[5];
        for (int i = 0; i < 5; ++i) {
            in[i] = out[i] = noise(random);
            pointers[i] = &out[i];
        }
        filter.startFrame();
        filter.smooth_w_time_SG(pointers, 5, frame * kFrameMs, kWindow, factors);
        EXPECT_EQ(2, filter.getCurrentChannel());
        EXPECT_EQ(in[0], out[0]);
        EXPECT_EQ(in[2], out[2]);
        EXPECT_EQ(in[4], out[4]);
        if (frame >= 5) {
            EXPECT_NE(in[1], out[1]);
            EXPECT_NE(in[3], out[3]);
        }
        // Kept values go to consecutive channels: value 3 is on channel 1.
        EXPECT_EQ(in[3], filter.getHistory(1)[frame % kHistory]);
    }
}

TEST(SmoothingFilterBlend, ChannelWithLessHistoryPassesThroughUntilItCatchesUp)
{
    // Value 1 joins at frame 10; at 30 ms per frame the window holds 11
    // samples, so it is left alone until its own channel holds 11 of them.
    std::mt19937 random(23);
    std::normal_distribution<float> noise(0.5f, 0.02f);
    SmoothingFilter filter(2, kHistory);
    for (int frame = 0; frame < 30; ++frame) {
        const float in[2] = {noise(random), noise(random)};
        float out[2] = {in[0], in[1]};
        float* pointers[2] = {&out[0], &out[1]};
        const float factors[2] = {1.0f, frame < 10 ? -1.0f : 1.0f};
        filter.startFrame();
        filter.smooth_w_time_SG(pointers, 2, frame * kFrameMs, kWindow, factors);
        if (frame >= 5) {
            EXPECT_NE(in[0], out[0]) << "frame " << frame;
        }
        if (frame < 20) {
            EXPECT_EQ(in[1], out[1]) << "frame " << frame;
        } else {
            EXPECT_NE(in[1], out[1]) << "frame " << frame;
        }
    }
}
