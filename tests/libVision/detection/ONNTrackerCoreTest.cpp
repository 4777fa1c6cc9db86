// The tracking core on the real networks of the data pack: search, tracking,
// re-detection, exclusion of faces that other slots follow, and frames that
// are odd in every way a camera or caller can make them.

#include "detection/ONNTrackerCore.h"

#include <gtest/gtest.h>
#include <opencv2/core.hpp>
#include <opencv2/core/core_c.h>
#include <opencv2/imgproc.hpp>

#include <memory>
#include <string>
#include <vector>

#include "OrvixSDK/FDP.h"
#include "DataPackSupport.h"
#include "detection/ONNFaceFinder.h"
#include "detection/OrvixDetector.h"

using namespace OrvixSDK;

namespace {

TEST(ONNTrackerCoreSteadyRectTest, SmallMovesAreDampedLargeOnesPassAndTheResultIsSquare)
{
    struct Case
    {
        const char* what;
        CvRect previous, fresh;
        int frameWidth, frameHeight;
        CvRect expected;
    };
    const Case cases[] = {
        // sx = 12.8: a = 6 / 12.8 = 0.46875, width (int)(0.53125 * 200 + 0.46875 * 206) = 202;
        // sy = 9.6: the height moves by 6 too, a = 0.625, (int)(0.375 * 200 + 0.625 * 206) = 203;
        // the mean of 202 and 203 rounds down.
        {"small growth", {100, 100, 200, 200}, {100, 100, 206, 206}, 640, 480, {100, 100, 202, 202}},
        {"no move", {10, 20, 50, 50}, {10, 20, 50, 50}, 640, 480, {10, 20, 50, 50}},
        // Moves of 2 % of the frame or more pass unchanged.
        {"large move", {100, 100, 200, 200}, {140, 130, 200, 200}, 640, 480, {140, 130, 200, 200}},
        {"exactly 2 %", {100, 100, 200, 200}, {100, 100, 200, 200}, 50, 50, {100, 100, 200, 200}},
        // x moves by 6.4 of 12.8: half way.
        {"half step", {100, 100, 200, 200}, {106, 100, 200, 200}, 640, 480, {102, 100, 200, 200}},
    };
    for (const Case& c : cases) {
        const CvRect r = ONNTrackerCore::steadyRect(c.previous, c.fresh, c.frameWidth, c.frameHeight);
        EXPECT_EQ(r.x, c.expected.x) << c.what;
        EXPECT_EQ(r.y, c.expected.y) << c.what;
        EXPECT_EQ(r.width, c.expected.width) << c.what;
        EXPECT_EQ(r.height, c.expected.height) << c.what;
    }
}

TEST(ONNTrackerCoreTest, SearchSettingsAreClampedOrStoredAsGiven)
{
    ONNTrackerCore::setFaceDetectorSensitivity(1.5f);
    EXPECT_FLOAT_EQ(ONNTrackerCore::s_faceFinderSensitivity, 1.0f);
    ONNTrackerCore::setFaceDetectorSensitivity(-0.5f);
    EXPECT_FLOAT_EQ(ONNTrackerCore::s_faceFinderSensitivity, 0.0f);
    ONNTrackerCore::setFaceScaleSearchRange(0.5f, 0.3f);
    EXPECT_FLOAT_EQ(ONNTrackerCore::s_minFaceScale, 0.5f);
    EXPECT_FLOAT_EQ(ONNTrackerCore::s_maxFaceScale, 0.3f);
    ONNTrackerCore::setFaceDetectorSensitivity(0.75f);
    ONNTrackerCore::setFaceScaleSearchRange(0.15f, 1.0f);
}

TEST(ONNTrackerCoreTest, NoCoreIsBuiltWithoutTheNetworkData)
{
    OrvixDetector detector("no-such-folder/nn/face-detector");
    detector.loadFaceDetectorData("no-such-folder/nn/face-detector");
    detector.loadAlignData("no-such-folder/nn/alignment");
    EXPECT_EQ(detector.isInitialized() & 3, 3);
    EXPECT_EQ(detector.createTrackerCore(), nullptr);
}

// A detector on the data pack and a helper to run cores on grey frames.
class ONNTrackerCoreRealTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!OrvixTest::packPresent())
            GTEST_SKIP() << "no data pack at " << OrvixTest::packDir();
        photos = OrvixTest::demoPhotos();
        if (photos.empty())
            GTEST_SKIP() << "no demo photos in " << OrvixTest::packWorkDir();
        // The demo photos are 1920 x 1280 with faces 150 to 250 pixels wide:
        // the search goes down to 5 % of the shorter side.
        ONNTrackerCore::setFaceDetectorSensitivity(0.75f);
        ONNTrackerCore::setFaceScaleSearchRange(0.05f, 1.0f);
        const std::string pack = OrvixTest::packDir();
        detector.reset(new OrvixDetector((pack + "nn/face-detector").c_str()));
        detector->setUseONN(1);
        detector->setRefinePupils(true);
        detector->loadFaceDetectorData((pack + "nn/face-detector").c_str());
        detector->loadAlignData((pack + "nn/alignment").c_str());
        detector->loadPupilNNModel((pack + "nn/pupils").c_str());
        ASSERT_EQ(detector->isInitialized(), 0);
    }

    std::unique_ptr<ONNTrackerCore> newCore()
    {
        return std::unique_ptr<ONNTrackerCore>(static_cast<ONNTrackerCore*>(detector->createTrackerCore()));
    }

    static bool track(ONNTrackerCore& core, const cv::Mat& frame, FDP& points,
                      const std::vector<CvRect>& others = std::vector<CvRect>())
    {
        IplImage header = cvIplImage(frame);
        float quality = -1.0f;
        return core.getTrackingPoints(&header, &points, quality, others);
    }

    static float iou(const CvRect& a, const CvRect& b)
    {
        return ONNFaceFinder::Detection(a).iou(ONNFaceFinder::Detection(b));
    }

    std::unique_ptr<OrvixDetector> detector;
    std::vector<std::string> photos;
};

