#include "fitting/OrvixModelFitter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include <opencv2/core/core_c.h>

#include "FittingTestSupport.h"
#include "OrvixSDK/Candide3Model.h"
#include "OrvixSDK/FaceData.h"
#include "fitting/EIFModelFitter.h"

using namespace OrvixSDK;
using namespace OrvixTest;

namespace {

const int kWidth = 640;
const int kHeight = 480;

// A face with every parameter away from its default.
FaceParams face(double yawDegrees, double pitchDegrees = 8.0, double rollDegrees = 5.0)
{
    FaceParams p;
    p.rotation[0] = radians(pitchDegrees);
    p.rotation[1] = kPi + radians(yawDegrees);
    p.rotation[2] = radians(rollDegrees);
    p.translation[0] = 0.03;
    p.translation[1] = -0.02;
    p.translation[2] = 0.65;
    p.su = {0.4, -0.3, 0.2, 0.0, -0.5, 0.3};
    p.au = {0.5, -0.4, 0.6, 0.2, -0.3, 0.8};
    return p;
}

// A record with the fitting arrays, as the tracking unit builds it.
std::unique_ptr<FaceData> makeRecord(float focus = 3.0f)
{
    std::unique_ptr<FaceData> data(new FaceData());
    data->allocateArrays(true, 6, 6, 100, 1);
    data->cameraFocus = focus;
    return data;
}

// Normalised position (y upward) at which the camera sees p (camera frame).
void project(const float* p, float focus, float out[2])
{
    const float ax = static_cast<float>(kWidth) / kHeight;
    out[0] = 0.5f - 0.5f * (focus * p[0] / p[2]) / ax;
    out[1] = 0.5f + 0.5f * (focus * p[1] / p[2]);
}

bool sameFloats(const float* a, const float* b, int n)
{
    for (int k = 0; k < n; ++k) {
        if (a[k] != b[k])
            return false;
    }
    return true;
}

// ---------------------------------------------------------------------------
// Factory and construction

TEST(OrvixModelFitterFactoryTest, NameTable)
{
    struct Case
    {
        const char* name;
        bool fitter;
        FittingMethod method;
    };
    const Case cases[] = {
        {"eif", true, UPDATE_FITTING},
        {"eif_pose_su_au", true, UPDATE_FITTING},
        {"eif_standalone", true, STANDALONE_FITTING},
        {"standalone_eif", true, STANDALONE_FITTING},
        {"standalone", false, UPDATE_FITTING},
        {"EIF", false, UPDATE_FITTING},
        {"lm_pose", false, UPDATE_FITTING},
        {"", false, UPDATE_FITTING},
        {nullptr, false, UPDATE_FITTING},
    };
    auto model = makeSyntheticModel();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name != nullptr ? c.name : "(null)");
        std::unique_ptr<IOrvixFitter> fitter(
            IOrvixFitter::create(c.name, model.get(), model.get(), model.get(), false));
        ASSERT_EQ(fitter != nullptr, c.fitter);
        if (!c.fitter)
            continue;
        auto* concrete = dynamic_cast<OrvixModelFitter*>(fitter.get());
        ASSERT_NE(concrete, nullptr);
        EXPECT_EQ(concrete->fittingMethod, c.method);
        EXPECT_EQ(concrete->poseModel, model.get());
        EXPECT_TRUE(concrete->needsInit);
        EXPECT_FALSE(concrete->ownsModels);
    }
}

