#include "detection/AlignmentUtils.h"

#include <array>
#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/core.hpp>
#include <opencv2/core/core_c.h>

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

namespace {

FeaturePoint& detectedPoint(FDP& points, int g, int i, float x, float y)
{
    points.setFPPos(g, i, x, y, 0.0f);
    FeaturePoint& p = points.getFP(g, i);
    p.detected = 1;
    return p;
}

// Eye corners, nostrils and mouth of a face in a 100 x 100 image (pixels):
// eyes A = (35, 40), B = (65, 40), nose (50, 60), mouth (50, 80).
FDP eyeNoseMouthPoints(bool flipped)
{
    FDP points;
    auto set = [&points, flipped](int g, int i, float x, float y) {
        points.setFPPos(g, i, x, flipped ? 1.0f - y : y, 0.0f);
    };
    set(3, 7, 0.30f, 0.40f);
    set(3, 11, 0.40f, 0.40f);
    set(3, 8, 0.60f, 0.40f);
    set(3, 12, 0.70f, 0.40f);
    set(9, 4, 0.45f, 0.60f);
    set(9, 5, 0.55f, 0.60f);
    set(8, 1, 0.50f, 0.80f);
    return points;
}

bool sameRect(const CvRect& a, const CvRect& b)
{
    return a.x == b.x && a.y == b.y && a.width == b.width && a.height == b.height;
}

std::string describe(const CvRect& r)
{
    return "(" + std::to_string(r.x) + ", " + std::to_string(r.y) + ", " + std::to_string(r.width) + ", " +
           std::to_string(r.height) + ")";
}

TEST(AlignmentUtilsTest, EyeNoseMouthSquare)
{
    // d = |A - M| = sqrt(15^2 + 40^2) = 42.72; centre 0.8 nose + 0.2 eyes = (50, 56).
    struct Case
    {
        float factor;
        CvRect expected;
    };
    const Case cases[] = {
        {1.0f, {12, 18, 77, 77}},   // side 76.9 -> 77; 11.5 and 17.5 round to even
        {1.2f, {4, 10, 92, 92}},    // side 92.3 -> 92
    };
    for (bool flipped : {false, true}) {
        const FDP points = eyeNoseMouthPoints(flipped);
        for (const Case& c : cases) {
            CvRect box = {0, 0, 0, 0};
            ASSERT_TRUE(AlignmentUtils::calculateBoundingBox(100, 100, &points, &box, flipped, c.factor));
            EXPECT_TRUE(sameRect(box, c.expected)) << describe(box) << " factor " << c.factor << " flip " << flipped;
        }
    }
}

TEST(AlignmentUtilsTest, EyeNoseMouthSquareNeedsEveryPoint)
{
    const int needed[7][2] = {{3, 11}, {3, 7}, {3, 12}, {3, 8}, {9, 5}, {9, 4}, {8, 1}};
    for (const auto& n : needed) {
        FDP points = eyeNoseMouthPoints(false);
        points.getFP(n[0], n[1]).defined = 0;
        CvRect box = {1, 2, 3, 4};
        EXPECT_FALSE(AlignmentUtils::calculateBoundingBox(100, 100, &points, &box, false, 1.0f)) << n[0] << "." << n[1];
        EXPECT_TRUE(sameRect(box, cvRect(1, 2, 3, 4))) << "box touched for " << n[0] << "." << n[1];
    }
    CvRect box = {1, 2, 3, 4};
    EXPECT_FALSE(AlignmentUtils::calculateBoundingBox(100, 100, nullptr, &box, false, 1.0f));
}

TEST(AlignmentUtilsTest, MinMaxSquareAroundDetectedPoints)
{
    // Points at (10, 10) and (50, 30) in a 100 x 50 image: w 40, h 20, side 30.
    FDP points;
    detectedPoint(points, 2, 1, 0.1f, 0.2f);
    detectedPoint(points, 8, 3, 0.5f, 0.6f);
    detectedPoint(points, 10, 1, 0.95f, 0.95f);   // ear: not counted
    points.setFPPos(9, 1, 0.0f, 0.0f, 0.0f);        // defined but not detected
    detectedPoint(points, 9, 2, 0.99f, 0.99f).defined = 0;
    CvRect box = {0, 0, 0, 0};
    ASSERT_TRUE(AlignmentUtils::calculateMinMaxBoundingBox(100, 50, &points, &box));
    EXPECT_TRUE(sameRect(box, cvRect(15, 5, 30, 30))) << describe(box);

    // All points on one horizontal line of an 80 x 50 image, x from 20 to
    // 60: the height term becomes 1, side = (40 + 1) / 2 = 20.5 -> 20 (even),
    // x = 20 + 9.75, y = 25 - 9.75.
    FDP line;
    detectedPoint(line, 2, 1, 0.25f, 0.5f);
    detectedPoint(line, 2, 2, 0.5f, 0.5f);
    detectedPoint(line, 2, 3, 0.75f, 0.5f);
    ASSERT_TRUE(AlignmentUtils::calculateMinMaxBoundingBox(80, 50, &line, &box));
    EXPECT_TRUE(sameRect(box, cvRect(30, 15, 20, 20))) << describe(box);

    // A single point: both terms become 1.
    FDP single;
    detectedPoint(single, 2, 1, 0.2f, 0.5f);
    ASSERT_TRUE(AlignmentUtils::calculateMinMaxBoundingBox(100, 50, &single, &box));
    EXPECT_TRUE(sameRect(box, cvRect(20, 25, 1, 1))) << describe(box);
}

TEST(AlignmentUtilsTest, MinMaxSquareRefusesEmptyImagesAndEmptySets)
{
    FDP points;
    detectedPoint(points, 2, 1, 0.2f, 0.5f);
    const CvRect untouched = {1, 2, 3, 4};
    const int sizes[][2] = {{0, 10}, {10, 0}, {-5, 10}, {10, -1}};
    for (const auto& s : sizes) {
        CvRect box = untouched;
        EXPECT_FALSE(AlignmentUtils::calculateMinMaxBoundingBox(s[0], s[1], &points, &box)) << s[0] << "x" << s[1];
        EXPECT_TRUE(sameRect(box, untouched));
    }
    FDP empty;
    CvRect box = untouched;
    EXPECT_FALSE(AlignmentUtils::calculateMinMaxBoundingBox(10, 10, &empty, &box));
    EXPECT_TRUE(sameRect(box, untouched));
}

TEST(AlignmentUtilsTest, RollAngleFromBrowsToNostrils)
{
    // In a 200 x 100 image the brow midpoint is (100, 30) pixels; the
    // nostril midpoint 30 pixels lower, shifted sideways by dx pixels.
    struct Case
    {
        float dx;
        float expected;
    };
    const Case cases[] = {{0.0f, 0.0f}, {30.0f, -45.0f}, {-30.0f, 45.0f}};
    for (const Case& c : cases) {
        FDP points;
        points.setFPPos(4, 1, 0.45f, 0.3f, 0.0f);
        points.setFPPos(4, 2, 0.55f, 0.3f, 0.0f);
        const float qx = (100.0f + c.dx) / 200.0f;
        points.setFPPos(9, 4, qx - 0.05f, 0.6f, 0.0f);
        points.setFPPos(9, 5, qx + 0.05f, 0.6f, 0.0f);
        EXPECT_NEAR(AlignmentUtils::calculateAlignmentAngle(&points, 200, 100), c.expected, 1e-3) << c.dx;
    }
}

// Fills an N x 2 float matrix.
CvMat* pointMatrix(const std::vector<std::array<float, 2>>& pts)
{
    CvMat* m = cvCreateMat(static_cast<int>(pts.size()), 2, CV_32FC1);
    for (size_t r = 0; r < pts.size(); ++r) {
        CV_MAT_ELEM(*m, float, static_cast<int>(r), 0) = pts[r][0];
        CV_MAT_ELEM(*m, float, static_cast<int>(r), 1) = pts[r][1];
    }
    return m;
}

TEST(AlignmentUtilsTest, TransformEstimationRecoversASimilarity)
{
    const std::vector<std::array<float, 2>> from = {{0, 0}, {10, 0}, {10, 5}, {0, 7}, {3, 4}};
    const double scale = 1.5;
    const double angle = 30.0 * CV_PI / 180.0;
    const double c = scale * std::cos(angle);
    const double s = scale * std::sin(angle);
    const double tx = 10.0;
    const double ty = -4.0;
    std::vector<std::array<float, 2>> to;
    for (const auto& p : from)
        to.push_back({static_cast<float>(c * p[0] - s * p[1] + tx), static_cast<float>(s * p[0] + c * p[1] + ty)});

    CvMat* a = pointMatrix(from);
    CvMat* b = pointMatrix(to);
    CvMat* t = cvCreateMat(2, 3, CV_32FC1);
    AlignmentUtils::doTransformEstimation(a, b, t);
    const double expected[2][3] = {{c, -s, tx}, {s, c, ty}};
    for (int r = 0; r < 2; ++r)
        for (int k = 0; k < 3; ++k)
            EXPECT_NEAR(CV_MAT_ELEM(*t, float, r, k), expected[r][k], 1e-4) << r << "," << k;

    // Source points all in one place: no rotation or scale can be measured,
    // the centroids are matched.
    CvMat* same = pointMatrix({{2, 3}, {2, 3}, {2, 3}});
    CvMat* spread = pointMatrix({{5, 5}, {6, 6}, {7, 7}});
    AlignmentUtils::doTransformEstimation(same, spread, t);
    const double translation[2][3] = {{1, 0, 4}, {0, 1, 3}};
    for (int r = 0; r < 2; ++r)
        for (int k = 0; k < 3; ++k)
            EXPECT_NEAR(CV_MAT_ELEM(*t, float, r, k), translation[r][k], 1e-5) << r << "," << k;
    cvReleaseMat(&same);
    cvReleaseMat(&spread);
    cvReleaseMat(&a);
    cvReleaseMat(&b);
    cvReleaseMat(&t);
}

}  // namespace