TEST_F(ONNTrackerCoreRealTest, FindsAFaceThenKeepsTrackingItWithPointsOnTheFace)
{
    const cv::Mat frame = OrvixTest::readPgm(photos[0]);
    ASSERT_FALSE(frame.empty());
    std::unique_ptr<ONNTrackerCore> core = newCore();
    ASSERT_NE(core, nullptr);
    FDP points;
    CvRect first = {0, 0, 0, 0};
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(track(*core, frame, points)) << "frame " << i;
        EXPECT_EQ(core->getTrackingState(), ONNTrackerCore::TRACKING);
        const CvRect box = core->getFaceBoundingBox();
        EXPECT_EQ(core->getFaceScale(), box.width);
        EXPECT_EQ(box.width, box.height);
        if (i == 0)
            first = box;
        else
            EXPECT_GT(iou(first, box), 0.8f) << "the box of a still face stays put";
    }
    // Normalised to the frame with y upward: the eyes above the mouth, the
    // person's left eye (odd indices) on the image's right, pupils between
    // their corners, and the iris radius of the pupil network in z.
    const float* leftPupil = points.getFPPos(3, 5);
    const float* rightPupil = points.getFPPos(3, 6);
    const float* mouth = points.getFPPos(8, 1);
    ASSERT_TRUE(points.FPIsDefined(3, 5) && points.FPIsDefined(3, 6) && points.FPIsDefined(8, 1));
    EXPECT_GT(leftPupil[1], mouth[1]);
    EXPECT_GT(rightPupil[1], mouth[1]);
    EXPECT_GT(leftPupil[0], rightPupil[0]);
    EXPECT_GT(leftPupil[2], 0.0f);
    EXPECT_LT(leftPupil[2], 0.05f);
    for (int g : {3, 4, 8, 9}) {
        for (int i = 1; i <= FDP::groupSize(g); ++i) {
            if (!points.FPIsDefined(g, i))
                continue;
            const float* p = points.getFPPos(g, i);
            const CvRect box = core->getFaceBoundingBox();
            const float x = p[0] * frame.cols;
            const float y = (1.0f - p[1]) * frame.rows;
            EXPECT_TRUE(x > box.x - box.width * 0.25f && x < box.x + box.width * 1.25f) << FDP::getFPName(g, i);
            EXPECT_TRUE(y > box.y - box.height * 0.25f && y < box.y + box.height * 1.25f) << FDP::getFPName(g, i);
        }
    }
}