// Which fitters exist for which sharing of the three roles, with and
// without private copies of the models.
TEST(OrvixModelFitterFactoryTest, OneFitterPerDistinctModelAndAliasesStayAliases)
{
    struct Case
    {
        const char* name;
        int au;     // index of the model in the au role: 0 pose, 1, 2, -1 none
        int mesh;   // the same for the mesh role
        bool auFitter;
        bool meshFitter;
    };
    const Case cases[] = {
        {"all three equal", 0, 0, false, false},
        {"no au and no mesh model", -1, -1, false, false},
        {"au is pose, own mesh", 0, 2, false, true},
        {"own au, mesh is au", 1, 1, true, false},
        {"own au, mesh is pose", 1, 0, true, false},
        {"all three distinct", 1, 2, true, true},
        {"no au, own mesh", -1, 2, false, true},
    };
    auto m0 = makeSyntheticModel();
    auto m1 = makeSyntheticModel();
    auto m2 = makeSyntheticModel();
    Candide3Model* models[3] = {m0.get(), m1.get(), m2.get()};
    const FDP points = projectToFDP(*m0, face(0), kWidth, kHeight);
    for (const Case& c : cases) {
        for (bool copy : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (copy ? ", copied" : ", in place"));
            Candide3Model* au = c.au >= 0 ? models[c.au] : nullptr;
            Candide3Model* mesh = c.mesh >= 0 ? models[c.mesh] : nullptr;
            OrvixModelFitter fitter(models[0], au, mesh, copy, UPDATE_FITTING);
            EXPECT_EQ(fitter.ownsModels, copy);
            // The roles share exactly as the given models do.
            EXPECT_EQ(fitter.auModel == fitter.poseModel, au == models[0]);
            EXPECT_EQ(fitter.meshModel == fitter.poseModel, mesh == models[0]);
            EXPECT_EQ(fitter.meshModel == fitter.auModel, mesh == au);
            EXPECT_EQ(fitter.auModel == nullptr, au == nullptr);
            EXPECT_EQ(fitter.meshModel == nullptr, mesh == nullptr);
            // Copies are new objects; in place the caller's are used.
            EXPECT_EQ(fitter.poseModel == models[0], !copy);
            if (copy) {
                for (Candide3Model* m : models) {
                    EXPECT_NE(fitter.auModel, m);
                    EXPECT_NE(fitter.meshModel, m);
                }
            }

            ASSERT_TRUE(fitter.create_model_fitters(&points));
            ASSERT_NE(fitter.poseFitter, nullptr);
            EXPECT_EQ(fitter.poseFitter->model, fitter.poseModel);
            EXPECT_EQ(fitter.auFitter != nullptr, c.auFitter);
            EXPECT_EQ(fitter.meshFitter != nullptr, c.meshFitter);
            if (c.auFitter) {
                EXPECT_EQ(fitter.auFitter->model, fitter.auModel);
            }
            if (c.meshFitter) {
                EXPECT_EQ(fitter.meshFitter->model, fitter.meshModel);
            }
            // The destructor frees every distinct copy once (checked by the
            // sanitizer build).
        }
    }
}

TEST(OrvixModelFitterFactoryTest, WithoutAPoseModelNothingCanBeFitted)
{
    auto au = makeSyntheticModel();
    const FDP points = projectToFDP(*au, face(0), kWidth, kHeight);
    for (FittingMethod method : {UPDATE_FITTING, STANDALONE_FITTING}) {
        OrvixModelFitter fitter(nullptr, au.get(), nullptr, true, method);
        EXPECT_FALSE(fitter.create_model_fitters(&points));
        EXPECT_EQ(fitter.poseFitter, nullptr);
        auto data = makeRecord();
        data->trackingQuality = 0.5f;
        EXPECT_FALSE(fitter.do_fitting(&points, kWidth, kHeight, data.get(), true, nullptr));
    }
}

// ---------------------------------------------------------------------------
// Stand-alone fitting

struct StandaloneCase
{
    const char* name;
    FaceParams truth;
    double noisePixels;
    // Largest errors accepted: degrees, relative translation, unit values.
    double rotation;
    double translation;
    double units;
};

void PrintTo(const StandaloneCase& c, std::ostream* out)
{
    *out << c.name;
}

class StandaloneFitTest : public ::testing::TestWithParam<StandaloneCase>
{
};

TEST_P(StandaloneFitTest, ConvergesFromScratch)
{
    const StandaloneCase& c = GetParam();
    auto model = makeSyntheticModel();
    auto truthModel = makeSyntheticModel();
    const FDP points = projectToFDP(*truthModel, c.truth, kWidth, kHeight, c.noisePixels);

    OrvixModelFitter fitter(model.get(), false, STANDALONE_FITTING);
    auto data = makeRecord(model->focus);
    ASSERT_TRUE(fitter.do_fitting(&points, kWidth, kHeight, data.get(), true, nullptr));
    const ParamError e = compareParameters(*model, c.truth);
    EXPECT_LT(e.rotationDegrees, c.rotation);
    EXPECT_LT(e.translationRelative, c.translation);
    EXPECT_LT(e.suMax, c.units);
    EXPECT_LT(e.auMax, c.units);

    // The record reports the fitted pose with the yaw of a frontal face 0.
    EXPECT_NEAR(data->headRotation[0], c.truth.rotation[0], radians(c.rotation));
    EXPECT_NEAR(data->headRotation[1], c.truth.rotation[1] - kPi, radians(c.rotation));
    EXPECT_NEAR(data->headRotation[2], c.truth.rotation[2], radians(c.rotation));
    for (int k = 0; k < 3; ++k)
        EXPECT_NEAR(data->headTranslation[k], c.truth.translation[k], c.translation * c.truth.translation[2]);
}

