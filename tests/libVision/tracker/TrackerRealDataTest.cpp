// The tracker on the real networks of the data pack: faces of real photos
// picked up one slot per face, and real failures of its set-up.

#include "OrvixSDK/OrvixTracker.h"

#include <gtest/gtest.h>
#include <opencv2/core.hpp>

#include <string>
#include <vector>

#include "OrvixSDK/FDP.h"
#include "OrvixSDK/FaceData.h"
#include "OrvixSDK/OrvixConfiguration.h"
#include "DataPackSupport.h"
#include "detection/ONNFaceFinder.h"
#include "TestSupport.h"

using namespace OrvixSDK;

namespace {

float iou(const int* a, const int* b)
{
    return ONNFaceFinder::Detection(cvRect(a[0], a[1], a[2], a[3]))
        .iou(ONNFaceFinder::Detection(cvRect(b[0], b[1], b[2], b[3])));
}

class TrackerRealDataTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!OrvixTest::packPresent())
            GTEST_SKIP() << "no data pack at " << OrvixTest::packDir();
        config = OrvixTest::packDir() + "orvix-tracker.cfg";
    }

    std::string config;
};

TEST_F(TrackerRealDataTest, FacesOfAPhotoArePickedUpOneSlotPerFace)
{
    const std::vector<std::string> photos = OrvixTest::demoPhotos();
    ASSERT_FALSE(photos.empty());
    ASSERT_EQ(photos.size(), 6u);
    // The real faces of each photo, less one full profile in the second
    // whose points are not good enough to start a face.
    const int trackable[6] = {3, 2, 3, 4, 5, 4};
    const int maxFaces = 6;
    for (size_t photo = 0; photo < photos.size(); ++photo) {
        const std::string& path = photos[photo];
        const cv::Mat image = OrvixTest::readPgm(path);
        ASSERT_FALSE(image.empty()) << path;
        OrvixTracker tracker(config.c_str());
        // Faces are 150 to 250 pixels wide in photos 1280 pixels high.
        OrvixConfiguration settings = tracker.getTrackerConfiguration();
        ASSERT_TRUE(settings.setMinFaceScale(0.05f));
        tracker.setTrackerConfiguration(settings);
        std::vector<FaceData> faces(maxFaces);
        int tracked = 0;
        // The same photo as consecutive frames: one more face per frame.
        for (int frame = 0; frame < 10; ++frame) {
            const int* statuses = tracker.track(image.cols, image.rows, reinterpret_cast<const char*>(image.data),
                                                faces.data(), 2, 0, static_cast<int>(image.step), 40 * frame,
                                                maxFaces);
            ASSERT_FALSE(tracker.isInitializationFailed()) << tracker.getLastError();
            tracked = 0;
            for (int i = 0; i < maxFaces; ++i) {
                if (statuses[i] != 1)
                    continue;
                ++tracked;
                for (int j = 0; j < i; ++j) {
                    if (statuses[j] == 1) {
                        EXPECT_LE(iou(faces[i].faceBoundingBox, faces[j].faceBoundingBox), 0.1f)
                            << path << " frame " << frame << ": slots " << j << " and " << i << " share a face";
                    }
                }
            }
            if (frame == 0) {
                EXPECT_EQ(tracked, 1) << path << ": the first frame starts one face";
            }
        }
        EXPECT_EQ(tracked, trackable[photo]) << path;
        // Tracked records carry what the networks measured.
        for (int i = 0; i < maxFaces; ++i) {
            if (faces[i].faceScale <= 0)
                continue;
            EXPECT_GT(faces[i].trackingQuality, 0.22f);
            EXPECT_GT(faces[i].irisRadius[0], 0.0f);
            EXPECT_GT(faces[i].irisRadius[1], 0.0f);
            ASSERT_NE(faces[i].points2D, nullptr);
            EXPECT_TRUE(faces[i].points2D->FPIsDefined(3, 12));
        }
    }
}

TEST_F(TrackerRealDataTest, MissingNetworksFailTheSetUpWithoutEndingTheProcess)
{
    OrvixTest::TempDir dir;
    // The pack's configuration copied to a folder without networks.
    std::string text = OrvixTest::TempDir::read(config);
    const std::string key = "ofd_data_path nn/face-detector";
    const size_t at = text.find(key);
    ASSERT_NE(at, std::string::npos);
    text.replace(at, key.size(), "ofd_data_path nn/missing");
    const std::string broken = dir.write("broken.cfg", text);
    OrvixTracker tracker(broken.c_str());
    const cv::Mat frame(120, 160, CV_8UC1, cv::Scalar(100));
    const int* statuses =
        tracker.track(frame.cols, frame.rows, reinterpret_cast<const char*>(frame.data), nullptr, 2, 0, 0, 0, 1);
    EXPECT_EQ(statuses[0], 0);
    EXPECT_TRUE(tracker.isInitializationFailed());
    EXPECT_NE(tracker.getLastError().find("Detector"), std::string::npos) << tracker.getLastError();
}

}  // namespace
