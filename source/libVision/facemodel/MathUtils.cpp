#include "OrvixSDK/MathUtils.h"

#include <cfloat>
#include <cmath>

namespace OrvixSDK {

namespace {

// Scale that maps a 32-bit generator value to [0, 1).
const float kTwoPowMinus32 = 1.0f / 4294967296.0f;

// Fraction r * 2^-32 of one generator draw, in single precision.
float nextFraction()
{
    return static_cast<float>(MathUtils::mwcrand()) * kTwoPowMinus32;
}

// The 32-bit little-endian word at index `word` of packed.
uint32_t readWord(const unsigned char* packed, uint64_t word)
{
    const unsigned char* p = packed + word * 4;
    return static_cast<uint32_t>(p[0])
         | (static_cast<uint32_t>(p[1]) << 8)
         | (static_cast<uint32_t>(p[2]) << 16)
         | (static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace

uint32_t MathUtils::s_z = 143556;
uint32_t MathUtils::s_w = 124243;

void MathUtils::smwcrand(uint32_t w, uint32_t z)
{
    s_w = w;
    s_z = z;
}

uint32_t MathUtils::mwcrand()
{
    s_z = 36969u * (s_z & 0xFFFFu) + (s_z >> 16);
    s_w = 18000u * (s_w & 0xFFFFu) + (s_w >> 16);
    return (s_z << 16) + s_w;
}

float MathUtils::randFloat(float a, float b)
{
    return a + (b - a) * nextFraction();
}

void MathUtils::doRandInRange(float low, float range, float& out)
{
    out = low + range * nextFraction();
}

void MathUtils::doPerturbation(float scaleLow, float scaleRange, float shift,
                               float& x, float& y, float& s)
{
    const float s0 = s;
    const float r1 = nextFraction();
    const float r2 = nextFraction();
    const float r3 = nextFraction();
    s = (scaleLow + scaleRange * r1) * s0;
    x += (0.5f - r2) * shift * s0;
    y += (0.5f - r3) * shift * s0;
}

void MathUtils::calculateSTDs(float mx, float my, const float* xs, const float* ys, int n,
                              float* out, float* outX, float* outY)
{
    float vx = 0.0f;
    float vy = 0.0f;
    if (n > 0 && xs != nullptr && ys != nullptr) {
        for (int i = 0; i < n; ++i) {
            const float dx = mx - xs[i];
            const float dy = my - ys[i];
            vx += dx * dx;
            vy += dy * dy;
        }
        vx /= static_cast<float>(n);
        vy /= static_cast<float>(n);
    }
    if (outX != nullptr)
        *outX = std::sqrt(vx);
    if (outY != nullptr)
        *outY = std::sqrt(vy);
    if (out != nullptr)
        *out = (vx + vy) / 2.0f;
}

float MathUtils::calculateVectorVariance(const float* mx, const float* my,
                                         const float* const* xs, const float* const* ys,
                                         int count, int n)
{
    if (count <= 0 || n <= 0)
        return 0.0f;
    float sum = 0.0f;
    for (int i = 0; i < count; ++i) {
        for (int j = 0; j < n; ++j) {
            const float dx = xs[i][j] - mx[j];
            const float dy = ys[i][j] - my[j];
            sum += dx * dx + dy * dy;
        }
    }
    return sum / (2.0f * static_cast<float>(count) * static_cast<float>(n));
}

float MathUtils::computeEuclidDistance(const float* x1, const float* y1,
                                       const float* x2, const float* y2, int n, bool average)
{
    if (n <= 0)
        return 0.0f;
    float sum = 0.0f;
    for (int i = 0; i < n; ++i) {
        const float dx = x1[i] - x2[i];
        const float dy = y1[i] - y2[i];
        // The square root is taken in double precision, the sum kept in float.
        sum = static_cast<float>(sum + std::sqrt(static_cast<double>(dx * dx + dy * dy)));
    }
    if (average)
        sum /= static_cast<float>(n);
    return sum;
}

float MathUtils::computeEuclidDistanceSquared(const float* x1, const float* y1,
                                              const float* x2, const float* y2, int n)
{
    float sum = 0.0f;
    for (int i = 0; i < n; ++i) {
        const float dx = x1[i] - x2[i];
        const float dy = y1[i] - y2[i];
        sum += dx * dx + dy * dy;
    }
    return sum;
}

int MathUtils::getVectorMedian(const float* const* xs, const float* const* ys, int count, int n)
{
    if (count <= 0)
        return -1;
    int best = -1;
    float bestSum = FLT_MAX;
    for (int i = 0; i < count; ++i) {
        float sum = 0.0f;
        bool complete = true;
        for (int j = 0; j < count; ++j) {
            if (j == i)
                continue;
            sum += computeEuclidDistanceSquared(xs[i], ys[i], xs[j], ys[j], n);
            // This set can no longer beat the best one: stop early.
            if (sum > bestSum) {
                complete = false;
                break;
            }
        }
        if (complete && sum <= bestSum) {
            bestSum = sum;
            best = i;
        }
    }
    return best;
}

void MathUtils::dequantize(float* out, const unsigned char* packed, const float* table,
                           int count, int bits)
{
    if (out == nullptr || packed == nullptr || table == nullptr)
        return;
    if (count <= 0 || bits < 1 || bits > 32)
        return;

    // 64-bit arithmetic throughout: bit offsets of large tables exceed 32
    // bits, and a 32-bit shift by 32 would be undefined.
    const uint64_t mask = (uint64_t(1) << bits) - 1;
    for (int k = 0; k < count; ++k) {
        const uint64_t bitPos = static_cast<uint64_t>(k) * static_cast<uint64_t>(bits);
        const uint64_t word = bitPos / 32;
        const unsigned shift = static_cast<unsigned>(bitPos % 32);
        uint64_t value = readWord(packed, word);
        // Only read the next word when the code actually reaches into it, so
        // the last code never reads past the packed words.
        if (shift + static_cast<unsigned>(bits) > 32)
            value |= static_cast<uint64_t>(readWord(packed, word + 1)) << 32;
        const uint64_t code = (value >> shift) & mask;
        out[k] = table[code];
    }
}

}  // namespace OrvixSDK
