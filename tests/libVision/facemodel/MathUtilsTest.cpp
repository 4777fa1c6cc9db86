#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "OrvixSDK/MathUtils.h"

using OrvixSDK::MathUtils;

namespace {

const float kTwoPowMinus32 = 1.0f / 4294967296.0f;

// The generator is process-wide: every test that draws seeds it first.
class MathUtilsRandom : public ::testing::Test {
protected:
    void SetUp() override { MathUtils::smwcrand(124243, 143556); }
};

TEST(MathUtils, PiIsTheStoredConstant)
{
    EXPECT_EQ(MathUtils::PI, 3.14159f);
}

TEST_F(MathUtilsRandom, GeneratorProducesTheKnownSequence)
{
    EXPECT_EQ(MathUtils::s_w, 124243u);
    EXPECT_EQ(MathUtils::s_z, 143556u);
    EXPECT_EQ(MathUtils::mwcrand(), 2137152497u);
    EXPECT_EQ(MathUtils::s_z, 461520998u);
    EXPECT_EQ(MathUtils::s_w, 1056726001u);
    EXPECT_EQ(MathUtils::mwcrand(), 4271431756u);

    // Reseeding restarts the same sequence.
    MathUtils::smwcrand(124243, 143556);
    EXPECT_EQ(MathUtils::mwcrand(), 2137152497u);
}

TEST_F(MathUtilsRandom, FloatDrawsScaleOneGeneratorValueEach)
{
    std::vector<uint32_t> raw;
    for (int i = 0; i < 100; ++i)
        raw.push_back(MathUtils::mwcrand());

    MathUtils::smwcrand(124243, 143556);
    for (int i = 0; i < 50; ++i) {
        const float f = static_cast<float>(raw[i]) * kTwoPowMinus32;
        const float value = MathUtils::randFloat(-2.0f, 6.0f);
        EXPECT_FLOAT_EQ(value, -2.0f + 8.0f * f);
        EXPECT_GE(value, -2.0f);
        EXPECT_LE(value, 6.0f);
    }
    for (int i = 50; i < 100; ++i) {
        float out = 0;
        MathUtils::doRandInRange(10.0f, 0.5f, out);
        EXPECT_FLOAT_EQ(out, 10.0f + 0.5f * static_cast<float>(raw[i]) * kTwoPowMinus32);
    }
}

TEST_F(MathUtilsRandom, PerturbationRescalesThenShiftsXThenY)
{
    const float r1 = static_cast<float>(MathUtils::mwcrand()) * kTwoPowMinus32;
    const float r2 = static_cast<float>(MathUtils::mwcrand()) * kTwoPowMinus32;
    const float r3 = static_cast<float>(MathUtils::mwcrand()) * kTwoPowMinus32;
    MathUtils::smwcrand(124243, 143556);

    float x = 100.0f;
    float y = 50.0f;
    float s = 20.0f;
    MathUtils::doPerturbation(0.9f, 0.2f, 0.1f, x, y, s);
    EXPECT_FLOAT_EQ(s, (0.9f + 0.2f * r1) * 20.0f);
    // The shifts use the size before rescaling.
    EXPECT_FLOAT_EQ(x, 100.0f + (0.5f - r2) * 0.1f * 20.0f);
    EXPECT_FLOAT_EQ(y, 50.0f + (0.5f - r3) * 0.1f * 20.0f);
}

TEST(MathUtilsStatistics, StandardDeviationsAroundAGivenCentre)
{
    const float xs[] = {1.0f, 3.0f};
    const float ys[] = {0.0f, 4.0f};
    float out = -1;
    float outX = -1;
    float outY = -1;
    MathUtils::calculateSTDs(2.0f, 2.0f, xs, ys, 2, &out, &outX, &outY);
    EXPECT_FLOAT_EQ(outX, 1.0f);
    EXPECT_FLOAT_EQ(outY, 2.0f);
    EXPECT_FLOAT_EQ(out, 2.5f);  // (vx + vy) / 2 = (1 + 4) / 2

    // The per-axis outputs are optional.
    out = -1;
    MathUtils::calculateSTDs(2.0f, 2.0f, xs, ys, 2, &out, nullptr, nullptr);
    EXPECT_FLOAT_EQ(out, 2.5f);

    // No points: zeros instead of a division by zero.
    MathUtils::calculateSTDs(2.0f, 2.0f, xs, ys, 0, &out, &outX, &outY);
    EXPECT_EQ(out, 0.0f);
    EXPECT_EQ(outX, 0.0f);
    EXPECT_EQ(outY, 0.0f);
}

TEST(MathUtilsStatistics, VectorVarianceAveragesOverSetsPointsAndAxes)
{
    const float mx[] = {0.0f, 10.0f};
    const float my[] = {0.0f, 10.0f};
    const float x0[] = {1.0f, 10.0f};
    const float y0[] = {0.0f, 12.0f};
    const float x1[] = {0.0f, 7.0f};
    const float y1[] = {0.0f, 10.0f};
    const float* xs[] = {x0, x1};
    const float* ys[] = {y0, y1};
    // (1 + 4 + 9) / (2 * 2 * 2)
    EXPECT_FLOAT_EQ(MathUtils::calculateVectorVariance(mx, my, xs, ys, 2, 2), 14.0f / 8.0f);
    EXPECT_EQ(MathUtils::calculateVectorVariance(mx, my, xs, ys, 0, 2), 0.0f);
    EXPECT_EQ(MathUtils::calculateVectorVariance(mx, my, xs, ys, 2, 0), 0.0f);
}

TEST(MathUtilsStatistics, EuclidDistances)
{
    const float x1[] = {0.0f, 1.0f, -2.0f};
    const float y1[] = {0.0f, 1.0f, 5.0f};
    const float x2[] = {3.0f, 1.0f, -2.0f};
    const float y2[] = {4.0f, 1.0f, -1.0f};
    EXPECT_FLOAT_EQ(MathUtils::computeEuclidDistance(x1, y1, x2, y2, 3, false), 11.0f);
    EXPECT_FLOAT_EQ(MathUtils::computeEuclidDistance(x1, y1, x2, y2, 3, true), 11.0f / 3.0f);
    EXPECT_FLOAT_EQ(MathUtils::computeEuclidDistanceSquared(x1, y1, x2, y2, 3), 25.0f + 36.0f);
    EXPECT_EQ(MathUtils::computeEuclidDistance(x1, y1, x2, y2, 0, true), 0.0f);
    EXPECT_EQ(MathUtils::computeEuclidDistanceSquared(x1, y1, x2, y2, 0), 0.0f);
}

// Point sets stored as rows; xs()/ys() give the pointer tables.
struct PointSets {
    std::vector<std::vector<float>> x, y;
    std::vector<const float*> xp, yp;
    void add(std::vector<float> xs, std::vector<float> ys)
    {
        x.push_back(std::move(xs));
        y.push_back(std::move(ys));
    }
    const float* const* xs()
    {
        xp.clear();
        for (auto& v : x)
            xp.push_back(v.data());
        return xp.data();
    }
    const float* const* ys()
    {
        yp.clear();
        for (auto& v : y)
            yp.push_back(v.data());
        return yp.data();
    }
    int count() const { return static_cast<int>(x.size()); }
};

TEST(MathUtilsMedoid, CollinearSetsGiveTheMiddleOne)
{
    PointSets sets;
    sets.add({3.0f, 4.0f}, {0.0f, 0.0f});
    sets.add({0.0f, 1.0f}, {0.0f, 0.0f});
    sets.add({1.0f, 2.0f}, {0.0f, 0.0f});
    EXPECT_EQ(MathUtils::getVectorMedian(sets.xs(), sets.ys(), sets.count(), 2), 2);
}

TEST(MathUtilsMedoid, EdgeCountsAndTies)
{
    PointSets sets;
    EXPECT_EQ(MathUtils::getVectorMedian(nullptr, nullptr, 0, 2), -1);
    EXPECT_EQ(MathUtils::getVectorMedian(nullptr, nullptr, -3, 2), -1);

    sets.add({5.0f}, {5.0f});
    EXPECT_EQ(MathUtils::getVectorMedian(sets.xs(), sets.ys(), 1, 1), 0);

    // Equal sums: the later set wins.
    sets.add({7.0f}, {5.0f});
    EXPECT_EQ(MathUtils::getVectorMedian(sets.xs(), sets.ys(), 2, 1), 1);
}

TEST(MathUtilsMedoid, EarlyStopAgreesWithAFullSearch)
{
    std::mt19937 rng(17);
    std::uniform_real_distribution<float> coord(-10.0f, 10.0f);
    for (int trial = 0; trial < 20; ++trial) {
        const int count = 2 + trial;
        const int n = 5;
        PointSets sets;
        for (int i = 0; i < count; ++i) {
            std::vector<float> xs(n), ys(n);
            for (int j = 0; j < n; ++j) {
                xs[j] = coord(rng);
                ys[j] = coord(rng);
            }
            sets.add(xs, ys);
        }
        const float* const* xs = sets.xs();
        const float* const* ys = sets.ys();

        int expected = -1;
        double best = 1e300;
        for (int i = 0; i < count; ++i) {
            double sum = 0;
            for (int j = 0; j < count; ++j)
                if (j != i)
                    sum += MathUtils::computeEuclidDistanceSquared(xs[i], ys[i], xs[j], ys[j], n);
            if (sum <= best) {
                best = sum;
                expected = i;
            }
        }
        EXPECT_EQ(MathUtils::getVectorMedian(xs, ys, count, n), expected) << "trial " << trial;
    }
}

// ------------------------------------------------------------- dequantize

// Packs codes of `bits` bits into exactly ceil(count * bits / 32) little-endian
// 32-bit words, one bit at a time.
std::vector<unsigned char> pack(const std::vector<uint32_t>& codes, int bits)
{
    const size_t totalBits = codes.size() * static_cast<size_t>(bits);
    std::vector<unsigned char> bytes((totalBits + 31) / 32 * 4, 0);
    size_t pos = 0;
    for (uint32_t code : codes)
        for (int b = 0; b < bits; ++b, ++pos)
            if ((code >> b) & 1u)
                bytes[pos / 8] |= static_cast<unsigned char>(1u << (pos % 8));
    return bytes;
}

TEST(MathUtilsDequantize, CodeCrossingAWordBoundary)
{
    // Seven 5-bit codes fill 35 bits: code 6 (0b10111) takes bits 30-31 of
    // word 0 and bits 0-2 of word 1.
    const uint32_t word0 = 1u | (2u << 5) | (3u << 10) | (4u << 15) | (5u << 20) | (6u << 25) |
                           (0x3u << 30);
    const uint32_t word1 = 0x5u;
    const unsigned char packed[8] = {
        static_cast<unsigned char>(word0), static_cast<unsigned char>(word0 >> 8),
        static_cast<unsigned char>(word0 >> 16), static_cast<unsigned char>(word0 >> 24),
        static_cast<unsigned char>(word1), 0, 0, 0};
    float table[32];
    for (int i = 0; i < 32; ++i)
        table[i] = 100.0f + static_cast<float>(i);
    float out[7];
    MathUtils::dequantize(out, packed, table, 7, 5);
    const float expected[7] = {101, 102, 103, 104, 105, 106, 123};
    for (int k = 0; k < 7; ++k)
        EXPECT_EQ(out[k], expected[k]) << "code " << k;
}

TEST(MathUtilsDequantize, RandomCodesOfEveryWidth)
{
    std::mt19937 rng(29);
    // Widths above 20 would need tables of several megabytes: their codes
    // stay below 2^20 (the high bits are then 0 and must read as 0).
    const int kTableBits = 20;
    std::vector<float> table(size_t(1) << kTableBits);
    for (size_t i = 0; i < table.size(); ++i)
        table[i] = static_cast<float>(i) * 0.5f;

    for (int bits = 1; bits <= 32; ++bits) {
        for (int count : {1, 2, 31, 33, 100}) {
            const int valueBits = bits < kTableBits ? bits : kTableBits;
            const uint32_t limit = valueBits == 32 ? 0xFFFFFFFFu : (1u << valueBits) - 1;
            std::uniform_int_distribution<uint32_t> codeDist(0, limit);
            std::vector<uint32_t> codes(count);
            for (uint32_t& c : codes)
                c = codeDist(rng);
            codes[0] = limit;  // all value bits set
            const std::vector<unsigned char> packed = pack(codes, bits);

            std::vector<float> out(count, -1.0f);
            MathUtils::dequantize(out.data(), packed.data(), table.data(), count, bits);
            for (int k = 0; k < count; ++k)
                ASSERT_EQ(out[k], table[codes[k]]) << "bits " << bits << " count " << count
                                                   << " code " << k;
        }
    }
}

TEST(MathUtilsDequantize, InvalidArgumentsWriteNothing)
{
    const unsigned char packed[8] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    const float table[2] = {1.0f, 2.0f};
    struct Case { int count, bits; };
    const Case cases[] = {{4, 0}, {4, -1}, {4, 33}, {0, 1}, {-5, 1}};
    for (const Case& c : cases) {
        float out[4] = {-7.0f, -7.0f, -7.0f, -7.0f};
        MathUtils::dequantize(out, packed, table, c.count, c.bits);
        for (float v : out)
            EXPECT_EQ(v, -7.0f) << "count " << c.count << " bits " << c.bits;
    }
    float out[1] = {-7.0f};
    MathUtils::dequantize(out, nullptr, table, 1, 1);
    MathUtils::dequantize(out, packed, nullptr, 1, 1);
    MathUtils::dequantize(nullptr, packed, table, 1, 1);
    EXPECT_EQ(out[0], -7.0f);
}

}  // namespace