INSTANTIATE_TEST_SUITE_P(
    Faces, StandaloneFitTest,
    ::testing::Values(StandaloneCase{"frontal", face(0, 0, 0), 0.0, 1.0, 0.01, 0.2},
                      StandaloneCase{"turned", face(-15), 0.0, 1.0, 0.01, 0.2},
                      StandaloneCase{"turned the other way", face(20, -6, -4), 0.0, 1.0, 0.01, 0.2},
                      StandaloneCase{"turned, 1 pixel noise", face(-15), 1.0, 1.5, 0.01, 0.25},
                      StandaloneCase{"turned the other way, 1 pixel noise", face(20, -6, -4), 1.0, 1.5, 0.01, 0.25}),
    [](const ::testing::TestParamInfo<StandaloneCase>& info) {
        std::string name = info.param.name;
        for (char& ch : name) {
            if (!std::isalnum(static_cast<unsigned char>(ch)))
                ch = '_';
        }
        return name;
    });

TEST(OrvixModelFitterStandaloneTest, EveryCallStartsFromScratch)
{
    auto truthModel = makeSyntheticModel();
    const FDP first = projectToFDP(*truthModel, face(25, 10, -8), kWidth, kHeight, 1.0, 3);
    const FDP second = projectToFDP(*truthModel, face(-10), kWidth, kHeight, 1.0, 4);

    auto model = makeSyntheticModel();
    OrvixModelFitter fitter(model.get(), false, STANDALONE_FITTING);
    auto data = makeRecord();
    ASSERT_TRUE(fitter.do_fitting(&first, kWidth, kHeight, data.get(), true, nullptr));
    ASSERT_TRUE(fitter.do_fitting(&second, kWidth, kHeight, data.get(), true, nullptr));

    auto freshModel = makeSyntheticModel();
    OrvixModelFitter fresh(freshModel.get(), false, STANDALONE_FITTING);
    auto freshData = makeRecord();
    ASSERT_TRUE(fresh.do_fitting(&second, kWidth, kHeight, freshData.get(), true, nullptr));

    EXPECT_TRUE(sameFloats(model->rotation, freshModel->rotation, 3));
    EXPECT_TRUE(sameFloats(model->translation, freshModel->translation, 3));
    EXPECT_TRUE(sameFloats(model->suValues->data.fl, freshModel->suValues->data.fl, 6));
    EXPECT_TRUE(sameFloats(model->auValues->data.fl, freshModel->auValues->data.fl, 6));
    EXPECT_TRUE(sameFloats(data->headRotation, freshData->headRotation, 3));
}

TEST(OrvixModelFitterStandaloneTest, AFailedFitLeavesTheRecordUntouched)
{
    auto model = makeSyntheticModel();
    FDP points = projectToFDP(*model, face(0), kWidth, kHeight);
    // Three points are too few to fit.
    FDP few;
    for (const char* name : {"3.5", "3.6", "9.3"})
        few.setFP(name, points.getFP(name));
    OrvixModelFitter fitter(model.get(), false, STANDALONE_FITTING);
    auto data = makeRecord();
    data->trackingQuality = 0.75f;
    data->eyeRotation[0] = 0.125f;
    data->headRotation[1] = 0.25f;
    EXPECT_FALSE(fitter.do_fitting(&few, kWidth, kHeight, data.get(), true, nullptr));
    EXPECT_FLOAT_EQ(data->trackingQuality, 0.75f);
    EXPECT_FLOAT_EQ(data->eyeRotation[0], 0.125f);
    EXPECT_FLOAT_EQ(data->headRotation[1], 0.25f);
    EXPECT_FALSE(data->points2D->FPIsDefined(3, 5));
}

// ---------------------------------------------------------------------------
// Incremental fitting

// A head that turns, nods and moves sideways and towards the camera while
// the expression changes.
FaceParams movingHead(int frame)
{
    FaceParams p = face(0);
    const double t = static_cast<double>(frame);
    p.rotation[0] = radians(8.0 * std::sin(0.13 * t));
    p.rotation[1] = kPi + radians(25.0 * std::sin(0.1 * t));
    p.rotation[2] = radians(6.0 * std::cos(0.09 * t));
    p.translation[0] = 0.05 * std::sin(0.07 * t);
    p.translation[2] = 0.65 + 0.1 * std::sin(0.05 * t);
    p.au[0] = 0.5 + 0.4 * std::sin(0.2 * t);
    p.au[2] = 0.3 * std::cos(0.15 * t);
    return p;
}

