#include "detection/AlignmentUtils.h"

#include "OrvixSDK/FDP.h"

namespace OrvixSDK {

float AlignmentUtils::calculateTrackingQuality(const FDP* points)
{
    if (points == nullptr)
        return 0.0f;
    float sum = 0.0f;
    int count = 0;
    for (int g = FDP::firstGroup; g <= FDP::lastGroup; ++g) {
        for (int i = 1; i <= FDP::groupSize(g); ++i) {
            const FeaturePoint& p = points->getFP(g, i);
            if (p.defined && p.quality >= 0.0f) {
                sum += p.quality;
                ++count;
            }
        }
    }
    return count > 0 ? sum / static_cast<float>(count) : 0.0f;
}

float AlignmentUtils::calculateTrackingQualityYaw(const FDP* points, float yawDegrees)
{
    if (points == nullptr)
        return 0.0f;
    // Side class hidden by the head turn, 0 for none.
    int hiddenSide = 0;
    if (yawDegrees < -20.0f)
        hiddenSide = 1;
    else if (yawDegrees > 20.0f)
        hiddenSide = 3;

    // Regions: 0 mouth, 1 nose, 2 odd eye/brow points, 3 even eye/brow points.
    float sums[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    int counts[4] = {0, 0, 0, 0};
    for (int g = FDP::firstGroup; g <= FDP::lastGroup; ++g) {
        for (int i = 1; i <= FDP::groupSize(g); ++i) {
            const FeaturePoint& p = points->getFP(g, i);
            if (!p.defined || !(p.quality >= 0.0f))
                continue;
            if (hiddenSide != 0 && FDP::getPointType(g, i) == hiddenSide)
                continue;
            int region;
            if (g == 8)
                region = 0;
            else if (g == 9)
                region = 1;
            else if (g == 3 || g == 4)
                region = (i % 2 == 1) ? 2 : 3;
            else
                continue;
            sums[region] += p.quality;
            ++counts[region];
        }
    }
    float total = 0.0f;
    int regions = 0;
    for (int r = 0; r < 4; ++r) {
        if (counts[r] > 0) {
            total += sums[r] / static_cast<float>(counts[r]);
            ++regions;
        }
    }
    return regions > 0 ? total / static_cast<float>(regions) : 0.0f;
}

}  // namespace OrvixSDK
