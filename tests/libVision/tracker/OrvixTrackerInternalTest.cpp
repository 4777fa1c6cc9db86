#include "tracker/OrvixTrackerInternal.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include <opencv2/core/core_c.h>

#include "OrvixSDK/Candide3Model.h"
#include "OrvixSDK/FaceData.h"
#include "TrackerTestSupport.h"
#include "detection/AlignmentUtils.h"
#include "fitting/IOrvixFitter.h"
#include "support/Common.h"

using namespace OrvixSDK;
using namespace OrvixTest;

namespace {

const float kPi = 3.14159265f;
const int kAllBits = -1;

// What the stand-in fitter was asked and what it answers.
struct FitterScript
{
    bool succeed = true;
    int fits = 0;
    int resets = 0;
    bool lastFit = false;
};

// Reports the input points (turned back to y up) and a fixed pose.
class FakeFitter : public IOrvixFitter
{
public:
    explicit FakeFitter(FitterScript* script) : script(script) {}

    bool do_fitting(const FDP* points, int, int, FaceData* data, bool fit, float*) override
    {
        ++script->fits;
        script->lastFit = fit;
        if (!fit || !script->succeed) {
            data->trackingQuality = 0.0f;
            return false;
        }
        *data->points2D = *points;
        Common::verticalFlip(data->points2D);
        const float rotation[3] = {0.1f, 0.2f, 0.3f};
        const float translation[3] = {0.1f, 0.05f, 1.0f};
        std::copy(rotation, rotation + 3, data->headRotation);
        std::copy(translation, translation + 3, data->headTranslation);
        return true;
    }
    void reset(bool) override { ++script->resets; }

private:
    FitterScript* script;
};

// A tracking unit whose fitter is the stand-in (or none).
class FittingUnit : public OrvixTrackerInternal
{
public:
    IOrvixFitter* createFitter(const std::string&) override
    {
        return withFitter ? new FakeFitter(&script) : nullptr;
    }
    bool withFitter = true;
    FitterScript script;
};

CvMat* floatColumn(std::initializer_list<float> values)
{
    CvMat* m = cvCreateMat(static_cast<int>(values.size()), 1, CV_32FC1);
    int k = 0;
    for (float v : values)
        m->data.fl[k++] = v;
    return m;
}

CvMat* intColumn(std::initializer_list<int> values)
{
    CvMat* m = cvCreateMat(static_cast<int>(values.size()), 1, CV_32SC1);
    int k = 0;
    for (int v : values)
        m->data.i[k++] = v;
    return m;
}

// A three-vertex model: one triangle, shape units 1, 0, 1 in use (values
// 0.5, 0.7), action units 0, 1 in use (value 0.9), named a0 and a1.
Candide3Model* makeModel(float yRotation = kPi)
{
    Candide3Model* m = new Candide3Model();
    m->vertexCount = 3;
    m->faces = intColumn({0, 1, 2});
    m->deformedVertices = floatColumn({1, 2, 3, 4, 5, 6, 7, 8, 9});
    m->projectedVertices = floatColumn({0.0f, 0.0f, 0.5f, 0.5f, -0.5f, -1.0f});
    m->texCoords = floatColumn({0, 0, 0, 0, 0, 0});
    m->suUse = intColumn({1, 0, 1});
    m->suValues = floatColumn({0.5f, 0.7f});
    m->auUse = intColumn({0, 1});
    m->auValues = floatColumn({0.9f});
    m->auNameCount = 2;
    m->auNames = new char*[2];
    m->auNames[0] = new char[3]{'a', '0', '\0'};
    m->auNames[1] = new char[3]{'a', '1', '\0'};
    m->focus = 4.0f;
    m->rotation[1] = yRotation;
    m->translation[2] = 1.0f;
    m->initialized = true;
    return m;
}

class UnitTest : public ::testing::Test
{
protected:
    UnitTest() : detector("unit-test-ofd", &world)
    {
        factors = cvCreateMat(8, 1, CV_32FC1);
        cvSet(factors, cvScalarAll(-1.0));
        image = cvCreateImage(cvSize(64, 48), IPL_DEPTH_8U, 1);
        cvZero(image);
    }
    ~UnitTest() override
    {
        cvReleaseMat(&factors);
        cvReleaseImage(&image);
    }

    // Runs one frame at time t with the given outcome.
    int run(OrvixTrackerInternal& unit, bool found, long t)
    {
        world.script = [found](int, int) {
            CoreStep step;
            step.found = found;
            step.box = {5, 6, 30, 30};
            return step;
        };
        const int status = unit.update(image, t, 25.0f);
        ++world.frame;
        return status;
    }