TEST(OrvixModelFitterIncrementalTest, FollowsAMovingHead)
{
    struct Case
    {
        const char* name;
        double noisePixels;
        double rotation;
        double translation;
        double units;
    };
    // The units lag by about one frame's change (up to 0.08 per frame).
    const Case cases[] = {{"exact points", 0.0, 0.25, 0.002, 0.1}, {"1 pixel noise", 1.0, 1.5, 0.01, 0.2}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto model = makeSyntheticModel();
        auto truthModel = makeSyntheticModel();
        OrvixModelFitter fitter(model.get(), false, UPDATE_FITTING);
        auto data = makeRecord(model->focus);
        ParamError worst;
        for (int f = 0; f < 80; ++f) {
            const FaceParams truth = movingHead(f);
            const FDP points = projectToFDP(*truthModel, truth, kWidth, kHeight, c.noisePixels, 100 + f);
            ASSERT_TRUE(fitter.do_fitting(&points, kWidth, kHeight, data.get(), true, nullptr)) << "frame " << f;
            EXPECT_TRUE(fitter.initialFitDone);
            if (f < 5)
                continue;   // settling
            const ParamError e = compareParameters(*model, truth);
            worst.rotationDegrees = std::max(worst.rotationDegrees, e.rotationDegrees);
            worst.translationRelative = std::max(worst.translationRelative, e.translationRelative);
            worst.suMax = std::max(worst.suMax, e.suMax);
            worst.auMax = std::max(worst.auMax, e.auMax);
        }
        EXPECT_LT(worst.rotationDegrees, c.rotation);
        EXPECT_LT(worst.translationRelative, c.translation);
        EXPECT_LT(worst.suMax, c.units);
        EXPECT_LT(worst.auMax, c.units);
        // The filters were built once and carried along.
        EXPECT_FALSE(fitter.needsInit);
    }
}

// With separate action-unit and mesh models, each is fitted with the pose
// held at the pose model's, and the mesh model supplies the 3-D points.
TEST(OrvixModelFitterIncrementalTest, SeparateModelsFollowThePoseModel)
{
    auto pose = makeSyntheticModel();
    auto au = makeSyntheticModel();
    auto mesh = makeSyntheticModel();
    auto truthModel = makeSyntheticModel();
    OrvixModelFitter fitter(pose.get(), au.get(), mesh.get(), false, UPDATE_FITTING);
    auto data = makeRecord(pose->focus);
    FaceParams truth;
    for (int f = 0; f < 20; ++f) {
        truth = movingHead(f);
        const FDP points = projectToFDP(*truthModel, truth, kWidth, kHeight);
        ASSERT_TRUE(fitter.do_fitting(&points, kWidth, kHeight, data.get(), true, nullptr));
    }
    ASSERT_NE(fitter.auFitter, nullptr);
    ASSERT_NE(fitter.meshFitter, nullptr);
    for (Candide3Model* m : {au.get(), mesh.get()}) {
        const ParamError e = compareParameters(*m, truth);
        for (int k = 0; k < 3; ++k) {
            EXPECT_NEAR(m->rotation[k], pose->rotation[k], 1e-3);
            EXPECT_NEAR(m->translation[k], pose->translation[k], 1e-4);
        }
        EXPECT_LT(e.suMax, 0.02);
        EXPECT_LT(e.auMax, 0.02);
    }
    // 3-D points come from the mesh model: a point's relative position is
    // the mesh model's deformed vertex (the unprojection moves it by less
    // than a tenth of a millimetre for exact points).
    std::string surface;
    int vertex = -1;
    ASSERT_TRUE(mesh->fdp->getFPSurfVert(8, 4, surface, vertex));
    const float* relative = data->points3DRelative->getFPPos(8, 4);
    for (int k = 0; k < 3; ++k)
        EXPECT_NEAR(relative[k], mesh->deformedVertices->data.fl[3 * vertex + k], 1e-4);
}

