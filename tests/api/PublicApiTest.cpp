// Links against the shared library with the public headers only, so a
// declaration that misses its export mark fails to link here.

#include <gtest/gtest.h>

#include "OrvixSDK/FDP.h"
#include "OrvixSDK/FaceData.h"
#include "OrvixSDK/GeometryHelpers.h"
#include "OrvixSDK/MathUtils.h"
#include "OrvixSDK/OrvixConfiguration.h"
#include "OrvixSDK/OxCfgArr.h"

using namespace OrvixSDK;

namespace {

TEST(PublicApi, ExampleConfigurationAndPointsThroughTheSharedLibrary)
{
    OrvixConfiguration config(ORVIX_EXAMPLES_DIR "tracker.cfg");
    EXPECT_FLOAT_EQ(config.getCameraFocus(), 5.0f);
    EXPECT_EQ(config.getSmoothingFactors().size, 8);
    EXPECT_TRUE(config.setProcessEyes(1));
    EXPECT_NE(config.getChanges() & 0x4u, 0u);
    OrvixConfiguration copy = config;
    EXPECT_EQ(copy.getOfdDataPath(), config.getOfdDataPath());

    FDP points(ORVIX_EXAMPLES_DIR "example_mesh.fdp");
    EXPECT_TRUE(points.isInitialized());
    EXPECT_TRUE(points.FPIsDefined("3.5"));
    EXPECT_EQ(FDP::getMirrorPointIndex(3, 5), 6);

    FaceData face;
    face.allocateArrays(true, 2, 1, 6, 5);
    face.points2D->setFPPos(2, 1, 0.5f, 0.25f, 0.0f);
    FaceData faceCopy(face);
    CvPoint pixel;
    EXPECT_TRUE(getFeaturePointFromFDP(pixel, faceCopy.points2D, 2, 1, 640, 480, true));
    EXPECT_EQ(pixel.x, 320);
    EXPECT_EQ(pixel.y, 360);

    float v[3] = {3.0f, 0.0f, 4.0f};
    EXPECT_FLOAT_EQ(vect3Dist(v), 5.0f);
    MathUtils::smwcrand(124243, 143556);
    EXPECT_EQ(MathUtils::mwcrand(), 2137152497u);
}

}  // namespace