TEST_F(ONNTrackerCoreRealTest, FacesThatOtherSlotsFollowAreLeftToThem)
{
    // Every core searches with the boxes of the cores before it as the faces
    // of other slots, so each picks up a different face.
    for (const std::string& path : photos) {
        const cv::Mat frame = OrvixTest::readPgm(path);
        ASSERT_FALSE(frame.empty());
        std::vector<std::unique_ptr<ONNTrackerCore>> cores;
        std::vector<CvRect> taken;
        FDP points;
        for (int slot = 0; slot < 3; ++slot) {
            cores.push_back(newCore());
            if (!track(*cores.back(), frame, points, taken))
                break;
            const CvRect box = cores.back()->getFaceBoundingBox();
            for (const CvRect& other : taken)
                EXPECT_LE(iou(box, other), 0.1f) << path << " slot " << slot;
            taken.push_back(box);
        }
        // Three slots on three faces, except in the photo whose third face
        // is a full profile whose points are too weak to start a face.
        const bool withProfile = path.find("sample2.pgm") != std::string::npos;
        EXPECT_EQ(taken.size(), withProfile ? 2u : 3u) << path;
    }
}

TEST_F(ONNTrackerCoreRealTest, OverlappingAnotherSlotWhileTrackingFallsBackToRedetection)
{
    const cv::Mat frame = OrvixTest::readPgm(photos[0]);
    std::unique_ptr<ONNTrackerCore> core = newCore();
    FDP points;
    ASSERT_TRUE(track(*core, frame, points));
    const CvRect box = core->getFaceBoundingBox();

    EXPECT_FALSE(track(*core, frame, points, {box}));
    EXPECT_EQ(core->getTrackingState(), ONNTrackerCore::REDETECTING);
    EXPECT_NE(core->getFaceBoundingBox().height, -1) << "the rectangle is kept for the re-detection";
    EXPECT_GT(iou(core->getFaceBoundingBox(), box), 0.5f);

    // Re-detected near the kept rectangle on the next frame.
    EXPECT_TRUE(track(*core, frame, points));
    EXPECT_EQ(core->getTrackingState(), ONNTrackerCore::TRACKING);

    core->resetTrackerState();
    EXPECT_EQ(core->getTrackingState(), ONNTrackerCore::SEARCHING);
    EXPECT_EQ(core->getFaceScale(), -1);
}

TEST_F(ONNTrackerCoreRealTest, StageTimesAccountForTheFrame)
{
    const cv::Mat frame = OrvixTest::readPgm(photos[0]);
    std::unique_ptr<ONNTrackerCore> core = newCore();
    FDP points;
    ASSERT_TRUE(track(*core, frame, points));
    ONNTrackerCore::StageTimes search = core->getLastStageTimes();
    EXPECT_EQ(search.startState, ONNTrackerCore::SEARCHING);
    EXPECT_GT(search.finderMs, 0.0);
    EXPECT_GT(search.alignmentMs, 0.0);
    EXPECT_GT(search.pupilMs, 0.0);
    EXPECT_GE(search.totalMs, search.finderMs + search.alignmentMs + search.pupilMs);
    ASSERT_TRUE(track(*core, frame, points));
    EXPECT_EQ(core->getLastStageTimes().startState, ONNTrackerCore::TRACKING);
    EXPECT_EQ(core->getLastStageTimes().finderMs, 0.0) << "tracking frames do not run the face finder";
}

