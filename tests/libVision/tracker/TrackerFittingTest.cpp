// The tracker with face models: scripted cores deliver the projected feature
// points of a posed synthetic face, and the records must carry the fitted
// pose, units, 3-D points, mesh and eye state.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <opencv2/core/core_c.h>

#include "OrvixSDK/Candide3Model.h"
#include "OrvixSDK/FaceData.h"
#include "OrvixSDK/OrvixConfiguration.h"
#include "TrackerTestSupport.h"
#include "fitting/OrvixModelFitter.h"
#include "libVision/facemodel/CandideTestMesh.h"

using namespace OrvixSDK;
using namespace OrvixTest;

namespace {

const int kWidth = 640;
const int kHeight = 480;
const float kPi = 3.14159265f;

float radiansOf(float degrees)
{
    return degrees * kPi / 180.0f;
}

// The face the scripted cores see.
struct Face
{
    float rotation[3] = {0.0f, kPi, 0.0f};
    float translation[3] = {0.0f, 0.0f, 0.6f};
    std::vector<float> su;
    std::vector<float> au;
    bool secondEyeClosed = false;
};

Face posedFace(int frame, bool withExpression = true)
{
    Face f;
    const float t = static_cast<float>(frame);
    f.rotation[0] = radiansOf(6.0f * std::sin(0.2f * t));
    f.rotation[1] = kPi + radiansOf(-12.0f + 2.0f * std::sin(0.3f * t));
    f.rotation[2] = radiansOf(4.0f);
    f.translation[0] = 0.02f;
    f.translation[1] = -0.01f;
    f.translation[2] = 0.55f + 0.01f * std::sin(0.1f * t);
    f.su = {0.3f, -0.2f, 0.25f, -0.1f};
    f.au = {0.6f, -0.5f, 0.3f, 0.8f, -0.4f, 0.2f};
    if (!withExpression)
        f.au.assign(f.au.size(), 0.0f);
    return f;
}

// Sets the value of a key of a settings text (one key per line).
std::string withKey(const std::string& text, const std::string& key, const std::string& value)
{
    std::istringstream in(text);
    std::string result;
    std::string line;
    while (std::getline(in, line)) {
        if (line.compare(0, key.size() + 1, key + " ") == 0)
            line = key + " " + value;
        result += line + "\n";
    }
    return result;
}

class TrackerFittingTest : public ::testing::Test
{
protected:
    // Writes the synthetic face and a tracker configuration naming its three
    // models, changed as the test asks; truth is the posed reference model.
    void make(const std::function<std::string(std::string)>& change = nullptr, float ipd = 0.065f)
    {
        CandideMeshOptions mesh;
        mesh.vertexCount = 300;
        const std::string written = writeCandideMesh(dir, mesh);
        std::string text = TempDir::read(written);
        if (change)
            text = change(text);
        configPath = dir.write("candide_tracker.cfg", text);

        OrvixConfiguration configuration(configPath.c_str());
        truth.reset(new Candide3Model());
        ASSERT_TRUE(truth->init(&configuration, nullptr, Candide3Model::POSE_FITTING_MODEL));
        truth->setIPD(ipd);
        tracker.reset(new TestTracker(configPath, &world));
        tracker->setIPD(ipd);

        world.script = [](int, int) {
            CoreStep step;
            step.found = true;
            step.box = {200, 120, 240, 240};
            return step;
        };
        world.adjustPoints = [this](FDP& points) { points = delivered; };
    }

    // The points of the face as a core delivers them: normalised, y up,
    // with qualities and the pupils' iris radius in z.
    void show(const Face& face)
    {
        current = face;
        for (int k = 0; k < 3; ++k) {
            truth->rotation[k] = face.rotation[k];
            truth->translation[k] = face.translation[k];
        }
        for (int u = 0; u < truth->suValues->rows; ++u)
            truth->suValues->data.fl[u] = face.su[static_cast<size_t>(u)];
        for (int u = 0; u < truth->auValues->rows; ++u)
            truth->auValues->data.fl[u] = face.au[static_cast<size_t>(u)];
        truth->update();
        delivered = FDP();
        truth->calculateFDP(&delivered, kWidth, kHeight, truth->projectedVertices, false);
        for (int g = FDP::firstGroup; g <= FDP::lastGroup; ++g) {
            for (int i = 1; i <= FDP::groupSize(g); ++i) {
                if (!delivered.FPIsDefined(g, i))
                    continue;
                delivered.getFP(g, i).detected = 1;
                delivered.setFPQuality(g, i, scriptedQuality(g, i));
            }
        }
        for (int i = 5; i <= 6; ++i) {
            const float* p = delivered.getFPPos(3, i);
            delivered.setFPPos(3, i, p[0], p[1], 0.01f);
        }
        if (face.secondEyeClosed) {
            // The lids of the second eye meet.
            const float* upper = delivered.getFPPos(3, 2);
            const float* lower = delivered.getFPPos(3, 4);
            const float middle[3] = {0.5f * (upper[0] + lower[0]), 0.5f * (upper[1] + lower[1]), 0.0f};
            delivered.setFPPos(3, 2, middle);
            delivered.setFPPos(3, 4, middle);
        }
    }

