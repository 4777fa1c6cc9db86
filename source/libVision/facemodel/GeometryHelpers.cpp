#include "OrvixSDK/GeometryHelpers.h"

#include <cmath>

namespace OrvixSDK {

namespace {

// Determinant of the 3x3 matrix given as three rows.
float det3(const float* r0, const float* r1, const float* r2)
{
    return r0[0] * (r1[1] * r2[2] - r1[2] * r2[1])
         - r0[1] * (r1[0] * r2[2] - r1[2] * r2[0])
         + r0[2] * (r1[0] * r2[1] - r1[1] * r2[0]);
}

// Determinant of m (4x4) without the given row and column.
float minor4(const float m[4][4], int row, int col)
{
    float sub[4][4] = {};
    m4_submat(m, sub, row, col);
    return m3_det(sub);
}

}  // namespace

bool normalize(float* v)
{
    const float length = vect3Dist(v);
    // Written as !(length > 0) so that a NaN length is refused as well.
    if (!(length > 0.0f))
        return false;
    v[0] /= length;
    v[1] /= length;
    v[2] /= length;
    return true;
}

void cross(float* out, const float* a, const float* b)
{
    const float x = a[1] * b[2] - a[2] * b[1];
    const float y = a[2] * b[0] - a[0] * b[2];
    const float z = a[0] * b[1] - a[1] * b[0];
    out[0] = x;
    out[1] = y;
    out[2] = z;
}

void vect3Diff(float* out, const float* a, const float* b)
{
    out[0] = a[0] - b[0];
    out[1] = a[1] - b[1];
    out[2] = a[2] - b[2];
}

float vect3Dist(const float* v)
{
    return std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
}

float vect3Dist(const float* a, const float* b)
{
    float d[3];
    vect3Diff(d, a, b);
    return vect3Dist(d);
}

float myfabs(float x)
{
    return std::fabs(x);
}

bool fdiff(float a, float b)
{
    return std::fabs(a - b) >= 0.0001f;
}

void identityMat(float m[4][4])
{
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            m[i][j] = (i == j) ? 1.0f : 0.0f;
}

void copyMat(float dst[4][4], const float src[4][4])
{
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            dst[i][j] = src[i][j];
}

void multMat(float out[4][4], const float a[4][4], const float b[4][4])
{
    float result[4][4];
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) {
            float sum = 0.0f;
            for (int k = 0; k < 4; ++k)
                sum += a[i][k] * b[k][j];
            result[i][j] = sum;
        }
    }
    copyMat(out, result);
}

void multVectMat(float* out, const float* v, const float m[4][4])
{
    float result[4];
    for (int j = 0; j < 4; ++j)
        result[j] = v[0] * m[0][j] + v[1] * m[1][j] + v[2] * m[2][j] + v[3] * m[3][j];
    for (int j = 0; j < 4; ++j)
        out[j] = result[j];
}

void multVect3Mat3(float* out, const float* v, const float m[4][4])
{
    float result[3];
    for (int j = 0; j < 3; ++j)
        result[j] = v[0] * m[0][j] + v[1] * m[1][j] + v[2] * m[2][j];
    for (int j = 0; j < 3; ++j)
        out[j] = result[j];
}

void multVect3Mat(float* v, const float m[4][4])
{
    multVect3Mat(v, v, m);
}

void multVect3Mat(float* out, const float* v, const float m[4][4])
{
    float result[3];
    for (int j = 0; j < 3; ++j)
        result[j] = v[0] * m[0][j] + v[1] * m[1][j] + v[2] * m[2][j] + m[3][j];
    for (int j = 0; j < 3; ++j)
        out[j] = result[j];
}

float m3_det(const float m[4][4])
{
    return det3(m[0], m[1], m[2]);
}

void m4_submat(const float m[4][4], float out[4][4], int row, int col)
{
    if (row < 0 || row > 3 || col < 0 || col > 3)
        return;
    float sub[3][3];
    int di = 0;
    for (int i = 0; i < 4; ++i) {
        if (i == row)
            continue;
        int dj = 0;
        for (int j = 0; j < 4; ++j) {
            if (j == col)
                continue;
            sub[di][dj] = m[i][j];
            ++dj;
        }
        ++di;
    }
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            out[i][j] = sub[i][j];
}

float m4_det(const float m[4][4])
{
    float det = 0.0f;
    float sign = 1.0f;
    for (int i = 0; i < 4; ++i) {
        det += sign * m[i][0] * minor4(m, i, 0);
        sign = -sign;
    }
    return det;
}

bool invMat3(float out[4][4], const float m[4][4])
{
    const float det = m3_det(m);
    if (!(std::fabs(det) >= 0.0005f))
        return false;

    // Adjugate (transposed cofactors) divided by the determinant.
    float inv[3][3];
    inv[0][0] = (m[1][1] * m[2][2] - m[1][2] * m[2][1]) / det;
    inv[0][1] = (m[0][2] * m[2][1] - m[0][1] * m[2][2]) / det;
    inv[0][2] = (m[0][1] * m[1][2] - m[0][2] * m[1][1]) / det;
    inv[1][0] = (m[1][2] * m[2][0] - m[1][0] * m[2][2]) / det;
    inv[1][1] = (m[0][0] * m[2][2] - m[0][2] * m[2][0]) / det;
    inv[1][2] = (m[0][2] * m[1][0] - m[0][0] * m[1][2]) / det;
    inv[2][0] = (m[1][0] * m[2][1] - m[1][1] * m[2][0]) / det;
    inv[2][1] = (m[0][1] * m[2][0] - m[0][0] * m[2][1]) / det;
    inv[2][2] = (m[0][0] * m[1][1] - m[0][1] * m[1][0]) / det;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            out[i][j] = inv[i][j];
    return true;
}

