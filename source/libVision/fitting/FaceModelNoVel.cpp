#include "fitting/FaceModelNoVel.h"

#include <cmath>
#include <cstdint>

#include <opencv2/core/core_c.h>

#include "support/OptionalCv.h"

namespace OrvixSDK
{

namespace
{

// Counts above these are refused by Create: they cannot come from a mesh
// and would overflow the matrix sizes.
const unsigned maxPointCount = 1000000u;
const unsigned maxUnitCount = 100000u;
const int64_t maxMatrixElements = int64_t(1) << 30;

// Data of a continuous one-channel float matrix with exactly `count`
// elements, or null.
float* floatData(CvMat* m, unsigned count)
{
    if (m == nullptr || CV_MAT_TYPE(m->type) != CV_32FC1 || !CV_IS_MAT_CONT(m->type))
        return nullptr;
    if (int64_t(m->rows) * m->cols != int64_t(count))
        return nullptr;
    return m->data.fl;
}

bool isFloatMatrix(const CvMat* m, unsigned rows, unsigned cols)
{
    return m != nullptr && CV_MAT_TYPE(m->type) == CV_32FC1 && unsigned(m->rows) == rows &&
           unsigned(m->cols) == cols;
}

// Element i of a vector of any element type, or `fallback` when the vector
// is null or shorter.
double elementOr(const CvMat* v, int i, double fallback)
{
    if (v == nullptr || i >= elementCount(v) || !CV_IS_MAT_CONT(v->type) || CV_MAT_CN(v->type) != 1)
        return fallback;
    return cvGetReal1D(v, i);
}

void setElement(CvMat* v, int i, double value)
{
    if (v != nullptr && i < elementCount(v) && CV_IS_MAT_CONT(v->type) && CV_MAT_CN(v->type) == 1)
        cvSetReal1D(v, i, value);
}

float clampState(float s)
{
    if (!(s >= -FaceModelNoVel::stateClamp))   // also catches NaN
        return std::isnan(s) ? 0.0f : -FaceModelNoVel::stateClamp;
    if (s > FaceModelNoVel::stateClamp)
        return FaceModelNoVel::stateClamp;
    return s;
}

// Plain 3 x 3 rotation algebra in double.
struct Mat3
{
    double a[3][3];

    Mat3 operator*(const Mat3& o) const
    {
        Mat3 r;
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j)
                r.a[i][j] = a[i][0] * o.a[0][j] + a[i][1] * o.a[1][j] + a[i][2] * o.a[2][j];
        return r;
    }

    void apply(const double* p, double* out) const
    {
        for (int i = 0; i < 3; ++i)
            out[i] = a[i][0] * p[0] + a[i][1] * p[1] + a[i][2] * p[2];
    }
};

// R = Ry * Rx * Rz and its derivatives with respect to rx, ry and rz.
// Zeroes the square matrix m and writes value(diagonal[i]) on its diagonal.
template <typename Value>
void fillDiagonal(CvMat* m, const CvMat* diagonal, unsigned n, Value value)
{
    cvSetZero(m);
    for (unsigned i = 0; i < n; ++i)
        CV_MAT_ELEM(*m, float, i, i) = value(diagonal->data.fl[i]);
}

struct Rotation
{
    Mat3 r;
    Mat3 d[3];

    explicit Rotation(const float* angles)
    {
        const double sx = std::sin(double(angles[0])), cx = std::cos(double(angles[0]));
        const double sy = std::sin(double(angles[1])), cy = std::cos(double(angles[1]));
        const double sz = std::sin(double(angles[2])), cz = std::cos(double(angles[2]));
        const Mat3 rx = {{{1, 0, 0}, {0, cx, -sx}, {0, sx, cx}}};
        const Mat3 ry = {{{cy, 0, sy}, {0, 1, 0}, {-sy, 0, cy}}};
        const Mat3 rz = {{{cz, -sz, 0}, {sz, cz, 0}, {0, 0, 1}}};
        const Mat3 drx = {{{0, 0, 0}, {0, -sx, -cx}, {0, cx, -sx}}};
        const Mat3 dry = {{{-sy, 0, cy}, {0, 0, 0}, {-cy, 0, -sy}}};
        const Mat3 drz = {{{-sz, -cz, 0}, {cz, -sz, 0}, {0, 0, 0}}};
        r = ry * rx * rz;
        d[0] = ry * drx * rz;
        d[1] = dry * rx * rz;
        d[2] = ry * rx * drz;
    }
};

} // namespace

