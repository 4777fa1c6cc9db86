#ifndef ORVIXSDK_GEOMETRYHELPERS_H
#define ORVIXSDK_GEOMETRYHELPERS_H

#include "OrvixSDK/Export.h"

// Small helpers for 3-vectors, quaternions, axis-angle rotations and 4x4
// matrices.
//
// Conventions:
// - A vector is float[3] (x, y, z); a 4-vector is float[4].
// - A matrix is float[4][4], row-major.  Points are row vectors multiplied
//   from the left (v' = v * M), so a translation sits in row 3.
// - A quaternion is float[4] ordered x, y, z, w (w last).
// - An axis-angle rotation is a unit axis float[3] and an angle in radians.
//
// Every function that writes an output computes it in temporaries first, so
// the output may be the same array as one of the inputs.

namespace OrvixSDK {

// Scales v to unit length.  When the length is not greater than 0 (or is not
// a number) v is left unchanged and false is returned.
ORVIX_API bool normalize(float* v);

// out = a x b.
ORVIX_API void cross(float* out, const float* a, const float* b);

// out = a - b.
ORVIX_API void vect3Diff(float* out, const float* a, const float* b);

// Length of v.
ORVIX_API float vect3Dist(const float* v);

// Length of a - b.
ORVIX_API float vect3Dist(const float* a, const float* b);

// Absolute value.
ORVIX_API float myfabs(float x);

// True when abs(a - b) >= 0.0001, i.e. when the two values differ noticeably.
ORVIX_API bool fdiff(float a, float b);

// m = identity.
ORVIX_API void identityMat(float m[4][4]);

// dst = src.
ORVIX_API void copyMat(float dst[4][4], const float src[4][4]);

// out = a * b.
ORVIX_API void multMat(float out[4][4], const float a[4][4], const float b[4][4]);

// out = v * m for 4-vectors.
ORVIX_API void multVectMat(float* out, const float* v, const float m[4][4]);

// out = v * (upper-left 3x3 of m): rotation without translation.
ORVIX_API void multVect3Mat3(float* out, const float* v, const float m[4][4]);

// v = first three components of (v, 1) * m, in place.
ORVIX_API void multVect3Mat(float* v, const float m[4][4]);

// out = first three components of (v, 1) * m.
ORVIX_API void multVect3Mat(float* out, const float* v, const float m[4][4]);

// Determinant of the upper-left 3x3 of m.
ORVIX_API float m3_det(const float m[4][4]);

// Upper-left 3x3 of out = m without the given row and column (both 0 to 3).
// Other indices leave out unchanged.
ORVIX_API void m4_submat(const float m[4][4], float out[4][4], int row, int col);

// Determinant of m by cofactor expansion along column 0.
ORVIX_API float m4_det(const float m[4][4]);

// Inverse of the upper-left 3x3 of m into the upper-left 3x3 of out.
// Returns false and leaves out untouched when abs(det) < 0.0005.
ORVIX_API bool invMat3(float out[4][4], const float m[4][4]);

// Inverse of m as adjugate divided by the determinant.  Returns false and
// leaves out untouched when abs(det) < 5e-9.
ORVIX_API bool invMat(float out[4][4], const float m[4][4]);

// Quaternion (x, y, z, w) of the rotation in the upper-left 3x3 of m.
ORVIX_API void quatFromRotMat(float* q, const float m[4][4]);

// Writes the rotation of quaternion q into the upper-left 3x3 of m; the other
// elements of m are not touched.
ORVIX_API void rotMatFromQuat(float m[4][4], const float* q);

// Quaternion of the rotation by angle about axis.  axis is normalised in
// place; a zero axis becomes (1, 0, 0) with angle 0, giving (0, 0, 0, 1).
ORVIX_API void aa2quat(float* q, float* axis, float angle);

// Axis-angle of quaternion q: returns the angle and writes the unit axis.
// Without a usable axis (no rotation) the axis is (0, 0, 1) and 0 is returned.
ORVIX_API float quat2aa(const float* q, float* axis);

}  // namespace OrvixSDK

#endif