TEST(OrvixModelFitterIncrementalTest, AnInitialPoseStartsTheFirstFit)
{
    const FaceParams truth = face(40, 10, 0);
    auto truthModel = makeSyntheticModel();
    const FDP points = projectToFDP(*truthModel, truth, kWidth, kHeight);
    double error[2];
    for (int withPose = 0; withPose < 2; ++withPose) {
        auto model = makeSyntheticModel();
        OrvixModelFitter fitter(model.get(), false, UPDATE_FITTING);
        float initPose[6];
        for (int k = 0; k < 3; ++k) {
            initPose[k] = static_cast<float>(truth.rotation[k]);
            initPose[3 + k] = static_cast<float>(truth.translation[k]);
        }
        if (withPose == 1)
            fitter.setInitPose(initPose);
        auto data = makeRecord(model->focus);
        ASSERT_TRUE(fitter.do_fitting(&points, kWidth, kHeight, data.get(), true, nullptr));
        error[withPose] = compareParameters(*model, truth).rotationDegrees;
    }
    EXPECT_LT(error[1], 0.1);
    EXPECT_LT(error[1], error[0] / 4);
}

// ---------------------------------------------------------------------------
// The output record

TEST(OrvixModelFitterOutputTest, RecordHoldsPoseAndConsistentPointSets)
{
    auto model = makeSyntheticModel();
    auto truthModel = makeSyntheticModel();
    const FaceParams truth = face(-20);
    const FDP points = projectToFDP(*truthModel, truth, kWidth, kHeight, 0.5, 9);
    OrvixModelFitter fitter(model.get(), false, UPDATE_FITTING);
    auto data = makeRecord(model->focus);
    for (int f = 0; f < 5; ++f)
        ASSERT_TRUE(fitter.do_fitting(&points, kWidth, kHeight, data.get(), true, nullptr));

    float rotation[3];
    float translation[3];
    float centre[3];
    model->calculatePose(rotation, translation, centre);
    EXPECT_TRUE(sameFloats(data->headRotation, rotation, 3));
    EXPECT_TRUE(sameFloats(data->headTranslation, translation, 3));
    EXPECT_TRUE(sameFloats(data->rotationCentre, centre, 3));

    int checked = 0;
    for (int g = FDP::firstGroup; g <= FDP::lastGroup; ++g) {
        for (int i = 1; i <= FDP::groupSize(g); ++i) {
            if (!points.FPIsDefined(g, i))
                continue;
            SCOPED_TRACE(FDP::getFPName(g, i));
            // Measured points are reported where they were measured, y up.
            const float* p2 = data->points2D->getFPPos(g, i);
            EXPECT_FLOAT_EQ(p2[0], points.getFPPos(g, i)[0]);
            EXPECT_FLOAT_EQ(p2[1], 1.0f - points.getFPPos(g, i)[1]);
            // The 3-D points lie on the rays of the image points.
            ASSERT_TRUE(data->points3D->FPIsDefined(g, i));
            float seen[2];
            project(data->points3D->getFPPos(g, i), data->cameraFocus, seen);
            EXPECT_NEAR(seen[0], p2[0], 1e-5);
            EXPECT_NEAR(seen[1], p2[1], 1e-5);
            // Relative points are the 3-D points in the head's frame.
            const float* rel = data->points3DRelative->getFPPos(g, i);
            const double r[3] = {model->rotation[0], model->rotation[1], model->rotation[2]};
            double R[3][3];
            rotationMatrix(r, R);
            for (int k = 0; k < 3; ++k) {
                const double back =
                    R[k][0] * rel[0] + R[k][1] * rel[1] + R[k][2] * rel[2] + model->translation[k];
                EXPECT_NEAR(back, data->points3D->getFPPos(g, i)[k], 1e-5);
            }
            ++checked;
        }
    }
    EXPECT_GE(checked, 50);
}

