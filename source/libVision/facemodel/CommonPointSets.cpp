// The members of Common that work on feature point sets.  They live here, in
// the face-model layer, so that the support layer never depends on face types.

#include "support/Common.h"

#include "OrvixSDK/FDP.h"

namespace OrvixSDK {

void Common::verticalFlip(FDP* points)
{
    if (points == nullptr)
        return;
    for (int group = FDP::firstGroup; group <= FDP::lastGroup; ++group) {
        for (int index = 1; index <= FDP::groupSize(group); ++index) {
            if (!points->FPIsDefined(group, index))
                continue;
            const float* p = points->getFPPos(group, index);
            points->setFPPos(group, index, p[0], 1.0f - p[1], p[2]);
        }
    }
}

void Common::drawFDP(IplImage* img, FDP* points, bool flipY, int radius, int value, int group)
{
    if (img == nullptr || points == nullptr)
        return;
    if (group != -1 && (group < FDP::firstGroup || group > FDP::lastGroup))
        return;
    const int firstGroup = group == -1 ? FDP::firstGroup : group;
    const int lastGroup = group == -1 ? FDP::lastGroup : group;
    for (int g = firstGroup; g <= lastGroup; ++g) {
        for (int index = 1; index <= FDP::groupSize(g); ++index) {
            if (!points->FPIsDefined(g, index))
                continue;
            const float* p = points->getFPPos(g, index);
            // The range test also rejects NaN.
            if (!(p[0] >= 0.0f && p[0] <= 1.0f && p[1] >= 0.0f && p[1] <= 1.0f))
                continue;
            const float y = flipY ? 1.0f - p[1] : p[1];
            drawCircle(img, static_cast<int>(img->width * p[0]), static_cast<int>(img->height * y), radius,
                       value);
        }
    }
}

}  // namespace OrvixSDK
