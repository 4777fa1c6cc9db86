#include <cstdint>
#include <string>

#include <gtest/gtest.h>

#include "support/Timer.h"

using OrvixSDK::Timer;

namespace {

// A timer driven by a clock the test sets by hand.
class ManualTimer : public Timer {
public:
    uint64_t now = 5000;
    uint64_t getTickCount() const override { return now; }
};

struct SplitCase {
    uint64_t elapsed;
    const char* text;
};

// Names each case after its expected text in test listings.
void PrintTo(const SplitCase& c, std::ostream* os)
{
    *os << c.elapsed << "ms=" << c.text;
}

class TimerSplitTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(TimerSplitTest, SplitsElapsedMillisecondsIntoClockParts)
{
    ManualTimer timer;
    timer.start();
    timer.now += GetParam().elapsed;
    EXPECT_EQ(timer.getTimeStr(), GetParam().text);

    uint64_t h, m, s, ms;
    timer.getTime(h, m, s, ms);
    EXPECT_EQ(((h * 60 + m) * 60 + s) * 1000 + ms, GetParam().elapsed);
    EXPECT_LT(m, 60u);
    EXPECT_LT(s, 60u);
    EXPECT_LT(ms, 1000u);
}

INSTANTIATE_TEST_SUITE_P(Elapsed, TimerSplitTest,
    ::testing::Values(
        SplitCase{0, "0:0:0.0"},
        SplitCase{7, "0:0:0.7"},
        SplitCase{999, "0:0:0.999"},
        SplitCase{1000, "0:0:1.0"},
        SplitCase{59999, "0:0:59.999"},
        SplitCase{60000, "0:1:0.0"},
        SplitCase{3599999, "0:59:59.999"},
        SplitCase{3600000, "1:0:0.0"},
        SplitCase{3723456, "1:2:3.456"},
        SplitCase{90061001, "25:1:1.1"}));

TEST(Timer, StartStopAndReset)
{
    ManualTimer timer;
    EXPECT_FALSE(timer.isRunning());
    EXPECT_EQ(timer.startTick, 0u);
    timer.now += 1234;
    EXPECT_EQ(timer.getTimeStr(), "0:0:0.0") << "a timer never started reads 0";

    timer.start();
    EXPECT_TRUE(timer.isRunning());
    EXPECT_EQ(timer.startTick, 6234u);

    // stop() keeps the start: the time is still measured from it.
    timer.now += 2500;
    timer.stop();
    EXPECT_FALSE(timer.isRunning());
    EXPECT_EQ(timer.startTick, 6234u);
    EXPECT_EQ(timer.getTimeStr(), "0:0:2.500");

    // reset() while stopped clears the start and does not restart.
    timer.reset();
    EXPECT_FALSE(timer.isRunning());
    EXPECT_EQ(timer.startTick, 0u);
    EXPECT_EQ(timer.getTimeStr(), "0:0:0.0");

    // reset() while running starts again from now.
    timer.start();
    timer.now += 4000;
    timer.reset();
    EXPECT_TRUE(timer.isRunning());
    EXPECT_EQ(timer.startTick, timer.now);
    timer.now += 10;
    EXPECT_EQ(timer.getTimeStr(), "0:0:0.10");
}

TEST(Timer, ClockBehindTheStartReadsZero)
{
    ManualTimer timer;
    timer.start();
    timer.now -= 100;
    EXPECT_EQ(timer.getTimeStr(), "0:0:0.0");
}

TEST(Timer, MonotonicClockIsNeverZeroAndNeverGoesBack)
{
    Timer timer;
    uint64_t previous = timer.getTickCount();
    EXPECT_NE(previous, 0u);
    for (int i = 0; i < 1000; ++i) {
        const uint64_t now = timer.getTickCount();
        EXPECT_GE(now, previous);
        previous = now;
    }
    timer.start();
    EXPECT_NE(timer.startTick, 0u);
    uint64_t h, m, s, ms;
    timer.getTime(h, m, s, ms);
    EXPECT_EQ(h, 0u);
    EXPECT_EQ(m, 0u);
}

}  // namespace