TEST(OrvixModelFitterOutputTest, PointsOutsideTheFittingSetAndMissingPoints)
{
    auto model = makeSyntheticModel();
    const FaceParams truth = face(10);
    FDP points = projectToFDP(*model, truth, kWidth, kHeight);
    // 17.1 is not linked by the model: it is not fitted but reported.
    ASSERT_FALSE(model->fdp->FPIsDefined(17, 1));
    points.setFPPos(17, 1, 0.25f, 0.75f, 0.0f);
    points.getFP(17, 1).detected = 1;
    // 8.4 is linked by the model but missing from the input.
    const float* missingAt = points.getFPPos(8, 4);
    const float expected[2] = {missingAt[0], 1.0f - missingAt[1]};
    points.getFP(8, 4) = FeaturePoint();

    OrvixModelFitter fitter(model.get(), false, UPDATE_FITTING);
    auto data = makeRecord(model->focus);
    for (int f = 0; f < 5; ++f)
        ASSERT_TRUE(fitter.do_fitting(&points, kWidth, kHeight, data.get(), true, nullptr));

    ASSERT_TRUE(data->points2D->FPIsDefined(17, 1));
    EXPECT_FLOAT_EQ(data->points2D->getFPPos(17, 1)[0], 0.25f);
    EXPECT_FLOAT_EQ(data->points2D->getFPPos(17, 1)[1], 0.25f);
    EXPECT_TRUE(data->points2D->FPIsDetected(17, 1));
    EXPECT_FALSE(data->points3D->FPIsDefined(17, 1));

    // The missing point is the model's projection: defined, not detected,
    // linked to its vertex, within a tenth of a pixel of where it was.
    ASSERT_TRUE(data->points2D->FPIsDefined(8, 4));
    EXPECT_FALSE(data->points2D->FPIsDetected(8, 4));
    std::string surface;
    int vertex = -1;
    int modelVertex = -2;
    ASSERT_TRUE(data->points2D->getFPSurfVert(8, 4, surface, vertex));
    ASSERT_TRUE(model->fdp->getFPSurfVert(8, 4, surface, modelVertex));
    EXPECT_EQ(vertex, modelVertex);
    EXPECT_NEAR(data->points2D->getFPPos(8, 4)[0] * kWidth, expected[0] * kWidth, 0.1);
    EXPECT_NEAR(data->points2D->getFPPos(8, 4)[1] * kHeight, expected[1] * kHeight, 0.1);
    EXPECT_TRUE(data->points3D->FPIsDefined(8, 4));
}

// ---------------------------------------------------------------------------
// Failures and resets

TEST(OrvixModelFitterFailureTest, AFailedIncrementalFitReportsNoEyesAndNoQuality)
{
    struct Case
    {
        const char* name;
        bool fit;
        bool fewPoints;
    };
    const Case cases[] = {{"told that nothing was found", false, false}, {"too few points", true, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto model = makeSyntheticModel();
        FDP points = projectToFDP(*model, face(10), kWidth, kHeight);
        OrvixModelFitter fitter(model.get(), false, UPDATE_FITTING);
        auto data = makeRecord(model->focus);
        ASSERT_TRUE(fitter.do_fitting(&points, kWidth, kHeight, data.get(), true, nullptr));
        if (c.fewPoints) {
            // A new fitting set of three points.
            fitter.reset(false);
            FDP few;
            for (const char* name : {"3.5", "3.6", "9.3"})
                few.setFP(name, points.getFP(name));
            points = few;
        }
        data->trackingQuality = 0.8f;
        data->eyeRotation[0] = 0.1f;
        data->eyeRotation[1] = -0.2f;
        model->eyesOpen[0] = model->eyesOpen[1] = 1.0f;

        EXPECT_FALSE(fitter.do_fitting(&points, kWidth, kHeight, data.get(), c.fit, nullptr));
        EXPECT_FLOAT_EQ(data->trackingQuality, 0.0f);
        EXPECT_FLOAT_EQ(data->eyeRotation[0], 0.0f);
        EXPECT_FLOAT_EQ(data->eyeRotation[1], 0.0f);
        EXPECT_FLOAT_EQ(model->eyesOpen[0], 0.0f);
        EXPECT_FLOAT_EQ(model->eyesOpen[1], 0.0f);
        // The pose is the default one: frontal, at the origin.
        for (int k = 0; k < 3; ++k) {
            EXPECT_FLOAT_EQ(data->headRotation[k], 0.0f);
            EXPECT_FLOAT_EQ(data->headTranslation[k], 0.0f);
        }
        // The input points as they came, y up.
        EXPECT_FLOAT_EQ(data->points2D->getFPPos(3, 5)[1], 1.0f - points.getFPPos(3, 5)[1]);
        EXPECT_EQ(data->points2D->FPIsDefined(8, 4), points.FPIsDefined(8, 4));

        // As the tracking unit does after a failure: the next fit starts
        // again from the points.
        fitter.reset(false);
        const FDP all = projectToFDP(*model, face(10), kWidth, kHeight);
        EXPECT_TRUE(fitter.do_fitting(&all, kWidth, kHeight, data.get(), true, nullptr));
    }
}

TEST(OrvixModelFitterFailureTest, InvalidArgumentsTouchNothing)
{
    auto model = makeSyntheticModel();
    const FDP points = projectToFDP(*model, face(0), kWidth, kHeight);
    struct Case
    {
        const char* name;
        const FDP* points;
        int width;
        int height;
        bool withData;
    };
    const Case cases[] = {{"zero width", &points, 0, kHeight, true},
                          {"negative height", &points, kWidth, -1, true},
                          {"no points", nullptr, kWidth, kHeight, true},
                          {"no record", &points, kWidth, kHeight, false}};
    for (FittingMethod method : {UPDATE_FITTING, STANDALONE_FITTING}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(c.name);
            OrvixModelFitter fitter(model.get(), false, method);
            auto data = makeRecord();
            data->trackingQuality = 0.5f;
            data->eyeRotation[1] = 0.5f;
            EXPECT_FALSE(fitter.do_fitting(c.points, c.width, c.height, c.withData ? data.get() : nullptr, true,
                                           nullptr));
            EXPECT_FLOAT_EQ(data->trackingQuality, 0.5f);
            EXPECT_FLOAT_EQ(data->eyeRotation[1], 0.5f);
            EXPECT_EQ(fitter.poseFitter, nullptr);
            EXPECT_TRUE(fitter.needsInit);
        }
    }
}