    World world;
    ScriptedDetector detector;
    CvMat* factors;
    IplImage* image;
};

// ---------------------------------------------------------------------------
// Status machine

TEST_F(UnitTest, StatusMachine)
{
    struct Case
    {
        const char* name;
        int timeout;
        long base;
        std::string frames;   // per frame: F found, N nothing found, 0 no image
        std::vector<int> statuses;
    };
    std::vector<int> longLoss = {1};
    longLoss.insert(longLoss.end(), 26, 2);   // frames 1 to 26: t - 80 < 1000
    longLoss.insert(longLoss.end(), 4, 3);    // frame 27 (t = 1080) and after
    const std::string lost30 = "F" + std::string(30, 'N');
    const Case cases[] = {
        {"nothing found", 1000, 0, "NNN", {3, 3, 3}},
        {"lost for one frame", 1000, 0, "FFNF", {1, 1, 2, 1}},
        {"recovered while recovering", 1000, 0, "FNNF", {1, 2, 2, 1}},
        {"time-out 0", 0, 0, "FNNN", {1, 2, 2, 3}},
        {"time-out 1000 ms, frames every 40 ms", 1000, 0, lost30, longLoss},
        {"the same with epoch time stamps", 1000, 1700000000000L, lost30, longLoss},
        {"no image", 1000, 0, "F0F", {1, 0, 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OrvixTrackerInternal unit;
        unit.init(&detector, nullptr, nullptr, nullptr, factors, 1, "", kAllBits);
        unit.recoveryTimeoutMs = c.timeout;
        EXPECT_EQ(unit.status, OrvixTrackerInternal::STATUS_SEARCHING);
        ASSERT_EQ(c.frames.size(), c.statuses.size());
        for (size_t k = 0; k < c.frames.size(); ++k) {
            const long t = c.base + 40 * static_cast<long>(k);
            int status;
            if (c.frames[k] == '0') {
                status = unit.update(nullptr, t, 25.0f);
            } else {
                status = run(unit, c.frames[k] == 'F', t);
            }
            EXPECT_EQ(status, c.statuses[k]) << "frame " << k;
        }
    }
}

TEST_F(UnitTest, ANewTrackingRunRestartsTheSmoothingAndTheLossTime)
{
    OrvixTrackerInternal unit;
    unit.init(&detector, nullptr, nullptr, nullptr, factors, 1, "", kAllBits);
    unit.recoveryTimeoutMs = 1000;
    run(unit, true, 100);
    EXPECT_EQ(unit.smoothingStart, 100);
    run(unit, true, 140);
    EXPECT_EQ(unit.smoothingStart, 100);
    run(unit, false, 180);
    EXPECT_EQ(unit.lostSince, -1);   // the loss is recorded on the next frame
    run(unit, false, 220);
    EXPECT_EQ(unit.lostSince, 220);
    EXPECT_EQ(run(unit, true, 260), 1);
    EXPECT_EQ(unit.smoothingStart, 260);
    // The loss time is cleared by the first frame that starts in tracking.
    run(unit, true, 300);
    EXPECT_EQ(unit.lostSince, -1);
    EXPECT_EQ(unit.smoothingStart, 260);
}

TEST_F(UnitTest, LosingTheFaceClearsScaleAndRectangleButKeepsThePoints)
{
    OrvixTrackerInternal unit;
    unit.init(&detector, nullptr, nullptr, nullptr, factors, 1, "", kAllBits);
    unit.recoveryTimeoutMs = 1000;
    run(unit, true, 0);
    FaceData out;
    unit.getTrackingData(&out);
    EXPECT_EQ(out.faceScale, 30);
    EXPECT_EQ(out.faceBoundingBox[1], 6);
    // Points of the frame; the pupils carry the iris radius as z.
    EXPECT_FLOAT_EQ(out.points2D->getFPPos(3, 5)[2], 0.01f);
    EXPECT_FLOAT_EQ(out.points2D->getFPPos(9, 3)[1], 0.2f + 0.02f * 9);

    run(unit, false, 40);
    EXPECT_EQ(unit.getTrackingData(&out), 2);
    EXPECT_EQ(out.faceScale, -1);
    for (int k = 0; k < 4; ++k)
        EXPECT_EQ(out.faceBoundingBox[k], -1);
    EXPECT_TRUE(out.points2D->FPIsDefined(9, 3));
}

TEST_F(UnitTest, WithoutACoreNothingIsEverFound)
{
    OrvixTrackerInternal unit;
    unit.init(nullptr, nullptr, nullptr, nullptr, factors, 1, "", kAllBits);
    EXPECT_EQ(unit.core, nullptr);
    for (int k = 0; k < 3; ++k)
        EXPECT_EQ(unit.update(image, 40 * k, 25.0f), 3);
}

// ---------------------------------------------------------------------------
// Fitting

TEST_F(UnitTest, WithoutAFitterForTheNameFittingIsOff)
{
    Candide3Model* pose = makeModel();
    OrvixTrackerInternal unit;
    // Only names with "eif" have a fitter.
    unit.init(&detector, pose, pose, nullptr, factors, 1, "lm_pose_su_au", kAllBits);
    EXPECT_FALSE(unit.fittingEnabled);
    EXPECT_EQ(unit.poseCopy, nullptr);
    EXPECT_EQ(unit.fitter, nullptr);
    run(unit, true, 0);
    FaceData out;
    EXPECT_EQ(unit.getTrackingData(&out), 1);
    EXPECT_EQ(out.points3D, nullptr);
    EXPECT_EQ(out.meshVertexCount, 0);
    delete pose;
}

TEST_F(UnitTest, AFittedFrameFillsTheRecordFromTheModelCopies)
{
    // Head turned by +34 degrees: the quality hides the far side.
    const float turn = 0.6f;
    Candide3Model* pose = makeModel(kPi - turn);
    FittingUnit unit;
    unit.init(&detector, pose, pose, nullptr, factors, 0, "eif_pose_su_au", kAllBits);
    ASSERT_TRUE(unit.fittingEnabled);
    EXPECT_EQ(unit.auCopy, unit.poseCopy);
    EXPECT_NE(unit.poseCopy, pose);
    EXPECT_TRUE(unit.hasAu);
    EXPECT_FALSE(unit.hasMesh);

    // The second eye's lids meet: closed.
    world.adjustPoints = [](FDP& points) {
        points.setFPPos(3, 2, 0.5f, 0.5f, -1.0f);
        points.setFPPos(3, 4, 0.5f, 0.5f, -1.0f);
    };
    EXPECT_EQ(run(unit, true, 0), 1);
    EXPECT_TRUE(unit.script.lastFit);

    FaceData out;
    ASSERT_EQ(unit.getTrackingData(&out), 1);
    ASSERT_TRUE(out.arraysAllocated);
    ASSERT_NE(out.points3D, nullptr);
    ASSERT_EQ(out.meshVertexCount, 3);
    ASSERT_EQ(out.meshTriangleCount, 1);
    for (int k = 0; k < 9; ++k)
        EXPECT_FLOAT_EQ(out.meshVertices[k], static_cast<float>(k + 1));
    EXPECT_EQ(out.meshTriangles[2], 2);
    // Projected (0, 0) on a 64 x 48 frame lies in the middle.
    EXPECT_FLOAT_EQ(out.meshTexCoords[0], 0.5f);
    EXPECT_FLOAT_EQ(out.meshTexCoords[1], 0.5f);
    EXPECT_FLOAT_EQ(out.meshVerticesProjected[0], 0.5f);
    EXPECT_FLOAT_EQ(out.meshTexCoordsStatic[0], 0.0f);
    ASSERT_EQ(out.suCount, 3);
    EXPECT_FLOAT_EQ(out.suValues[0], 0.5f);
    EXPECT_FLOAT_EQ(out.suValues[1], 0.0f);
    EXPECT_FLOAT_EQ(out.suValues[2], 0.7f);
    ASSERT_EQ(out.auCount, 2);
    EXPECT_FLOAT_EQ(out.auValues[0], 0.0f);
    EXPECT_FLOAT_EQ(out.auValues[1], 0.9f);
    EXPECT_EQ(out.auUsed[0], 0);
    EXPECT_EQ(out.auUsed[1], 1);
    ASSERT_NE(out.auNames, nullptr);
    EXPECT_STREQ(out.auNames[1], "a1");
    EXPECT_FLOAT_EQ(out.cameraFocus, 4.0f);

    // Gaze and apparent rotation from the fitted pose.
    EXPECT_FLOAT_EQ(out.gazeAngles[1], 0.2f);
    EXPECT_FLOAT_EQ(out.apparentRotation[0], 0.1f - std::atan2(0.05f, 1.0f));
    EXPECT_FLOAT_EQ(out.apparentRotation[1], 0.2f - std::atan2(0.1f, 1.0f));

    // Eyes: the first open with the radius of the core, the second closed.
    EXPECT_FLOAT_EQ(out.eyesOpen[0], 1.0f);
    EXPECT_FLOAT_EQ(out.eyesOpen[1], 0.0f);
    EXPECT_FLOAT_EQ(out.irisRadius[0], 64 * 0.01f);
    EXPECT_FLOAT_EQ(out.irisRadius[1], -1.0f);

    // Quality for the model's yaw of +34 degrees, not -34.
    const float yaw = turn * 180.0f / kPi;
    const float expected = AlignmentUtils::calculateTrackingQualityYaw(out.points2D, yaw);
    ASSERT_NE(expected, AlignmentUtils::calculateTrackingQualityYaw(out.points2D, -yaw));
    EXPECT_FLOAT_EQ(out.trackingQuality, expected);

    // Both point sets are packed.
    FDP first;
    FDP second;
    EXPECT_EQ(OrvixDetector::transformData(&first, &second, out.encodedPoints, false), 2024u);
    EXPECT_FLOAT_EQ(first.getFPPos(8, 1)[0], out.points2D->getFPPos(8, 1)[0]);
    delete pose;
}

TEST_F(UnitTest, WithoutAnActionUnitModelTheOutputHasNoActionUnits)
{
    Candide3Model* pose = makeModel();
    FittingUnit unit;
    unit.init(&detector, pose, nullptr, nullptr, factors, 0, "eif_pose_su_au", kAllBits);
    run(unit, true, 0);
    FaceData out;
    unit.getTrackingData(&out);
    EXPECT_EQ(out.auCount, 0);
    EXPECT_EQ(out.auNames, nullptr);
    ASSERT_EQ(out.suCount, 3);
    EXPECT_FLOAT_EQ(out.suValues[2], 0.7f);
    delete pose;
}

TEST_F(UnitTest, SeparateModelsGetSeparateCopiesAndAliasesStayAliases)
{
    Candide3Model* pose = makeModel();
    Candide3Model* au = makeModel();
    FittingUnit unit;
    unit.init(&detector, pose, au, au, factors, 0, "eif_pose_su_au", kAllBits);
    EXPECT_NE(unit.auCopy, unit.poseCopy);
    EXPECT_EQ(unit.meshCopy, unit.auCopy);
    EXPECT_TRUE(unit.hasMesh);
    run(unit, true, 0);
    // Re-initialising the fitter replaces the copies (each freed once).
    unit.init(&detector, pose, au, au, factors, 0, "eif_pose_su_au", 0x8);
    EXPECT_EQ(unit.meshCopy, unit.auCopy);
    delete pose;
    delete au;
}

TEST_F(UnitTest, AFailedFitCountsAsALossAndResetsCoreAndFitter)
{
    Candide3Model* pose = makeModel();
    FittingUnit unit;
    unit.init(&detector, pose, pose, pose, factors, 0, "eif_pose_su_au", kAllBits);
    EXPECT_EQ(run(unit, true, 0), 1);
    auto* core = static_cast<ScriptedCore*>(unit.core);
    const int coreResets = core->resets;
    unit.script.succeed = false;
    EXPECT_EQ(run(unit, true, 40), 2);
    EXPECT_EQ(core->resets, coreResets + 1);
    EXPECT_EQ(unit.script.resets, 1);
    FaceData out;
    unit.getTrackingData(&out);
    EXPECT_FLOAT_EQ(out.trackingQuality, 0.0f);
    // Nothing found: the fitter is told so.
    unit.script.succeed = true;
    run(unit, false, 80);
    EXPECT_FALSE(unit.script.lastFit);
    delete pose;
}

TEST_F(UnitTest, SwitchingFittingOnRebuildsTheRecordsArrays)
{
    Candide3Model* pose = makeModel();
    FittingUnit unit;
    unit.init(&detector, pose, pose, nullptr, factors, 0, "", kAllBits);
    ASSERT_FALSE(unit.fittingEnabled);
    run(unit, true, 0);
    FaceData out;
    unit.getTrackingData(&out);
    ASSERT_TRUE(out.arraysAllocated);
    ASSERT_EQ(out.points3D, nullptr);

    // Only the fitting-algorithm bit: the record is not rebuilt by the
    // bits, but fitting arrays are needed now.
    unit.init(&detector, pose, pose, nullptr, factors, 0, "eif_pose_su_au", 0x8000);
    ASSERT_TRUE(unit.fittingEnabled);
    run(unit, true, 40);
    EXPECT_EQ(unit.getTrackingData(&out), 1);
    ASSERT_NE(out.points3D, nullptr);
    ASSERT_EQ(out.meshVertexCount, 3);
    EXPECT_FLOAT_EQ(out.meshVertices[8], 9.0f);

    // And off again: the output keeps its arrays, only the points change.
    unit.init(&detector, pose, pose, nullptr, factors, 0, "", 0x8000);
    EXPECT_FALSE(unit.fittingEnabled);
    EXPECT_EQ(run(unit, true, 80), 1);
    EXPECT_EQ(unit.getTrackingData(&out), 1);
    delete pose;
}

TEST_F(UnitTest, EarRefinementNeedsEveryEarLinkOfTheMesh)
{
    struct Case
    {
        const char* name;
        int linkedEarPoints;
        bool refineAfter;
        int refinerResets;
    };
    const Case cases[] = {{"no ear links", 0, false, 0}, {"23 links", 23, false, 0}, {"all 24", 24, true, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Candide3Model* pose = makeModel();
        pose->fdp = new FDP();
        for (int i = 1; i <= c.linkedEarPoints; ++i) {
            pose->fdp->setFPPos(10, i, 0.0f, 0.0f, 0.0f);
            pose->fdp->setFPSurfVert(10, i, "mesh", i);
        }
        detector.setRefineEars(true);
        const int before = world.earRefinerResets;
        FittingUnit unit;
        unit.init(&detector, pose, pose, pose, factors, 0, "eif_pose_su_au", kAllBits);
        EXPECT_EQ(detector.getRefineEars(), c.refineAfter);
        EXPECT_EQ(world.earRefinerResets, before + c.refinerResets);
        delete pose;
    }
}

// ---------------------------------------------------------------------------
// Records and settings

TEST_F(UnitTest, CopyingOutNeedsABuiltRecord)
{
    OrvixTrackerInternal unit;
    FaceData out;
    out.trackingQuality = 0.25f;
    EXPECT_EQ(unit.getTrackingData(&out), 0);
    EXPECT_FALSE(out.arraysAllocated);
    EXPECT_FLOAT_EQ(out.trackingQuality, 0.25f);
    unit.init(&detector, nullptr, nullptr, nullptr, factors, 1, "", kAllBits);
    run(unit, false, 0);
    EXPECT_EQ(unit.getTrackingData(nullptr), 3);
    // A record reinitialised by the caller is sized again.
    EXPECT_EQ(unit.getTrackingData(&out), 3);
    out.reinit();
    EXPECT_EQ(unit.getTrackingData(&out), 3);
    EXPECT_TRUE(out.arraysAllocated);
    EXPECT_NE(out.points2D, nullptr);
}

TEST_F(UnitTest, SetIpdRestartsTheSearchAndTheFitter)
{
    Candide3Model* pose = makeModel();
    Candide3Model* mesh = makeModel();
    // A model rescales only with its neutral shape and both bases.
    for (Candide3Model* m : {pose, mesh}) {
        m->vertices = floatColumn({1, 2, 3, 4, 5, 6, 7, 8, 9});
        m->referenceVertices = floatColumn({1, 2, 3, 4, 5, 6, 7, 8, 9});
        m->shapeUnits = cvCreateMat(9, 2, CV_32FC1);
        m->actionUnits = cvCreateMat(9, 1, CV_32FC1);
        cvSetZero(m->shapeUnits);
        cvSetZero(m->actionUnits);
    }
    FittingUnit unit;
    unit.init(&detector, pose, pose, mesh, factors, 0, "eif_pose_su_au", kAllBits);
    run(unit, true, 0);
    ASSERT_EQ(unit.status, 1);
    unit.setIPD(0.07f);
    EXPECT_EQ(unit.status, 3);
    EXPECT_FLOAT_EQ(unit.getIPD(), 0.07f);
    EXPECT_FLOAT_EQ(unit.poseCopy->getIPD(), 0.07f);
    EXPECT_FLOAT_EQ(unit.meshCopy->getIPD(), 0.07f);
    EXPECT_FLOAT_EQ(pose->getIPD(), 0.065f);
    EXPECT_EQ(unit.script.resets, 1);
    delete pose;
    delete mesh;
}

TEST(OrvixTrackerInternalShouldResetTest, MasksAndTheFullReset)
{
    OrvixTrackerInternal unit;
    unit.changeFlags = ~0u;
    EXPECT_TRUE(unit.shouldReset(-1));
    EXPECT_TRUE(unit.shouldReset(0x20));
    unit.changeFlags = 0x10;
    EXPECT_FALSE(unit.shouldReset(-1));
    EXPECT_TRUE(unit.shouldReset(0x10));
    EXPECT_TRUE(unit.shouldReset(0x30));
    EXPECT_FALSE(unit.shouldReset(0x20));
}

}  // namespace
