#include "OrvixSDK/Candide3Model.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/core/core_c.h>

#include "OrvixSDK/FDP.h"
#include "OrvixSDK/OrvixConfiguration.h"
#include "TestSupport.h"
#include "libVision/facemodel/CandideTestMesh.h"

using OrvixSDK::Candide3Model;
using OrvixSDK::FDP;
using OrvixSDK::FittingError;
using OrvixSDK::OrvixConfiguration;

namespace {

const float kPi = 3.14159265358979f;

std::string candideData(const std::string& name)
{
    return std::string(ORVIX_TEST_DATA_DIR) + "candide/" + name;
}

// The six-vertex hand-made face of tests/data/candide: pupils 3.5 (vertex 0)
// and 3.6 (1) 0.065 apart, nose tip 9.3 (2), head top 7.1 (3), chin 2.1 (4),
// mouth corner 8.4 (5); AUs 0..2 of which 0 and 2 are used, SUs 0..1.
class HandModel : public ::testing::Test
{
protected:
    void SetUp() override
    {
        configuration = new OrvixConfiguration(candideData("hand_tracker.cfg").c_str());
        ASSERT_TRUE(model.init(configuration, nullptr, Candide3Model::MESH_FITTING_MODEL));
    }
    void TearDown() override { delete configuration; }

    const float* vertex(const CvMat* m, int k, int stride) const { return m->data.fl + stride * k; }

    OrvixConfiguration* configuration = nullptr;
    Candide3Model model;
};

TEST_F(HandModel, LoadsMeshUnitsAndConfiguration)
{
    EXPECT_TRUE(model.initialized);
    EXPECT_EQ(model.vertexCount, 6);
    EXPECT_FLOAT_EQ(model.focus, 4.0f);
    EXPECT_EQ(model.processEyes, 1);
    EXPECT_FLOAT_EQ(model.scale, 1.0f);
    EXPECT_FLOAT_EQ(model.rotation[1], kPi);
    ASSERT_NE(model.faces, nullptr);
    EXPECT_EQ(model.faces->rows, 12);
    ASSERT_NE(model.getTexCoordStatic(), nullptr);
    EXPECT_FLOAT_EQ(model.getTexCoordStatic()[11], 0.8f);

    // au_use 1 0 1: columns 0 and 2 kept, their limit pairs.
    ASSERT_NE(model.actionUnits, nullptr);
    EXPECT_EQ(model.actionUnits->cols, 2);
    EXPECT_EQ(model.auUse->rows, 3);
    EXPECT_FLOAT_EQ(CV_MAT_ELEM(*model.actionUnits, float, 3 * 2 + 1, 0), 0.01f);   // nose up
    EXPECT_FLOAT_EQ(CV_MAT_ELEM(*model.actionUnits, float, 3 * 5 + 0, 1), 0.01f);   // mouth out
    ASSERT_NE(model.auLimits, nullptr);
    ASSERT_EQ(model.auLimits->rows, 4);
    const float limits[4] = {-1, 1, -3, 3};
    for (int i = 0; i < 4; ++i)
        EXPECT_FLOAT_EQ(model.auLimits->data.fl[i], limits[i]) << i;
    EXPECT_EQ(model.auValues->rows, 2);
    EXPECT_EQ(model.auSensitivity->rows, 3);
    EXPECT_FLOAT_EQ(model.auSensitivity->data.fl[2], 0.03f);
    ASSERT_NE(model.shapeUnits, nullptr);
    EXPECT_EQ(model.shapeUnits->cols, 2);
    EXPECT_EQ(model.suValues->rows, 2);
    EXPECT_FLOAT_EQ(model.suSensitivity->data.fl[1], 0.6f);
    EXPECT_FLOAT_EQ(model.poseSensitivity->data.fl[5], 0.6f);
    EXPECT_FLOAT_EQ(model.rotationLimits->data.fl[3], 2.0f);
    EXPECT_FLOAT_EQ(model.translationLimits->data.fl[5], 5.0f);
    ASSERT_EQ(model.auNameCount, 3);
    EXPECT_STREQ(model.auNames[1], "chin_down");

    // The pupils are already 0.065 apart: no scaling, origin between them,
    // pupils pushed forward by 0.006.
    const float* v = model.vertices->data.fl;
    EXPECT_FLOAT_EQ(v[0], 0.0325f);
    EXPECT_FLOAT_EQ(v[2], 0.006f);
    EXPECT_FLOAT_EQ(v[5], 0.006f);
    EXPECT_FLOAT_EQ(v[3 * 2 + 2], 0.03f);
    EXPECT_FLOAT_EQ(model.referenceVertices->data.fl[5], 0.006f);

    float r[3], t[3], c[3];
    model.calculatePose(r, t, c);
    EXPECT_NEAR(r[0], 0.0f, 1e-7f);
    EXPECT_NEAR(r[1], 0.0f, 1e-7f);
    EXPECT_NEAR(r[2], 0.0f, 1e-7f);
}

// Projection worked out by hand for pose (0, pi, 0), t = (0.01, -0.02, 0.5),
// focus 4, AU values (0.5, 1) and SU values (1, 2): a vertex (x, y, z) lands
// at (-x + 0.01, y - 0.02, -z + 0.5) and projects to 4 x / z, 4 y / z.
TEST_F(HandModel, UpdateDeformsPosesAndProjects)
{
    float pose[6] = {0.0f, kPi, 0.0f, 0.01f, -0.02f, 0.5f};
    model.set_pose(pose);
    model.auValues->data.fl[0] = 0.5f;   // nose up 0.005
    model.auValues->data.fl[1] = 1.0f;   // mouth corner out 0.01
    model.suValues->data.fl[0] = 1.0f;   // head top up 0.01
    model.suValues->data.fl[1] = 2.0f;   // chin forward 0.02
    model.update();

    struct Expected
    {
        float deformed[3];
        float transformed[3];
        float projected[2];
    };
    const Expected expected[6] = {
        {{0.0325f, 0.0f, 0.006f}, {-0.0225f, -0.02f, 0.494f}, {-0.0900f / 0.494f, -0.0800f / 0.494f}},
        {{-0.0325f, 0.0f, 0.006f}, {0.0425f, -0.02f, 0.494f}, {0.1700f / 0.494f, -0.0800f / 0.494f}},
        {{0.0f, -0.035f, 0.03f}, {0.01f, -0.055f, 0.47f}, {0.04f / 0.47f, -0.22f / 0.47f}},
        {{0.0f, 0.06f, -0.02f}, {0.01f, 0.04f, 0.52f}, {0.04f / 0.52f, 0.16f / 0.52f}},
        {{0.0f, -0.09f, 0.02f}, {0.01f, -0.11f, 0.48f}, {0.04f / 0.48f, -0.44f / 0.48f}},
        {{0.03f, -0.06f, 0.01f}, {-0.02f, -0.08f, 0.49f}, {-0.08f / 0.49f, -0.32f / 0.49f}},
    };
    for (int k = 0; k < 6; ++k) {
        for (int c = 0; c < 3; ++c) {
            EXPECT_NEAR(vertex(model.deformedVertices, k, 3)[c], expected[k].deformed[c], 1e-6f) << k << "," << c;
            EXPECT_NEAR(vertex(model.transformedVertices, k, 3)[c], expected[k].transformed[c], 1e-6f) << k << "," << c;
        }
        for (int c = 0; c < 2; ++c)
            EXPECT_NEAR(vertex(model.projectedVertices, k, 2)[c], expected[k].projected[c], 1e-5f) << k << "," << c;
    }

    // Eye yaw of 90 degrees moves the pupils by (0.0125, 0, -0.0125) on the
    // way into the pose only; the deformed pupils stay where they were.
    model.eyeRotation[1] = kPi / 2.0f;
    model.update();
    EXPECT_NEAR(vertex(model.deformedVertices, 0, 3)[0], 0.0325f, 1e-6f);
    EXPECT_NEAR(vertex(model.transformedVertices, 0, 3)[0], -0.035f, 1e-6f);
    EXPECT_NEAR(vertex(model.transformedVertices, 0, 3)[2], 0.5065f, 1e-6f);
    EXPECT_NEAR(vertex(model.projectedVertices, 0, 2)[0], -0.14f / 0.5065f, 1e-5f);
    EXPECT_NEAR(vertex(model.transformedVertices, 1, 3)[0], 0.03f, 1e-6f);
    EXPECT_NEAR(vertex(model.transformedVertices, 2, 3)[0], 0.01f, 1e-6f);   // nose not moved
}

// R = Ry Rx Rz, checked against the product of the three elementary
// rotations for a set of angles, with scale.
TEST_F(HandModel, PoseRotationIsYawPitchRollProduct)
{
    const float angles[][3] = {{0.3f, 0.0f, 0.0f}, {0.0f, 0.4f, 0.0f}, {0.0f, 0.0f, 0.5f},
                               {0.2f, 2.9f, -0.3f}, {-0.6f, 3.5f, 1.1f}};
    for (const auto& a : angles) {
        model.rotation[0] = a[0];
        model.rotation[1] = a[1];
        model.rotation[2] = a[2];
        model.translation[0] = 0.1f;
        model.translation[1] = -0.2f;
        model.translation[2] = 1.0f;
        model.scale = 1.5f;
        model.update();

        const double sx = std::sin(a[0]), cx = std::cos(a[0]);
        const double sy = std::sin(a[1]), cy = std::cos(a[1]);
        const double sz = std::sin(a[2]), cz = std::cos(a[2]);
        const double rx[3][3] = {{1, 0, 0}, {0, cx, -sx}, {0, sx, cx}};
        const double ry[3][3] = {{cy, 0, sy}, {0, 1, 0}, {-sy, 0, cy}};
        const double rz[3][3] = {{cz, -sz, 0}, {sz, cz, 0}, {0, 0, 1}};
        double rxz[3][3] = {}, r[3][3] = {};
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j)
                for (int k = 0; k < 3; ++k)
                    rxz[i][j] += rx[i][k] * rz[k][j];
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j)
                for (int k = 0; k < 3; ++k)
                    r[i][j] += ry[i][k] * rxz[k][j];
        for (int v = 2; v < 6; ++v) {   // not the pupils (eye offset)
            const float* in = vertex(model.deformedVertices, v, 3);
            for (int i = 0; i < 3; ++i) {
                const double want = 1.5 * (r[i][0] * in[0] + r[i][1] * in[1] + r[i][2] * in[2]) +
                                    model.translation[i];
                EXPECT_NEAR(vertex(model.transformedVertices, v, 3)[i], want, 1e-5) << a[0] << " " << a[1] << " " << a[2];
            }
            const float* t = vertex(model.transformedVertices, v, 3);
            EXPECT_NEAR(vertex(model.projectedVertices, v, 2)[0], 4.0f * t[0] / t[2], 1e-4f);
        }
    }
}

