#include "OrvixSDK/OrvixTracker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <set>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/core/core_c.h>
#include <opencv2/imgproc.hpp>

#include "OrvixSDK/FaceData.h"
#include "TrackerTestSupport.h"
#include "detection/AlignmentUtils.h"
#include "detection/ONNTrackerCore.h"

using namespace OrvixSDK;
using namespace OrvixTest;

namespace {

const int kWidth = 64;
const int kHeight = 48;

CoreStep foundAt(int slot)
{
    CoreStep step;
    step.found = true;
    step.box = {10 + 100 * slot, 20, 50, 50};
    return step;
}

bool sameRect(const CvRect& a, const CvRect& b)
{
    return a.x == b.x && a.y == b.y && a.width == b.width && a.height == b.height;
}

class TrackerTest : public ::testing::Test
{
protected:
    void make(const ConfigOptions& options = ConfigOptions())
    {
        configPath = dir.write("tracker.cfg", trackerConfig(options));
        tracker.reset(new TestTracker(configPath, &world));
    }

    // One grey frame; the world's frame index and clock move on afterwards.
    int* frame(int maxFaces = 1, FaceData* faces = nullptr, long timeStamp = -1)
    {
        const std::vector<char> pixels = greyFrame(kWidth, kHeight, world.frame.load());
        int* statuses = tracker->track(kWidth, kHeight, pixels.data(), faces, 2, 0, 0, timeStamp, maxFaces);
        ++world.frame;
        world.clock += 40;
        return statuses;
    }

    // Applies a change to the tracker's configuration as an application
    // would: get, change, set.
    template <typename Change>
    void changeConfig(Change change)
    {
        OrvixConfiguration config = tracker->getTrackerConfiguration();
        change(config);
        tracker->setTrackerConfiguration(config);
    }

    TempDir dir;
    std::string configPath;
    World world;
    std::unique_ptr<TestTracker> tracker;
};

// ---------------------------------------------------------------------------
// Arguments

TEST_F(TrackerTest, InvalidFramesReturnAllStatusesZeroAndForceFullInitialisation)
{
    struct Case
    {
        const char* name;
        int width;
        int height;
        bool nullPixels;
        int format;
        int widthStep;
    };
    const Case cases[] = {
        {"null pixels", kWidth, kHeight, true, 2, 0},
        {"format 5", kWidth, kHeight, false, 5, 0},
        {"format -1", kWidth, kHeight, false, -1, 0},
        {"width 0", 0, kHeight, false, 2, 0},
        {"height -1", kWidth, -1, false, 2, 0},
        {"row shorter than its pixels", 16, 4, false, 0, 47},
        {"size beyond int", 100000, 100000, false, 2, 0},
    };
    make();
    world.script = [](int slot, int) { return foundAt(slot); };
    std::vector<char> small(64 * 64 * 4, 0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        frame();
        const int* statuses = frame();
        ASSERT_EQ(statuses[0], 1);
        const int coresBefore = world.coresCreated;

        statuses = tracker->track(c.width, c.height, c.nullPixels ? nullptr : small.data(), nullptr, c.format, 0,
                                  c.widthStep, -1, 1);
        for (int i = 0; i < OrvixTracker::MAX_FACES; ++i)
            EXPECT_EQ(statuses[i], 0) << "slot " << i;
        EXPECT_FALSE(tracker->active);

        // The next valid frame sets everything up again.
        world.takeOps();
        statuses = frame();
        EXPECT_EQ(statuses[0], 1);
        EXPECT_EQ(world.coresCreated, coresBefore + 1);
        const std::vector<std::string> ops = world.takeOps();
        EXPECT_NE(std::find(ops.begin(), ops.end(), "loadAlignData " + dir.path() + "oft/"), ops.end());
    }
}

TEST_F(TrackerTest, MaxFacesIsClampedAndStatusesBeyondTheSlotsReadZero)
{
    struct Case
    {
        int maxFaces;
        int slots;
    };
    const Case cases[] = {{0, 1}, {-3, 1}, {1, 1}, {3, 3}, {20, 20}, {25, 20}};
    make();
    world.script = [](int slot, int) { return foundAt(slot); };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.maxFaces);
        // Each slot takes up its face on its own frame.
        int* statuses = nullptr;
        for (int k = 0; k <= c.slots; ++k)
            statuses = frame(c.maxFaces);
        EXPECT_EQ(tracker->faceCount, c.slots);
        for (int i = 0; i < OrvixTracker::MAX_FACES; ++i)
            EXPECT_EQ(statuses[i], i < c.slots ? 1 : 0) << "slot " << i;
        for (int i = 0; i < OrvixTracker::MAX_FACES; ++i)
            EXPECT_EQ(tracker->units[i] != nullptr, i < c.slots) << "slot " << i;
    }
}

