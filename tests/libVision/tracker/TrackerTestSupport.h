#ifndef ORVIX_TESTS_TRACKER_TRACKERTESTSUPPORT_H
#define ORVIX_TESTS_TRACKER_TRACKERTESTSUPPORT_H

// A scripted world for the tracker tests: a detector that loads nothing but
// logs what it is asked to do, and tracking cores that report the faces a
// script gives them, frame by frame and slot by slot.

#include <atomic>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include <opencv2/core/types_c.h>

#include "OrvixSDK/FDP.h"
#include "OrvixSDK/OrvixTracker.h"
#include "TestSupport.h"
#include "detection/OrvixDetector.h"
#include "detection/OrvixTrackerCore.h"
#include "tracker/OrvixTrackerInternal.h"

namespace OrvixTest {

// What a core reports for one frame.
struct CoreStep
{
    bool found = false;
    CvRect box = {-1, -1, -1, -1};
};

// Per-region point qualities of the scripted points: mouth 0.2, nose 0.4,
// odd eye/brow points 0.6, even ones 0.8, every other point 0.1.  The mean
// of the four region means (the tracking quality of a frontal face) is 0.5.
inline float scriptedQuality(int group, int index)
{
    if (group == 8)
        return 0.2f;
    if (group == 9)
        return 0.4f;
    if (group == 3 || group == 4)
        return index % 2 == 1 ? 0.6f : 0.8f;
    return 0.1f;
}

// The point set a scripted core delivers: every point defined and detected,
// at a position that depends on the point and on `shift`, z = -1 except
// the pupils, whose z holds an iris radius of 0.01 of the frame width.
inline void fillScriptedPoints(OrvixSDK::FDP& points, float shift)
{
    using OrvixSDK::FDP;
    for (int g = FDP::firstGroup; g <= FDP::lastGroup; ++g) {
        for (int i = 1; i <= FDP::groupSize(g); ++i) {
            const bool pupil = g == 3 && (i == 5 || i == 6);
            points.setFPPos(g, i, 0.3f + 0.01f * static_cast<float>(i) + shift,
                            0.2f + 0.02f * static_cast<float>(g), pupil ? 0.01f : -1.0f);
            points.getFP(g, i).detected = 1;
            points.setFPQuality(g, i, scriptedQuality(g, i));
        }
    }
}

class ScriptedDetector;

// Shared state of one test: the script, the clock and the logs.
struct World
{
    // Decides what the core of `slot` reports in the current frame.
    // Called from the tracker's worker threads: must not change shared
    // state.
    std::function<CoreStep(int slot, int frame)> script = [](int, int) { return CoreStep(); };
    // Maps a core to its slot; by default every core is slot 0.
    std::function<int(const OrvixSDK::OrvixTrackerCore*)> slotOf = [](const OrvixSDK::OrvixTrackerCore*) { return 0; };

    // Optional change of the scripted points before they are delivered.
    std::function<void(OrvixSDK::FDP&)> adjustPoints;

    std::atomic<int> frame{0};
    std::atomic<long long> clock{1000000};
    // What isInitialized reports.
    std::atomic<int> missingMask{0};

    std::mutex mutex;
    std::vector<std::string> ops;                 // detector operations in order
    std::vector<std::string> detectorPaths;       // one per detector created
    int coresCreated = 0;
    int earRefinerResets = 0;
    // Per frame: the slots whose core ran and the other faces they were given.
    struct Call
    {
        int frame;
        int slot;
        std::vector<CvRect> otherFaces;
    };
    std::vector<Call> calls;
    ScriptedDetector* detector = nullptr;

    void log(const std::string& op)
    {
        std::lock_guard<std::mutex> lock(mutex);
        ops.push_back(op);
    }
    std::vector<std::string> takeOps()
    {
        std::lock_guard<std::mutex> lock(mutex);
        std::vector<std::string> taken;
        taken.swap(ops);
        return taken;
    }
    std::set<int> slotsRun(int frameIndex)
    {
        std::lock_guard<std::mutex> lock(mutex);
        std::set<int> slots;
        for (const Call& c : calls) {
            if (c.frame == frameIndex)
                slots.insert(c.slot);
        }
        return slots;
    }
    // The other faces slot was given in frameIndex (empty when it did not run).
    std::vector<CvRect> othersOf(int frameIndex, int slot)
    {
        std::lock_guard<std::mutex> lock(mutex);
        for (const Call& c : calls) {
            if (c.frame == frameIndex && c.slot == slot)
                return c.otherFaces;
        }
        return {};
    }
};

// A core that reports what the world's script says.
class ScriptedCore : public OrvixSDK::OrvixTrackerCore
{
public:
    ScriptedCore(World* world, OrvixSDK::OrvixDetector* detector) : world(world), detector(detector) {}

    bool getTrackingPoints(const IplImage* /*frame*/, OrvixSDK::FDP* points, float& quality,
                           const std::vector<CvRect>& otherFaces) override
    {
        const int slot = world->slotOf(this);
        const int frame = world->frame.load();
        {
            std::lock_guard<std::mutex> lock(world->mutex);
            world->calls.push_back({frame, slot, otherFaces});
        }
        const CoreStep step = world->script(slot, frame);
        quality = 0.0f;
        if (!step.found) {
            resetTrackerState();
            return false;
        }
        fillScriptedPoints(*points, 0.001f * static_cast<float>(frame % 7));
        if (world->adjustPoints)
            world->adjustPoints(*points);
        box = step.box;
        return true;
    }
    void resetTrackerState() override
    {
        box = {-1, -1, -1, -1};
        ++resets;
    }
    void resetEarsRefiner(OrvixSDK::Candide3Model*, OrvixSDK::Candide3Model*, OrvixSDK::Candide3Model*,
                          std::string) override
    {
        std::lock_guard<std::mutex> lock(world->mutex);
        ++world->earRefinerResets;
    }
    int getFaceScale() const override { return box.width; }
    CvRect getFaceBoundingBox() const override { return box; }
    void setFaceBoundingBox(CvRect b) override { box = b; }
    bool refineEars() const override { return detector->refineEars; }