TEST_F(HandModel, ProjectionOfVertexOnCameraPlaneStaysFinite)
{
    // Nose tip at z = 0.03 in the head; tz = 0.03 puts it on the camera plane.
    float pose[6] = {0.0f, kPi, 0.0f, 0.0f, 0.0f, 0.03f};
    model.set_pose(pose);
    model.update();
    EXPECT_NEAR(vertex(model.transformedVertices, 2, 3)[2], 0.0f, 1e-6f);
    for (int k = 0; k < 12; ++k)
        EXPECT_TRUE(std::isfinite(model.projectedVertices->data.fl[k])) << k;
}

// Projection frame to normalised image positions (y upward) for the three
// aspect cases, and the 3-D form.
TEST_F(HandModel, CalculateFdpMapsByAspect)
{
    struct Case
    {
        int width, height;
        float x, y;
        float u, v;
    };
    const Case cases[] = {
        {640, 480, 0.0f, 0.0f, 0.5f, 0.5f},
        {640, 480, 1.0f, 1.0f, 0.125f, 1.0f},
        {480, 640, 1.0f, 1.0f, 0.0f, 0.875f},
        {500, 500, 1.0f, -1.0f, 0.0f, 0.0f},
        {500, 500, -0.5f, 0.5f, 0.75f, 0.75f},
        {0, 480, 1.0f, 1.0f, 0.0f, 1.0f},   // no usable aspect: square
    };
    for (const Case& c : cases) {
        CvMat* projected = cvCreateMat(12, 1, CV_32FC1);
        cvSetZero(projected);
        projected->data.fl[2 * 2] = c.x;   // vertex 2 = nose tip 9.3
        projected->data.fl[2 * 2 + 1] = c.y;
        FDP points;
        model.calculateFDP(&points, c.width, c.height, projected, false);
        EXPECT_TRUE(points.FPIsDefined(9, 3));
        EXPECT_FLOAT_EQ(points.getFPPos(9, 3)[0], c.u) << c.width << "x" << c.height;
        EXPECT_FLOAT_EQ(points.getFPPos(9, 3)[1], c.v) << c.width << "x" << c.height;
        EXPECT_FLOAT_EQ(points.getFPPos(9, 3)[2], 0.0f);
        EXPECT_FALSE(points.FPIsDefined(9, 4));   // not linked
        cvReleaseMat(&projected);
    }

    model.update();
    FDP points;
    model.calculateFDP(&points, 640, 480, model.deformedVertices, true);
    EXPECT_FLOAT_EQ(points.getFPPos(9, 3)[2], 0.03f);
    EXPECT_FLOAT_EQ(points.getFPPos(3, 5)[0], 0.0325f);

    // A source too short for a linked vertex leaves that point alone.
    CvMat* shortSource = cvCreateMat(4, 1, CV_32FC1);
    cvSetZero(shortSource);
    FDP partial;
    model.calculateFDP(&partial, 640, 480, shortSource, false);
    EXPECT_TRUE(partial.FPIsDefined(3, 6));     // vertex 1
    EXPECT_FALSE(partial.FPIsDefined(9, 3));    // vertex 2: beyond the source
    cvReleaseMat(&shortSource);
}

TEST_F(HandModel, SetFdpIndicesCopiesLinks)
{
    FDP points;
    model.setFDPIndices(&points);
    std::string surface;
    int vertex = -1;
    ASSERT_TRUE(points.getFPSurfVert(8, 4, surface, vertex));
    EXPECT_EQ(vertex, 5);
    EXPECT_EQ(surface, "0");
    EXPECT_FALSE(points.FPIsDefined(8, 3));
}

// Detected points (normalised, y downward) for reset_pose.
FDP resetPoints(float x5, float y5, float x6, float y6, float x9, float y9)
{
    FDP points;
    points.setFPPos(3, 5, x5, y5, 0.0f);
    points.setFPPos(3, 6, x6, y6, 0.0f);
    points.setFPPos(9, 3, x9, y9, 0.0f);
    return points;
}

TEST_F(HandModel, ResetPoseYawFromNosePosition)
{
    // Pupils at x 0.6 (3.5) and 0.4 (3.6): e = nose - 3.6, g = 3.5 - nose.
    struct Case
    {
        const char* label;
        float noseX;
        float yaw;
    };
    const Case cases[] = {
        {"nose left of 3.6", 0.38f, 2.0071287f},
        {"nose right of 3.5", 0.62f, 4.2760568f},
        {"nose near 3.6 (g > 2e)", 0.43f, 2.5307274f},
        {"nose near 3.5 (e > 2g)", 0.57f, 3.7524581f},
        {"nose midway", 0.5f, kPi},
        {"nose off centre, within the band", 0.52f, kPi},
    };
    for (const Case& c : cases) {
        const FDP points = resetPoints(0.6f, 0.4f, 0.4f, 0.4f, c.noseX, 0.5f);
        model.eyeRotation[0] = 0.3f;
        model.reset_pose(&points, 1.0f);
        EXPECT_FLOAT_EQ(model.rotation[1], c.yaw) << c.label;
        EXPECT_FLOAT_EQ(model.rotation[0], 0.0f) << c.label;
        EXPECT_FLOAT_EQ(model.eyeRotation[0], 0.0f) << c.label;
    }
}

// The pupil midpoint of the mesh projects onto the detected pupil midpoint
// and the longest of the three distances is the projected eye distance.
TEST_F(HandModel, ResetPosePlacesHeadOnDetectedPupils)
{
    // 4:3 image, pupils 0.2 apart in x at y 0.4 (downward), nose below.
    const FDP points = resetPoints(0.6f, 0.4f, 0.4f, 0.4f, 0.5f, 0.5f);
    model.reset_pose(&points, 4.0f / 3.0f);
    // X = (x - 0.5) 2 ax: 3.5 at 0.26667, 3.6 at -0.26667; Y = 0.2.
    // D = 0.53333 (the pupil distance); m = 0.065 / D.
    const float m = 0.065f / (0.4f * 4.0f / 3.0f);
    EXPECT_NEAR(model.translation[2], 4.0f * m, 1e-6f);
    EXPECT_NEAR(model.translation[0], 0.0f, 1e-6f);
    EXPECT_NEAR(model.translation[1], m * 0.2f, 1e-6f);
    EXPECT_NEAR(model.rotation[2], 0.0f, 1e-6f);

    model.update();
    FDP projected;
    model.calculateFDP(&projected, 640, 480, model.projectedVertices, false);
    // Without the forward push of the pupils, the midpoint would land on
    // (0.5, 0.6) exactly (y upward): check that the two pupils straddle it.
    const float midX = (projected.getFPPos(3, 5)[0] + projected.getFPPos(3, 6)[0]) / 2.0f;
    EXPECT_NEAR(midX, 0.5f, 1e-5f);
    EXPECT_GT(projected.getFPPos(3, 5)[0], projected.getFPPos(3, 6)[0]);

    // Head tilt: 3.5 higher in the image than 3.6 gives a positive roll.
    const FDP tilted = resetPoints(0.6f, 0.3f, 0.4f, 0.5f, 0.5f, 0.6f);
    model.reset_pose(&tilted, 1.0f);
    EXPECT_NEAR(model.rotation[2], std::atan2(0.4f, 0.4f), 1e-6f);
}