// ---------------------------------------------------------------------------
// Frame intake

TEST_F(TrackerTest, EveryPixelFormatAndRowLengthConvertsToGrey)
{
    struct Format
    {
        int code;
        int channels;
        int cvCode;        // -1: copy
        int greyOfByte0;   // grey of a pixel whose first byte is 255, the others 0
    };
    const Format formats[] = {
        {0, 3, cv::COLOR_RGB2GRAY, 76},   {1, 3, cv::COLOR_BGR2GRAY, 29}, {2, 1, -1, 255},
        {3, 4, cv::COLOR_RGBA2GRAY, 76},  {4, 4, cv::COLOR_BGRA2GRAY, 29},
    };
    const int width = 7;   // odd: the grey frame has row padding
    const int height = 5;
    make();
    for (const Format& f : formats) {
        for (int padding : {0, 5}) {
            SCOPED_TRACE("format " + std::to_string(f.code) + ", padding " + std::to_string(padding));
            const int pixelBytes = width * f.channels;
            const int step = pixelBytes + padding;
            // Exactly as many bytes as the frame needs: the last row has no
            // padding, so a read beyond it is a read beyond the buffer.
            std::vector<unsigned char> buffer(static_cast<size_t>((height - 1) * step + pixelBytes), 0xEE);
            cv::Mat tight(height, width, CV_8UC(f.channels));
            for (int y = 0; y < height; ++y) {
                for (int x = 0; x < pixelBytes; ++x) {
                    unsigned char value = static_cast<unsigned char>((x * 37 + y * 91) & 0xFF);
                    if (y == 0)   // first row: byte 0 of every pixel 255, the rest 0
                        value = (x % f.channels == 0) ? 255 : 0;
                    buffer[static_cast<size_t>(y * step + x)] = value;
                    tight.ptr<unsigned char>(y)[x] = value;
                }
            }
            cv::Mat expected;
            if (f.cvCode < 0)
                expected = tight.clone();
            else
                cv::cvtColor(tight, expected, f.cvCode);

            tracker->track(width, height, reinterpret_cast<const char*>(buffer.data()), nullptr, f.code, 0,
                           padding == 0 ? 0 : step, -1, 1);
            ASSERT_NE(tracker->grayFrame, nullptr);
            ASSERT_EQ(tracker->grayFrame->width, width);
            const IplImage* grey = tracker->grayFrame;
            for (int x = 0; x < width; ++x)
                EXPECT_EQ(static_cast<unsigned char>(grey->imageData[x]), f.greyOfByte0) << "x " << x;
            for (int y = 0; y < height; ++y) {
                for (int x = 0; x < width; ++x) {
                    EXPECT_EQ(static_cast<unsigned char>(grey->imageData[y * grey->widthStep + x]),
                              expected.at<unsigned char>(y, x))
                        << "pixel " << x << "," << y;
                }
            }
        }
    }
}

TEST_F(TrackerTest, DenoisingFreezesSmallChangesAndPassesLargeOnesIncludingRowPadding)
{
    ConfigOptions options;
    options.denoise = 1;
    make(options);
    const int width = 10;   // grey rows of 12 bytes: two padding bytes each
    const int height = 2;
    std::vector<char> pixels(static_cast<size_t>(width * height), 100);
    tracker->track(width, height, pixels.data(), nullptr, 2, 0, 0, -1, 1);
    ASSERT_NE(tracker->previousGray, nullptr);
    ASSERT_EQ(tracker->grayFrame->widthStep, 12);

    // Current value per pixel of row 0 and the value both frames hold after.
    struct Case
    {
        int input;
        int expected;
    };
    const Case cases[] = {{103, 100}, {97, 100}, {104, 104}, {96, 96}, {100, 100}, {255, 255}, {0, 0}};
    for (size_t k = 0; k < sizeof(cases) / sizeof(cases[0]); ++k)
        pixels[k] = static_cast<char>(cases[k].input);
    // Padding bytes are compared like pixels: one far from the reference
    // (0), one within 3 of it.
    tracker->grayFrame->imageData[10] = 50;
    tracker->grayFrame->imageData[11] = 2;
    tracker->track(width, height, pixels.data(), nullptr, 2, 0, 0, -1, 1);

    const unsigned char* grey = reinterpret_cast<const unsigned char*>(tracker->grayFrame->imageData);
    const unsigned char* reference = reinterpret_cast<const unsigned char*>(tracker->previousGray->imageData);
    for (size_t k = 0; k < sizeof(cases) / sizeof(cases[0]); ++k) {
        EXPECT_EQ(grey[k], cases[k].expected) << "pixel " << k;
        EXPECT_EQ(reference[k], cases[k].expected) << "pixel " << k;
    }
    EXPECT_EQ(grey[10], 50);
    EXPECT_EQ(reference[10], 50);
    EXPECT_EQ(grey[11], 0);
    EXPECT_EQ(reference[11], 0);

    // A slow drift is held until it leaves the band around the frozen
    // reference: each frame compares with the reference, not with the
    // previous input.
    const int secondRow = tracker->grayFrame->widthStep;
    for (int value : {101, 102, 103}) {
        pixels[width] = static_cast<char>(value);
        tracker->track(width, height, pixels.data(), nullptr, 2, 0, 0, -1, 1);
        EXPECT_EQ(static_cast<unsigned char>(tracker->grayFrame->imageData[secondRow]), 100) << value;
    }
    pixels[width] = static_cast<char>(104);
    tracker->track(width, height, pixels.data(), nullptr, 2, 0, 0, -1, 1);
    EXPECT_EQ(static_cast<unsigned char>(tracker->grayFrame->imageData[secondRow]), 104);
}