    int resets = 0;

private:
    World* world;
    OrvixSDK::OrvixDetector* detector;
    CvRect box = {-1, -1, -1, -1};
};

// A detector whose data management only logs, whose readiness is scripted
// and whose cores are scripted.
class ScriptedDetector : public OrvixSDK::OrvixDetector
{
public:
    ScriptedDetector(const char* path, World* world) : OrvixSDK::OrvixDetector(path), world(world)
    {
        std::lock_guard<std::mutex> lock(world->mutex);
        world->detectorPaths.push_back(path);
        world->detector = this;
    }

    void loadFaceDetectorData(const char* path) override { world->log(std::string("loadFaceDetectorData ") + path); }
    void deleteFaceDetectorData() override { world->log("deleteFaceDetectorData"); }
    void loadAlignData(const char* path) override { world->log(std::string("loadAlignData ") + path); }
    void deleteAlignData() override { world->log("deleteAlignData"); }
    void loadPupilNNModel(const char* path) override { world->log(std::string("loadPupilNNModel ") + path); }
    void deletePupilNNModel() override { world->log("deletePupilNNModel"); }
    void loadEarsCascades(const char* path) override { world->log(std::string("loadEarsCascades ") + path); }
    void deleteEarsCascades() override { world->log("deleteEarsCascades"); }
    int isInitialized() override
    {
        world->log("isInitialized");
        return world->missingMask.load();
    }
    OrvixSDK::OrvixTrackerCore* createTrackerCore() override
    {
        {
            std::lock_guard<std::mutex> lock(world->mutex);
            ++world->coresCreated;
        }
        return new ScriptedCore(world, this);
    }

private:
    World* world;
};

// A tracker on the scripted world, with its state open to the tests.
class TestTracker : public OrvixSDK::OrvixTracker
{
public:
    TestTracker(const std::string& configPath, World* world) : OrvixSDK::OrvixTracker(configPath.c_str()), world(world)
    {
        world->slotOf = [this](const OrvixSDK::OrvixTrackerCore* core) {
            for (int i = 0; i < faceCount; ++i) {
                if (units[i] != nullptr && units[i]->core == core)
                    return i;
            }
            return -1;
        };
    }

    using OrvixSDK::OrvixTracker::active;
    using OrvixSDK::OrvixTracker::activeConfig;
    using OrvixSDK::OrvixTracker::changeFlags;
    using OrvixSDK::OrvixTracker::denoiseInput;
    using OrvixSDK::OrvixTracker::faceCount;
    using OrvixSDK::OrvixTracker::framesPerSecond;
    using OrvixSDK::OrvixTracker::frameTimeStamp;
    using OrvixSDK::OrvixTracker::grayFrame;
    using OrvixSDK::OrvixTracker::previousGray;
    using OrvixSDK::OrvixTracker::recoveryTimeout;
    using OrvixSDK::OrvixTracker::units;

protected:
    OrvixSDK::OrvixDetector* createDetector(const char* path) override { return new ScriptedDetector(path, world); }
    long long currentTimeMs() override { return world->clock.load(); }

private:
    World* world;
};

// Settings of the test configurations that the tests vary.
struct ConfigOptions
{
    unsigned denoise = 0;
    unsigned smoothing = 0;
    unsigned refineEars = 0;
    unsigned processEyes = 3;
    float recoveryTimeout = 1000.0f;
};

// A tracker configuration without face models (so without fitting).
inline std::string trackerConfig(const ConfigOptions& o = ConfigOptions())
{
    return "camera_focus 5\n"
           "recovery_timeout " + std::to_string(o.recoveryTimeout) + "\n"
           "smoothing_factors -1 -1 -1 -1 -1 -1 -1 -1\n"
           "enable_smoothing " + std::to_string(o.smoothing) + "\n"
           "temporally_denoise_input " + std::to_string(o.denoise) + "\n"
           "ofd_data_path ofd/\n"
           "oft_data_path oft/\n"
           "pr_data_path pr/\n"
           "er_data_path er/\n"
           "process_eyes " + std::to_string(o.processEyes) + "\n"
           "refine_ears " + std::to_string(o.refineEars) + "\n"
           "min_face_scale 0.15\n"
           "max_face_scale 1.0\n"
           "refine_landmarks 0\n"
           "face_detector_sensitivity 0.5\n"
           "fitting_algorithm eif_pose_su_au\n"
           "pose_fitting_model_configuration none\n"
           "au_fitting_model_configuration none\n"
           "mesh_fitting_model_configuration none\n";
}

// A grey test frame of width x height with a pattern.
inline std::vector<char> greyFrame(int width, int height, int seed = 0)
{
    std::vector<char> pixels(static_cast<size_t>(width) * static_cast<size_t>(height));
    for (size_t k = 0; k < pixels.size(); ++k)
        pixels[k] = static_cast<char>((k * 7 + static_cast<size_t>(seed) * 13) & 0xFF);
    return pixels;
}

}  // namespace OrvixTest

#endif