TEST_F(HandModel, ResetPoseDegenerateInputGivesDefaultPose)
{
    FDP same = resetPoints(0.5f, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f);
    FDP nan = resetPoints(0.6f, 0.4f, 0.4f, 0.4f, 0.5f, 0.5f);
    nan.setFPPos(3, 5, std::nanf(""), 0.4f, 0.0f);
    for (const FDP* points : {&same, &nan}) {
        float pose[6] = {0.1f, 0.2f, 0.3f, 0.4f, 0.5f, 0.6f};
        model.set_pose(pose);
        model.reset_pose(points, 1.0f);
        EXPECT_FLOAT_EQ(model.rotation[0], 0.0f);
        EXPECT_FLOAT_EQ(model.rotation[1], kPi);
        EXPECT_FLOAT_EQ(model.rotation[2], 0.0f);
        for (int k = 0; k < 3; ++k)
            EXPECT_FLOAT_EQ(model.translation[k], 0.0f);
    }

    // Without points: default pose, scale and eye rotation untouched.
    model.scale = 2.0f;
    model.eyeRotation[0] = 0.25f;
    model.rotation[0] = 1.0f;
    model.translation[2] = 3.0f;
    model.reset_pose(nullptr, 1.0f);
    EXPECT_FLOAT_EQ(model.rotation[0], 0.0f);
    EXPECT_FLOAT_EQ(model.rotation[1], kPi);
    EXPECT_FLOAT_EQ(model.translation[2], 0.0f);
    EXPECT_FLOAT_EQ(model.scale, 2.0f);
    EXPECT_FLOAT_EQ(model.eyeRotation[0], 0.25f);
}

TEST_F(HandModel, CalculatePoseReportsYawAndRotationCentre)
{
    float pose[6] = {0.1f, kPi + 0.2f, -0.3f, 0.01f, 0.02f, 0.6f};
    model.set_pose(pose);
    model.update();
    float r[3], t[3], c[3];
    model.calculatePose(r, t, c);
    EXPECT_FLOAT_EQ(r[0], 0.1f);
    EXPECT_NEAR(r[1], 0.2f, 1e-6f);
    EXPECT_FLOAT_EQ(r[2], -0.3f);
    EXPECT_FLOAT_EQ(t[2], 0.6f);
    for (int k = 0; k < 3; ++k)
        EXPECT_FLOAT_EQ(c[k], vertex(model.transformedVertices, 3, 3)[k]);   // 7.1 = vertex 3
}

TEST_F(HandModel, FittingErrorComparesDefinedPoints)
{
    float pose[6] = {0.0f, kPi, 0.0f, 0.0f, 0.0f, 0.5f};
    model.set_pose(pose);
    model.update();
    FDP projected;
    model.calculateFDP(&projected, 640, 480, model.projectedVertices, false);

    struct Case
    {
        const char* label;
        int group, index;      // point moved (0: none)
        float dx, dy;          // in normalised units
        float normaliser;
        float mean, max;
        int maxGroup, maxIndex;
    };
    // Five linked points outside groups 13/15 are compared (3.5, 3.6, 7.1,
    // 9.3, 8.4) plus 2.1: six in all.
    const Case cases[] = {
        {"exact", 0, 0, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f, 2, 1},
        {"nose 3 px right, 4 px up", 9, 3, 3.0f / 640.0f, 4.0f / 480.0f, 1.0f, 5.0f / 6.0f, 5.0f, 9, 3},
        {"normalised by 10", 9, 3, 3.0f / 640.0f, 4.0f / 480.0f, 10.0f, 0.5f / 6.0f, 0.5f, 9, 3},
        {"zero normaliser counts pixels", 8, 4, 0.0f, 6.0f / 480.0f, 0.0f, 1.0f, 6.0f, 8, 4},
    };
    for (const Case& c : cases) {
        FDP detected(projected);
        if (c.group != 0) {
            const float* p = detected.getFPPos(c.group, c.index);
            detected.setFPPos(c.group, c.index, p[0] + c.dx, p[1] + c.dy, 0.0f);
        }
        const FittingError e = model.calculateFittingError(&detected, 640, 480, c.normaliser);
        EXPECT_NEAR(e.meanError, c.mean, 1e-3f) << c.label;
        EXPECT_NEAR(e.maxError, c.max, 1e-3f) << c.label;
        EXPECT_EQ(e.maxGroup, c.maxGroup) << c.label;
        EXPECT_EQ(e.maxIndex, c.maxIndex) << c.label;
    }

    // Groups 13 and 15 are left out; no common point gives 0 and -1.
    FDP none;
    none.setFPPos(13, 1, 0.1f, 0.1f, 0.0f);
    none.setFPPos(15, 2, 0.1f, 0.1f, 0.0f);
    none.setFPPos(9, 4, 0.1f, 0.1f, 0.0f);   // not linked in the model
    const FittingError empty = model.calculateFittingError(&none, 640, 480, 1.0f);
    EXPECT_EQ(empty.meanError, 0.0f);
    EXPECT_EQ(empty.maxError, 0.0f);
    EXPECT_EQ(empty.maxGroup, -1);
    EXPECT_EQ(empty.maxIndex, -1);
    EXPECT_EQ(model.calculateFittingError(nullptr, 640, 480, 1.0f).maxGroup, -1);
}

// ---------------------------------------------------------------------------
// Mesh files and loading

// A compact valid mesh: 4 vertices, 2 triangles, 2 action units, 1 shape unit.
const char* const kBaseWfm =
    "# VERTEX LIST\n4\n0.0325 0 0\n-0.0325 0 0\n0 -0.04 0.03\n0 0.05 -0.02\n"
    "# FACE LIST\n2\n0 1 3\n0 2 1\n"
    "# ANIMATION UNITS LIST\n2\n# AU0\n1\n2 0 0.01 0\n# AU1\n2\n0 0.001 0 0\n1 -0.001 0 0\n"
    "# SHAPE UNITS LIST\n1\n# SU0\n1\n3 0 0.01 0\n";

const char* const kBaseFdp = "# FDP file.\n1.0 m.fdp 0 0 0 0 0 0\n    3.5 0 0 0 0.0\n    3.6 0 0 0 0.1\n"
                             "    9.3 0 0 0 0.2\n    7.1 0 0 0 0.3\n";

std::string replaced(std::string text, const std::string& from, const std::string& to)
{
    const std::size_t at = text.find(from);
    if (at == std::string::npos)
        ADD_FAILURE() << "fixture text lacks " << from;
    else
        text.replace(at, from.size(), to);
    return text;
}

// Writes m.wfm, m.fdp, the model configuration m_model.cfg and a tracker
// configuration naming it as every model; returns the tracker path.
std::string writeModel(const OrvixTest::TempDir& dir, const std::string& wfm, const std::string& fdp,
                       const std::string& modelCfg = "model_filename m.wfm\nfdp_filename m.fdp\n")
{
    dir.write("m.wfm", wfm);
    dir.write("m.fdp", fdp);
    dir.write("m_model.cfg", modelCfg);
    return dir.write("tracker.cfg", "camera_focus 4\nprocess_eyes 2\n"
                                    "pose_fitting_model_configuration m_model.cfg\n"
                                    "au_fitting_model_configuration m_model.cfg\n"
                                    "mesh_fitting_model_configuration m_model.cfg\n");
}

