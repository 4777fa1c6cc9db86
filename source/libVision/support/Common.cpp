#include "support/Common.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <ctime>
#include <exception>
#include <iostream>

#include <opencv2/core.hpp>
#include <opencv2/core/core_c.h>
#include <opencv2/imgproc.hpp>

namespace OrvixSDK {

namespace {

// An image whose pixel buffer can be addressed directly: data present,
// positive size, a row stride that holds a whole row, and (when asked) the
// given depth and channel count.  depth 0 or channels 0 accept any.
bool isImage(const IplImage* img, int depth = 0, int channels = 0)
{
    if (img == nullptr || img->imageData == nullptr || img->width <= 0 || img->height <= 0)
        return false;
    if (img->depth != IPL_DEPTH_8U && img->depth != IPL_DEPTH_32F)
        return false;
    if ((depth != 0 && img->depth != depth) || (channels != 0 && img->nChannels != channels))
        return false;
    if (img->nChannels < 1 || img->nChannels > 4)
        return false;
    const long long bytesPerPixel = static_cast<long long>(img->depth & 0xff) / 8 * img->nChannels;
    return static_cast<long long>(img->widthStep) >= bytesPerPixel * img->width;
}

// Matrix header over an image (its region of interest, if any).
cv::Mat asMat(const IplImage* img)
{
    return cv::cvarrToMat(img);
}

// An optional mask: null, or an 8-bit one-channel image of the given size.
bool maskFits(const IplImage* mask, const cv::Mat& image)
{
    return mask == nullptr || (isImage(mask, IPL_DEPTH_8U, 1) && asMat(mask).size() == image.size());
}

cv::Mat maskMat(const IplImage* mask)
{
    return mask != nullptr ? asMat(mask) : cv::Mat();
}

// Shared checks of the in-place normalisations: a float image and a
// fitting mask.
bool floatImageAndMask(IplImage* img, IplImage* mask, cv::Mat& m, cv::Mat& mk)
{
    if (!isImage(img, IPL_DEPTH_32F))
        return false;
    m = asMat(img);
    if (!maskFits(mask, m))
        return false;
    mk = maskMat(mask);
    return true;
}

bool subtractAvg(IplImage* img, IplImage* mask, cv::Mat& m)
{
    cv::Mat mk;
    if (!floatImageAndMask(img, mask, m, mk))
        return false;
    cv::subtract(m, cv::mean(m), m, mk);
    return true;
}

// Sets every channel of one pixel of an 8-bit or float image; pixels
// outside the image are skipped.
void putPixel(IplImage* img, long long x, long long y, int value)
{
    if (x < 0 || y < 0 || x >= img->width || y >= img->height)
        return;
    char* row = img->imageData + y * static_cast<long long>(img->widthStep);
    const int channels = img->nChannels;
    if (img->depth == IPL_DEPTH_8U) {
        unsigned char* px = reinterpret_cast<unsigned char*>(row) + x * channels;
        const unsigned char v = cv::saturate_cast<unsigned char>(value);
        for (int c = 0; c < channels; ++c)
            px[c] = v;
    } else {
        float* px = reinterpret_cast<float*>(row) + x * channels;
        for (int c = 0; c < channels; ++c)
            px[c] = static_cast<float>(value);
    }
}

// Neighbours and weights of a bilinear sample, neighbours clamped into the
// image.  False outside (x >= width, y >= height, x <= -1, y <= -1, NaN).
struct Bilinear
{
    int x0, x1, y0, y1;
    float fx, fy;
};

bool bilinearAt(const IplImage& img, float x, float y, Bilinear& b)
{
    if (!(x > -1.0f && y > -1.0f && x < static_cast<float>(img.width) &&
          y < static_cast<float>(img.height)))
        return false;
    const float xf = std::floor(x);
    const float yf = std::floor(y);
    b.fx = x - xf;
    b.fy = y - yf;
    const int xi = static_cast<int>(xf);
    const int yi = static_cast<int>(yf);
    b.x0 = std::clamp(xi, 0, img.width - 1);
    b.x1 = std::clamp(xi + 1, 0, img.width - 1);
    b.y0 = std::clamp(yi, 0, img.height - 1);
    b.y1 = std::clamp(yi + 1, 0, img.height - 1);
    return true;
}

template <typename T>
float sample(const IplImage& img, const Bilinear& b, int channel)
{
    const auto at = [&](int x, int y) {
        const char* row = img.imageData + static_cast<long long>(y) * img.widthStep;
        return static_cast<float>(reinterpret_cast<const T*>(row)[x * img.nChannels + channel]);
    };
    const float top = (1.0f - b.fx) * at(b.x0, b.y0) + b.fx * at(b.x1, b.y0);
    const float bottom = (1.0f - b.fx) * at(b.x0, b.y1) + b.fx * at(b.x1, b.y1);
    return (1.0f - b.fy) * top + b.fy * bottom;
}

template <typename T>
void fillSides(const cv::Mat& src, cv::Mat& dst, const cv::Mat& mask, cv::Mat* outMask)
{
    const int width = src.cols;
    const int half = width / 2;
    bool havePrevLeft = false, havePrevRight = false;
    double prevLeft = 0.0, prevRight = 0.0;
    for (int y = 0; y < src.rows; ++y) {
        const T* s = src.ptr<T>(y);
        T* d = dst.ptr<T>(y);
        const unsigned char* m = mask.ptr<unsigned char>(y);
        unsigned char* o = outMask != nullptr ? outMask->ptr<unsigned char>(y) : nullptr;

        int left = -1;
        for (int x = 0; x < half && left < 0; ++x)
            if (m[x] != 0)
                left = x;
        if (left >= 0) {
            double v = s[left];
            if (left > 0 && havePrevLeft)
                v = 0.5 * (v + prevLeft);
            prevLeft = v;
            havePrevLeft = true;
            for (int x = 0; x < left; ++x)
                d[x] = cv::saturate_cast<T>(v);
            for (int x = 0; o != nullptr && x <= left; ++x)
                o[x] = 0;
        }

        int right = -1;
        for (int x = half; x < width && right < 0; ++x)
            if (m[x] == 0)
                right = x;
        if (right >= 0) {
            double v = s[right];
            if (right > half && havePrevRight)
                v = 0.5 * (v + prevRight);
            prevRight = v;
            havePrevRight = true;
            for (int x = right + 1; x < width; ++x)
                d[x] = cv::saturate_cast<T>(v);
            for (int x = right; o != nullptr && x < width; ++x)
                o[x] = 0;
        }
    }
}

// Float in a range where its truncation to int is defined.
bool toPixel(float v, int& out)
{
    if (!(std::fabs(v) < 1e9f))
        return false;
    out = static_cast<int>(v);
    return true;
}

}  // namespace

void Common::setCfgDirPath(const char* path, char* folder)
{
    if (folder == nullptr)
        return;
    folder[0] = '\0';
    if (path == nullptr)
        return;

    char copy[kPathBufferSize];
    std::strncpy(copy, path, kPathBufferSize - 1);
    copy[kPathBufferSize - 1] = '\0';

    const char* lastSlash = std::strrchr(copy, '/');
    const char* lastBackslash = std::strrchr(copy, '\\');
    const char* last = lastSlash > lastBackslash ? lastSlash : lastBackslash;
    if (last == nullptr)
        return;

    const size_t length = static_cast<size_t>(last - copy) + 1;
    std::memcpy(folder, copy, length);
    folder[length] = '\0';
}

// --- Splines -------------------------------------------------------------------

void Common::calcSpline(const std::vector<float>& points, int n, std::vector<float>& out)
{
    const size_t m = points.size() / 2;
    const size_t perSegment = static_cast<size_t>(std::max(n, 0)) + 1;
    std::vector<float> result;
    try {
        if (m < 2) {
            result.assign(points.begin(), points.begin() + 2 * m);
            out.swap(result);
            return;
        }
        if (m - 1 > (result.max_size() / 2 - 1) / perSegment) {
            out.clear();
            return;
        }
        result.resize(2 * ((m - 1) * perSegment + 1));

        // Point i of the polyline, continued at both ends by mirrored phantom
        // points so that the end segments have neighbours too.
        const auto point = [&](long long i) -> Vec2D {
            if (i < 0)
                return {2 * points[0] - points[2], 2 * points[1] - points[3]};
            if (i >= static_cast<long long>(m))
                return {2 * points[2 * m - 2] - points[2 * m - 4], 2 * points[2 * m - 1] - points[2 * m - 3]};
            return {points[2 * i], points[2 * i + 1]};
        };

        for (size_t i = 0; i < m; ++i) {
            const size_t base = 2 * i * perSegment;
            result[base] = points[2 * i];
            result[base + 1] = points[2 * i + 1];
            if (i + 1 == m)
                break;
            const long long s = static_cast<long long>(i);
            CubicPoly px, py;
            InitCentripetalCR(point(s - 1), point(s), point(s + 1), point(s + 2), px, py);
            for (size_t k = 1; k < perSegment; ++k) {
                const float t = static_cast<float>(k) / static_cast<float>(perSegment);
                result[base + 2 * k] = px.eval(t);
                result[base + 2 * k + 1] = py.eval(t);
            }
        }
        out.swap(result);
    } catch (const std::exception&) {
        out.clear();
    }
}

void Common::InitCubicPoly(float x0, float x1, float t0, float t1, CubicPoly& p)
{
    p.c0 = x0;
    p.c1 = t0;
    p.c2 = -3 * x0 + 3 * x1 - 2 * t0 - t1;
    p.c3 = 2 * x0 - 2 * x1 + t0 + t1;
}

void Common::InitCatmullRom(float x0, float x1, float x2, float x3, CubicPoly& p)
{
    InitCubicPoly(x1, x2, 0.5f * (x2 - x0), 0.5f * (x3 - x1), p);
}

void Common::InitNonuniformCatmullRom(float x0, float x1, float x2, float x3, float dt0, float dt1,
                                      float dt2, CubicPoly& p)
{
    float t1 = (x1 - x0) / dt0 - (x2 - x0) / (dt0 + dt1) + (x2 - x1) / dt1;
    float t2 = (x2 - x1) / dt1 - (x3 - x1) / (dt1 + dt2) + (x3 - x2) / dt2;
    InitCubicPoly(x1, x2, t1 * dt1, t2 * dt1, p);
}

float Common::VecDistSquared(const Vec2D& a, const Vec2D& b)
{
    const float dx = b.x - a.x;
    const float dy = b.y - a.y;
    return dx * dx + dy * dy;
}

void Common::InitCentripetalCR(const Vec2D& p0, const Vec2D& p1, const Vec2D& p2, const Vec2D& p3,
                               CubicPoly& px, CubicPoly& py)
{
    float dt0 = std::pow(VecDistSquared(p0, p1), 0.25f);
    float dt1 = std::pow(VecDistSquared(p1, p2), 0.25f);
    float dt2 = std::pow(VecDistSquared(p2, p3), 0.25f);

    // Coincident points would give zero intervals and divisions by zero.
    if (dt1 < 1e-4f)
        dt1 = 1.0f;
    if (dt0 < 1e-4f)
        dt0 = dt1;
    if (dt2 < 1e-4f)
        dt2 = dt1;

    InitNonuniformCatmullRom(p0.x, p1.x, p2.x, p3.x, dt0, dt1, dt2, px);
    InitNonuniformCatmullRom(p0.y, p1.y, p2.y, p3.y, dt0, dt1, dt2, py);
}

// --- Normalisation and conversion ------------------------------------------------

void Common::SubtractAvg(IplImage* img, IplImage* mask)
{
    try {
        cv::Mat m;
        subtractAvg(img, mask, m);
    } catch (const std::exception&) {
    }
}

void Common::SubtractAvgNorm(IplImage* img, IplImage* mask)
{
    try {
        cv::Mat m;
        if (!subtractAvg(img, mask, m))
            return;
        const double norm = cv::norm(m, cv::NORM_L2);
        if (norm > 0.0)
            m.convertTo(m, -1, 1.0 / norm);
    } catch (const std::exception&) {
    }
}

void Common::SubtractAvgNormalizeStd(IplImage* img, IplImage* mask)
{
    try {
        cv::Mat m, mk;
        if (!floatImageAndMask(img, mask, m, mk))
            return;
        cv::Scalar mean, deviation;
        cv::meanStdDev(m, mean, deviation, mk);
        cv::subtract(m, mean, m);
        if (deviation[0] > 0.0)
            m.convertTo(m, -1, 1.0 / deviation[0]);
    } catch (const std::exception&) {
    }
}

void Common::NormalizeImg32f(IplImage* src, IplImage* dst, IplImage* mask)
{
    try {
        if (!isImage(src, IPL_DEPTH_32F, 1) || !isImage(dst, IPL_DEPTH_32F, 1))
            return;
        cv::Mat s = asMat(src);
        cv::Mat d = asMat(dst);
        if (s.size() != d.size() || !maskFits(mask, s))
            return;
        double lo = 0.0, hi = 0.0;
        cv::minMaxLoc(s, &lo, &hi);
        if (hi > lo)
            s.convertTo(d, -1, 1.0 / (hi - lo), -lo / (hi - lo));
        else
            d.setTo(0.0);
        if (mask != nullptr)
            d.setTo(0.0, maskMat(mask) == 0);
    } catch (const std::exception&) {
    }
}

void Common::ConvertImageFrom8u3To32f1(const IplImage* src, IplImage* dst, IplImage* temp)
{
    try {
        if (!isImage(src, IPL_DEPTH_8U, 3) || !isImage(dst, IPL_DEPTH_32F, 1))
            return;
        const cv::Mat s = asMat(src);
        cv::Mat d = asMat(dst);
        if (s.size() != d.size())
            return;
        cv::Mat grey;
        if (isImage(temp, IPL_DEPTH_8U, 1) && asMat(temp).size() == s.size())
            grey = asMat(temp);
        cv::cvtColor(s, grey, cv::COLOR_BGR2GRAY);
        grey.convertTo(d, CV_32F);
        NormalizeImg32f(dst, dst, nullptr);
    } catch (const std::exception&) {
    }
}

void Common::ConvertImageTo32f1(const IplImage* src, IplImage* dst)
{
    try {
        if (!isImage(src) || (src->nChannels != 1 && src->nChannels != 3) ||
            !isImage(dst, IPL_DEPTH_32F, 1))
            return;
        const cv::Mat s = asMat(src);
        cv::Mat d = asMat(dst);
        if (s.size() != d.size())
            return;
        if (src->nChannels == 3) {
            cv::Mat grey;
            cv::cvtColor(s, grey, cv::COLOR_BGR2GRAY);
            grey.convertTo(d, CV_32F);
        } else {
            s.convertTo(d, CV_32F);
        }
        NormalizeImg32f(dst, dst, nullptr);
    } catch (const std::exception&) {
    }
}

void Common::ConvertImageToNormalizedBGR32f(const IplImage* src, IplImage* dst)
{
    try {
        if (!isImage(src, IPL_DEPTH_8U, 3) || !isImage(dst, IPL_DEPTH_32F, 3))
            return;
        const cv::Mat s = asMat(src);
        cv::Mat d = asMat(dst);
        if (s.size() != d.size())
            return;
        for (int y = 0; y < s.rows; ++y) {
            const unsigned char* in = s.ptr<unsigned char>(y);
            float* o = d.ptr<float>(y);
            for (int x = 0; x < s.cols; ++x, in += 3, o += 3) {
                const int sum = in[0] + in[1] + in[2];
                for (int c = 0; c < 3; ++c)
                    o[c] = sum > 0 ? static_cast<float>(in[c]) / static_cast<float>(sum) : 0.0f;
            }
        }
    } catch (const std::exception&) {
    }
}

void Common::ConvertImageFrom32fTo8u(const IplImage* src, IplImage* dst, IplImage* mask)
{
    try {
        if (!isImage(src, IPL_DEPTH_32F, 1) || !isImage(dst, IPL_DEPTH_8U, 1))
            return;
        const cv::Mat s = asMat(src);
        cv::Mat d = asMat(dst);
        if (s.size() != d.size() || !maskFits(mask, s))
            return;
        const cv::Mat mk = maskMat(mask);
        double lo = 0.0, hi = 0.0;
        cv::minMaxLoc(s, &lo, &hi);
        const double scale = hi > lo ? 255.0 / (hi - lo) : 0.0;
        for (int y = 0; y < s.rows; ++y) {
            const float* in = s.ptr<float>(y);
            unsigned char* o = d.ptr<unsigned char>(y);
            const unsigned char* m = mk.empty() ? nullptr : mk.ptr<unsigned char>(y);
            for (int x = 0; x < s.cols; ++x) {
                const double v = (in[x] - lo) * scale;
                // Truncation; the comparisons also send NaN to 0.
                const unsigned char byte = v >= 255.0 ? 255 : (v > 0.0 ? static_cast<unsigned char>(v) : 0);
                o[x] = (m != nullptr && m[x] == 0) ? 0 : byte;
            }
        }
    } catch (const std::exception&) {
    }
}

void Common::FillImageSides(const IplImage* src, IplImage* dst, IplImage* mask, IplImage* outMask)
{
    try {
        if (!isImage(src, 0, 1) || !isImage(dst, src->depth, 1) || mask == nullptr)
            return;
        const cv::Mat s = asMat(src);
        cv::Mat d = asMat(dst);
        if (s.size() != d.size() || !maskFits(mask, s) || !maskFits(outMask, s))
            return;
        cv::Mat om;
        if (outMask != nullptr) {
            om = asMat(outMask);
            om.setTo(255);
        }
        s.copyTo(d);
        if (src->depth == IPL_DEPTH_8U)
            fillSides<unsigned char>(d, d, asMat(mask), outMask != nullptr ? &om : nullptr);
        else
            fillSides<float>(d, d, asMat(mask), outMask != nullptr ? &om : nullptr);
    } catch (const std::exception&) {
    }
}

// --- Bilinear sampling ------------------------------------------------------------

float Common::Interpolate2d(const IplImage& img, float x, float y, float* c0, float* c1, float* c2)
{
    float* outputs[3] = {c0, c1, c2};
    Bilinear b;
    if (!isImage(&img, IPL_DEPTH_32F) || (img.nChannels != 1 && img.nChannels != 3) ||
        !bilinearAt(img, x, y, b)) {
        for (float* o : outputs)
            if (o != nullptr)
                *o = -1.0f;
        return -1.0f;
    }
    if (img.nChannels == 1)
        return sample<float>(img, b, 0);
    for (int c = 0; c < 3; ++c)
        if (outputs[c] != nullptr)
            *outputs[c] = sample<float>(img, b, c);
    return 1.0f;
}

float Common::Interpolate2dGRAY32(const IplImage& img, float x, float y)
{
    Bilinear b;
    if (!isImage(&img, IPL_DEPTH_32F, 1) || !bilinearAt(img, x, y, b))
        return -1.0f;
    return sample<float>(img, b, 0);
}

unsigned char Common::Interpolate2dGRAY8(const IplImage& img, float x, float y)
{
    Bilinear b;
    if (!isImage(&img, IPL_DEPTH_8U, 1) || !bilinearAt(img, x, y, b))
        return 255;
    const float v = sample<unsigned char>(img, b, 0);
    return v >= 255.0f ? 255 : static_cast<unsigned char>(v);
}

// --- Contrast-limited adaptive histogram equalisation -----------------------------

bool Common::RCLAHEM(unsigned char* map, unsigned char* src, int row0, int col0, int row1, int col1,
                     int step, unsigned char clip)
{
    if (map == nullptr || src == nullptr || row0 < 0 || col0 < 0 || row1 < row0 || col1 < col0 ||
        step <= col1)
        return false;

    long long counts[256] = {};
    for (int r = row0; r <= row1; ++r) {
        const unsigned char* row = src + static_cast<long long>(r) * step;
        for (int c = col0; c <= col1; ++c)
            ++counts[row[c]];
    }
    const double pixels = static_cast<double>(row1 - row0 + 1) * static_cast<double>(col1 - col0 + 1);

    // Clipping a bin spreads its excess over all 256 bins.  Instead of adding
    // to every bin each time, the spread so far is kept in one sum: a bin's
    // value is bins[v] + spread.
    double bins[256];
    for (int v = 0; v < 256; ++v)
        bins[v] = static_cast<double>(counts[v]) / pixels;
    const double limit = clip / 256.0;
    double spread = 0.0;
    for (int v = 0; v < 256; ++v) {
        const double value = bins[v] + spread;
        if (value >= limit) {
            bins[v] = limit - spread;
            spread += (value - limit) / 256.0;
        }
    }

    // The tolerance keeps a cumulative sum that reaches 1 only up to
    // floating-point rounding from truncating 255 to 254.
    const double tolerance = 1e-9;
    double cumulative = 0.0;
    for (int v = 0; v < 256; ++v) {
        cumulative += bins[v] + spread;
        const double mapped = 255.0 * cumulative + tolerance;
        map[v] = mapped >= 255.0 ? 255 : (mapped > 0.0 ? static_cast<unsigned char>(mapped) : 0);
    }
    return true;
}

bool Common::CLAHE(IplImage* dst, IplImage* src, int tilesY, int tilesX, unsigned char clip)
{
    static const int kMaxTiles = 32;
    if (!isImage(src, IPL_DEPTH_8U, 1) || !isImage(dst, IPL_DEPTH_8U, 1) ||
        src->width != dst->width || src->height != dst->height)
        return false;
    if (tilesX < 1 || tilesX > kMaxTiles || tilesY < 1 || tilesY > kMaxTiles)
        return false;
    const int width = src->width;
    const int height = src->height;
    if (width < tilesX || height < tilesY)
        return false;

    try {
        // Tile bounds and centres; the last tile of a row or column reaches the edge.
        const int tileW = width / tilesX;
        const int tileH = height / tilesY;
        int centreX[kMaxTiles], centreY[kMaxTiles];
        std::vector<unsigned char> maps(static_cast<size_t>(tilesX) * tilesY * 256);
        unsigned char* pixels = reinterpret_cast<unsigned char*>(src->imageData);
        for (int ty = 0; ty < tilesY; ++ty) {
            const int r0 = ty * tileH;
            const int r1 = ty + 1 == tilesY ? height - 1 : r0 + tileH - 1;
            centreY[ty] = (r0 + r1) / 2;
            for (int tx = 0; tx < tilesX; ++tx) {
                const int c0 = tx * tileW;
                const int c1 = tx + 1 == tilesX ? width - 1 : c0 + tileW - 1;
                centreX[tx] = (c0 + c1) / 2;
                RCLAHEM(&maps[(static_cast<size_t>(ty) * tilesX + tx) * 256], pixels, r0, c0, r1, c1,
                        src->widthStep, clip);
            }
        }

        // Per column (and per row): the two tiles to blend and their weights,
        // the pixel distances to the opposite centre.  Outside the outer
        // centres one tile takes the whole weight.
        struct Blend
        {
            int tile0, tile1;
            long long w0, w1, span;
        };
        const auto blends = [](const int* centres, int tiles, int size) {
            std::vector<Blend> out(static_cast<size_t>(size));
            int k = 0;
            for (int p = 0; p < size; ++p) {
                if (p <= centres[0]) {
                    out[p] = {0, 0, 1, 0, 1};
                } else if (p >= centres[tiles - 1]) {
                    out[p] = {tiles - 1, tiles - 1, 1, 0, 1};
                } else {
                    while (centres[k + 1] <= p)
                        ++k;
                    out[p] = {k, k + 1, centres[k + 1] - p, p - centres[k], centres[k + 1] - centres[k]};
                }
            }
            return out;
        };
        const std::vector<Blend> bx = blends(centreX, tilesX, width);
        const std::vector<Blend> by = blends(centreY, tilesY, height);

        for (int y = 0; y < height; ++y) {
            const unsigned char* in = pixels + static_cast<long long>(y) * src->widthStep;
            unsigned char* out =
                reinterpret_cast<unsigned char*>(dst->imageData) + static_cast<long long>(y) * dst->widthStep;
            const Blend& vy = by[y];
            const unsigned char* row0 = &maps[static_cast<size_t>(vy.tile0) * tilesX * 256];
            const unsigned char* row1 = &maps[static_cast<size_t>(vy.tile1) * tilesX * 256];
            for (int x = 0; x < width; ++x) {
                const Blend& vx = bx[x];
                const int v = in[x];
                const long long top = vx.w0 * row0[vx.tile0 * 256 + v] + vx.w1 * row0[vx.tile1 * 256 + v];
                const long long bottom = vx.w0 * row1[vx.tile0 * 256 + v] + vx.w1 * row1[vx.tile1 * 256 + v];
                out[x] = static_cast<unsigned char>((vy.w0 * top + vy.w1 * bottom) / (vx.span * vy.span));
            }
        }
    } catch (const std::exception&) {
        return false;
    }
    return true;
}

// --- Drawing ------------------------------------------------------------------------

void Common::drawCircle(IplImage* img, int x, int y, int radius, int value)
{
    if (!isImage(img))
        return;
    if (radius <= 0) {
        putPixel(img, x, y, value);
        return;
    }
    // Only the offsets that land inside the image are visited.
    const long long r = radius;
    const long long jFirst = std::max(-r, -static_cast<long long>(y));
    const long long jLast = std::min(r, static_cast<long long>(img->height) - 1 - y);
    const long long iFirst = std::max(-r, -static_cast<long long>(x));
    const long long iLast = std::min(r, static_cast<long long>(img->width) - 1 - x);
    for (long long j = jFirst; j <= jLast; ++j)
        for (long long i = iFirst; i <= iLast; ++i)
            if (i * i + j * j <= r * r)
                putPixel(img, x + i, y + j, value);
}

void Common::drawLandmarkPoints(IplImage* img, float ox, float oy, float scale, float* xs, float* ys,
                                int count, int radius, int value)
{
    if (xs == nullptr || ys == nullptr)
        return;
    for (int i = 0; i < count; ++i) {
        int px = 0, py = 0;
        if (toPixel(xs[i] * scale + ox, px) && toPixel(ys[i] * scale + oy, py))
            drawCircle(img, px, py, radius, value);
    }
}

void Common::drawInitShape(IplImage** img, float* xs, float* ys, int count)
{
    if (img == nullptr)
        return;
    try {
        *img = cvCreateImage(cvSize(400, 400), IPL_DEPTH_8U, 1);
    } catch (const std::exception&) {
        *img = nullptr;
        return;
    }
    cvZero(*img);
    drawLandmarkPoints(*img, 200.0f, 200.0f, 200.0f, xs, ys, count, 1, 255);
}

void Common::drawLine(IplImage* img, CvPoint a, CvPoint b, int value)
{
    if (!isImage(img))
        return;
    // Incremental error term (Bresenham), in 64 bits so that no difference
    // of coordinates overflows.  The pixels of a line that lie inside the
    // image are consecutive, so the walk ends once it has left the image.
    long long x = a.x, y = a.y;
    const long long dx = std::llabs(static_cast<long long>(b.x) - a.x);
    const long long dy = -std::llabs(static_cast<long long>(b.y) - a.y);
    const int sx = a.x < b.x ? 1 : -1;
    const int sy = a.y < b.y ? 1 : -1;
    long long err = dx + dy;
    bool entered = false;
    for (;;) {
        const bool inside = x >= 0 && y >= 0 && x < img->width && y < img->height;
        if (inside) {
            putPixel(img, x, y, value);
            entered = true;
        } else if (entered) {
            break;
        }
        if (x == b.x && y == b.y)
            break;
        const long long e2 = 2 * err;
        if (e2 >= dy) {
            err += dy;
            x += sx;
        }
        if (e2 <= dx) {
            err += dx;
            y += sy;
        }
    }
}

void Common::drawRectangle(IplImage* img, CvRect* r, int value)
{
    if (!isImage(img) || r == nullptr || r->width <= 0 || r->height <= 0)
        return;
    const long long left = r->x, top = r->y;
    const long long right = left + r->width - 1, bottom = top + r->height - 1;
    for (long long x = std::max(left, 0LL); x <= std::min(right, img->width - 1LL); ++x) {
        putPixel(img, x, top, value);
        putPixel(img, x, bottom, value);
    }
    for (long long y = std::max(top, 0LL); y <= std::min(bottom, img->height - 1LL); ++y) {
        putPixel(img, left, y, value);
        putPixel(img, right, y, value);
    }
}

// --- Miscellaneous --------------------------------------------------------------------

void Common::printArray(std::string name, float* values, int count, bool withIndex)
{
    std::cout << ">>> " << name << ": [";
    for (int i = 0; values != nullptr && i < count; ++i) {
        if (i > 0)
            std::cout << ", ";
        if (withIndex)
            std::cout << i << ": ";
        std::cout << values[i];
    }
    std::cout << "]" << std::endl;
}

double Common::getticks()
{
    timespec ts;
    if (clock_gettime(CLOCK_MONOTONIC, &ts) != 0) {
        std::cout << "clock_gettime error" << std::endl;
        return -1.0;
    }
    return static_cast<double>(ts.tv_sec) * 1000.0 + static_cast<double>(ts.tv_nsec) / 1.0e6;
}

int Common::isKeyPressed(int)
{
    return 0;
}

void Common::RedirectIOToConsole()
{
}

void Common::RedirectIOToFile(const char*)
{
}

}  // namespace OrvixSDK