// The head pose of the previous frame decides whether the shape units are
// estimated.
TEST(OrvixModelFitterIncrementalTest, ShapeUnitsAreNotEstimatedBeyondAQuarterTurn)
{
    struct Case
    {
        float pitch;
        float yaw;
        int mask;
    };
    const Case cases[] = {{0.0f, 0.0f, 7},
                          {0.0f, static_cast<float>(radians(-100)), 5},
                          {0.0f, static_cast<float>(radians(89)), 7},
                          {static_cast<float>(radians(95)), 0.0f, 5},
                          {0.0f, NAN, 5}};
    auto model = makeSyntheticModel();
    const FDP points = projectToFDP(*model, face(5), kWidth, kHeight);
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.pitch << ", " << c.yaw);
        OrvixModelFitter fitter(model.get(), false, UPDATE_FITTING);
        auto data = makeRecord(model->focus);
        data->headRotation[0] = c.pitch;
        data->headRotation[1] = c.yaw;
        fitter.do_fitting(&points, kWidth, kHeight, data.get(), true, nullptr);
        ASSERT_NE(fitter.poseFitter, nullptr);
        EXPECT_EQ(fitter.poseFitter->stateMask, c.mask);
    }
}

TEST(OrvixModelFitterFailureTest, ResetZeroesTheUnitsAndRebuildsTheFitters)
{
    auto pose = makeSyntheticModel();
    auto mesh = makeSyntheticModel();
    const FDP points = projectToFDP(*pose, face(5), kWidth, kHeight);
    OrvixModelFitter fitter(pose.get(), pose.get(), mesh.get(), false, UPDATE_FITTING);
    float initPose[6] = {0.0f, 3.0f, 0.0f, 0.0f, 0.0f, 0.7f};
    fitter.setInitPose(initPose);
    auto data = makeRecord();
    ASSERT_TRUE(fitter.do_fitting(&points, kWidth, kHeight, data.get(), true, nullptr));
    ASSERT_TRUE(fitter.initialFitDone);
    for (Candide3Model* m : {pose.get(), mesh.get()}) {
        cvSet(m->suValues, cvScalarAll(0.25));
        cvSet(m->auValues, cvScalarAll(0.25));
    }

    EIFModelFitter* before = fitter.poseFitter;
    fitter.reset(false);
    EXPECT_EQ(fitter.poseFitter, before);
    EXPECT_TRUE(fitter.needsInit);
    EXPECT_FALSE(fitter.initialFitDone);
    EXPECT_FALSE(fitter.hasInitPose);
    for (Candide3Model* m : {pose.get(), mesh.get()}) {
        EXPECT_EQ(cvCountNonZero(m->suValues), 0);
        EXPECT_EQ(cvCountNonZero(m->auValues), 0);
    }

    fitter.reset(true);
    EXPECT_EQ(fitter.poseFitter, nullptr);
    EXPECT_EQ(fitter.meshFitter, nullptr);
    ASSERT_TRUE(fitter.do_fitting(&points, kWidth, kHeight, data.get(), true, nullptr));
    EXPECT_NE(fitter.poseFitter, nullptr);
    EXPECT_NE(fitter.meshFitter, nullptr);
}

// ---------------------------------------------------------------------------
// Static helpers