TEST(Candide3ModelReader, ReadsVerticesFacesAndUnits)
{
    OrvixTest::TempDir dir;
    dir.write("m.wfm", kBaseWfm);
    Candide3Model model;
    ASSERT_TRUE(model.read_gSuAu_wfm("m.wfm", dir.path().c_str()));
    EXPECT_EQ(model.vertexCount, 4);
    ASSERT_EQ(model.faces->rows, 6);
    EXPECT_EQ(model.faces->data.i[5], 1);
    EXPECT_FLOAT_EQ(model.referenceVertices->data.fl[11], -0.02f);
    ASSERT_EQ(model.actionUnits->cols, 2);
    EXPECT_FLOAT_EQ(CV_MAT_ELEM(*model.actionUnits, float, 7, 0), 0.01f);
    EXPECT_FLOAT_EQ(CV_MAT_ELEM(*model.actionUnits, float, 0, 1), 0.001f);
    EXPECT_FLOAT_EQ(CV_MAT_ELEM(*model.actionUnits, float, 3, 1), -0.001f);
    EXPECT_FLOAT_EQ(CV_MAT_ELEM(*model.actionUnits, float, 7, 1), 0.0f);
    ASSERT_EQ(model.shapeUnits->cols, 1);
    EXPECT_FLOAT_EQ(CV_MAT_ELEM(*model.shapeUnits, float, 10, 0), 0.01f);
    EXPECT_EQ(model.getTexCoordStatic(), nullptr);

    // Texture coordinates are read only before the face list.
    const std::string before = replaced(kBaseWfm, "# FACE LIST", "# TEXCOORD LIST\n2\n0.1 0.2 0.3 0.4\n# FACE LIST");
    const std::string after = replaced(kBaseWfm, "# ANIMATION", "# TEXCOORD LIST\n2\n0.1 0.2 0.3 0.4\n# ANIMATION");
    dir.write("before.wfm", before);
    dir.write("after.wfm", after);
    ASSERT_TRUE(model.read_gSuAu_wfm("before.wfm", dir.path().c_str()));
    ASSERT_NE(model.getTexCoordStatic(), nullptr);
    EXPECT_FLOAT_EQ(model.getTexCoordStatic()[3], 0.4f);
    ASSERT_TRUE(model.read_gSuAu_wfm("after.wfm", dir.path().c_str()));
    EXPECT_EQ(model.getTexCoordStatic(), nullptr);
    EXPECT_EQ(model.actionUnits->cols, 2);

    // The file name is appended to the folder without a separator.
    dir.write("prefix_m.wfm", kBaseWfm);
    EXPECT_TRUE(model.read_gSuAu_wfm("m.wfm", (dir.path() + "prefix_").c_str()));
}

// Every damaged file fails, leaves no mesh behind and ends (no loop at the
// end of the file, no allocation sized by a damaged count).
TEST(Candide3ModelReader, DamagedFilesFail)
{
    const std::string base = kBaseWfm;
    const std::vector<OrvixTest::NamedContent> cases = {
        {"empty", ""},
        {"no vertex header", replaced(base, "# VERTEX LIST", "# VERTICES")},
        {"no face header", replaced(base, "# FACE LIST", "# FACES")},
        {"vertex count negative", replaced(base, "LIST\n4\n", "LIST\n-4\n")},
        {"vertex count zero", replaced(base, "LIST\n4\n", "LIST\n0\n")},
        {"vertex count 2e9", replaced(base, "LIST\n4\n", "LIST\n2000000000\n")},
        {"vertex count in exponent form", replaced(base, "LIST\n4\n", "LIST\n2e9\n")},
        {"vertex count beyond int", replaced(base, "LIST\n4\n", "LIST\n99999999999999999999\n")},
        {"vertex count larger than the file", replaced(base, "LIST\n4\n", "LIST\n90000\n")},
        {"vertex list truncated", "# VERTEX LIST\n4\n0.0325 0 0\n-0.0325 0"},
        {"vertex NaN", replaced(base, "0 -0.04 0.03", "0 nan 0.03")},
        {"vertex infinite", replaced(base, "0 -0.04 0.03", "0 -inf 0.03")},
        {"vertex huge", replaced(base, "0 -0.04 0.03", "0 -1e30 0.03")},
        {"vertex overflow", replaced(base, "0 -0.04 0.03", "0 -1e99 0.03")},
        {"vertex word", replaced(base, "0 -0.04 0.03", "0 minus 0.03")},
        {"face count zero", replaced(base, "# FACE LIST\n2\n", "# FACE LIST\n0\n")},
        {"face count huge", replaced(base, "# FACE LIST\n2\n", "# FACE LIST\n1500000000\n")},
        {"face index too large", replaced(base, "0 1 3\n", "0 1 4\n")},
        {"face index negative", replaced(base, "0 1 3\n", "0 -1 3\n")},
        {"face list truncated", "# VERTEX LIST\n4\n0 0 0\n1 0 0\n0 1 0\n0 0 1\n# FACE LIST\n2\n0 1 2\n0 1"},
        {"unit count negative", replaced(base, "UNITS LIST\n2\n", "UNITS LIST\n-2\n")},
        {"unit count huge", replaced(base, "UNITS LIST\n2\n", "UNITS LIST\n2000000000\n")},
        {"unit count above the cap", replaced(base, "UNITS LIST\n2\n", "UNITS LIST\n5000\n")},
        {"unit header missing", replaced(base, "UNITS LIST\n2\n", "UNITS LIST\n3\n")},
        {"unit entry count huge", replaced(base, "# AU0\n1\n", "# AU0\n1000000000\n")},
        {"unit entry count negative", replaced(base, "# AU0\n1\n", "# AU0\n-1\n")},
        {"unit vertex too large", replaced(base, "# AU0\n1\n2 ", "# AU0\n1\n4 ")},
        {"unit vertex negative", replaced(base, "# AU0\n1\n2 ", "# AU0\n1\n-1 ")},
        {"unit displacement NaN", replaced(base, "2 0 0.01 0", "2 0 nan 0")},
        {"unit list truncated", replaced(base, "1 -0.001 0 0\n", "1 -0.001")},
        {"shape unit vertex too large", replaced(base, "# SU0\n1\n3 ", "# SU0\n1\n17 ")},
        {"shape unit list truncated", replaced(base, "3 0 0.01 0\n", "3 0")},
        {"texture count huge", replaced(base, "# FACE LIST", "# TEXCOORD LIST\n1000000000\n0.1\n# FACE LIST")},
        {"texture list truncated", "# VERTEX LIST\n1\n0 0 0\n# TEXCOORD LIST\n3\n0.1 0.2"},
        {"binary", OrvixTest::randomBytes(4096, 7)},
        {"binary after header", "# VERTEX LIST\n" + OrvixTest::randomBytes(4096, 11)},
        {"very long line", std::string(1 << 20, 'x')},
        {"long token", replaced(base, "0 -0.04 0.03", "0 -0.04" + std::string(1000, '0') + " 0.03")},
        {"NUL inside a number", replaced(base, "0 -0.04 0.03", std::string("0 -0.0\0" "4 0.03", 13))},
    };
    OrvixTest::TempDir dir;
    for (const OrvixTest::NamedContent& c : cases) {
        dir.write("bad.wfm", c.content);
        Candide3Model model;
        EXPECT_FALSE(model.read_gSuAu_wfm("bad.wfm", dir.path().c_str())) << c.label;
        EXPECT_EQ(model.vertices, nullptr) << c.label;
        EXPECT_EQ(model.faces, nullptr) << c.label;
        EXPECT_EQ(model.actionUnits, nullptr) << c.label;
        EXPECT_EQ(model.shapeUnits, nullptr) << c.label;
        EXPECT_EQ(model.vertexCount, 0) << c.label;

        // Through init: refused, the model left empty.
        writeModel(dir, c.content, kBaseFdp);
        OrvixConfiguration configuration((dir.path() + "tracker.cfg").c_str());
        EXPECT_FALSE(model.init(&configuration, nullptr, Candide3Model::POSE_FITTING_MODEL)) << c.label;
        EXPECT_FALSE(model.initialized) << c.label;
        EXPECT_EQ(model.fdp, nullptr) << c.label;
    }

    Candide3Model model;
    EXPECT_FALSE(model.read_gSuAu_wfm("missing.wfm", dir.path().c_str()));
    EXPECT_FALSE(model.read_gSuAu_wfm("", nullptr));
}