FaceModelNoVel::FaceModelNoVel()
    : baseShape(nullptr), pointCount(0), auBasis(nullptr), auValues(nullptr), auUse(nullptr), auCount(0),
      auRange(nullptr), suBasis(nullptr), suValues(nullptr), suUse(nullptr), suCount(0), suRange(nullptr),
      focus(0.0f), scale(1.0f), processNoise(nullptr), observationNoise(nullptr), shapeWork(nullptr),
      deformedWork(nullptr), posedWork(nullptr), vertexCount(0), rotation{0.0f, 0.0f, 0.0f},
      translation{0.0f, 0.0f, 0.0f}
{
}

FaceModelNoVel::~FaceModelNoVel()
{
    Destroy();
}

float FaceModelNoVel::unitValue(float state, float halfRange, float centre)
{
    return float(std::tanh(double(clampState(state))) * halfRange + centre);
}

float FaceModelNoVel::unitState(float value, float halfRange, float centre)
{
    if (!std::isfinite(value) || !std::isfinite(halfRange) || !std::isfinite(centre) || halfRange == 0.0f)
        return 0.0f;
    const double x = (double(value) - centre) / halfRange;
    const double limit = std::tanh(double(stateClamp));
    if (x >= limit)
        return stateClamp;
    if (x <= -limit)
        return -stateClamp;
    return clampState(float(0.5 * (std::log(1.0 + x) - std::log(1.0 - x))));
}

bool FaceModelNoVel::Create(unsigned auCountIn, unsigned suCountIn, unsigned vertexCountIn,
                            unsigned pointCountIn, float focusIn, float scaleIn, const float* auLimits,
                            int mask)
{
    if (created)
        Destroy();
    if (pointCountIn == 0 || pointCountIn > maxPointCount || auCountIn > maxUnitCount ||
        suCountIn > maxUnitCount)
        return false;
    const int64_t rows = int64_t(3) * pointCountIn;
    if (rows * (int64_t(auCountIn) + suCountIn + 1) > maxMatrixElements)
        return false;
    setLayout(mask, suCountIn, auCountIn, pointCountIn);
    if (stateCount == 0)
    {
        setLayout(0, 0, 0, 0);
        return false;
    }

    try
    {
        pointCount = int(pointCountIn);
        auCount = int(auCountIn);
        suCount = int(suCountIn);
        vertexCount = int(vertexCountIn);
        focus = focusIn;
        scale = scaleIn;

        baseShape = cvCreateMat(int(rows), 1, CV_32FC1);
        cvSetZero(baseShape);
        shapeWork = cvCloneMat(baseShape);
        deformedWork = cvCloneMat(baseShape);
        posedWork = cvCloneMat(baseShape);
        if (auCount > 0)
        {
            auBasis = cvCreateMat(int(rows), auCount, CV_32FC1);
            auValues = cvCreateMat(auCount, 1, CV_32FC1);
            auUse = cvCreateMat(auCount, 1, CV_32SC1);
            auRange = cvCreateMat(2 * auCount, 1, CV_32FC1);
            cvSetZero(auBasis);
            cvSetZero(auValues);
            cvSetZero(auUse);
            for (int u = 0; u < auCount; ++u)
            {
                // Without limits a unit spans the model's default range -10..10.
                const float low = auLimits != nullptr ? auLimits[2 * u] : -10.0f;
                const float high = auLimits != nullptr ? auLimits[2 * u + 1] : 10.0f;
                auRange->data.fl[2 * u] = (high - low) / 2.0f;
                auRange->data.fl[2 * u + 1] = (low + high) / 2.0f;
            }
        }
        if (suCount > 0)
        {
            suBasis = cvCreateMat(int(rows), suCount, CV_32FC1);
            suValues = cvCreateMat(suCount, 1, CV_32FC1);
            suUse = cvCreateMat(suCount, 1, CV_32SC1);
            suRange = cvCreateMat(2 * suCount, 1, CV_32FC1);
            cvSetZero(suBasis);
            cvSetZero(suValues);
            cvSetZero(suUse);
            for (int u = 0; u < suCount; ++u)
            {
                suRange->data.fl[2 * u] = 1.0f;
                suRange->data.fl[2 * u + 1] = 0.0f;
            }
        }
        processNoise = cvCreateMat(int(stateCount), 1, CV_32FC1);
        observationNoise = cvCreateMat(int(observationCount), 1, CV_32FC1);
        cvSet(processNoise, cvScalarAll(1.0));
        cvSet(observationNoise, cvScalarAll(1.0));
        unitSlopes.assign(size_t(suCount + auCount), 0.0);
    }
    catch (...)
    {
        Destroy();
        return false;
    }
    rotation[0] = rotation[1] = rotation[2] = 0.0f;
    translation[0] = translation[1] = translation[2] = 0.0f;
    created = true;
    return true;
}

