#ifndef ORVIXSDK_MATHUTILS_H
#define ORVIXSDK_MATHUTILS_H

#include <cstdint>

#include "OrvixSDK/Export.h"

namespace OrvixSDK {

// Static numeric helpers: a multiply-with-carry random generator, random
// perturbation of a box, point-set statistics and a decoder for bit-packed
// tables.
//
// The generator has one state for the whole process and takes no lock:
// seed and draw from one thread at a time.
class ORVIX_API MathUtils {
public:
    static constexpr float PI = 3.14159f;

    // Generator state, initially s_z = 143556 and s_w = 124243.
    static uint32_t s_z;
    static uint32_t s_w;

    // Seeds the generator: s_w = w, s_z = z.
    static void smwcrand(uint32_t w, uint32_t z);

    // One multiply-with-carry step; returns the next 32-bit value.
    static uint32_t mwcrand();

    // a + r * (b - a) * 2^-32 with r = mwcrand().
    static float randFloat(float a, float b);

    // out = low + range * r * 2^-32 with r = mwcrand().
    static void doRandInRange(float low, float range, float& out);

    // Random rescale and shift of the box (x, y, s): three draws r1, r2, r3
    // with the old size s0:
    //   s  = (scaleLow + scaleRange * r1 * 2^-32) * s0
    //   x += (0.5 - r2 * 2^-32) * shift * s0
    //   y += (0.5 - r3 * 2^-32) * shift * s0
    static void doPerturbation(float scaleLow, float scaleRange, float shift,
                               float& x, float& y, float& s);

    // Spread of n points around (mx, my): vx = sum((mx - xs[i])^2) / n and
    // vy likewise.  *outX = sqrt(vx), *outY = sqrt(vy) when those pointers
    // are not null; *out = (vx + vy) / 2.  With n <= 0 every result is 0.
    static void calculateSTDs(float mx, float my, const float* xs, const float* ys, int n,
                              float* out, float* outX, float* outY);

    // Mean squared deviation of count point sets (n points each, x in xs[i],
    // y in ys[i]) from the mean set (mx, my):
    // sum((xs[i][j] - mx[j])^2 + (ys[i][j] - my[j])^2) / (2 * count * n).
    // Returns 0 when count <= 0 or n <= 0.
    static float calculateVectorVariance(const float* mx, const float* my,
                                         const float* const* xs, const float* const* ys,
                                         int count, int n);

    // Sum of the n point distances between (x1, y1) and (x2, y2), or their
    // mean when average is true.  Returns 0 when n <= 0.
    static float computeEuclidDistance(const float* x1, const float* y1,
                                       const float* x2, const float* y2, int n, bool average);

    // Sum of the n squared point distances.  Returns 0 when n <= 0.
    static float computeEuclidDistanceSquared(const float* x1, const float* y1,
                                              const float* x2, const float* y2, int n);

    // Index of the medoid of count point sets: the set with the smallest sum
    // of squared distances to all others; among equal sums the last wins.
    // Returns -1 when count <= 0 (or when no set has a finite sum).
    static int getVectorMedian(const float* const* xs, const float* const* ys, int count, int n);

    // Unpacks count codes of `bits` bits each from packed and writes
    // out[k] = table[code k].  packed holds ceil(count * bits / 32) 32-bit
    // words, each stored little-endian; code k occupies bits k * bits to
    // (k + 1) * bits - 1 counting from the least significant bit of word 0.
    // table must hold 2^bits values.  Nothing is written when bits is outside
    // 1 to 32, count <= 0 or a pointer is null.
    static void dequantize(float* out, const unsigned char* packed, const float* table,
                           int count, int bits);
};

}  // namespace OrvixSDK

#endif
