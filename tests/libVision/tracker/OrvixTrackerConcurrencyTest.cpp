#include "OrvixSDK/OrvixTracker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "OrvixSDK/FaceData.h"
#include "TrackerTestSupport.h"

using namespace OrvixSDK;
using namespace OrvixTest;

namespace {

// A second thread changes the configuration while frames are processed.
// Each change it has completed before a frame starts must be in force after
// that frame, whatever the interleaving; nothing may crash or race (run
// this under the sanitizers too).
TEST(OrvixTrackerConcurrencyTest, ChangesFromAnotherThreadArePickedUpAtTheNextFrame)
{
    const int kFrames = 400;
    const int kChanges = 300;
    const int kWidth = 64;
    const int kHeight = 48;

    TempDir dir;
    World world;
    world.script = [](int slot, int) {
        CoreStep step;
        step.found = true;
        step.box = {10 + 100 * slot, 20, 50, 50};
        return step;
    };
    const std::string path = dir.write("tracker.cfg", trackerConfig());
    TestTracker tracker(path, &world);

    std::atomic<int> lastDone{-1};
    std::atomic<bool> framesDone{false};
    std::thread changer([&]() {
        for (int i = 0; i < kChanges && !framesDone.load(); ++i) {
            OrvixConfiguration config = tracker.getTrackerConfiguration();
            // Recovery time-outs only grow, so "at least the last value set"
            // is a test that holds for every interleaving.
            config.setRecoveryTimeout(static_cast<float>(i));
            if (i % 3 == 0)
                config.setEnableSmoothing(static_cast<unsigned>(i % 2));
            if (i % 7 == 0)
                config.setMinFaceScale(0.1f + 0.001f * static_cast<float>(i % 100));
            if (i % 11 == 0)
                config.setRefineLandmarks(static_cast<unsigned>((i / 11) % 2));
            tracker.setTrackerConfiguration(config);
            lastDone = i;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });

    const std::vector<char> pixels = greyFrame(kWidth, kHeight);
    FaceData faces[3];
    while (lastDone.load() < 0)
        std::this_thread::yield();
    for (int f = 0; f < kFrames; ++f) {
        const int completed = lastDone.load();
        const int* statuses = tracker.track(kWidth, kHeight, pixels.data(), faces, 2, 0, 0, -1, 3);
        ++world.frame;
        for (int i = 0; i < 3; ++i)
            ASSERT_TRUE(statuses[i] == 0 || statuses[i] == 1) << "frame " << f << " slot " << i;
        if (completed >= 0) {
            ASSERT_GE(tracker.activeConfig->getRecoveryTimeout(), static_cast<float>(completed)) << "frame " << f;
            for (int i = 0; i < 3; ++i)
                ASSERT_GE(tracker.units[i]->recoveryTimeoutMs, completed) << "frame " << f << " slot " << i;
        }
        // Let the changer run between frames as well as during them.
        if (f % 2 == 0)
            std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    framesDone = true;
    changer.join();

    // The last change reaches the next frame.
    const int last = lastDone.load();
    tracker.track(kWidth, kHeight, pixels.data(), faces, 2, 0, 0, -1, 3);
    EXPECT_FLOAT_EQ(tracker.activeConfig->getRecoveryTimeout(), static_cast<float>(last));
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(tracker.units[i]->recoveryTimeoutMs, last);
    EXPECT_GT(last, 10);
}

}  // namespace