void FaceModelNoVel::Destroy()
{
    for (CvMat** m : {&baseShape, &auBasis, &auValues, &auUse, &auRange, &suBasis, &suValues, &suUse,
                      &suRange, &processNoise, &observationNoise, &shapeWork, &deformedWork, &posedWork})
        releaseAndClear(*m);
    pointCount = auCount = suCount = vertexCount = 0;
    unitSlopes.clear();
    created = false;
    setLayout(0, 0, 0, 0);
}

bool FaceModelNoVel::SetNoiseCovariance(const CvMat* poseNoise, const CvMat* suNoise, const CvMat* auNoise)
{
    if (!created)
        return false;
    float* q = processNoise->data.fl;
    auto fill = [q](unsigned offset, int count, const CvMat* noise) {
        for (int i = 0; i < count; ++i)
        {
            float v = float(elementOr(noise, i, defaultProcessNoise));
            q[offset + unsigned(i)] = v == 0.0f ? zeroProcessNoise : v;
        }
    };
    if ((stateMask & STATE_POSE) != 0)
        fill(0, 6, poseNoise);
    if ((stateMask & STATE_SHAPE_UNITS) != 0)
        fill(suOffset, suCount, suNoise);
    if ((stateMask & STATE_ACTION_UNITS) != 0)
        fill(auOffset, auCount, auNoise);
    return true;
}

bool FaceModelNoVel::SetInitialState(const float* rotationIn, const float* translationIn,
                                     const CvMat* suValuesIn, const CvMat* auValuesIn, CvMat* state)
{
    float* x = created ? floatData(state, stateCount) : nullptr;
    if (x == nullptr)
        return false;
    for (int i = 0; i < 3; ++i)
    {
        if (rotationIn != nullptr)
            rotation[i] = rotationIn[i];
        if (translationIn != nullptr)
            translation[i] = translationIn[i];
    }
    if ((stateMask & STATE_POSE) != 0)
    {
        for (int i = 0; i < 3; ++i)
        {
            x[i] = rotation[i];
            x[3 + i] = translation[i];
        }
    }
    if ((stateMask & STATE_SHAPE_UNITS) != 0)
    {
        for (int u = 0; u < suCount; ++u)
        {
            const float half = suRange->data.fl[2 * u], centre = suRange->data.fl[2 * u + 1];
            x[suOffset + unsigned(u)] = unitState(float(elementOr(suValuesIn, u, centre)), half, centre);
        }
    }
    if ((stateMask & STATE_ACTION_UNITS) != 0)
    {
        for (int u = 0; u < auCount; ++u)
        {
            const float half = auRange->data.fl[2 * u], centre = auRange->data.fl[2 * u + 1];
            x[auOffset + unsigned(u)] = unitState(float(elementOr(auValuesIn, u, centre)), half, centre);
        }
    }
    return true;
}

bool FaceModelNoVel::ExtractData(float* rotationOut, float* translationOut, CvMat* suValuesOut,
                                 CvMat* auValuesOut, CvMat* state)
{
    float* x = created ? floatData(state, stateCount) : nullptr;
    if (x == nullptr)
        return false;
    if ((stateMask & STATE_POSE) != 0)
    {
        for (int i = 0; i < 3; ++i)
        {
            if (rotationOut != nullptr)
                rotationOut[i] = x[i];
            if (translationOut != nullptr)
                translationOut[i] = x[3 + i];
        }
    }
    if ((stateMask & STATE_SHAPE_UNITS) != 0)
    {
        for (int u = 0; u < suCount; ++u)
        {
            float& s = x[suOffset + unsigned(u)];
            s = clampState(s);
            setElement(suValuesOut, u, unitValue(s, suRange->data.fl[2 * u], suRange->data.fl[2 * u + 1]));
        }
    }
    if ((stateMask & STATE_ACTION_UNITS) != 0)
    {
        for (int u = 0; u < auCount; ++u)
        {
            float& s = x[auOffset + unsigned(u)];
            s = clampState(s);
            setElement(auValuesOut, u, unitValue(s, auRange->data.fl[2 * u], auRange->data.fl[2 * u + 1]));
        }
    }
    return true;
}