TEST(Candide3ModelLoading, InitFailures)
{
    OrvixTest::TempDir dir;
    const std::string path = writeModel(dir, kBaseWfm, kBaseFdp);
    OrvixConfiguration configuration(path.c_str());
    Candide3Model model;
    ASSERT_TRUE(model.init(&configuration, nullptr, Candide3Model::AU_FITTING_MODEL));

    struct Case
    {
        const char* label;
        std::string fdp;
        int type;
    };
    const Case cases[] = {
        {"type 0", kBaseFdp, 0},
        {"type 4", kBaseFdp, 4},
        {"type -1", kBaseFdp, -1},
        {"link file missing", "", 1},
        {"point without link", std::string(kBaseFdp) + "    2.1 0 0 0\n", 1},
        {"link beyond the mesh", std::string(kBaseFdp) + "    2.1 0 0 0 0.4\n", 1},
        {"negative link", std::string(kBaseFdp) + "    2.1 0 0 0 0.-3\n", 1},
    };
    for (const Case& c : cases) {
        OrvixTest::TempDir caseDir;
        writeModel(caseDir, kBaseWfm, c.fdp);
        if (c.fdp.empty())
            std::remove((caseDir.path() + "m.fdp").c_str());
        OrvixConfiguration caseConfiguration((caseDir.path() + "tracker.cfg").c_str());
        Candide3Model fresh;
        EXPECT_FALSE(fresh.init(&caseConfiguration, nullptr, static_cast<Candide3Model::MODEL_TYPE>(c.type))) << c.label;
        EXPECT_FALSE(fresh.initialized) << c.label;
    }
    EXPECT_FALSE(model.init(nullptr, nullptr, Candide3Model::POSE_FITTING_MODEL));

    // A model configuration without a mesh file name.
    OrvixTest::TempDir noMesh;
    OrvixConfiguration noMeshConfiguration(writeModel(noMesh, kBaseWfm, kBaseFdp, "fdp_filename m.fdp\n").c_str());
    Candide3Model unnamed;
    EXPECT_FALSE(unnamed.init(&noMeshConfiguration, nullptr, Candide3Model::POSE_FITTING_MODEL));

    // A tracker configuration without that model.
    dir.write("none.cfg", "camera_focus 4\nmesh_fitting_model_configuration none\n");
    OrvixConfiguration without((dir.path() + "none.cfg").c_str());
    Candide3Model other;
    EXPECT_FALSE(other.init(&without, nullptr, Candide3Model::MESH_FITTING_MODEL));

    // A failed init leaves a loaded model as it was.
    EXPECT_FALSE(model.init(&without, nullptr, Candide3Model::MESH_FITTING_MODEL));
    EXPECT_TRUE(model.initialized);
    EXPECT_EQ(model.vertexCount, 4);
}

// Unit selection by the use flags of the configuration, and what happens
// when the configuration's lists do not match the file's units.
TEST(Candide3ModelLoading, UnitSelection)
{
    const std::string files = "model_filename m.wfm\nfdp_filename m.fdp\n";
    struct Case
    {
        const char* label;
        std::string config;
        int auCols, suCols;
        std::vector<float> auLimits;
        std::vector<float> basisCol0;   // kept AU column 0 at vertex 2 y and vertex 0 x
    };
    const Case cases[] = {
        {"nothing used", files, 0, 0, {}, {}},
        {"all AUs used", files + "au_use 1 1\naction_unit_limit -1 1 -2 2\nsu_use 1\n", 2, 1, {-1, 1, -2, 2}, {0.01f, 0.0f}},
        {"second AU only", files + "au_use 0 1\naction_unit_limit -1 1 -2 2\n", 1, 0, {-2, 2}, {0.0f, 0.001f}},
        {"flags other than 1 do not count", files + "au_use 2 1\n", 1, 0, {0, 0}, {0.0f, 0.001f}},
        {"short lists", files + "au_use 1\nsu_use\n", 1, 0, {0, 0}, {0.01f, 0.0f}},
    };
    for (const Case& c : cases) {
        OrvixTest::TempDir dir;
        OrvixConfiguration configuration(writeModel(dir, kBaseWfm, kBaseFdp, c.config).c_str());
        Candide3Model model;
        ASSERT_TRUE(model.init(&configuration, nullptr, Candide3Model::POSE_FITTING_MODEL)) << c.label;
        ASSERT_NE(model.auUse, nullptr) << c.label;
        EXPECT_EQ(model.auUse->rows, 2) << c.label;
        EXPECT_EQ(model.suUse->rows, 1) << c.label;
        EXPECT_EQ(model.auSensitivity->rows, 2) << c.label;
        if (c.auCols == 0) {
            EXPECT_EQ(model.actionUnits, nullptr) << c.label;
            EXPECT_EQ(model.auValues, nullptr) << c.label;
            EXPECT_EQ(model.auLimits, nullptr) << c.label;
        } else {
            ASSERT_NE(model.actionUnits, nullptr) << c.label;
            EXPECT_EQ(model.actionUnits->cols, c.auCols) << c.label;
            EXPECT_EQ(model.auValues->rows, c.auCols) << c.label;
            ASSERT_EQ(model.auLimits->rows, static_cast<int>(c.auLimits.size())) << c.label;
            for (std::size_t k = 0; k < c.auLimits.size(); ++k)
                EXPECT_FLOAT_EQ(model.auLimits->data.fl[k], c.auLimits[k]) << c.label << " " << k;
            EXPECT_FLOAT_EQ(CV_MAT_ELEM(*model.actionUnits, float, 7, 0), c.basisCol0[0]) << c.label;
            EXPECT_FLOAT_EQ(CV_MAT_ELEM(*model.actionUnits, float, 0, 0), c.basisCol0[1]) << c.label;
        }
        if (c.suCols == 0)
            EXPECT_EQ(model.shapeUnits, nullptr) << c.label;
        else
            EXPECT_EQ(model.shapeUnits->cols, c.suCols) << c.label;
        model.update();   // with or without bases
    }
}

// The configuration counted the units of the mesh file when it was loaded;
// a file with other unit counts at init time gets its lists cut or padded
// with the values of a missing key (unused, sensitivity 0).
TEST(Candide3ModelLoading, ConfigurationListsOfOtherLengths)
{
    const std::string config = "model_filename m.wfm\nfdp_filename m.fdp\npose_sensitivity 1 2 3\n"
                               "au_use 1 1\nau_sensitivity 0.5 0.6\naction_unit_limit -1 1 -2 2\n"
                               "au_names first second\nsu_use 1\nsu_sensitivity 0.7\n";
    const std::string threeUnits = replaced(kBaseWfm, "# ANIMATION UNITS LIST\n2\n", "# ANIMATION UNITS LIST\n3\n# AU2\n1\n3 0 0 0.01\n");
    const std::string oneUnit = replaced(kBaseWfm, "# ANIMATION UNITS LIST\n2\n", "# ANIMATION UNITS LIST\n1\n");
    const std::string noUnits = replaced(kBaseWfm, "# ANIMATION UNITS LIST\n2\n# AU0\n1\n2 0 0.01 0\n# AU1\n2\n0 0.001 0 0\n1 -0.001 0 0\n", "");

    struct Case
    {
        const char* label;
        std::string configuredWith, loadedWith;
        std::vector<int> auUse;
        std::vector<float> auSensitivity;
        std::vector<float> auLimits;
    };
    const Case cases[] = {
        {"file gained a unit", kBaseWfm, threeUnits, {1, 1, 0}, {0.5f, 0.6f, 0.0f}, {-1, 1, -2, 2}},
        {"file lost a unit", kBaseWfm, oneUnit, {1}, {0.5f}, {-1, 1}},
        {"configured without units", noUnits, kBaseWfm, {0, 0}, {0.0f, 0.0f}, {}},
    };
    for (const Case& c : cases) {
        OrvixTest::TempDir dir;
        const std::string path = writeModel(dir, c.configuredWith, kBaseFdp, config);
        OrvixConfiguration configuration(path.c_str());
        dir.write("m.wfm", c.loadedWith);
        Candide3Model model;
        ASSERT_TRUE(model.init(&configuration, nullptr, Candide3Model::POSE_FITTING_MODEL)) << c.label;
        ASSERT_EQ(model.auUse->rows, static_cast<int>(c.auUse.size())) << c.label;
        for (std::size_t k = 0; k < c.auUse.size(); ++k) {
            EXPECT_EQ(model.auUse->data.i[k], c.auUse[k]) << c.label;
            EXPECT_FLOAT_EQ(model.auSensitivity->data.fl[k], c.auSensitivity[k]) << c.label;
        }
        if (c.auLimits.empty()) {
            EXPECT_EQ(model.auLimits, nullptr) << c.label;
        } else {
            ASSERT_EQ(model.auLimits->rows, static_cast<int>(c.auLimits.size())) << c.label;
            for (std::size_t k = 0; k < c.auLimits.size(); ++k)
                EXPECT_FLOAT_EQ(model.auLimits->data.fl[k], c.auLimits[k]) << c.label;
        }
        EXPECT_FLOAT_EQ(model.poseSensitivity->data.fl[2], 3.0f) << c.label;
        EXPECT_FLOAT_EQ(model.poseSensitivity->data.fl[5], 0.0f) << c.label;
        EXPECT_EQ(model.rotationLimits->rows, 6) << c.label;
    }
}

