#include <cmath>
#include <memory>

#include <gtest/gtest.h>
#include <opencv2/core/core_c.h>

#include "OrvixSDK/FDP.h"
#include "support/Common.h"

using OrvixSDK::Common;
using OrvixSDK::FDP;

namespace {

struct ImageDeleter
{
    void operator()(IplImage* img) const { cvReleaseImage(&img); }
};
using Image = std::unique_ptr<IplImage, ImageDeleter>;

Image blankImage(int width, int height)
{
    Image img(cvCreateImage(cvSize(width, height), IPL_DEPTH_8U, 1));
    cvZero(img.get());
    return img;
}

int pixel(const IplImage* img, int x, int y)
{
    return reinterpret_cast<const unsigned char*>(img->imageData + y * img->widthStep)[x];
}

TEST(CommonPointSets, VerticalFlipTurnsDefinedPointsOnly)
{
    FDP points;
    points.setFPPos(2, 1, 0.25f, 0.1f, 3.0f);
    points.setFPPos(17, 20, 0.5f, 1.0f, -1.0f);
    points.getFP(3, 5).position[1] = 0.3f;   // not defined: must stay as it is

    Common::verticalFlip(&points);
    const float* a = points.getFPPos(2, 1);
    EXPECT_FLOAT_EQ(a[0], 0.25f);
    EXPECT_FLOAT_EQ(a[1], 0.9f);
    EXPECT_FLOAT_EQ(a[2], 3.0f);
    EXPECT_FLOAT_EQ(points.getFPPos(17, 20)[1], 0.0f);
    EXPECT_FLOAT_EQ(points.getFPPos(3, 5)[1], 0.3f);
    EXPECT_FALSE(points.FPIsDefined(3, 5));

    Common::verticalFlip(&points);
    EXPECT_NEAR(points.getFPPos(2, 1)[1], 0.1f, 1e-6);
    EXPECT_FLOAT_EQ(points.getFPPos(17, 20)[1], 1.0f);
    EXPECT_FLOAT_EQ(points.getFPPos(3, 5)[1], 0.3f);

    Common::verticalFlip(nullptr);
}

TEST(CommonPointSets, DrawFDPPlacesSelectsAndClips)
{
    FDP points;
    points.setFPPos(2, 1, 0.5f, 0.25f, 0.0f);   // (50, 10), flipped (50, 30)
    points.setFPPos(3, 1, 0.1f, 0.5f, 0.0f);    // (10, 20)
    points.setFPPos(3, 2, 1.0f, 1.0f, 0.0f);    // on the far edge: outside the pixels
    points.setFPPos(4, 1, 1.5f, 0.5f, 0.0f);    // out of range: skipped
    points.setFPPos(4, 2, NAN, 0.5f, 0.0f);     // not a number: skipped
    points.getFP(5, 1).position[0] = 0.2f;      // not defined: skipped
    points.getFP(5, 1).position[1] = 0.2f;

    struct Case
    {
        bool flipY;
        int group;
        int pixels;
        int x, y;   // one pixel that must be set
    };
    const Case cases[] = {
        {false, -1, 2, 50, 10},
        {true, -1, 2, 50, 30},
        {false, 3, 1, 10, 20},
        {false, 2, 1, 50, 10},
        {false, 4, 0, -1, -1},
        {false, 18, 0, -1, -1},
        {false, 1, 0, -1, -1},
    };
    for (const Case& c : cases) {
        Image img = blankImage(100, 40);
        Common::drawFDP(img.get(), &points, c.flipY, 0, 200, c.group);
        EXPECT_EQ(cvCountNonZero(img.get()), c.pixels) << "group " << c.group << " flip " << c.flipY;
        if (c.x >= 0) {
            EXPECT_EQ(pixel(img.get(), c.x, c.y), 200) << "group " << c.group;
        }
    }

    // With a radius the edge point draws its part that lies inside.
    Image img = blankImage(100, 40);
    Common::drawFDP(img.get(), &points, false, 2, 255, 3);
    EXPECT_EQ(cvCountNonZero(img.get()), 13 + 1);
    EXPECT_EQ(pixel(img.get(), 99, 39), 255);

    Common::drawFDP(nullptr, &points, false, 1, 255, -1);
    Common::drawFDP(img.get(), nullptr, false, 1, 255, -1);
}

}  // namespace
