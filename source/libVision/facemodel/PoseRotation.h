#ifndef ORVIX_FACEMODEL_POSEROTATION_H
#define ORVIX_FACEMODEL_POSEROTATION_H

#include <cmath>

namespace OrvixSDK
{

// The rotation of a posed face model, R = Ry Rx Rz of the angles (rx, ry,
// rz), row by row, with the two ways the model and its fitter use it.
struct PoseRotation
{
    float r[3][3];

    explicit PoseRotation(const float* angles)
    {
        const float sx = std::sin(angles[0]), cx = std::cos(angles[0]);
        const float sy = std::sin(angles[1]), cy = std::cos(angles[1]);
        const float sz = std::sin(angles[2]), cz = std::cos(angles[2]);
        r[0][0] = cy * cz + sx * sy * sz;
        r[0][1] = sx * sy * cz - cy * sz;
        r[0][2] = sy * cx;
        r[1][0] = cx * sz;
        r[1][1] = cx * cz;
        r[1][2] = -sx;
        r[2][0] = sx * cy * sz - sy * cz;
        r[2][1] = sy * sz + sx * cy * cz;
        r[2][2] = cx * cy;
    }

    // out = scale * R * v + t: a model point placed in the camera frame.
    void pose(const float* v, float scale, const float* t, float* out) const
    {
        for (int i = 0; i < 3; ++i)
            out[i] = scale * (r[i][0] * v[0] + r[i][1] * v[1] + r[i][2] * v[2]) + t[i];
    }

    // out = R' (p - t): a camera-frame point expressed in the head's frame.
    void unpose(const float* p, const float* t, float* out) const
    {
        const float d[3] = {p[0] - t[0], p[1] - t[1], p[2] - t[2]};
        for (int j = 0; j < 3; ++j)
            out[j] = r[0][j] * d[0] + r[1][j] * d[1] + r[2][j] * d[2];
    }
};

} // namespace OrvixSDK

#endif