TEST(Candide3ModelLoading, ScalesToEyeDistanceAroundPupilMidpoint)
{
    // Pupils 2 apart, midpoint (1, 2, 3): scale 0.0325, origin moved there.
    const std::string wfm = "# VERTEX LIST\n4\n2 2 3\n0 2 3\n1 0 3\n1 2 5\n# FACE LIST\n1\n0 1 2\n"
                            "# ANIMATION UNITS LIST\n1\n#\n1\n2 0 1 0\n# SHAPE UNITS LIST\n1\n#\n1\n3 2 0 0\n";
    OrvixTest::TempDir dir;
    OrvixConfiguration configuration(writeModel(dir, wfm, kBaseFdp, "model_filename m.wfm\nfdp_filename m.fdp\nau_use 1\nsu_use 1\n").c_str());
    Candide3Model model;
    ASSERT_TRUE(model.init(&configuration, nullptr, Candide3Model::POSE_FITTING_MODEL));
    const float f = 0.065f / 2.0f;
    const float expected[12] = {f, 0, 0.006f, -f, 0, 0.006f, 0, -2 * f, 0, 0, 0, 2 * f};
    for (int k = 0; k < 12; ++k) {
        EXPECT_NEAR(model.vertices->data.fl[k], expected[k], 1e-7f) << k;
        EXPECT_NEAR(model.referenceVertices->data.fl[k], expected[k], 1e-7f) << k;
    }
    EXPECT_NEAR(CV_MAT_ELEM(*model.actionUnits, float, 7, 0), f, 1e-7f);
    EXPECT_NEAR(CV_MAT_ELEM(*model.shapeUnits, float, 9, 0), 2 * f, 1e-7f);

    // setIPD rescales mesh and bases from the current distance.
    model.setIPD(0.07f);
    EXPECT_FLOAT_EQ(model.getIPD(), 0.07f);
    const float b = 0.07f / 0.065f;
    EXPECT_NEAR(model.vertices->data.fl[0], f * b, 1e-7f);
    EXPECT_NEAR(model.referenceVertices->data.fl[2], 0.006f * b, 1e-7f);
    EXPECT_NEAR(CV_MAT_ELEM(*model.actionUnits, float, 7, 0), f * b, 1e-7f);
    EXPECT_NEAR(CV_MAT_ELEM(*model.shapeUnits, float, 9, 0), 2 * f * b, 1e-7f);
    model.setIPD(0.065f);
    EXPECT_NEAR(model.vertices->data.fl[0], f, 1e-7f);

    // Values that are not a positive distance change nothing.
    for (float bad : {0.0f, -0.06f, std::nanf(""), INFINITY}) {
        model.setIPD(bad);
        EXPECT_FLOAT_EQ(model.getIPD(), 0.065f);
        EXPECT_NEAR(model.vertices->data.fl[0], f, 1e-7f);
    }
}

TEST(Candide3ModelLoading, WithoutActionUnitsDeformsByShapeOnlyAndKeepsIpd)
{
    const std::string wfm = replaced(kBaseWfm, "# ANIMATION UNITS LIST\n2\n# AU0\n1\n2 0 0.01 0\n# AU1\n2\n0 0.001 0 0\n1 -0.001 0 0\n", "");
    OrvixTest::TempDir dir;
    OrvixConfiguration configuration(writeModel(dir, wfm, kBaseFdp, "model_filename m.wfm\nfdp_filename m.fdp\nsu_use 1\n").c_str());
    Candide3Model model;
    ASSERT_TRUE(model.init(&configuration, nullptr, Candide3Model::POSE_FITTING_MODEL));
    EXPECT_EQ(model.actionUnits, nullptr);
    EXPECT_EQ(model.auUse, nullptr);
    EXPECT_EQ(model.auValues, nullptr);
    ASSERT_NE(model.suValues, nullptr);
    model.suValues->data.fl[0] = 2.0f;
    model.update();
    EXPECT_NEAR(model.deformedVertices->data.fl[10], 0.05f + 0.02f, 1e-7f);

    model.setIPD(0.08f);
    EXPECT_FLOAT_EQ(model.getIPD(), 0.065f);
    EXPECT_FLOAT_EQ(model.vertices->data.fl[0], 0.0325f);
}

// ---------------------------------------------------------------------------
// Eyes, texture coordinates, reduced model, visibility, copies

// Projects a head point as the eye estimate does: offset by the eye angles,
// posed with R = Ry Rx Rz (double precision) and projected.
void projectPupil(const Candide3Model& model, const float* vertex, double pitchDeg, double yawDeg, float* out)
{
    const double p = pitchDeg * 3.14159265358979 / 180.0, y = yawDeg * 3.14159265358979 / 180.0;
    const double v[3] = {vertex[0] + 0.012 * std::cos(p) * std::sin(y), vertex[1] + 0.0035 - 0.012 * std::sin(p),
                         vertex[2] + 0.012 * std::cos(p) * std::cos(y) - 0.007};
    const double sx = std::sin(model.rotation[0]), cx = std::cos(model.rotation[0]);
    const double sy = std::sin(model.rotation[1]), cy = std::cos(model.rotation[1]);
    const double sz = std::sin(model.rotation[2]), cz = std::cos(model.rotation[2]);
    const double r[3][3] = {{cy * cz + sx * sy * sz, sx * sy * cz - cy * sz, sy * cx},
                            {cx * sz, cx * cz, -sx},
                            {sx * cy * sz - sy * cz, sy * sz + sx * cy * cz, cx * cy}};
    double t[3];
    for (int i = 0; i < 3; ++i)
        t[i] = model.scale * (r[i][0] * v[0] + r[i][1] * v[1] + r[i][2] * v[2]) + model.translation[i];
    out[0] = static_cast<float>(t[0] * model.focus / t[2]);
    out[1] = static_cast<float>(t[1] * model.focus / t[2]);
}

float degrees(int d)
{
    return static_cast<float>(d) * kPi / 180.0f;
}

TEST_F(HandModel, EstimateEyeRotationsRecoversKnownAngles)
{
    struct Case
    {
        const char* label;
        float headYaw;                  // added to ry = pi
        int eye5[2], eye6[2];           // pitch, yaw in degrees
        float expected[2];              // radians
    };
    const Case cases[] = {
        {"frontal, both eyes alike", 0.0f, {10, -20}, {10, -20}, {degrees(10), degrees(-20)}},
        {"frontal, eyes differ: mean", 0.1f, {4, 6}, {8, 12}, {(degrees(4) + degrees(8)) / 2, (degrees(6) + degrees(12)) / 2}},
        {"head turned right: eye 3.6", 0.5f, {5, 10}, {-5, -10}, {degrees(-5), degrees(-10)}},
        {"head turned left: eye 3.5", -0.5f, {5, 10}, {-5, -10}, {degrees(5), degrees(10)}},
        {"limits of the search", 0.0f, {-25, 45}, {30, -45}, {(degrees(-25) + degrees(30)) / 2, 0.0f}},
    };
    for (const Case& c : cases) {
        float pose[6] = {0.05f, kPi + c.headYaw, -0.05f, 0.0f, 0.0f, 0.5f};
        model.set_pose(pose);
        model.eyeRotation[0] = model.eyeRotation[1] = 0.0f;
        model.update();
        CvMat* pupils = cvCreateMat(2, 2, CV_32FC1);
        projectPupil(model, model.deformedVertices->data.fl + 0, c.eye5[0], c.eye5[1], pupils->data.fl);
        projectPupil(model, model.deformedVertices->data.fl + 3, c.eye6[0], c.eye6[1], pupils->data.fl + 2);
        model.estimate_eye_rotations(pupils, nullptr);
        EXPECT_NEAR(model.eyeRotation[0], c.expected[0], 1e-6f) << c.label;
        EXPECT_NEAR(model.eyeRotation[1], c.expected[1], 1e-6f) << c.label;

        // Rows named by indices.
        CvMat* swapped = cvCreateMat(2, 2, CV_32FC1);
        std::memcpy(swapped->data.fl, pupils->data.fl + 2, 2 * sizeof(float));
        std::memcpy(swapped->data.fl + 2, pupils->data.fl, 2 * sizeof(float));
        int indices[2] = {1, 0};
        model.eyeRotation[0] = model.eyeRotation[1] = 0.0f;
        model.estimate_eye_rotations(swapped, indices);
        EXPECT_NEAR(model.eyeRotation[0], c.expected[0], 1e-6f) << c.label;
        cvReleaseMat(&swapped);
        cvReleaseMat(&pupils);
    }

    // Rows outside the matrix, a missing matrix: nothing changes.
    model.eyeRotation[0] = 0.125f;
    CvMat* one = cvCreateMat(1, 2, CV_32FC1);
    cvSetZero(one);
    model.estimate_eye_rotations(one, nullptr);
    int bad[2] = {0, -1};
    model.estimate_eye_rotations(one, bad);
    model.estimate_eye_rotations(nullptr, nullptr);
    EXPECT_FLOAT_EQ(model.eyeRotation[0], 0.125f);
    cvReleaseMat(&one);
}