TEST_F(ONNTrackerCoreRealTest, OddFramesNeverCrashOrReadOutsideTheImage)
{
    const cv::Mat photo = OrvixTest::readPgm(photos[0]);
    // Place the first face found, to build frames around it.
    std::unique_ptr<ONNTrackerCore> probe = newCore();
    FDP points;
    ASSERT_TRUE(track(*probe, photo, points));
    const CvRect face = probe->getFaceBoundingBox();
    const cv::Rect faceInPhoto = cv::Rect(face.x, face.y, face.width, face.height) & cv::Rect(0, 0, photo.cols, photo.rows);

    std::vector<std::pair<std::string, cv::Mat>> frames;
    frames.emplace_back("1x1", cv::Mat(1, 1, CV_8UC1, cv::Scalar(128)));
    frames.emplace_back("1x2000", cv::Mat(2000, 1, CV_8UC1, cv::Scalar(90)));
    frames.emplace_back("2000x1", cv::Mat(1, 2000, CV_8UC1, cv::Scalar(90)));
    frames.emplace_back("3x5", cv::Mat(5, 3, CV_8UC1, cv::Scalar(200)));
    {
        cv::Mat odd;
        cv::resize(photo, odd, cv::Size(photo.cols * 3 / 4 | 1, photo.rows * 3 / 4 | 1));
        frames.emplace_back("odd size", odd);
    }
    {
        // A long row: the image is the left part of a much wider buffer.
        cv::Mat wide(photo.rows, photo.cols + 4093, CV_8UC1, cv::Scalar(0));
        photo.copyTo(wide(cv::Rect(0, 0, photo.cols, photo.rows)));
        frames.emplace_back("padded rows", wide(cv::Rect(0, 0, photo.cols, photo.rows)));
    }
    {
        // The face cut by the left and top borders.
        const cv::Rect cut(faceInPhoto.x + faceInPhoto.width / 3, faceInPhoto.y + faceInPhoto.height / 3,
                           photo.cols - faceInPhoto.x - faceInPhoto.width / 3,
                           photo.rows - faceInPhoto.y - faceInPhoto.height / 3);
        frames.emplace_back("face at the border", photo(cut).clone());
    }
    {
        // The face larger than the frame: its middle blown up to 320 x 240.
        const cv::Rect middle(faceInPhoto.x + faceInPhoto.width / 4, faceInPhoto.y + faceInPhoto.height / 4,
                              faceInPhoto.width / 2, faceInPhoto.height / 2);
        cv::Mat big;
        cv::resize(photo(middle), big, cv::Size(320, 240));
        frames.emplace_back("face larger than the frame", big);
    }
    {
        // A very large face: the whole face fills a 2000-pixel frame.
        cv::Mat huge;
        cv::resize(photo(faceInPhoto), huge, cv::Size(2000, 2000));
        frames.emplace_back("huge face", huge);
    }

    // Each frame on a fresh core, and all frames in a row on one core that
    // carries its rectangle from frame to frame whatever their sizes.
    std::unique_ptr<ONNTrackerCore> carried = newCore();
    ASSERT_TRUE(track(*carried, photo, points));
    for (const auto& named : frames) {
        std::unique_ptr<ONNTrackerCore> fresh = newCore();
        for (int i = 0; i < 3; ++i)
            track(*fresh, named.second, points);
        track(*carried, named.second, points);
        SCOPED_TRACE(named.first);
        const CvRect box = fresh->getFaceBoundingBox();
        if (box.height != -1) {
            EXPECT_EQ(box.width, box.height);
            EXPECT_GT(box.width, 0);
        }
    }

    // Frames the core cannot use at all are refused.
    cv::Mat colour(100, 100, CV_8UC3, cv::Scalar(1, 2, 3));
    IplImage colourHeader = cvIplImage(colour);
    float quality = 0.0f;
    EXPECT_FALSE(carried->getTrackingPoints(&colourHeader, &points, quality, {}));
    EXPECT_FALSE(carried->getTrackingPoints(nullptr, &points, quality, {}));
    EXPECT_EQ(carried->getTrackingState(), ONNTrackerCore::SEARCHING);
}

TEST_F(ONNTrackerCoreRealTest, AnEmptyFrameFindsNothing)
{
    std::unique_ptr<ONNTrackerCore> core = newCore();
    FDP points;
    const cv::Mat blank(480, 640, CV_8UC1, cv::Scalar(128));
    EXPECT_FALSE(track(*core, blank, points));
    EXPECT_EQ(core->getTrackingState(), ONNTrackerCore::SEARCHING);
    EXPECT_EQ(core->getFaceScale(), -1);
}

}  // namespace