TEST_F(TrackerTest, WithoutDenoisingTheGreyFrameIsTheInput)
{
    make();
    std::vector<char> pixels = greyFrame(kWidth, kHeight, 1);
    tracker->track(kWidth, kHeight, pixels.data(), nullptr, 2, 0, 0, -1, 1);
    pixels[0] = static_cast<char>(static_cast<unsigned char>(pixels[0]) + 1);
    tracker->track(kWidth, kHeight, pixels.data(), nullptr, 2, 0, 0, -1, 1);
    EXPECT_EQ(tracker->previousGray, nullptr);
    EXPECT_EQ(std::memcmp(tracker->grayFrame->imageData, pixels.data(), static_cast<size_t>(kWidth)), 0);
}

TEST_F(TrackerTest, TimeStampsComeFromTheCallerOrFromTheClockOfTheLastInitialisation)
{
    const long long epoch = 1700000000123LL;
    for (long long given : {-1LL, 1234LL, epoch}) {
        SCOPED_TRACE(given);
        make();
        world.clock = 5000000;
        FaceData faces[1];
        for (int k = 0; k < 3; ++k) {
            frame(1, faces, static_cast<long>(given));
            EXPECT_EQ(faces[0].timeStampMs, given == -1 ? 40LL * k : given) << "frame " << k;
            EXPECT_EQ(tracker->frameTimeStamp, faces[0].timeStampMs);
        }
        // A configuration change restarts the tracker's clock.
        changeConfig([](OrvixConfiguration& c) { c.setRecoveryTimeout(10.0f); });
        frame(1, faces, static_cast<long>(given));
        EXPECT_EQ(faces[0].timeStampMs, given == -1 ? 0LL : given);
    }
}

TEST_F(TrackerTest, FrameRateIsMeasuredOverTheLastTenFrames)
{
    make();
    FaceData faces[1];
    std::vector<float> rates;
    for (int k = 0; k < 14; ++k) {
        frame(1, faces);
        rates.push_back(tracker->framesPerSecond);
        EXPECT_EQ(faces[0].framesPerSecond, tracker->framesPerSecond);
    }
    // Frames 40 ms apart from clock 0.  Until the ring is full its oldest
    // entry is 0, so the rate is 10000 / t; afterwards it spans ten frames.
    EXPECT_FLOAT_EQ(rates[0], 1.0f);             // clock still at 0
    EXPECT_FLOAT_EQ(rates[1], 10000.0f / 40.0f);
    EXPECT_FLOAT_EQ(rates[4], 10000.0f / 160.0f);
    EXPECT_FLOAT_EQ(rates[9], 10000.0f / 360.0f);
    for (int k = 10; k < 14; ++k)
        EXPECT_FLOAT_EQ(rates[static_cast<size_t>(k)], 25.0f) << "frame " << k;
}

// ---------------------------------------------------------------------------
// Configuration changes