namespace {

TEST(AlignmentUtilsTest, ScaleUpAboutTheCentroid)
{
    // Centroid (2, 1).
    CvMat* shape = pointMatrix({{0, 0}, {4, 0}, {2, 3}});
    CvMat* result = AlignmentUtils::createMatLike(shape, false);
    ASSERT_NE(result, nullptr);
    AlignmentUtils::scaleUp(shape, result, 2.0f);
    const float expected[3][2] = {{-2, -1}, {6, -1}, {2, 5}};
    for (int r = 0; r < 3; ++r)
        for (int k = 0; k < 2; ++k)
            EXPECT_FLOAT_EQ(CV_MAT_ELEM(*result, float, r, k), expected[r][k]) << r << "," << k;
    // In place gives the same.
    AlignmentUtils::scaleUp(shape, shape, 2.0f);
    for (int r = 0; r < 3; ++r)
        for (int k = 0; k < 2; ++k)
            EXPECT_FLOAT_EQ(CV_MAT_ELEM(*shape, float, r, k), expected[r][k]) << r << "," << k;
    cvReleaseMat(&shape);
    cvReleaseMat(&result);
}

TEST(AlignmentUtilsTest, CreateMatLikeKeepsTypeAndShape)
{
    CvMat* m = cvCreateMat(3, 5, CV_64FC1);
    CvMat* same = AlignmentUtils::createMatLike(m, false);
    CvMat* swapped = AlignmentUtils::createMatLike(m, true);
    ASSERT_NE(same, nullptr);
    ASSERT_NE(swapped, nullptr);
    EXPECT_EQ(CV_MAT_TYPE(same->type), CV_64FC1);
    EXPECT_EQ(CV_MAT_TYPE(swapped->type), CV_64FC1);
    EXPECT_EQ(same->rows, 3);
    EXPECT_EQ(same->cols, 5);
    EXPECT_EQ(swapped->rows, 5);
    EXPECT_EQ(swapped->cols, 3);
    EXPECT_EQ(AlignmentUtils::createMatLike(nullptr, false), nullptr);
    cvReleaseMat(&m);
    cvReleaseMat(&same);
    cvReleaseMat(&swapped);
}

TEST(AlignmentUtilsTest, RegionSwitchesAreReversible)
{
    // A point at pixel (100, 60) of a 640 x 480 frame, re-normalised to the
    // region (40, 20, 200, 100) and back.
    const CvRect frame = {0, 0, 640, 480};
    const CvRect region = {40, 20, 200, 100};
    FDP points;
    points.setFPPos(2, 1, 100.0f / 640.0f, 60.0f / 480.0f, 0.7f);
    points.getFP(2, 2).position[0] = 0.25f;   // undefined: untouched
    AlignmentUtils::switchFDPROI(&points, frame, region);
    EXPECT_FLOAT_EQ(points.getFPPos(2, 1)[0], 60.0f / 200.0f);
    EXPECT_FLOAT_EQ(points.getFPPos(2, 1)[1], 40.0f / 100.0f);
    EXPECT_FLOAT_EQ(points.getFPPos(2, 1)[2], 0.7f);
    EXPECT_FLOAT_EQ(points.getFPPos(2, 2)[0], 0.25f);
    AlignmentUtils::switchFDPROI(&points, region, frame);
    EXPECT_FLOAT_EQ(points.getFPPos(2, 1)[0], 100.0f / 640.0f);
    EXPECT_FLOAT_EQ(points.getFPPos(2, 1)[1], 60.0f / 480.0f);

    // An empty target region leaves the points alone.
    AlignmentUtils::switchFDPROI(&points, frame, cvRect(0, 0, 0, 10));
    EXPECT_FLOAT_EQ(points.getFPPos(2, 1)[0], 100.0f / 640.0f);

    CvRect face = {100, 60, 30, 30};
    AlignmentUtils::switchBBROI(face, frame, region);
    EXPECT_TRUE(sameRect(face, cvRect(60, 40, 30, 30))) << describe(face);
    AlignmentUtils::switchBBROI(face, region, frame);
    EXPECT_TRUE(sameRect(face, cvRect(100, 60, 30, 30))) << describe(face);
}

TEST(AlignmentUtilsTest, ResizeAndRescaleRound)
{
    // Every field scaled, halves to even: 5 * 0.5 = 2.5 -> 2, 7 * 0.5 = 3.5 -> 4.
    CvRect r = {5, 7, 9, 11};
    AlignmentUtils::resizeBB(r, 0.5f);
    EXPECT_TRUE(sameRect(r, cvRect(2, 4, 4, 6))) << describe(r);

    int (*floorInt)(double) = [](double v) { return static_cast<int>(std::floor(v)); };
    int (*nearest)(double) = [](double v) { return static_cast<int>(std::nearbyint(v)); };
    struct Case
    {
        CvRect in;
        float scale;
        bool floorRounding;
        CvRect expected;
    };
    const Case cases[] = {
        {{50, 50, 100, 100}, 2.5f, true, {-25, -25, 250, 250}},
        {{0, 0, 3, 3}, 1.5f, true, {-1, -1, 4, 4}},     // 4.5 -> 4, 1.5 - 2 = -0.5 -> -1
        {{0, 0, 3, 3}, 1.5f, false, {0, 0, 4, 4}},      // -0.5 -> -0
        {{10, 20, 40, 20}, 0.5f, true, {20, 25, 20, 10}},
    };
    for (const Case& c : cases) {
        CvRect rect = c.in;
        AlignmentUtils::rescaleBB(rect, c.scale, c.floorRounding ? floorInt : nearest);
        EXPECT_TRUE(sameRect(rect, c.expected)) << describe(c.in) << " -> " << describe(rect);
    }
}

TEST(AlignmentUtilsTest, AdjustedCropClipsAndCopiesFromPaddedRows)
{
    // A 7 x 5 image with rows of 16 bytes; pixel (x, y) = 10 y + x, padding 255.
    const int width = 7;
    const int height = 5;
    const int step = 16;
    std::vector<unsigned char> pixels(static_cast<size_t>(step) * height, 255);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            pixels[static_cast<size_t>(y * step + x)] = static_cast<unsigned char>(10 * y + x);
    IplImage* image = cvCreateImageHeader(cvSize(width, height), IPL_DEPTH_8U, 1);
    cvSetData(image, pixels.data(), step);
    // A region of interest on the image does not change what is clipped to.
    cvSetImageROI(image, cvRect(1, 1, 2, 2));

    struct Case
    {
        CvRect in;
        CvRect expected;
    };
    const Case cases[] = {
        {{1, 1, 3, 2}, {1, 1, 3, 2}},        // inside
        {{-2, -1, 4, 3}, {0, 0, 2, 2}},      // beyond the top-left corner
        {{5, 3, 10, 10}, {5, 3, 2, 2}},      // beyond the bottom-right corner
        {{-5, -5, 20, 20}, {0, 0, 7, 5}},    // larger than the image
        {{0, 0, 7, 5}, {0, 0, 7, 5}},        // the whole image
        {{8, 1, 3, 3}, {8, 1, -1, 3}},       // wholly to the right: nothing left
        {{1, -9, 3, 4}, {1, 0, 3, -5}},      // wholly above
    };
    for (const Case& c : cases) {
        CvRect r = c.in;
        IplImage* copy = reinterpret_cast<IplImage*>(1);
        AlignmentUtils::getAdjustedCrop(image, &copy, r, true);
        EXPECT_TRUE(sameRect(r, c.expected)) << describe(c.in) << " -> " << describe(r);
        if (r.width <= 0 || r.height <= 0) {
            EXPECT_EQ(copy, nullptr) << describe(c.in);
            continue;
        }
        ASSERT_NE(copy, nullptr) << describe(c.in);
        ASSERT_EQ(copy->width, r.width);
        ASSERT_EQ(copy->height, r.height);
        for (int y = 0; y < r.height; ++y)
            for (int x = 0; x < r.width; ++x)
                EXPECT_EQ(CV_IMAGE_ELEM(copy, unsigned char, y, x), 10 * (r.y + y) + r.x + x)
                    << describe(c.in) << " at " << x << "," << y;
        cvReleaseImage(&copy);
    }

    // Without a copy only the rectangle changes.
    CvRect r = {-1, -1, 3, 3};
    AlignmentUtils::getAdjustedCrop(image, nullptr, r, false);
    EXPECT_TRUE(sameRect(r, cvRect(0, 0, 2, 2))) << describe(r);
    cvReleaseImageHeader(&image);
}

}  // namespace
