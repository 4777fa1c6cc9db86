#ifndef ORVIX_TESTS_FITTING_FITTINGTESTSUPPORT_H
#define ORVIX_TESTS_FITTING_FITTINGTESTSUPPORT_H

// Shared helpers of the fitting tests and benchmarks: a synthetic face
// model built through the public fields of Candide3Model or loaded from the
// mesh files of CandideTestMesh.h, posing it with
// known parameters, projecting its linked points into an FDP (optionally
// with pixel noise) in double precision, and comparing fitted parameters
// with the known ones.

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <opencv2/core/core_c.h>

#include "OrvixSDK/Candide3Model.h"
#include "OrvixSDK/FDP.h"
#include "OrvixSDK/OrvixConfiguration.h"
#include "libVision/facemodel/CandideTestMesh.h"

namespace OrvixTest {

const double kPi = 3.14159265358979323846;

inline double degrees(double radians)
{
    return radians * 180.0 / kPi;
}

inline double radians(double degreesValue)
{
    return degreesValue * kPi / 180.0;
}

// Pose and unit values of a face.  Rotation as the model holds it: ry = pi
// faces the camera.
struct FaceParams
{
    double rotation[3] = {0.0, kPi, 0.0};
    double translation[3] = {0.0, 0.0, 0.6};
    std::vector<double> su;
    std::vector<double> au;
};

// What the synthetic model looks like.
struct SyntheticModelLayout
{
    int vertexCount = 100;
    int linkedPoints = 100;     // feature points linked to vertices (3.5, 3.6, 9.3 included)
    int suCount = 6;
    int auCount = 6;
    float focus = 3.0f;
    float poseSensitivity = 1.0f;
    float suSensitivity = 0.5f;
    float auSensitivity = 0.5f;
    unsigned seed = 7;
};

inline CvMat* filledMat(int rows, int cols, int type, double value)
{
    CvMat* m = cvCreateMat(rows, cols, type);
    cvSet(m, cvScalarAll(value));
    return m;
}

inline CvMat* vectorMat(const std::vector<float>& values)
{
    CvMat* m = cvCreateMat(int(values.size()), 1, CV_32FC1);
    std::copy(values.begin(), values.end(), m->data.fl);
    return m;
}

// A face-like mesh in metres with its origin at the pupil midpoint, the
// pupils (3.5 at x = +0.0325, 3.6 at x = -0.0325) and the nose tip (9.3)
// at vertices 0, 1 and 2 and further feature points of groups 2 to 17, in
// order, linked to the other vertices in turn.  Each unit moves about a
// third of the vertices by a few millimetres.  Limits and sensitivities
// are those of an ordinary configuration; action unit u has the limits
// (-1 + 0.1u, 1 + 0.1u).  The model is initialised and posed frontally at
// 0.6 m.
inline std::unique_ptr<OrvixSDK::Candide3Model> makeSyntheticModel(const SyntheticModelLayout& layout = {})
{
    using OrvixSDK::FDP;
    std::unique_ptr<OrvixSDK::Candide3Model> model(new OrvixSDK::Candide3Model());
    const int n = std::max(layout.vertexCount, 4);
    std::mt19937 rng(layout.seed);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    std::normal_distribution<double> gauss(0.0, 1.0);

    model->vertices = cvCreateMat(3 * n, 1, CV_32FC1);
    float* v = model->vertices->data.fl;
    const float fixed[9] = {0.0325f, 0.0f, 0.0f, -0.0325f, 0.0f, 0.0f, 0.0f, -0.045f, 0.035f};
    std::copy(fixed, fixed + 9, v);
    for (int i = 3; i < n; ++i)
    {
        const double x = 0.07 * unit(rng);
        const double y = -0.03 + 0.08 * unit(rng);
        const double bulge = 1.0 - (x / 0.09) * (x / 0.09) - ((y + 0.03) / 0.13) * ((y + 0.03) / 0.13);
        v[3 * i] = float(x);
        v[3 * i + 1] = float(y);
        v[3 * i + 2] = float(0.04 * bulge - 0.02);
    }
    model->referenceVertices = cvCloneMat(model->vertices);
    model->vertexCount = n;

    auto makeBasis = [&](int units) -> CvMat* {
        if (units <= 0)
            return nullptr;
        CvMat* basis = filledMat(3 * n, units, CV_32FC1, 0.0);
        std::uniform_real_distribution<double> pick(0.0, 1.0);
        for (int i = 3; i < n; ++i)
            for (int u = 0; u < units; ++u)
                if (pick(rng) < 0.35)
                    for (int k = 0; k < 3; ++k)
                        CV_MAT_ELEM(*basis, float, 3 * i + k, u) = float(0.006 * gauss(rng));
        return basis;
    };
    model->shapeUnits = makeBasis(layout.suCount);
    model->actionUnits = makeBasis(layout.auCount);
    if (layout.suCount > 0)
    {
        model->suUse = filledMat(layout.suCount, 1, CV_32SC1, 1);
        model->suValues = filledMat(layout.suCount, 1, CV_32FC1, 0);
        model->suSensitivity = filledMat(layout.suCount, 1, CV_32FC1, layout.suSensitivity);
    }
    if (layout.auCount > 0)
    {
        model->auUse = filledMat(layout.auCount, 1, CV_32SC1, 1);
        model->auValues = filledMat(layout.auCount, 1, CV_32FC1, 0);
        model->auSensitivity = filledMat(layout.auCount, 1, CV_32FC1, layout.auSensitivity);
        model->auLimits = cvCreateMat(2 * layout.auCount, 1, CV_32FC1);
        for (int u = 0; u < layout.auCount; ++u)
        {
            model->auLimits->data.fl[2 * u] = -1.0f + 0.1f * float(u);
            model->auLimits->data.fl[2 * u + 1] = 1.0f + 0.1f * float(u);
        }
    }
    model->poseSensitivity = filledMat(6, 1, CV_32FC1, layout.poseSensitivity);
    const float pi = float(kPi);
    model->rotationLimits = vectorMat({-1.2f, 1.2f, pi - 1.6f, pi + 1.6f, -1.0f, 1.0f});
    model->translationLimits = vectorMat({-0.5f, 0.5f, -0.5f, 0.5f, 0.1f, 3.0f});

    model->faces = cvCreateMat(3, 1, CV_32SC1);
    model->faces->data.i[0] = 0;
    model->faces->data.i[1] = 1;
    model->faces->data.i[2] = 2;
    model->deformedVertices = filledMat(3 * n, 1, CV_32FC1, 0);
    model->transformedVertices = filledMat(3 * n, 1, CV_32FC1, 0);
    model->projectedVertices = filledMat(2 * n, 1, CV_32FC1, 0);
    model->texCoords = filledMat(2 * n, 1, CV_32FC1, 0);

    model->fdp = new FDP();
    model->fdp->setFPSurfVert(3, 5, "0", 0);
    model->fdp->setFPSurfVert(3, 6, "0", 1);
    model->fdp->setFPSurfVert(9, 3, "0", 2);
    int linked = 3;
    int nextVertex = 3;
    for (int g = FDP::firstGroup; g <= FDP::lastGroup && linked < layout.linkedPoints; ++g)
    {
        for (int i = 1; i <= FDP::groupSize(g) && linked < layout.linkedPoints; ++i)
        {
            if ((g == 3 && (i == 5 || i == 6)) || (g == 9 && i == 3))
                continue;
            model->fdp->setFPSurfVert(g, i, "0", nextVertex);
            nextVertex = nextVertex + 1 < n ? nextVertex + 1 : 3;
            ++linked;
        }
    }

    model->focus = layout.focus;
    model->scale = 1.0f;
    model->rotation[0] = 0.0f;
    model->rotation[1] = pi;
    model->rotation[2] = 0.0f;
    model->translation[0] = 0.0f;
    model->translation[1] = 0.0f;
    model->translation[2] = 0.6f;
    model->initialized = true;
    return model;
}

// A model loaded through Candide3Model::init from the synthetic mesh files
// that CandideTestMesh.h writes into dir; null when loading fails.
inline std::unique_ptr<OrvixSDK::Candide3Model> loadTestMesh(
    TempDir& dir, const CandideMeshOptions& layout,
    OrvixSDK::Candide3Model::MODEL_TYPE type = OrvixSDK::Candide3Model::MESH_FITTING_MODEL)
{
    const std::string path = writeCandideMesh(dir, layout);
    OrvixSDK::OrvixConfiguration configuration(path.c_str());
    std::unique_ptr<OrvixSDK::Candide3Model> model(new OrvixSDK::Candide3Model());
    if (!model->init(&configuration, nullptr, type))
        return nullptr;
    model->translation[2] = 0.6f;
    return model;
}

// Writes the parameters into the model's fields (units beyond the given
// vectors are set to 0).
inline void setModelParams(OrvixSDK::Candide3Model& model, const FaceParams& p)
{
    for (int i = 0; i < 3; ++i)
    {
        model.rotation[i] = float(p.rotation[i]);
        model.translation[i] = float(p.translation[i]);
    }
    for (int u = 0; model.suValues != nullptr && u < model.suValues->rows; ++u)
        model.suValues->data.fl[u] = u < int(p.su.size()) ? float(p.su[size_t(u)]) : 0.0f;
    for (int u = 0; model.auValues != nullptr && u < model.auValues->rows; ++u)
        model.auValues->data.fl[u] = u < int(p.au.size()) ? float(p.au[size_t(u)]) : 0.0f;
}

// R = Ry * Rx * Rz in double.
inline void rotationMatrix(const double* r, double R[3][3])
{
    const double sx = std::sin(r[0]), cx = std::cos(r[0]);
    const double sy = std::sin(r[1]), cy = std::cos(r[1]);
    const double sz = std::sin(r[2]), cz = std::cos(r[2]);
    const double m[3][3] = {{cy * cz + sx * sy * sz, sx * sy * cz - cy * sz, sy * cx},
                            {cx * sz, cx * cz, -sx},
                            {sx * cy * sz - sy * cz, sy * sz + sx * cy * cz, cx * cy}};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            R[i][j] = m[i][j];
}

// Camera-space position of vertex `vertex` of the model posed and deformed
// with the given parameters (double precision, no eye offset).
inline void posedVertex(const OrvixSDK::Candide3Model& model, const FaceParams& p, int vertex, double* out)
{
    double q[3];
    for (int k = 0; k < 3; ++k)
    {
        const int row = 3 * vertex + k;
        double value = model.vertices->data.fl[row];
        for (int u = 0; model.shapeUnits != nullptr && u < int(p.su.size()) && u < model.shapeUnits->cols; ++u)
            value += p.su[size_t(u)] * CV_MAT_ELEM(*model.shapeUnits, float, row, u);
        for (int u = 0; model.actionUnits != nullptr && u < int(p.au.size()) && u < model.actionUnits->cols; ++u)
            value += p.au[size_t(u)] * CV_MAT_ELEM(*model.actionUnits, float, row, u);
        q[k] = value;
    }
    double R[3][3];
    rotationMatrix(p.rotation, R);
    for (int i = 0; i < 3; ++i)
        out[i] = model.scale * (R[i][0] * q[0] + R[i][1] * q[1] + R[i][2] * q[2]) + p.translation[i];
}

// The model's linked feature points as seen in a width x height image:
// normalised positions with y measured downward from the top edge, marked
// defined and detected.  noisePixels > 0 adds Gaussian noise of that
// standard deviation (in pixels) to each coordinate.
inline OrvixSDK::FDP projectToFDP(const OrvixSDK::Candide3Model& model, const FaceParams& p, int width,
                                  int height, double noisePixels = 0.0, unsigned seed = 1)
{
    using OrvixSDK::FDP;
    FDP points;
    std::mt19937 rng(seed);
    std::normal_distribution<double> gauss(0.0, noisePixels > 0.0 ? noisePixels : 1.0);
    const double ax = width > height ? double(width) / height : 1.0;
    const double ay = height > width ? double(height) / width : 1.0;
    for (int g = FDP::firstGroup; g <= FDP::lastGroup; ++g)
    {
        for (int i = 1; i <= FDP::groupSize(g); ++i)
        {
            std::string surface;
            int vertex = -1;
            if (!model.fdp->getFPSurfVert(g, i, surface, vertex) || vertex < 0 || vertex >= model.vertexCount)
                continue;
            double c[3];
            posedVertex(model, p, vertex, c);
            const double u = model.focus * c[0] / c[2];
            const double v = model.focus * c[1] / c[2];
            double x = 0.5 * (1.0 - u / ax);
            double y = 0.5 * (1.0 - v / ay);
            if (noisePixels > 0.0)
            {
                x += gauss(rng) / width;
                y += gauss(rng) / height;
            }
            points.setFPPos(g, i, float(x), float(y), 0.0f);
            points.getFP(g, i).detected = 1;
        }
    }
    return points;
}

// The model's current pose and unit values.
inline FaceParams paramsOf(const OrvixSDK::Candide3Model& model)
{
    FaceParams p;
    for (int i = 0; i < 3; ++i)
    {
        p.rotation[i] = model.rotation[i];
        p.translation[i] = model.translation[i];
    }
    for (int u = 0; model.suValues != nullptr && u < model.suValues->rows; ++u)
        p.su.push_back(model.suValues->data.fl[u]);
    for (int u = 0; model.auValues != nullptr && u < model.auValues->rows; ++u)
        p.au.push_back(model.auValues->data.fl[u]);
    return p;
}

// Root mean square distance in pixels between the points defined in both
// sets.
inline double rmsPixels(const OrvixSDK::FDP& a, const OrvixSDK::FDP& b, int width, int height)
{
    using OrvixSDK::FDP;
    double sum = 0.0;
    int count = 0;
    for (int g = FDP::firstGroup; g <= FDP::lastGroup; ++g)
    {
        for (int i = 1; i <= FDP::groupSize(g); ++i)
        {
            if (!a.FPIsDefined(g, i) || !b.FPIsDefined(g, i))
                continue;
            const double dx = (a.getFPPos(g, i)[0] - b.getFPPos(g, i)[0]) * width;
            const double dy = (a.getFPPos(g, i)[1] - b.getFPPos(g, i)[1]) * height;
            sum += dx * dx + dy * dy;
            ++count;
        }
    }
    return count > 0 ? std::sqrt(sum / count) : 0.0;
}

// How far the model's parameters are from the known ones.
struct ParamError
{
    double rotationDegrees = 0.0;   // largest per-axis difference
    double translationRelative = 0.0;   // |t - t0| / |t0|
    double suMax = 0.0;             // largest absolute unit difference
    double auMax = 0.0;
};

inline ParamError compareParameters(const OrvixSDK::Candide3Model& model, const FaceParams& truth)
{
    ParamError e;
    double dt = 0.0, t0 = 0.0;
    for (int i = 0; i < 3; ++i)
    {
        e.rotationDegrees = std::max(e.rotationDegrees, std::fabs(degrees(model.rotation[i] - truth.rotation[i])));
        dt += (model.translation[i] - truth.translation[i]) * (model.translation[i] - truth.translation[i]);
        t0 += truth.translation[i] * truth.translation[i];
    }
    e.translationRelative = std::sqrt(dt / t0);
    for (int u = 0; model.suValues != nullptr && u < model.suValues->rows; ++u)
    {
        const double want = u < int(truth.su.size()) ? truth.su[size_t(u)] : 0.0;
        e.suMax = std::max(e.suMax, std::fabs(model.suValues->data.fl[u] - want));
    }
    for (int u = 0; model.auValues != nullptr && u < model.auValues->rows; ++u)
    {
        const double want = u < int(truth.au.size()) ? truth.au[size_t(u)] : 0.0;
        e.auMax = std::max(e.auMax, std::fabs(model.auValues->data.fl[u] - want));
    }
    return e;
}

}  // namespace OrvixTest

#endif