bool FaceModelNoVel::PredictState(CvMat* predicted, CvMat* state)
{
    float* out = created ? floatData(predicted, stateCount) : nullptr;
    const float* in = created ? floatData(state, stateCount) : nullptr;
    if (out == nullptr || in == nullptr)
        return false;
    for (unsigned i = 0; i < stateCount; ++i)
        out[i] = in[i];
    return true;
}

bool FaceModelNoVel::ProcessJacobian(CvMat* F)
{
    if (!created || !isFloatMatrix(F, stateCount, stateCount))
        return false;
    cvSetIdentity(F);
    return true;
}

bool FaceModelNoVel::ProcessNoise(CvMat* Q)
{
    if (!created || !isFloatMatrix(Q, stateCount, stateCount))
        return false;
    fillDiagonal(Q, processNoise, stateCount, [](float q) { return q; });
    return true;
}

bool FaceModelNoVel::ProcessNoiseInv(CvMat* Qinv)
{
    if (!created || !isFloatMatrix(Qinv, stateCount, stateCount))
        return false;
    // A tiny (or meaningless) noise pins its state.
    fillDiagonal(Qinv, processNoise, stateCount, [](float q) { return q > 1e-9f ? 1.0f / q : 1e10f; });
    return true;
}

bool FaceModelNoVel::ObservationNoise(CvMat* R)
{
    if (!created || !isFloatMatrix(R, observationCount, observationCount))
        return false;
    fillDiagonal(R, observationNoise, observationCount, [](float r) { return r; });
    return true;
}

bool FaceModelNoVel::ObservationNoiseInv(CvMat* Rinv)
{
    if (!created || !isFloatMatrix(Rinv, observationCount, observationCount))
        return false;
    fillDiagonal(Rinv, observationNoise, observationCount, [](float r) { return r > 1e-8f ? 1.0f / r : 1e8f; });
    return true;
}

void FaceModelNoVel::evaluate(CvMat* observationOut, CvMat* state)
{
    float pose[6] = {rotation[0], rotation[1], rotation[2], translation[0], translation[1], translation[2]};
    ExtractData(pose, pose + 3, suValues, auValues, state);

    const int rows = 3 * pointCount;
    const float* base = baseShape->data.fl;
    float* shape = shapeWork->data.fl;
    float* deformed = deformedWork->data.fl;
    float* posed = posedWork->data.fl;
    for (int r = 0; r < rows; ++r)
    {
        double v = base[r];
        if (suBasis != nullptr)
        {
            const float* b = reinterpret_cast<const float*>(suBasis->data.ptr + size_t(r) * suBasis->step);
            for (int u = 0; u < suCount; ++u)
                v += double(b[u]) * suValues->data.fl[u];
        }
        shape[r] = float(v);
        if (auBasis != nullptr)
        {
            const float* b = reinterpret_cast<const float*>(auBasis->data.ptr + size_t(r) * auBasis->step);
            for (int u = 0; u < auCount; ++u)
                v += double(b[u]) * auValues->data.fl[u];
        }
        deformed[r] = float(v);
    }

    const Rotation rot(pose);
    float* obs = observationOut != nullptr ? observationOut->data.fl : nullptr;
    for (int j = 0; j < pointCount; ++j)
    {
        const double p[3] = {deformed[3 * j], deformed[3 * j + 1], deformed[3 * j + 2]};
        double q[3];
        rot.r.apply(p, q);
        for (int k = 0; k < 3; ++k)
            posed[3 * j + k] = float(scale * q[k] + pose[3 + k]);
        if (obs != nullptr)
        {
            const double X = double(scale) * q[0] + pose[3];
            const double Y = double(scale) * q[1] + pose[4];
            const double Z = double(scale) * q[2] + pose[5];
            const bool visible = Z >= minDepth;
            obs[2 * j] = visible ? float(X * focus / Z) : 0.0f;
            obs[2 * j + 1] = visible ? float(Y * focus / Z) : 0.0f;
        }
    }
}

bool FaceModelNoVel::Observe(CvMat* observationOut, CvMat* state)
{
    if (!created || floatData(observationOut, observationCount) == nullptr ||
        floatData(state, stateCount) == nullptr)
        return false;
    evaluate(observationOut, state);
    return true;
}

