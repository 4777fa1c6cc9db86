#include "detection/AlignmentData.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/core/core_c.h>
#include <opencv2/imgproc/imgproc_c.h>

#include "OrvixSDK/FDP.h"
#include "detection/Adjustment.h"
#include "detection/CroppingAdjustment.h"
#include "detection/ResizingAdjustment.h"

using namespace OrvixSDK;

namespace {

std::string describe(const CvRect& r)
{
    return "(" + std::to_string(r.x) + ", " + std::to_string(r.y) + ", " + std::to_string(r.width) + ", " +
           std::to_string(r.height) + ")";
}

bool sameRect(const CvRect& a, const CvRect& b)
{
    return a.x == b.x && a.y == b.y && a.width == b.width && a.height == b.height;
}

// An 8-bit grey frame over a heap buffer of exactly step * height bytes, so
// that a read outside it is caught by the address sanitizer.  The padding
// bytes at the end of each row hold padValue, the pixels value.
class Frame
{
public:
    Frame(int width, int height, int step, unsigned char value, unsigned char padValue = 255)
        : pixels(static_cast<size_t>(step) * height, padValue)
    {
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                pixels[static_cast<size_t>(y) * step + x] = value;
        image = cvCreateImageHeader(cvSize(width, height), IPL_DEPTH_8U, 1);
        cvSetData(image, pixels.data(), step);
    }
    ~Frame() { cvReleaseImageHeader(&image); }
    Frame(const Frame&) = delete;
    Frame& operator=(const Frame&) = delete;

    void fill(const CvRect& r, unsigned char value)
    {
        cvSetImageROI(image, r);
        cvSet(image, cvScalar(value));
        cvResetImageROI(image);
    }