TEST(OrvixModelFitterHelpersTest, SetPoseAndAugment)
{
    float pose[6];
    float translation[3] = {4, 5, 6};
    float rotation[3] = {1, 2, 3};
    OrvixModelFitter::setPose(pose, translation, rotation);
    const float expected[6] = {1, 2, 3, 4, 5, 6};
    EXPECT_TRUE(sameFloats(pose, expected, 6));

    FDP source;
    FDP target;
    source.setFPPos(2, 1, 0.1f, 0.2f, 0.3f);
    source.setFPSurfVert(2, 1, "mesh", 7);
    source.setFPPos(4, 2, 0.4f, 0.5f, 0.6f);
    target.setFPPos(4, 2, 0.9f, 0.9f, 0.9f);
    target.getFP(4, 2).detected = 1;
    OrvixModelFitter::augmentFDP(&source, &target);
    // Missing points are copied whole, present ones left alone.
    ASSERT_TRUE(target.FPIsDefined(2, 1));
    EXPECT_EQ(target.getFP(2, 1).vertexIndex, 7);
    EXPECT_FLOAT_EQ(target.getFPPos(2, 1)[2], 0.3f);
    EXPECT_FLOAT_EQ(target.getFPPos(4, 2)[0], 0.9f);
    EXPECT_TRUE(target.FPIsDetected(4, 2));
    EXPECT_FALSE(target.FPIsDefined(5, 1));
}

TEST(OrvixModelFitterHelpersTest, UnprojectionLandsOnTheImageRays)
{
    struct Case
    {
        int width;
        int height;
    };
    for (const Case& c : {Case{640, 480}, Case{480, 640}, Case{300, 300}}) {
        SCOPED_TRACE(testing::Message() << c.width << " x " << c.height);
        const float focus = 2.5f;
        FDP image;
        FDP space;
        image.setFPPos(3, 5, 0.3f, 0.7f, 0.01f);
        space.setFPPos(3, 5, 0.1f, 0.1f, 0.8f);
        image.setFPPos(9, 3, 0.5f, 0.5f, 0.0f);   // only in the image
        space.setFPPos(2, 1, 0.2f, 0.3f, 0.9f);   // only in space
        OrvixModelFitter::unProjectStuff(&image, &space, c.width, c.height, focus);

        const float* p = space.getFPPos(3, 5);
        EXPECT_FLOAT_EQ(p[2], 0.8f);
        // Projected as the face models project (projection frame, then
        // normalised with y up).
        const float ax = c.width > c.height ? float(c.width) / c.height : 1.0f;
        const float ay = c.height > c.width ? float(c.height) / c.width : 1.0f;
        EXPECT_NEAR(0.5f - 0.5f * (focus * p[0] / p[2]) / ax, 0.3f, 1e-6);
        EXPECT_NEAR(0.5f + 0.5f * (focus * p[1] / p[2]) / ay, 0.7f, 1e-6);
        EXPECT_FALSE(space.FPIsDefined(9, 3));
        EXPECT_FLOAT_EQ(space.getFPPos(2, 1)[0], 0.2f);
    }

    // A focus of 0 would put the points at infinity: they stay.
    FDP image;
    FDP space;
    image.setFPPos(3, 5, 0.3f, 0.7f, 0.0f);
    space.setFPPos(3, 5, 0.1f, 0.1f, 0.8f);
    OrvixModelFitter::unProjectStuff(&image, &space, 640, 480, 0.0f);
    EXPECT_FLOAT_EQ(space.getFPPos(3, 5)[0], 0.1f);
}

TEST(OrvixModelFitterHelpersTest, RemoveTransformUndoesThePose)
{
    const double r[3] = {0.3, 2.9, -0.4};
    const float rotation[3] = {0.3f, 2.9f, -0.4f};
    const float translation[3] = {0.05f, -0.1f, 0.7f};
    double R[3][3];
    rotationMatrix(r, R);
    const float local[3] = {0.02f, -0.03f, 0.015f};
    FDP space;
    FDP relative;
    float p[3];
    for (int k = 0; k < 3; ++k)
        p[k] = static_cast<float>(R[k][0] * local[0] + R[k][1] * local[1] + R[k][2] * local[2]) + translation[k];
    space.setFPPos(8, 1, p);
    OrvixModelFitter::removeTransform(&space, &relative, rotation, translation);
    ASSERT_TRUE(relative.FPIsDefined(8, 1));
    for (int k = 0; k < 3; ++k)
        EXPECT_NEAR(relative.getFPPos(8, 1)[k], local[k], 1e-6);
    EXPECT_FALSE(relative.FPIsDefined(8, 2));
}

}  // namespace