    int frame(FaceData* faces)
    {
        const std::vector<char> pixels = greyFrame(kWidth, kHeight, world.frame.load());
        const int* statuses = tracker->track(kWidth, kHeight, pixels.data(), faces, 2, 0, 0, -1, 1);
        ++world.frame;
        world.clock += 40;
        return statuses[0];
    }

    // Runs frames of the moving face, then of the face held still at its
    // last pose, and returns the last status.  (The shape units of this mesh
    // are hard to tell from the pose: they settle over many frames.)
    int follow(FaceData* faces, int moving, int still = 60)
    {
        int status = 0;
        for (int f = 0; f < moving + still; ++f) {
            show(posedFace(std::min(f, moving - 1), expression));
            status = frame(faces);
        }
        return status;
    }

    TempDir dir;
    std::string configPath;
    World world;
    std::unique_ptr<Candide3Model> truth;
    std::unique_ptr<TestTracker> tracker;
    FDP delivered;
    Face current;
    bool expression = true;   // the faces that follow show an expression
};

// Everything a record holds after a few frames of a posed face.
TEST_F(TrackerFittingTest, TheRecordCarriesPoseUnitsPointsMeshAndEyes)
{
    make();
    FaceData faces[1];
    ASSERT_EQ(follow(faces, 30), OrvixTrackerInternal::STATUS_TRACKING);
    const FaceData& r = faces[0];
    ASSERT_TRUE(r.arraysAllocated);

    // Pose: the yaw of a face looking at the camera reads 0.
    EXPECT_NEAR(r.headRotation[0], current.rotation[0], radiansOf(0.5f));
    EXPECT_NEAR(r.headRotation[1], current.rotation[1] - kPi, radiansOf(0.5f));
    EXPECT_NEAR(r.headRotation[2], current.rotation[2], radiansOf(0.5f));
    for (int k = 0; k < 3; ++k)
        EXPECT_NEAR(r.headTranslation[k], current.translation[k], 0.005);
    EXPECT_NEAR(r.apparentRotation[1], r.headRotation[1] - std::atan2(r.headTranslation[0], r.headTranslation[2]),
                1e-6);

    // Units of the action-unit model, all in use, with their names.
    ASSERT_EQ(r.suCount, 4);
    ASSERT_EQ(r.auCount, 6);
    for (int u = 0; u < 4; ++u)
        EXPECT_NEAR(r.suValues[u], current.su[static_cast<size_t>(u)], 0.1) << "su " << u;
    for (int u = 0; u < 6; ++u) {
        EXPECT_NEAR(r.auValues[u], current.au[static_cast<size_t>(u)], 0.1) << "au " << u;
        EXPECT_EQ(r.auUsed[u], 1);
        EXPECT_EQ(std::string(r.auNames[u]), "unit" + std::to_string(u));
    }

    // Points: 2-D as delivered; 3-D near the posed face, relative 3-D near
    // the deformed face, within a few millimetres.
    int points = 0;
    for (int g = FDP::firstGroup; g <= FDP::lastGroup; ++g) {
        for (int i = 1; i <= FDP::groupSize(g); ++i) {
            std::string surface;
            int vertex = -1;
            if (!truth->fdp->getFPSurfVert(g, i, surface, vertex))
                continue;
            SCOPED_TRACE(FDP::getFPName(g, i));
            ASSERT_TRUE(r.points2D->FPIsDefined(g, i));
            EXPECT_FLOAT_EQ(r.points2D->getFPPos(g, i)[0], delivered.getFPPos(g, i)[0]);
            EXPECT_FLOAT_EQ(r.points2D->getFPPos(g, i)[1], delivered.getFPPos(g, i)[1]);
            ASSERT_TRUE(r.points3D->FPIsDefined(g, i));
            ASSERT_TRUE(r.points3DRelative->FPIsDefined(g, i));
            for (int k = 0; k < 3; ++k) {
                EXPECT_NEAR(r.points3D->getFPPos(g, i)[k], truth->transformedVertices->data.fl[3 * vertex + k], 0.004);
                EXPECT_NEAR(r.points3DRelative->getFPPos(g, i)[k], truth->deformedVertices->data.fl[3 * vertex + k],
                            0.004);
            }
            ++points;
        }
    }
    EXPECT_EQ(points, 100);
    EXPECT_FLOAT_EQ(r.points2D->getFPPos(3, 5)[2], 0.01f);

    // The whole mesh of the mesh model, in the head's frame.
    ASSERT_EQ(r.meshVertexCount, truth->vertexCount);
    ASSERT_EQ(r.meshTriangleCount, truth->faces->rows / 3);
    double worst = 0.0;
    for (int k = 0; k < 3 * r.meshVertexCount; ++k)
        worst = std::max(worst, std::fabs(double(r.meshVertices[k]) - truth->deformedVertices->data.fl[k]));
    EXPECT_LT(worst, 0.004);
    for (int k = 0; k < 3 * r.meshTriangleCount; ++k)
        ASSERT_EQ(r.meshTriangles[k], truth->faces->data.i[k]);
    const float* staticTex = truth->getTexCoordStatic();
    ASSERT_NE(staticTex, nullptr);
    for (int k = 0; k < 2 * r.meshVertexCount; ++k) {
        EXPECT_FLOAT_EQ(r.meshTexCoordsStatic[k], staticTex[k]);
        EXPECT_FLOAT_EQ(r.meshVerticesProjected[k], r.meshTexCoords[k]);
    }
    // The nose tip's texture coordinate follows its place in the image
    // (texture coordinates run against both image axes).
    std::string surface;
    int nose = -1;
    ASSERT_TRUE(truth->fdp->getFPSurfVert(9, 3, surface, nose));
    EXPECT_NEAR(r.meshTexCoords[2 * nose], 1.0f - delivered.getFPPos(9, 3)[0], 0.002);
    EXPECT_NEAR(r.meshTexCoords[2 * nose + 1], 1.0f - delivered.getFPPos(9, 3)[1], 0.002);

    // Eyes open, iris radius from the core, gaze from head and eyes.
    EXPECT_FLOAT_EQ(r.eyesOpen[0], 1.0f);
    EXPECT_FLOAT_EQ(r.eyesOpen[1], 1.0f);
    EXPECT_FLOAT_EQ(r.irisRadius[0], 0.01f * kWidth);
    // Eye rotation as the pose model estimated it, yaw first.
    const Candide3Model* poseCopy = tracker->units[0]->poseCopy;
    EXPECT_FLOAT_EQ(r.eyeRotation[0], poseCopy->eyeRotation[1]);
    EXPECT_FLOAT_EQ(r.eyeRotation[1], poseCopy->eyeRotation[0]);
    EXPECT_NE(r.eyeRotation[1], 0.0f);
    EXPECT_FLOAT_EQ(r.gazeAngles[0], r.headRotation[0] + r.eyeRotation[1]);
    EXPECT_FLOAT_EQ(r.gazeAngles[1], r.headRotation[1] + r.eyeRotation[0]);
    EXPECT_GT(r.trackingQuality, 0.0f);
    EXPECT_FLOAT_EQ(r.cameraFocus, 3.0f);

    // One eye closes.
    Face closing = posedFace(30);
    closing.secondEyeClosed = true;
    show(closing);
    ASSERT_EQ(frame(faces), OrvixTrackerInternal::STATUS_TRACKING);
    EXPECT_FLOAT_EQ(r.eyesOpen[0], 1.0f);
    EXPECT_FLOAT_EQ(r.eyesOpen[1], 0.0f);
    EXPECT_FLOAT_EQ(r.irisRadius[1], -1.0f);
}

TEST_F(TrackerFittingTest, APoseModelOfItsOwnIsReducedToItsLinkedVertices)
{
    make();
    FaceData faces[1];
    follow(faces, 1, 0);
    const OrvixTrackerInternal* unit = tracker->units[0];
    ASSERT_TRUE(unit->fittingEnabled);
    EXPECT_EQ(unit->poseCopy->vertexCount, 100);
    EXPECT_EQ(unit->meshCopy->vertexCount, 300);
    EXPECT_EQ(unit->auCopy->vertexCount, 300);
    EXPECT_NE(unit->auCopy, unit->meshCopy);
    auto* fitter = dynamic_cast<OrvixModelFitter*>(unit->fitter);
    ASSERT_NE(fitter, nullptr);
    EXPECT_NE(fitter->auFitter, nullptr);
    EXPECT_NE(fitter->meshFitter, nullptr);
}

// Other ways of naming the models and the fitting method.
TEST_F(TrackerFittingTest, ModelSharingAndMethodVariants)
{
    struct Case
    {
        const char* name;
        std::function<std::string(std::string)> change;
        int meshVertices;   // of the output mesh
        int auCount;
        bool standalone;
        float ipd;
        bool expression;
    };
    const auto sameFile = [](std::string text) {
        text = withKey(text, "au_fitting_model_configuration", "candide_pose.cfg");
        return withKey(text, "mesh_fitting_model_configuration", "candide_pose.cfg");
    };
    const auto poseOnly = [](std::string text) {
        text = withKey(text, "au_fitting_model_configuration", "none");
        return withKey(text, "mesh_fitting_model_configuration", "none");
    };
    const auto standalone = [](std::string text) { return withKey(text, "fitting_algorithm", "eif_standalone"); };
    const Case cases[] = {
        {"one file for all three models", sameFile, 300, 6, false, 0.065f, true},
        {"only a pose model", poseOnly, 100, 0, false, 0.065f, true},
        // Three filter updates from scratch cannot tell an expression of
        // this mesh from a turn of the head: the face keeps a neutral one.
        {"stand-alone fitting", standalone, 300, 6, true, 0.065f, false},
        {"inter-pupil distance 7 cm", nullptr, 300, 6, false, 0.07f, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        world.frame = 0;
        expression = c.expression;
        make(c.change, c.ipd);
        FaceData faces[1];
        ASSERT_EQ(follow(faces, 20), OrvixTrackerInternal::STATUS_TRACKING);
        const FaceData& r = faces[0];
        EXPECT_EQ(r.meshVertexCount, c.meshVertices);
        EXPECT_EQ(r.auCount, c.auCount);
        EXPECT_EQ(r.suCount, 4);
        auto* fitter = dynamic_cast<OrvixModelFitter*>(tracker->units[0]->fitter);
        ASSERT_NE(fitter, nullptr);
        EXPECT_EQ(fitter->fittingMethod == STANDALONE_FITTING, c.standalone);
        EXPECT_NEAR(r.headRotation[1], current.rotation[1] - kPi, radiansOf(1.0f));
        EXPECT_NEAR(r.headTranslation[2], current.translation[2], 0.01);
        EXPECT_TRUE(r.points3D->FPIsDefined(8, 4));
        EXPECT_TRUE(r.points3DRelative->FPIsDefined(8, 4));
    }
}

// A face that is lost: the record reports no quality and no eye rotation.
TEST_F(TrackerFittingTest, ALostFaceHasNoQualityAndNoEyeRotation)
{
    make();
    FaceData faces[1];
    ASSERT_EQ(follow(faces, 10), OrvixTrackerInternal::STATUS_TRACKING);
    ASSERT_GT(faces[0].trackingQuality, 0.0f);
    ASSERT_NE(faces[0].eyeRotation[1], 0.0f);   // estimated from the pupils

    world.script = [](int, int) { return CoreStep(); };
    EXPECT_EQ(frame(faces), OrvixTrackerInternal::STATUS_RECOVERING);
    EXPECT_FLOAT_EQ(faces[0].trackingQuality, 0.0f);
    EXPECT_FLOAT_EQ(faces[0].eyeRotation[0], 0.0f);
    EXPECT_FLOAT_EQ(faces[0].eyeRotation[1], 0.0f);
    EXPECT_EQ(faces[0].faceScale, -1);

    // Found again: fitted from scratch.
    world.script = [](int, int) {
        CoreStep step;
        step.found = true;
        step.box = {200, 120, 240, 240};
        return step;
    };
    ASSERT_EQ(follow(faces, 10), OrvixTrackerInternal::STATUS_TRACKING);
    EXPECT_NEAR(faces[0].headRotation[1], current.rotation[1] - kPi, radiansOf(1.0f));
    EXPECT_GT(faces[0].trackingQuality, 0.0f);
}

}  // namespace