    std::vector<unsigned char> pixels;
    IplImage* image;
};

void expectClear(const AlignmentData& data)
{
    EXPECT_EQ(data.sourceImage, nullptr);
    EXPECT_TRUE(data.adjustments.empty());
    EXPECT_TRUE(sameRect(data.faceRect, cvRect(-1, -1, -1, -1))) << describe(data.faceRect);
    EXPECT_TRUE(sameRect(data.cropRect, cvRect(-1, -1, -1, -1))) << describe(data.cropRect);
    EXPECT_FALSE(data.points->FPIsDefined(2, 1));
}

TEST(AlignmentDataTest, ConstructedClearWithAWorkingSquare)
{
    AlignmentData data(96, 2.5f);
    expectClear(data);
    ASSERT_NE(data.workingImage, nullptr);
    EXPECT_EQ(data.workingImage->width, 240);
    EXPECT_EQ(data.workingImage->height, 240);
    EXPECT_EQ(data.workingImage->depth, IPL_DEPTH_8U);
    EXPECT_EQ(data.workingImage->nChannels, 1);
}

// A 100 x 100 face at (50, 50) of a 640 x 480 frame: the crop
// (-25, -25, 250, 250) is clipped to (0, 0, 225, 225) and scaled by 0.96.
TEST(AlignmentDataTest, FaceNearTheCornerGoesIntoTheWorkingFrameAndBack)
{
    Frame frame(640, 480, 640, 0);
    FDP points;
    points.setFPPos(2, 1, 100.0f / 640.0f, 100.0f / 480.0f, 0.3f);
    AlignmentData data(96, 2.5f);
    ASSERT_TRUE(data.doInitAdjustment(frame.image, &points, cvRect(50, 50, 100, 100), false));

    EXPECT_TRUE(sameRect(data.faceRect, cvRect(48, 48, 96, 96))) << describe(data.faceRect);
    EXPECT_TRUE(sameRect(data.cropRect, cvRect(0, 0, 216, 216))) << describe(data.cropRect);
    EXPECT_EQ(data.workingImage->width, 216);
    EXPECT_EQ(data.workingImage->height, 216);
    ASSERT_EQ(data.adjustments.size(), 2u);
    const auto* crop = dynamic_cast<const CroppingAdjustment*>(data.adjustments[0]);
    ASSERT_NE(crop, nullptr);
    EXPECT_TRUE(sameRect(crop->toRect, cvRect(0, 0, 225, 225))) << describe(crop->toRect);
    ASSERT_NE(dynamic_cast<const ResizingAdjustment*>(data.adjustments[1]), nullptr);
    // The source header shares the frame's pixels.
    ASSERT_NE(data.sourceImage, nullptr);
    EXPECT_EQ(data.sourceImage->imageData, frame.image->imageData);
    EXPECT_EQ(data.sourceImage->widthStep, frame.image->widthStep);
    // Points are normalised to the crop.
    EXPECT_FLOAT_EQ(data.points->getFPPos(2, 1)[0], 100.0f / 225.0f);
    EXPECT_FLOAT_EQ(data.points->getFPPos(2, 1)[1], 100.0f / 225.0f);
    EXPECT_FLOAT_EQ(data.points->getFPPos(2, 1)[2], 0.3f);

    data.points->setFPPos(2, 1, 0.5f, 0.5f, 0.0f);
    data.revertAdjustments();
    EXPECT_FLOAT_EQ(data.points->getFPPos(2, 1)[0], 112.5f / 640.0f);
    EXPECT_FLOAT_EQ(data.points->getFPPos(2, 1)[1], 112.5f / 480.0f);
    EXPECT_TRUE(sameRect(data.faceRect, cvRect(50, 50, 100, 100))) << describe(data.faceRect);
    EXPECT_EQ(data.adjustments.size(), 2u);

    data.clear();
    expectClear(data);
    EXPECT_EQ(data.workingImage->widthStep, 240);   // still the allocated square
}

TEST(AlignmentDataTest, OwnRectangleAndPointsCanBeGivenBack)
{
    Frame frame(640, 480, 640, 0);
    AlignmentData data(96, 2.5f);
    data.faceRect = cvRect(50, 50, 100, 100);
    data.points->setFPPos(2, 1, 100.0f / 640.0f, 100.0f / 480.0f, 0.0f);
    ASSERT_TRUE(data.doInitAdjustment(frame.image, data.points, data.faceRect, false));
    EXPECT_TRUE(sameRect(data.faceRect, cvRect(48, 48, 96, 96))) << describe(data.faceRect);
    EXPECT_TRUE(data.points->FPIsDefined(2, 1));
    EXPECT_FLOAT_EQ(data.points->getFPPos(2, 1)[0], 100.0f / 225.0f);
}

TEST(AlignmentDataTest, WorkingImageShowsTheFaceAtFaceRect)
{
    // A bright face square on a dark frame, away from the border.
    const CvRect faces[] = {{200, 150, 100, 100}, {211, 141, 77, 91}};
    for (const CvRect& face : faces) {
        Frame frame(640, 480, 640, 10);
        frame.fill(face, 200);
        AlignmentData data(96, 2.5f);
        ASSERT_TRUE(data.doInitAdjustment(frame.image, nullptr, face, true)) << describe(face);
        const CvRect& f = data.faceRect;
        EXPECT_EQ(f.width, 96) << describe(face);
        const IplImage* w = data.workingImage;
        EXPECT_EQ(CV_IMAGE_ELEM(w, unsigned char, f.y + f.height / 2, f.x + f.width / 2), 200) << describe(face);
        EXPECT_EQ(CV_IMAGE_ELEM(w, unsigned char, f.y + 3, f.x + 3), 200) << describe(face);
        EXPECT_EQ(CV_IMAGE_ELEM(w, unsigned char, f.y - 4, f.x - 4), 10) << describe(face);
        EXPECT_EQ(CV_IMAGE_ELEM(w, unsigned char, f.y + f.height + 3, f.x + f.width + 3), 10) << describe(face);
        EXPECT_EQ(w->roi, nullptr);
        EXPECT_EQ(data.sourceImage->roi, nullptr);
    }
}

// Frames of odd and tiny sizes with padded rows and faces at, beyond and
// larger than the border.  The frame's pixels are all 77 and its padding 255:
// a working image that holds anything but 77 has read outside the pixels.
TEST(AlignmentDataTest, AnyOverlappingFaceIsSafe)
{
    struct FrameSize
    {
        int width, height, step;
    };
    const FrameSize frames[] = {{1, 1, 1}, {1, 1, 8}, {3, 5, 7}, {641, 479, 656}, {2000, 1500, 2000}};
    for (const FrameSize& fs : frames) {
        Frame frame(fs.width, fs.height, fs.step, 77);
        const int w = fs.width;
        const int h = fs.height;
        const CvRect cases[] = {
            {w / 4, h / 4, std::max(1, w / 2), std::max(1, h / 2)},   // inside
            {-w / 3 - 1, -h / 3 - 1, w / 2 + 2, h / 2 + 2},            // partly beyond top-left
            {w - w / 4 - 1, h - h / 4 - 1, w / 2 + 2, h / 2 + 2},      // partly beyond bottom-right
            {-2 * w, h / 2, 2 * w, 2 * w},                             // beyond the left, crop overlaps
            {-w, -h, 3 * w, 3 * h},                                    // larger than the frame
            {0, 0, 1, 1},                                              // one pixel
            {w - 1, h - 1, 1, 1},                                      // the last pixel
            {-5 * w, -5 * h, 10 * w + 900, 10 * h + 900},              // very large: two-step resize
        };
        for (const CvRect& face : cases) {
            AlignmentData data(96, 2.5f);
            const bool ok = data.doInitAdjustment(frame.image, nullptr, face, true);
            const std::string what = std::to_string(fs.width) + "x" + std::to_string(fs.height) + " step " +
                                     std::to_string(fs.step) + " face " + describe(face);
            ASSERT_TRUE(ok) << what;
            const IplImage* wi = data.workingImage;
            ASSERT_GE(wi->width, 1) << what;
            ASSERT_GE(wi->height, 1) << what;
            ASSERT_LE(wi->width, 240) << what;
            ASSERT_LE(wi->height, 240) << what;
            EXPECT_EQ(data.cropRect.width, wi->width) << what;
            EXPECT_EQ(data.cropRect.height, wi->height) << what;
            int wrong = 0;
            for (int y = 0; y < wi->height; ++y)
                for (int x = 0; x < wi->width; ++x)
                    wrong += CV_IMAGE_ELEM(wi, unsigned char, y, x) != 77;
            EXPECT_EQ(wrong, 0) << what;

            // Going back restores the face rectangle's size within rounding.
            data.revertAdjustments();
            EXPECT_NEAR(data.faceRect.width, face.width, 1 + face.width / 90) << what;
        }
    }
}

TEST(AlignmentDataTest, RefusedInputLeavesTheDataClear)
{
    Frame grey(64, 48, 64, 0);
    IplImage* colour = cvCreateImage(cvSize(64, 48), IPL_DEPTH_8U, 3);
    IplImage* noPixels = cvCreateImageHeader(cvSize(64, 48), IPL_DEPTH_8U, 1);
    IplImage* shortRows = cvCreateImageHeader(cvSize(64, 48), IPL_DEPTH_8U, 1);
    std::vector<unsigned char> buffer(64 * 48, 0);
    cvSetData(shortRows, buffer.data(), 64);
    shortRows->widthStep = 32;

    struct Case
    {
        const IplImage* frame;
        CvRect face;
        bool withImage;
        const char* what;
    };
    const Case cases[] = {
        {nullptr, {10, 10, 20, 20}, false, "no frame"},
        {noPixels, {10, 10, 20, 20}, false, "no pixels"},
        {shortRows, {10, 10, 20, 20}, false, "rows shorter than the width"},
        {colour, {10, 10, 20, 20}, true, "colour pixels"},
        {grey.image, {10, 10, 0, 20}, true, "zero width"},
        {grey.image, {10, 10, 20, -3}, true, "negative height"},
        {grey.image, {200, 10, 20, 20}, true, "crop right of the frame"},
        {grey.image, {10, -100, 20, 20}, true, "crop above the frame"},
        {grey.image, {-60, -60, 20, 20}, false, "crop beyond the corner"},
    };
    for (const Case& c : cases) {
        AlignmentData data(96, 2.5f);
        // A previous face must not survive a refused one.
        ASSERT_TRUE(data.doInitAdjustment(grey.image, nullptr, cvRect(20, 20, 10, 10), false));
        EXPECT_FALSE(data.doInitAdjustment(c.frame, nullptr, c.face, c.withImage)) << c.what;
        expectClear(data);
    }
    // Colour frames still carry points when no pixels are needed.
    AlignmentData data(96, 2.5f);
    EXPECT_TRUE(data.doInitAdjustment(colour, nullptr, cvRect(10, 10, 20, 20), false));

    cvReleaseImage(&colour);
    cvReleaseImageHeader(&noPixels);
    cvReleaseImageHeader(&shortRows);
}

TEST(AlignmentDataTest, ReusedFrameAfterFrameWithoutNewPixelBuffers)
{
    Frame frame(320, 240, 320, 50);
    AlignmentData data(96, 2.5f);
    const char* buffer = data.workingImage->imageData;
    const CvRect faces[] = {{100, 80, 60, 60}, {10, 10, 300, 220}, {150, 100, 20, 30}};
    for (const CvRect& face : faces) {
        ASSERT_TRUE(data.doInitAdjustment(frame.image, nullptr, face, true)) << describe(face);
        EXPECT_EQ(data.workingImage->imageData, buffer);
        EXPECT_EQ(data.adjustments.size(), 2u);
        EXPECT_EQ(data.faceRect.width, 96);
        data.revertAdjustments();
        data.clear();
    }
    // A second init without clear replaces the first instead of stacking on it.
    ASSERT_TRUE(data.doInitAdjustment(frame.image, nullptr, faces[0], false));
    ASSERT_TRUE(data.doInitAdjustment(frame.image, nullptr, faces[1], false));
    EXPECT_EQ(data.adjustments.size(), 2u);
}

TEST(AlignmentDataTest, AdjustmentsThatMovePixels)
{
    // Pixel (x, y) = x + 2 y on a 40 x 30 frame.
    Frame frame(40, 30, 40, 0);
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x)
            CV_IMAGE_ELEM(frame.image, unsigned char, y, x) = static_cast<unsigned char>(x + 2 * y);
    AlignmentData data(8, 2.0f);
    ASSERT_TRUE(data.doInitAdjustment(frame.image, nullptr, cvRect(10, 10, 8, 8), false));
    data.clear();
    data.sourceImage = cvCreateImageHeader(cvSize(40, 30), IPL_DEPTH_8U, 1);
    cvSetData(data.sourceImage, frame.image->imageData, frame.image->widthStep);
    data.faceRect = cvRect(30, 20, 10, 10);