TEST_F(HandModel, EstimateEyeRotationsAveragesAtExactlyFifteenDegrees)
{
    // The head yaw the estimate computes, in the same single precision; a
    // search over the pose finds one for which it is exactly 15.
    auto yawOf = [](float ry, float tx) { return (ry - kPi - std::atan2(tx, 0.5f)) * 180.0f / kPi; };
    float ry = kPi + 0.3f;
    float tx = 0.5f * std::tan(0.3f - 15.0f * kPi / 180.0f) - 2e-5f;
    bool found = false;
    for (int i = 0; i < 64 && !found; ++i) {
        ry = std::nextafter(ry, 10.0f);
        for (float t = tx; t < tx + 4e-5f && !found; t = std::nextafter(t, 1.0f)) {
            if (yawOf(ry, t) == 15.0f) {
                found = true;
                tx = t;
            }
        }
    }
    ASSERT_TRUE(found);
    float pose[6] = {0.0f, ry, 0.0f, tx, 0.0f, 0.5f};
    model.set_pose(pose);
    model.update();
    CvMat* pupils = cvCreateMat(4, 1, CV_32FC1);   // consecutive pairs
    projectPupil(model, model.deformedVertices->data.fl + 0, 0, 10, pupils->data.fl);
    projectPupil(model, model.deformedVertices->data.fl + 3, 0, 20, pupils->data.fl + 2);
    model.estimate_eye_rotations(pupils, nullptr);
    EXPECT_NEAR(model.eyeRotation[1], (degrees(10) + degrees(20)) / 2, 1e-6f);
    cvReleaseMat(&pupils);
}

TEST_F(HandModel, TextureCoordinatesFromProjection)
{
    struct Case
    {
        float aspect;
        float u, v;
    };
    const Case cases[] = {{4.0f / 3.0f, 0.6875f, 0.75f}, {1.0f, 0.75f, 0.75f}, {0.75f, 0.75f, 0.6875f}};
    for (const Case& c : cases) {
        model.projectedVertices->data.fl[0] = 0.5f;
        model.projectedVertices->data.fl[1] = -0.5f;
        const float* t = model.getTexCoord(c.aspect);
        ASSERT_EQ(t, model.texCoords->data.fl);
        EXPECT_FLOAT_EQ(t[0], c.u) << c.aspect;
        EXPECT_FLOAT_EQ(t[1], c.v) << c.aspect;
    }
    Candide3Model empty;
    EXPECT_EQ(empty.getTexCoord(1.0f), nullptr);
    EXPECT_EQ(empty.getTexCoordStatic(), nullptr);
}

TEST_F(HandModel, ReducedModelKeepsLinkedVerticesInPointOrder)
{
    // 9.15 shares the nose tip's vertex: that vertex is copied twice.
    model.fdp->setFPSurfVert(9, 15, "0", 2);
    model.setIPD(0.07f);
    Candide3Model reduced;
    ASSERT_TRUE(reduced.initReduced(&model));
    EXPECT_TRUE(reduced.initialized);

    // Point order: 2.1, 3.5, 3.6, 7.1, 8.4, 9.3, 9.15.
    const int source[7] = {4, 0, 1, 3, 5, 2, 2};
    const int points[7][2] = {{2, 1}, {3, 5}, {3, 6}, {7, 1}, {8, 4}, {9, 3}, {9, 15}};
    ASSERT_EQ(reduced.vertexCount, 7);
    for (int k = 0; k < 7; ++k) {
        std::string surface;
        int vertex = -1;
        ASSERT_TRUE(reduced.fdp->getFPSurfVert(points[k][0], points[k][1], surface, vertex)) << k;
        EXPECT_EQ(vertex, k);
        EXPECT_EQ(surface, "0");
        for (int c = 0; c < 3; ++c) {
            EXPECT_FLOAT_EQ(reduced.vertices->data.fl[3 * k + c], model.vertices->data.fl[3 * source[k] + c]);
            EXPECT_FLOAT_EQ(reduced.referenceVertices->data.fl[3 * k + c], model.referenceVertices->data.fl[3 * source[k] + c]);
            for (int u = 0; u < model.actionUnits->cols; ++u)
                EXPECT_FLOAT_EQ(CV_MAT_ELEM(*reduced.actionUnits, float, 3 * k + c, u),
                                CV_MAT_ELEM(*model.actionUnits, float, 3 * source[k] + c, u));
            EXPECT_FLOAT_EQ(CV_MAT_ELEM(*reduced.shapeUnits, float, 3 * k + c, 1),
                            CV_MAT_ELEM(*model.shapeUnits, float, 3 * source[k] + c, 1));
        }
    }
    EXPECT_EQ(reduced.faces->rows, 3);
    EXPECT_EQ(reduced.faces->data.i[0], 0);
    EXPECT_EQ(reduced.getTexCoordStatic(), nullptr);
    EXPECT_EQ(reduced.auValues->rows, 2);
    EXPECT_EQ(reduced.auUse->rows, 3);
    EXPECT_EQ(reduced.auLimits->rows, 4);
    EXPECT_EQ(reduced.auNameCount, 3);
    EXPECT_STREQ(reduced.auNames[2], "mouth_out");
    EXPECT_FLOAT_EQ(reduced.focus, 4.0f);
    EXPECT_EQ(reduced.processEyes, 1);
    EXPECT_FLOAT_EQ(reduced.rotation[1], kPi);
    EXPECT_FLOAT_EQ(reduced.auSensitivity->data.fl[1], 0.02f);
    // The reduced mesh has the source's scale, so it keeps its eye distance.
    EXPECT_FLOAT_EQ(reduced.getIPD(), 0.07f);

    // Same parameters, same projection of every linked point.
    float pose[6] = {0.1f, kPi - 0.2f, 0.05f, 0.01f, 0.02f, 0.6f};
    for (Candide3Model* m : {&model, &reduced}) {
        m->set_pose(pose);
        m->auValues->data.fl[1] = 0.7f;
        m->suValues->data.fl[0] = -0.4f;
        m->eyeRotation[1] = 0.2f;
        m->update();
    }
    FDP full, small;
    model.calculateFDP(&full, 640, 480, model.projectedVertices, false);
    reduced.calculateFDP(&small, 640, 480, reduced.projectedVertices, false);
    for (const auto& p : points) {
        EXPECT_NEAR(full.getFPPos(p[0], p[1])[0], small.getFPPos(p[0], p[1])[0], 1e-6f);
        EXPECT_NEAR(full.getFPPos(p[0], p[1])[1], small.getFPPos(p[0], p[1])[1], 1e-6f);
    }

    // A later setIPD scales both alike.
    model.setIPD(0.06f);
    reduced.setIPD(0.06f);
    EXPECT_FLOAT_EQ(reduced.vertices->data.fl[3 * 1], model.vertices->data.fl[0]);

    EXPECT_FALSE(reduced.initReduced(nullptr));
    Candide3Model empty;
    EXPECT_FALSE(reduced.initReduced(&empty));
    EXPECT_TRUE(reduced.initialized);
    EXPECT_TRUE(reduced.initReduced(&reduced));   // from itself
    EXPECT_EQ(reduced.vertexCount, 7);
}