bool FaceModelNoVel::ObservationJacobianAndObserve(CvMat* H, CvMat* observationOut, CvMat* state)
{
    if (!created || !isFloatMatrix(H, observationCount, stateCount) || floatData(state, stateCount) == nullptr)
        return false;
    if (observationOut != nullptr && floatData(observationOut, observationCount) == nullptr)
        return false;
    evaluate(observationOut, state);

    cvSetZero(H);
    float pose[6] = {rotation[0], rotation[1], rotation[2], translation[0], translation[1], translation[2]};
    const float* x = state->data.fl;
    if ((stateMask & STATE_POSE) != 0)
        for (int i = 0; i < 6; ++i)
            pose[i] = x[i];
    const Rotation rot(pose);
    const bool poseStates = (stateMask & STATE_POSE) != 0;
    const bool suStates = (stateMask & STATE_SHAPE_UNITS) != 0 && suBasis != nullptr;
    const bool auStates = (stateMask & STATE_ACTION_UNITS) != 0 && auBasis != nullptr;

    // d(value)/d(state) of each estimated unit: halfRange * (1 - tanh(s)^2)
    // at the (clamped) state; 0 for units that are not estimated.
    std::vector<double>& slopes = unitSlopes;
    slopes.assign(slopes.size(), 0.0);
    for (int u = 0; u < suCount && suStates; ++u)
    {
        if (suUse->data.i[u] == 0)
            continue;
        const double t = std::tanh(double(x[suOffset + unsigned(u)]));
        slopes[size_t(u)] = suRange->data.fl[2 * u] * (1.0 - t * t);
    }
    for (int u = 0; u < auCount && auStates; ++u)
    {
        if (auUse->data.i[u] == 0)
            continue;
        const double t = std::tanh(double(x[auOffset + unsigned(u)]));
        slopes[size_t(suCount + u)] = auRange->data.fl[2 * u] * (1.0 - t * t);
    }

    const float* deformed = deformedWork->data.fl;
    const float* noise = observationNoise->data.fl;
    const double s = scale;
    const double f = focus;
    for (int j = 0; j < pointCount; ++j)
    {
        if (!(noise[2 * j] < excludedNoise))
            continue;
        const double p[3] = {deformed[3 * j], deformed[3 * j + 1], deformed[3 * j + 2]};
        double q[3];
        rot.r.apply(p, q);
        const double X = s * q[0] + pose[3];
        const double Y = s * q[1] + pose[4];
        const double Z = s * q[2] + pose[5];
        if (!(Z >= minDepth))
            continue;
        float* hu = reinterpret_cast<float*>(H->data.ptr + size_t(2 * j) * H->step);
        float* hv = reinterpret_cast<float*>(H->data.ptr + size_t(2 * j + 1) * H->step);
        const double C = s * f / (Z * Z);
        // Derivative of (u, v) for a change w of the un-scaled, rotated point.
        auto put = [&](unsigned column, const double* w) {
            hu[column] = float(C * (w[0] * Z - X * w[2]));
            hv[column] = float(C * (w[1] * Z - Y * w[2]));
        };
        if (poseStates)
        {
            for (int k = 0; k < 3; ++k)
            {
                double w[3];
                rot.d[k].apply(p, w);
                put(unsigned(k), w);
            }
            hu[3] = float(f / Z);
            hv[4] = float(f / Z);
            hu[5] = float(-X * f / (Z * Z));
            hv[5] = float(-Y * f / (Z * Z));
        }
        for (int pass = 0; pass < 2; ++pass)
        {
            const bool su = pass == 0;
            if (su ? !suStates : !auStates)
                continue;
            const CvMat* basis = su ? suBasis : auBasis;
            const int units = su ? suCount : auCount;
            const unsigned offset = su ? suOffset : auOffset;
            const double* slope = slopes.data() + (su ? 0 : suCount);
            const float* b0 = reinterpret_cast<const float*>(basis->data.ptr + size_t(3 * j) * basis->step);
            const float* b1 = reinterpret_cast<const float*>(basis->data.ptr + size_t(3 * j + 1) * basis->step);
            const float* b2 = reinterpret_cast<const float*>(basis->data.ptr + size_t(3 * j + 2) * basis->step);
            for (int u = 0; u < units; ++u)
            {
                if (slope[u] == 0.0)
                    continue;
                const double d[3] = {slope[u] * b0[u], slope[u] * b1[u], slope[u] * b2[u]};
                double w[3];
                rot.r.apply(d, w);
                put(offset + unsigned(u), w);
            }
        }
    }
    return true;
}

} // namespace OrvixSDK