    data.applyAdjustment(new CroppingAdjustment(cvRect(0, 0, 40, 30), cvRect(30, 20, 20, 20), true, true));
    ASSERT_EQ(data.workingImage->width, 10);
    ASSERT_EQ(data.workingImage->height, 10);
    EXPECT_EQ(CV_IMAGE_ELEM(data.workingImage, unsigned char, 0, 0), 30 + 40);
    EXPECT_EQ(CV_IMAGE_ELEM(data.workingImage, unsigned char, 9, 9), 39 + 58);
    EXPECT_TRUE(sameRect(data.faceRect, cvRect(0, 0, 10, 10))) << describe(data.faceRect);

    data.applyAdjustment(new ResizingAdjustment(0.5f, CV_INTER_NN, true, false));
    ASSERT_EQ(data.workingImage->width, 5);
    ASSERT_EQ(data.workingImage->height, 5);
    EXPECT_TRUE(sameRect(data.faceRect, cvRect(0, 0, 5, 5))) << describe(data.faceRect);

    data.revertAdjustments();
    EXPECT_TRUE(sameRect(data.faceRect, cvRect(30, 20, 10, 10))) << describe(data.faceRect);
    data.clear();
    // The next frame gets a full working square again.
    ASSERT_TRUE(data.doInitAdjustment(frame.image, nullptr, cvRect(10, 10, 8, 8), true));
    EXPECT_EQ(data.workingImage->width, 16);
}

}  // namespace