// Elevation of a linked point's mean normal against the two thresholds.
TEST(Candide3ModelVisibility, ThresholdsByPoint)
{
    // One triangle in the z = 0 plane around vertex 0; pupils on loose
    // vertices.  (b - a) x (c - a) = (0, 0, -1): into the head.
    const std::string wfm = "# VERTEX LIST\n5\n0 0 0\n0 1 0\n1 0 0\n1 0 -1\n-1 0 -1\n# FACE LIST\n1\n0 1 2\n";
    const std::string fdp = "# FDP file.\n1.0 m.fdp 0 0 0 0 0 0\n    3.5 0 0 0 0.3\n    3.6 0 0 0 0.4\n"
                            "    3.7 0 0 0 0.0\n    3.12 0 0 0 0.0\n    8.5 0 0 0 0.1\n    8.6 0 0 0 0.2\n"
                            "    3.1 0 0 0 0.0\n    9.3 0 0 0 0.1\n";
    OrvixTest::TempDir dir;
    OrvixConfiguration configuration(writeModel(dir, wfm, fdp).c_str());
    Candide3Model model;
    ASSERT_TRUE(model.init(&configuration, nullptr, Candide3Model::POSE_FITTING_MODEL));

    FDP in;
    for (const auto& p : {std::make_pair(3, 7), std::make_pair(3, 12), std::make_pair(8, 5), std::make_pair(8, 6),
                          std::make_pair(3, 1), std::make_pair(9, 3), std::make_pair(3, 5), std::make_pair(2, 1)}) {
        in.setFPPos(p.first, p.second, 0.5f, 0.5f, 0.0f);
        in.setFPQuality(p.first, p.second, 0.75f);
    }
    // Pitch rx tilts the normal: elevation = 90 degrees - |rx|.
    struct Case
    {
        float elevation;
        bool wideVisible, narrowVisible;
    };
    const Case cases[] = {{1.5f, true, true}, {1.0f, true, false}, {0.8f, true, false},
                          {0.7f, false, false}, {-1.0f, false, false}};
    for (const Case& c : cases) {
        const float rx = kPi / 2.0f - c.elevation;
        float pose[6] = {rx, kPi, 0.0f, 0.0f, 0.0f, 2.0f};
        model.set_pose(pose);
        model.update();
        FDP out;
        model.setFDPPointVisibility(&in, out);
        for (const auto& p : {std::make_pair(3, 7), std::make_pair(3, 12), std::make_pair(8, 5), std::make_pair(8, 6)})
            EXPECT_EQ(out.FPIsDefined(p.first, p.second), c.wideVisible) << c.elevation << " " << p.first << "." << p.second;
        for (const auto& p : {std::make_pair(3, 1), std::make_pair(9, 3)})
            EXPECT_EQ(out.FPIsDefined(p.first, p.second), c.narrowVisible) << c.elevation << " " << p.first << "." << p.second;
        EXPECT_TRUE(out.FPIsDefined(3, 5));   // on no triangle
        EXPECT_TRUE(out.FPIsDefined(2, 1));   // not linked
        EXPECT_FLOAT_EQ(out.getFPQuality(3, 1), 0.75f);
    }

    // A face list corrupted after loading: the bad triangle is skipped.
    model.faces->data.i[1] = 999;
    FDP out;
    model.setFDPPointVisibility(&in, out);
    EXPECT_TRUE(out.FPIsDefined(3, 1));
    model.faces->data.i[1] = -7;
    model.setFDPPointVisibility(&in, out);
    EXPECT_TRUE(out.FPIsDefined(3, 1));
}

TEST_F(HandModel, CopiesAreIndependentAndSwapExchanges)
{
    model.auValues->data.fl[0] = 0.5f;
    model.update();
    Candide3Model copy(model);
    EXPECT_NE(copy.vertices, model.vertices);
    EXPECT_NE(copy.fdp, model.fdp);
    EXPECT_NE(copy.auNames, model.auNames);
    EXPECT_FLOAT_EQ(copy.auValues->data.fl[0], 0.5f);
    EXPECT_FLOAT_EQ(copy.projectedVertices->data.fl[5], model.projectedVertices->data.fl[5]);

    copy.vertices->data.fl[0] = 9.0f;
    copy.auValues->data.fl[0] = -1.0f;
    copy.auNames[0][0] = 'X';
    copy.fdp->setFPSurfVert(9, 3, "0", 1);
    copy.rotation[0] = 1.0f;
    EXPECT_FLOAT_EQ(model.vertices->data.fl[0], 0.0325f);
    EXPECT_FLOAT_EQ(model.auValues->data.fl[0], 0.5f);
    EXPECT_STREQ(model.auNames[0], "nose_up");
    EXPECT_EQ(model.fdp->getFP(9, 3).vertexIndex, 2);
    EXPECT_FLOAT_EQ(model.rotation[0], 0.0f);

    Candide3Model assigned;
    assigned = copy;
    EXPECT_FLOAT_EQ(assigned.vertices->data.fl[0], 9.0f);
    assigned = assigned;   // self-assignment keeps the content
    EXPECT_FLOAT_EQ(assigned.vertices->data.fl[0], 9.0f);

    Candide3Model empty;
    Candide3Model::swap(empty, copy);
    EXPECT_EQ(copy.vertices, nullptr);
    EXPECT_FALSE(copy.initialized);
    EXPECT_TRUE(empty.initialized);
    EXPECT_FLOAT_EQ(empty.vertices->data.fl[0], 9.0f);
    EXPECT_EQ(empty.auNameCount, 3);

    // Operations on an empty model do nothing and do not fail.
    copy.update();
    copy.reset_pose(nullptr, 1.0f);
    copy.setIPD(0.07f);
    copy.scaleToEyeDistance();
    FDP points;
    copy.setFDPIndices(&points);
    copy.calculateFDP(&points, 640, 480, nullptr, false);
    float r[3], t[3], c[3];
    copy.calculatePose(r, t, c);
    EXPECT_EQ(c[0], 0.0f);
    FDP out;
    copy.setFDPPointVisibility(&points, out);
    EXPECT_EQ(copy.calculateFittingError(&points, 640, 480, 1.0f).maxIndex, -1);
}

// ---------------------------------------------------------------------------
// Synthetic meshes of the shared fixture writer

class SyntheticMesh : public ::testing::TestWithParam<int>
{
};

TEST_P(SyntheticMesh, LoadsAllThreeModelsWithLinkedPoints)
{
    OrvixTest::TempDir dir;
    OrvixTest::CandideMeshOptions meshOptions;
    meshOptions.vertexCount = GetParam();
    meshOptions.linkedPoints = 100;
    const std::string path = OrvixTest::writeCandideMesh(dir, meshOptions);
    OrvixConfiguration configuration(path.c_str());
    for (int type = 1; type <= 3; ++type) {
        Candide3Model model;
        ASSERT_TRUE(model.init(&configuration, nullptr, static_cast<Candide3Model::MODEL_TYPE>(type))) << type;
        EXPECT_EQ(model.vertexCount, GetParam());
        EXPECT_FLOAT_EQ(model.focus, 3.0f);
        ASSERT_NE(model.actionUnits, nullptr);
        EXPECT_EQ(model.actionUnits->cols, meshOptions.actionUnits);
        ASSERT_NE(model.shapeUnits, nullptr);
        EXPECT_EQ(model.shapeUnits->cols, meshOptions.shapeUnits);

        int linked = 0;
        std::string surface;
        int vertex = -1;
        for (int g = FDP::firstGroup; g <= FDP::lastGroup; ++g)
            for (int i = 1; i <= FDP::groupSize(g); ++i)
                linked += model.fdp->getFPSurfVert(g, i, surface, vertex) ? 1 : 0;
        EXPECT_EQ(linked, 100);

        // Pupils scaled to 0.065 apart around the origin.
        int p5 = -1, p6 = -1;
        ASSERT_TRUE(model.fdp->getFPSurfVert(3, 5, surface, p5));
        ASSERT_TRUE(model.fdp->getFPSurfVert(3, 6, surface, p6));
        const float* v = model.vertices->data.fl;
        EXPECT_NEAR(std::hypot(v[3 * p5] - v[3 * p6], v[3 * p5 + 1] - v[3 * p6 + 1]), 0.065f, 1e-6f);
        EXPECT_GT(v[3 * p5], 0.0f);

        // Facing the camera, the pupils, nose and mouth are visible and the
        // reset pose puts the projected face on the detected points.
        float pose[6] = {0.0f, kPi, 0.0f, 0.0f, 0.0f, 0.6f};
        model.set_pose(pose);
        model.update();
        FDP all;
        model.setFDPIndices(&all);
        FDP visible;
        model.setFDPPointVisibility(&all, visible);
        if (GetParam() >= 100) {   // a 20-vertex head is too coarse for that
            EXPECT_TRUE(visible.FPIsDefined(3, 5));
            EXPECT_TRUE(visible.FPIsDefined(3, 6));
            EXPECT_TRUE(visible.FPIsDefined(9, 3));
        }
        EXPECT_FALSE(visible.FPIsDefined(7, 1));   // back of the head

        FDP detected;
        model.calculateFDP(&detected, 640, 480, model.projectedVertices, false);
        FDP downward(detected);
        for (int g = FDP::firstGroup; g <= FDP::lastGroup; ++g)
            for (int i = 1; i <= FDP::groupSize(g); ++i)
                if (detected.FPIsDefined(g, i))
                    downward.setFPPos(g, i, detected.getFPPos(g, i)[0], 1.0f - detected.getFPPos(g, i)[1], 0.0f);
        Candide3Model fresh(model);
        fresh.reset_pose(&downward, 640.0f / 480.0f);
        EXPECT_NEAR(fresh.rotation[1], kPi, 1e-6f);
        EXPECT_NEAR(fresh.translation[0], 0.0f, 1e-3f);
        EXPECT_GT(fresh.translation[2], 0.3f);
        EXPECT_LT(fresh.translation[2], 1.2f);
    }
}

INSTANTIATE_TEST_SUITE_P(VertexCounts, SyntheticMesh, ::testing::Values(20, 100, 500));

}  // namespace
