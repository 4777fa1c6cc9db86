#include "detection/AlignmentUtils.h"

#include <gtest/gtest.h>

#include "OrvixSDK/FDP.h"

using namespace OrvixSDK;

namespace {

// Mouth 8.1 (axis) 0.2, nose 9.3 (axis) 0.4, eye points 3.1 (side 1) 0.6
// and 3.2 (side 3) 0.8, brow points 4.1 (side 1) 0.5 and 4.2 (side 3) 1.0,
// a contour point 2.1 of quality 1 that no region counts, an undefined
// point and one without a quality.
FDP qualityPoints()
{
    FDP points;
    auto set = [&points](int g, int i, float q) {
        points.setFPPos(g, i, 0.5f, 0.5f, 0.0f);
        points.setFPQuality(g, i, q);
    };
    set(8, 1, 0.2f);
    set(9, 3, 0.4f);
    set(3, 1, 0.6f);
    set(3, 2, 0.8f);
    set(4, 1, 0.5f);
    set(4, 2, 1.0f);
    set(2, 1, 1.0f);
    set(9, 1, -1.0f);            // no quality: ignored
    points.setFPQuality(8, 2, 0.9f);   // not defined: ignored
    return points;
}

TEST(AlignmentUtilsTest, MeanQualityCountsDefinedPointsWithAQuality)
{
    FDP points = qualityPoints();
    EXPECT_FLOAT_EQ(AlignmentUtils::calculateTrackingQuality(&points),
                    (0.2f + 0.4f + 0.6f + 0.8f + 0.5f + 1.0f + 1.0f) / 7.0f);
    FDP empty;
    EXPECT_FLOAT_EQ(AlignmentUtils::calculateTrackingQuality(&empty), 0.0f);
    EXPECT_FLOAT_EQ(AlignmentUtils::calculateTrackingQuality(nullptr), 0.0f);
}

TEST(AlignmentUtilsTest, QualityWithYawAveragesRegionsAndHidesTheFarSide)
{
    const float mouth = 0.2f;
    const float nose = 0.4f;
    const float side1 = (0.6f + 0.5f) / 2.0f;   // odd eye and brow points
    const float side3 = (0.8f + 1.0f) / 2.0f;   // even ones
    struct Case
    {
        float yaw;
        float expected;
    };
    const Case cases[] = {
        {0.0f, (mouth + nose + side1 + side3) / 4.0f},
        {20.0f, (mouth + nose + side1 + side3) / 4.0f},    // exactly 20: nothing hidden
        {-20.0f, (mouth + nose + side1 + side3) / 4.0f},
        {30.0f, (mouth + nose + side1) / 3.0f},            // side class 3 hidden
        {-30.0f, (mouth + nose + side3) / 3.0f},           // side class 1 hidden
    };
    FDP points = qualityPoints();
    for (const Case& c : cases)
        EXPECT_FLOAT_EQ(AlignmentUtils::calculateTrackingQualityYaw(&points, c.yaw), c.expected) << c.yaw;

    FDP contourOnly;
    contourOnly.setFPPos(2, 1, 0.5f, 0.5f, 0.0f);
    contourOnly.setFPQuality(2, 1, 1.0f);
    EXPECT_FLOAT_EQ(AlignmentUtils::calculateTrackingQualityYaw(&contourOnly, 0.0f), 0.0f);
    EXPECT_FLOAT_EQ(AlignmentUtils::calculateTrackingQualityYaw(nullptr, 0.0f), 0.0f);
}

}  // namespace