bool invMat(float out[4][4], const float m[4][4])
{
    const float det = m4_det(m);
    if (!(std::fabs(det) >= 5e-9f))
        return false;

    float inv[4][4];
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) {
            const float sign = ((i + j) % 2 == 0) ? 1.0f : -1.0f;
            inv[j][i] = sign * minor4(m, i, j) / det;
        }
    }
    copyMat(out, inv);
    return true;
}

void quatFromRotMat(float* q, const float m[4][4])
{
    float x;
    float y;
    float z;
    float w;
    // trace = 4 w^2.  The w formulas divide by sqrt(trace), and near a half
    // turn the trace is a small difference of rounded numbers: the error grows
    // like 1e-7 / trace, and exactly at a half turn a trace that rounds to a
    // tiny positive value gives a useless (0, 0, 0, ~0).  Below kMinTrace
    // (w < 0.1, within about 11 degrees of a half turn) the formulas built on
    // the largest diagonal element are used instead; they describe the same
    // rotation (possibly as the negated quaternion) and stay accurate there.
    const float kMinTrace = 0.04f;
    const float trace = 1.0f + m[0][0] + m[1][1] + m[2][2];
    if (trace > kMinTrace) {
        const float s = 0.5f / std::sqrt(trace);
        w = 0.25f / s;
        x = (m[1][2] - m[2][1]) * s;
        y = (m[2][0] - m[0][2]) * s;
        z = (m[0][1] - m[1][0]) * s;
    } else if (m[0][0] >= m[1][1] && m[0][0] >= m[2][2]) {
        const float t = 2.0f * std::sqrt(1.0f + m[0][0] - m[1][1] - m[2][2]);
        x = t / 4.0f;
        y = (m[0][1] + m[1][0]) / t;
        z = (m[0][2] + m[2][0]) / t;
        w = (m[1][2] - m[2][1]) / t;
    } else if (m[1][1] >= m[2][2]) {
        const float t = 2.0f * std::sqrt(1.0f + m[1][1] - m[0][0] - m[2][2]);
        y = t / 4.0f;
        x = (m[0][1] + m[1][0]) / t;
        z = (m[1][2] + m[2][1]) / t;
        w = (m[2][0] - m[0][2]) / t;
    } else {
        const float t = 2.0f * std::sqrt(1.0f + m[2][2] - m[0][0] - m[1][1]);
        z = t / 4.0f;
        x = (m[0][2] + m[2][0]) / t;
        y = (m[1][2] + m[2][1]) / t;
        w = (m[0][1] - m[1][0]) / t;
    }
    q[0] = x;
    q[1] = y;
    q[2] = z;
    q[3] = w;
}

void rotMatFromQuat(float m[4][4], const float* q)
{
    const float x = q[0];
    const float y = q[1];
    const float z = q[2];
    const float w = q[3];
    m[0][0] = 1.0f - 2.0f * (y * y + z * z);
    m[1][1] = 1.0f - 2.0f * (x * x + z * z);
    m[2][2] = 1.0f - 2.0f * (x * x + y * y);
    m[0][1] = 2.0f * (x * y + z * w);
    m[1][0] = 2.0f * (x * y - z * w);
    m[0][2] = 2.0f * (x * z - y * w);
    m[2][0] = 2.0f * (x * z + y * w);
    m[1][2] = 2.0f * (y * z + x * w);
    m[2][1] = 2.0f * (y * z - x * w);
}

void aa2quat(float* q, float* axis, float angle)
{
    if (!normalize(axis)) {
        axis[0] = 1.0f;
        axis[1] = 0.0f;
        axis[2] = 0.0f;
        angle = 0.0f;
    }
    const float s = std::sin(angle / 2.0f);
    q[0] = axis[0] * s;
    q[1] = axis[1] * s;
    q[2] = axis[2] * s;
    q[3] = std::cos(angle / 2.0f);
}

float quat2aa(const float* q, float* axis)
{
    // A unit quaternion may carry a w a hair outside [-1, 1] after rounding;
    // clamp it so that acos and the square root stay defined.
    float w = q[3];
    if (w > 1.0f)
        w = 1.0f;
    else if (w < -1.0f)
        w = -1.0f;

    const float angle = 2.0f * std::acos(w);
    float s = std::sqrt(1.0f - w * w);
    if (std::fabs(s) < 0.0005f)
        s = 1.0f;
    axis[0] = q[0] / s;
    axis[1] = q[1] / s;
    axis[2] = q[2] / s;
    if (!normalize(axis)) {
        axis[0] = 0.0f;
        axis[1] = 0.0f;
        axis[2] = 1.0f;
        return 0.0f;
    }
    return angle;
}

}  // namespace OrvixSDK