TEST_F(TrackerTest, EachChangeRebuildsOnlyWhatItNames)
{
    struct Case
    {
        const char* name;
        std::function<void(OrvixConfiguration&)> change;
        unsigned bits;                       // change bits handed to the units; 0: no re-initialisation
        std::vector<std::string> ops;        // detector operations, {dir} stands for the folder
        bool newCores;
        bool newDetector;
    };
    const std::vector<Case> cases = {
        {"recovery time-out", [](OrvixConfiguration& c) { c.setRecoveryTimeout(500.0f); }, 0x10, {}, false, false},
        {"face search", [](OrvixConfiguration& c) { c.setMinFaceScale(0.3f); }, 0x40, {"isInitialized"}, false,
         false},
        {"refine ears",
         [](OrvixConfiguration& c) { c.setRefineEars(1); },
         0x2,
         {"deleteEarsCascades", "loadEarsCascades {dir}er/", "isInitialized"},
         true,
         false},
        {"process eyes without pupil refinement",
         [](OrvixConfiguration& c) { c.setProcessEyes(1); },
         0x4,
         {"deletePupilNNModel", "isInitialized"},
         true,
         false},
        {"refine landmarks",
         [](OrvixConfiguration& c) { c.setRefineLandmarks(1); },
         0x80,
         {"deleteAlignData", "loadAlignData {dir}oft/", "deleteFaceDetectorData", "loadFaceDetectorData {dir}ofd/",
          "isInitialized"},
         true,
         false},
        {"face-detector folder",
         [](OrvixConfiguration& c) { c.setOfdDataPath("ofd2/"); },
         0x100,
         {"deleteAlignData", "loadAlignData {dir}oft/", "deleteFaceDetectorData", "loadFaceDetectorData {dir}ofd2/",
          "deletePupilNNModel", "loadPupilNNModel {dir}pr/", "deleteEarsCascades", "isInitialized"},
         true,
         true},
        {"pupil folder",
         [](OrvixConfiguration& c) { c.setPrDataPath("pr2/"); },
         0x800,
         {"deletePupilNNModel", "loadPupilNNModel {dir}pr2/", "isInitialized"},
         true,
         false},
        {"ears folder while ears are off", [](OrvixConfiguration& c) { c.setErDataPath("er2/"); }, 0, {}, false,
         false},
        {"enable smoothing", [](OrvixConfiguration& c) { c.setEnableSmoothing(1); }, 0x2000, {}, false, false},
        {"denoising", [](OrvixConfiguration& c) { c.setTemporallyDenoiseInput(1); }, 0x4000, {}, false, false},
        {"camera focus", [](OrvixConfiguration& c) { c.setCameraFocus(7.0f); }, 0x8, {}, false, false},
        {"fitting algorithm", [](OrvixConfiguration& c) { c.setFittingAlgorithm(""); }, 0x8000, {}, false, false},
        {"action-unit model switch", [](OrvixConfiguration& c) { c.disableAuModel(); }, 0x1, {}, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        make();
        world.script = [](int slot, int) { return foundAt(slot); };
        frame(1, nullptr, 1000);
        frame(1, nullptr, 2000);
        world.takeOps();
        const int cores = world.coresCreated;
        const size_t detectors = world.detectorPaths.size();
        tracker->units[0]->changeFlags = 0;
        const long smoothingStart = tracker->units[0]->smoothingStart;

        changeConfig(c.change);
        const int* statuses = frame(1, nullptr, 3000);

        std::vector<std::string> expected;
        for (std::string op : c.ops) {
            const size_t at = op.find("{dir}");
            if (at != std::string::npos)
                op.replace(at, 5, dir.path());
            expected.push_back(op);
        }
        EXPECT_EQ(world.takeOps(), expected);
        EXPECT_EQ(tracker->units[0]->changeFlags, c.bits);
        EXPECT_EQ(world.coresCreated, cores + (c.newCores ? 1 : 0));
        EXPECT_EQ(world.detectorPaths.size(), detectors + (c.newDetector ? 1 : 0));
        EXPECT_EQ(statuses[0], 1);
        // A re-initialisation starts a new tracking run.
        EXPECT_EQ(tracker->units[0]->smoothingStart != smoothingStart, c.bits != 0);
    }
}

TEST_F(TrackerTest, ChangedSettingsReachDetectorCoresAndUnits)
{
    make();
    world.script = [](int slot, int) { return foundAt(slot); };
    frame();
    changeConfig([](OrvixConfiguration& c) {
        c.setRefineLandmarks(1);
        c.setMinFaceScale(0.25f);
        c.setMaxFaceScale(0.75f);
        c.setFaceDetectorSensitivity(0.9f);
        c.setRecoveryTimeout(321.9f);
        c.setEnableSmoothing(1);
    });
    frame();
    EXPECT_EQ(world.detector->getUseONN(), 2u);
    EXPECT_FLOAT_EQ(ONNTrackerCore::s_minFaceScale, 0.25f);
    EXPECT_FLOAT_EQ(ONNTrackerCore::s_maxFaceScale, 0.75f);
    EXPECT_FLOAT_EQ(ONNTrackerCore::s_faceFinderSensitivity, 0.9f);
    EXPECT_EQ(tracker->units[0]->recoveryTimeoutMs, 321);
    EXPECT_EQ(tracker->units[0]->smoothingEnabled, 1u);
    EXPECT_TRUE(world.detector->getRefinePupils());
    EXPECT_FALSE(world.detector->getRefineEars());
}

TEST_F(TrackerTest, ConfigurationGetterCarriesPendingChanges)
{
    make();
    frame();
    OrvixConfiguration config = tracker->getTrackerConfiguration();
    EXPECT_EQ(config.getChanges(), 0u);
    ASSERT_TRUE(config.setCameraFocus(9.0f));
    tracker->setTrackerConfiguration(config);
    // The caller's flags were taken over.
    EXPECT_EQ(config.getChanges(), 0u);
    OrvixConfiguration pending = tracker->getTrackerConfiguration();
    ASSERT_TRUE(pending.setRecoveryTimeout(3.0f));
    tracker->setTrackerConfiguration(pending);
    // Both changes are pending together.
    EXPECT_EQ(tracker->getTrackerConfiguration().getChanges(), 0x8u | 0x10u);
    frame();
    EXPECT_FLOAT_EQ(tracker->activeConfig->getCameraFocus(), 9.0f);
    EXPECT_FLOAT_EQ(tracker->activeConfig->getRecoveryTimeout(), 3.0f);
    EXPECT_EQ(tracker->units[0]->changeFlags, 0x18u);
}

TEST_F(TrackerTest, ReadingANewConfigurationFileInitialisesEverything)
{
    make();
    world.script = [](int slot, int) { return foundAt(slot); };
    frame();
    const int cores = world.coresCreated;
    ConfigOptions options;
    options.recoveryTimeout = 77.0f;
    const std::string other = dir.write("other.cfg", trackerConfig(options));
    tracker->setTrackerConfiguration(other.c_str(), true, false);
    frame();
    EXPECT_EQ(world.coresCreated, cores + 1);
    EXPECT_EQ(tracker->units[0]->recoveryTimeoutMs, 77);
    EXPECT_TRUE(tracker->activeConfig->isAuModelDisabled());
    EXPECT_FALSE(tracker->activeConfig->isMeshModelDisabled());
}

// ---------------------------------------------------------------------------
// Slots

TEST_F(TrackerTest, OnlyTrackingSlotsAndTheLowestOtherSlotRun)
{
    make();
    world.script = [](int slot, int f) {
        CoreStep step = foundAt(slot);
        if (slot == 0)
            step.found = f < 4;   // loses its face at frame 4
        else if (slot == 1)
            step.found = f >= 2;  // finds one at frame 2
        else
            step.found = false;
        return step;
    };
    struct Expected
    {
        std::set<int> run;
        int statuses[3];
    };
    const Expected expected[] = {
        {{0}, {1, 0, 0}},       {{0, 1}, {1, 3, 0}},    {{0, 1}, {1, 1, 0}},
        {{0, 1, 2}, {1, 1, 3}}, {{0, 1, 2}, {2, 1, 3}}, {{0, 1}, {2, 1, 3}},
    };
    FaceData faces[3];
    long long slot2Stamp = 0;
    for (int f = 0; f < 6; ++f) {
        SCOPED_TRACE("frame " + std::to_string(f));
        const int* statuses = frame(3, faces);
        EXPECT_EQ(world.slotsRun(f), expected[f].run);
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(statuses[i], expected[f].statuses[i]) << "slot " << i;
        for (int i = 3; i < OrvixTracker::MAX_FACES; ++i)
            EXPECT_EQ(statuses[i], 0);
        if (f == 4)
            slot2Stamp = faces[2].timeStampMs;
    }
    // Slot 2 waited in frame 5: its record is the one of frame 4.
    EXPECT_EQ(faces[2].timeStampMs, slot2Stamp);
    EXPECT_LT(faces[2].timeStampMs, faces[1].timeStampMs);
    // The lost face: no scale and no rectangle, the tracking face keeps its.
    EXPECT_EQ(faces[0].faceScale, -1);
    EXPECT_EQ(faces[0].faceBoundingBox[2], -1);
    EXPECT_EQ(faces[1].faceScale, 50);
    EXPECT_EQ(faces[1].faceBoundingBox[0], 110);
}

TEST_F(TrackerTest, EachSlotIsToldTheFacesTheOtherSlotsTrackedInThePreviousFrame)
{
    make();
    world.script = [](int slot, int f) {
        CoreStep step = foundAt(slot);
        step.found = (slot == 0) || (slot == 1 && f >= 2);
        return step;
    };
    const CvRect box0 = foundAt(0).box;
    const CvRect box1 = foundAt(1).box;
    for (int f = 0; f < 4; ++f)
        frame(3);
    // Frame 1: slot 0 tracked in frame 0, slot 1 not yet.
    ASSERT_EQ(world.othersOf(1, 1).size(), 1u);
    EXPECT_TRUE(sameRect(world.othersOf(1, 1)[0], box0));
    EXPECT_TRUE(world.othersOf(1, 0).empty());
    // Frame 2: slot 1 found its face in this frame, so slot 0 does not know
    // it yet.
    EXPECT_TRUE(world.othersOf(2, 0).empty());
    // Frame 3: both tracked in frame 2.
    ASSERT_EQ(world.othersOf(3, 0).size(), 1u);
    EXPECT_TRUE(sameRect(world.othersOf(3, 0)[0], box1));
    ASSERT_EQ(world.othersOf(3, 1).size(), 1u);
    EXPECT_TRUE(sameRect(world.othersOf(3, 1)[0], box0));
    const std::vector<CvRect> third = world.othersOf(3, 2);
    ASSERT_EQ(third.size(), 2u);
    EXPECT_TRUE(sameRect(third[0], box0));
    EXPECT_TRUE(sameRect(third[1], box1));
}

// ---------------------------------------------------------------------------
// Output records

TEST_F(TrackerTest, WithoutFittingTheRecordCarriesTheAlignedPoints)
{
    make();
    world.script = [](int slot, int) { return foundAt(slot); };
    FaceData faces[1];
    frame(1, faces);
    frame(1, faces);

    const FaceData& r = faces[0];
    ASSERT_TRUE(r.arraysAllocated);
    ASSERT_NE(r.points2D, nullptr);
    EXPECT_EQ(r.points3D, nullptr);
    EXPECT_EQ(r.meshVertexCount, 0);
    EXPECT_EQ(r.suCount, 0);
    EXPECT_EQ(r.auCount, 0);
    FDP expected;
    fillScriptedPoints(expected, 0.001f * 1);
    for (int g = FDP::firstGroup; g <= FDP::lastGroup; ++g) {
        for (int i = 1; i <= FDP::groupSize(g); ++i) {
            ASSERT_TRUE(r.points2D->FPIsDefined(g, i));
            EXPECT_FLOAT_EQ(r.points2D->getFPPos(g, i)[0], expected.getFPPos(g, i)[0]);
            EXPECT_FLOAT_EQ(r.points2D->getFPPos(g, i)[1], expected.getFPPos(g, i)[1]);
        }
    }
    // Frontal quality of the scripted points: mean of the region means.
    EXPECT_FLOAT_EQ(r.trackingQuality, 0.5f);
    EXPECT_FLOAT_EQ(r.trackingQuality, AlignmentUtils::calculateTrackingQualityYaw(&expected, 1.0f));
    EXPECT_EQ(r.faceScale, 50);
    EXPECT_EQ(r.faceBoundingBox[0], 10);
    EXPECT_EQ(r.faceBoundingBox[3], 50);

    // The packed copy unpacks to the same points.
    FDP unpacked;
    EXPECT_EQ(OrvixDetector::transformData(&unpacked, nullptr, faces[0].encodedPoints, false), 1012u);
    EXPECT_FLOAT_EQ(unpacked.getFPPos(8, 3)[0], r.points2D->getFPPos(8, 3)[0]);
    EXPECT_FLOAT_EQ(unpacked.getFPQuality(9, 2), r.points2D->getFPQuality(9, 2));
}

TEST_F(TrackerTest, AModelChangeReinitialisesTheCallersRecords)
{
    make();
    world.script = [](int slot, int f) {
        CoreStep step = foundAt(slot);
        step.found = slot == 0 || f == 1;
        return step;
    };
    FaceData faces[2];
    frame(2, faces);
    frame(2, faces);
    ASSERT_TRUE(faces[0].arraysAllocated);
    ASSERT_TRUE(faces[1].arraysAllocated);
    faces[1].trackingQuality = 0.75f;

    changeConfig([](OrvixConfiguration& c) { c.disableMeshModel(); });
    frame(2, faces);
    // Slot 0 ran and was filled again; slot 1 waited and is back to its
    // construction values.
    EXPECT_TRUE(faces[0].arraysAllocated);
    EXPECT_FALSE(faces[1].arraysAllocated);
    EXPECT_EQ(faces[1].points2D, nullptr);
    EXPECT_FLOAT_EQ(faces[1].trackingQuality, 0.0f);
}

// ---------------------------------------------------------------------------
// Detector data that cannot be loaded

TEST_F(TrackerTest, MissingDetectorDataLeavesTheTrackerInactiveWithItsMessage)
{
    ConfigOptions options;
    options.refineEars = 1;
    make(options);
    world.script = [](int slot, int) { return foundAt(slot); };
    world.missingMask = 15;

    testing::internal::CaptureStderr();
    const int* statuses = frame();
    const std::string printed = testing::internal::GetCapturedStderr();

    const std::string d = dir.path();
    const std::string expectedStart = "Detector initialisation failed while loading following data.\n"
                                      "Detector data with provided path: " + d + "ofd/.\n"
                                      "Align data with provided path: " + d + "oft/.\n"
                                      "Ears data with provided path: " + d + "er/.\n"
                                      "Pupils data with provided path:  " + d + "pr/.\n"
                                      "Working directory : ";
    EXPECT_TRUE(tracker->isInitializationFailed());
    const std::string message = tracker->getLastError();
    EXPECT_EQ(message.substr(0, expectedStart.size()), expectedStart);
    EXPECT_GT(message.size(), expectedStart.size());
    EXPECT_NE(printed.find(expectedStart), std::string::npos);
    for (int i = 0; i < OrvixTracker::MAX_FACES; ++i)
        EXPECT_EQ(statuses[i], 0);

    // Nothing is retried until something changes.
    world.takeOps();
    for (int k = 0; k < 3; ++k)
        EXPECT_EQ(frame()[0], 0);
    EXPECT_TRUE(world.takeOps().empty());
    EXPECT_TRUE(world.slotsRun(world.frame - 1).empty());
    EXPECT_TRUE(tracker->isInitializationFailed());

    // A configuration change retries everything.
    world.missingMask = 0;
    changeConfig([](OrvixConfiguration& c) { c.setRecoveryTimeout(10.0f); });
    EXPECT_EQ(frame()[0], 1);
    EXPECT_FALSE(tracker->isInitializationFailed());
    EXPECT_TRUE(tracker->getLastError().empty());
}

TEST_F(TrackerTest, ResetRetriesAfterMissingDetectorData)
{
    make();
    world.script = [](int slot, int) { return foundAt(slot); };
    world.missingMask = 2;
    testing::internal::CaptureStderr();
    frame();
    testing::internal::GetCapturedStderr();
    ASSERT_TRUE(tracker->isInitializationFailed());
    EXPECT_EQ(tracker->getLastError().find("Align data with provided path: " + dir.path() + "oft/.\nWorking"),
              std::string("Detector initialisation failed while loading following data.\n").size());

    world.missingMask = 0;
    tracker->reset();
    EXPECT_EQ(frame()[0], 1);
    EXPECT_FALSE(tracker->isInitializationFailed());
}

TEST(OrvixTrackerPlainTest, TheDetectorOfThisBuildReportsItsDataMissing)
{
    TempDir dir;
    const std::string path = dir.write("tracker.cfg", trackerConfig());
    OrvixTracker tracker(path.c_str());
    const std::vector<char> pixels = greyFrame(kWidth, kHeight);
    FaceData faces[1];
    testing::internal::CaptureStderr();
    const int* statuses = tracker.track(kWidth, kHeight, pixels.data(), faces, 2, 0, 0, -1, 1);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(statuses[0], 0);
    EXPECT_TRUE(tracker.isInitializationFailed());
    const std::string message = tracker.getLastError();
    EXPECT_NE(message.find("Detector data with provided path: " + dir.path() + "ofd/."), std::string::npos);
    EXPECT_NE(message.find("Align data with provided path: " + dir.path() + "oft/."), std::string::npos);
    // Pupil refinement is on (process_eyes 3), ear refinement off.
    EXPECT_NE(message.find("Pupils data"), std::string::npos);
    EXPECT_EQ(message.find("Ears data"), std::string::npos);
    EXPECT_FALSE(faces[0].arraysAllocated);
}

// ---------------------------------------------------------------------------
// Control

TEST_F(TrackerTest, StopResetAndSetIpdForceAFullInitialisation)
{
    struct Case
    {
        const char* name;
        std::function<void(OrvixTracker&)> action;
    };
    const Case cases[] = {
        {"stop", [](OrvixTracker& t) { t.stop(); }},
        {"reset", [](OrvixTracker& t) { t.reset(); }},
        {"setIPD", [](OrvixTracker& t) { t.setIPD(0.07f); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        make();
        world.script = [](int slot, int) { return foundAt(slot); };
        frame(2);
        frame(2);
        const int cores = world.coresCreated;
        world.takeOps();
        c.action(*tracker);
        const int* statuses = frame(2);
        EXPECT_EQ(world.coresCreated, cores + 2);
        EXPECT_FALSE(world.takeOps().empty());
        // Every slot starts again: one slot per frame takes up a face.
        EXPECT_EQ(statuses[0], 1);
        EXPECT_EQ(statuses[1], 0);
    }
    EXPECT_FLOAT_EQ(tracker->getIPD(), 0.07f);
    EXPECT_FLOAT_EQ(tracker->units[0]->getIPD(), 0.07f);
}

TEST_F(TrackerTest, SetIpdOnAnInactiveTrackerWaitsForTheNextInitialisation)
{
    make();
    tracker->setIPD(0.06f);
    frame();
    EXPECT_FLOAT_EQ(tracker->units[0]->getIPD(), 0.06f);
    const int cores = world.coresCreated;
    tracker->stop();
    tracker->setIPD(0.062f);   // inactive now: stored only
    EXPECT_FLOAT_EQ(tracker->units[0]->getIPD(), 0.06f);
    frame();
    EXPECT_EQ(world.coresCreated, cores + 1);
    EXPECT_FLOAT_EQ(tracker->units[0]->getIPD(), 0.062f);
}

// ---------------------------------------------------------------------------
// Static helpers

TEST(OrvixTrackerStaticTest, VersionAndPose)
{
    EXPECT_STREQ(getOrvixSDKVersion(), "9.1.0");
    EXPECT_STREQ(OrvixTracker::getSDKVersion(), "9.1.0");
    float pose[6] = {};
    const float rotation[3] = {0.1f, 0.2f, 0.3f};
    const float translation[3] = {1.0f, 2.0f, 3.0f};
    OrvixTracker::setPose(pose, rotation, translation);
    const float expected[6] = {1.0f, 2.0f, 3.0f, 0.1f, 0.2f, 0.3f};
    for (int k = 0; k < 6; ++k)
        EXPECT_FLOAT_EQ(pose[k], expected[k]);
}

// Eye points (y down) on a 200 x 100 frame: pupils 3.5 at x 0.4 and 3.6 at
// x 0.6 (40 pixels apart), lids 3.1/3.3 of the first eye 10 pixels apart,
// 3.2/3.4 of the second 2 pixels apart.
FDP eyePoints()
{
    FDP points;
    points.setFPPos(3, 5, 0.4f, 0.5f, 0.0f);
    points.setFPPos(3, 6, 0.6f, 0.5f, 0.0f);
    points.setFPPos(3, 1, 0.4f, 0.45f, 0.0f);
    points.setFPPos(3, 3, 0.4f, 0.55f, 0.0f);
    points.setFPPos(3, 2, 0.6f, 0.49f, 0.0f);
    points.setFPPos(3, 4, 0.6f, 0.51f, 0.0f);
    return points;
}

TEST(OrvixTrackerStaticTest, EyeClosureFromLidsAndHeadTurn)
{
    const float pi = 3.14159265f;
    IplImage* frame = cvCreateImageHeader(cvSize(200, 100), IPL_DEPTH_8U, 1);
    struct Case
    {
        const char* name;
        float ry;           // head y rotation; translation straight ahead
        int missingPoint;   // index in group 3 left undefined, 0: none
        float first;
        float second;
    };
    const Case cases[] = {
        {"frontal", pi, 0, 10.0f / 40.0f, 2.0f / 40.0f},
        {"turned beyond 1.5 pi: first eye open", 1.6f * pi, 0, 1.08f, 2.0f / 40.0f},
        {"turned below 0.5 pi: second eye open", 0.4f * pi, 0, 10.0f / 40.0f, 1.08f},
        {"lid point missing", pi, 3, 1.08f, 1.08f},
        {"pupil missing", pi, 6, 1.08f, 1.08f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FDP points = eyePoints();
        if (c.missingPoint != 0)
            points.getFP(3, c.missingPoint).defined = 0;
        const float translation[3] = {0.0f, 0.0f, 1.0f};
        const float rotation[3] = {0.0f, c.ry, 0.0f};
        float out[2] = {-5.0f, -5.0f};
        OrvixTracker::processEyesClosure(frame, &points, translation, rotation, out);
        EXPECT_NEAR(out[0], c.first, 1e-5f);
        EXPECT_NEAR(out[1], c.second, 1e-5f);
    }
    // The region of interest sets the pixel scale: a region with another
    // aspect changes the distances.
    cvSetImageROI(frame, cvRect(0, 0, 100, 100));
    FDP points = eyePoints();
    const float translation[3] = {0.0f, 0.0f, 1.0f};
    const float rotation[3] = {0.0f, pi, 0.0f};
    float out[2];
    OrvixTracker::processEyesClosure(frame, &points, translation, rotation, out);
    EXPECT_NEAR(out[0], 10.0f / 20.0f, 1e-5f);
    cvReleaseImageHeader(&frame);
}

TEST(OrvixTrackerStaticTest, PupilCoordinatesScaleTheLongerSide)
{
    struct Case
    {
        int width;
        int height;
        float ax;
        float ay;
    };
    const Case cases[] = {{640, 480, 640.0f / 480.0f, 1.0f}, {480, 640, 1.0f, 640.0f / 480.0f}, {300, 300, 1.0f, 1.0f}};
    FDP points;
    points.setFPPos(3, 5, 0.25f, 0.4f, 0.0f);
    points.setFPPos(3, 6, 0.75f, 0.6f, 0.0f);
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
        float values[4] = {};
        CvMat out = cvMat(4, 1, CV_32FC1, values);
        OrvixTracker::GetPupilCoords(&points, &out, c.width, c.height);
        EXPECT_FLOAT_EQ(values[0], 0.5f * c.ax);
        EXPECT_FLOAT_EQ(values[1], 0.2f * c.ay);
        EXPECT_FLOAT_EQ(values[2], -0.5f * c.ax);
        EXPECT_FLOAT_EQ(values[3], -0.2f * c.ay);
    }
}

}  // namespace
