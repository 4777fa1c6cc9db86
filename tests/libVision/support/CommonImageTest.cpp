#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/core/core_c.h>

#include "support/Common.h"

using OrvixSDK::Common;

namespace {

struct ImageDeleter
{
    void operator()(IplImage* img) const { cvReleaseImage(&img); }
};
using Image = std::unique_ptr<IplImage, ImageDeleter>;

Image makeImage(int width, int height, int depth, int channels, double fill = 0)
{
    Image img(cvCreateImage(cvSize(width, height), depth, channels));
    cvSet(img.get(), cvScalarAll(fill));
    return img;
}

unsigned char& at8(IplImage* img, int x, int y, int c = 0)
{
    return reinterpret_cast<unsigned char*>(img->imageData + y * img->widthStep)[x * img->nChannels + c];
}

float& at32(IplImage* img, int x, int y, int c = 0)
{
    return reinterpret_cast<float*>(img->imageData + y * img->widthStep)[x * img->nChannels + c];
}

// An 8-bit grey image header over a buffer with guard rows above and below
// and guard columns at the right, so that drawing outside the image shows up
// as changed guard bytes.
class GuardedCanvas {
public:
    static constexpr int kGuard = 4;
    static constexpr unsigned char kGuardValue = 0xA5;

    GuardedCanvas(int width, int height)
        : width_(width), height_(height), step_(width + kGuard),
          buffer_(static_cast<size_t>(step_) * (height + 2 * kGuard), kGuardValue)
    {
        header_ = cvCreateImageHeader(cvSize(width, height), IPL_DEPTH_8U, 1);
        cvSetData(header_, &buffer_[static_cast<size_t>(step_) * kGuard], step_);
        for (int y = 0; y < height; ++y)
            std::memset(&buffer_[static_cast<size_t>(step_) * (y + kGuard)], 0, width);
    }
    ~GuardedCanvas() { cvReleaseImageHeader(&header_); }
    GuardedCanvas(const GuardedCanvas&) = delete;
    GuardedCanvas& operator=(const GuardedCanvas&) = delete;

    IplImage* img() { return header_; }
    int get(int x, int y) const { return buffer_[static_cast<size_t>(step_) * (y + kGuard) + x]; }
    int count(int value) const
    {
        int n = 0;
        for (int y = 0; y < height_; ++y)
            for (int x = 0; x < width_; ++x)
                n += get(x, y) == value;
        return n;
    }
    bool guardsIntact() const
    {
        for (int y = 0; y < height_ + 2 * kGuard; ++y)
            for (int x = 0; x < step_; ++x) {
                const bool inside = y >= kGuard && y < height_ + kGuard && x < width_;
                if (!inside && buffer_[static_cast<size_t>(step_) * y + x] != kGuardValue)
                    return false;
            }
        return true;
    }

private:
    int width_, height_, step_;
    std::vector<unsigned char> buffer_;
    IplImage* header_;
};

double minOf(IplImage* img)
{
    double lo = 0, hi = 0;
    cvMinMaxLoc(img, &lo, &hi);
    return lo;
}

double maxOf(IplImage* img)
{
    double lo = 0, hi = 0;
    cvMinMaxLoc(img, &lo, &hi);
    return hi;
}

// --- Normalisation and conversion -----------------------------------------------

TEST(CommonNormalize, SubtractAvgUsesWholeImageMeanOnMaskedPixels)
{
    Image img = makeImage(4, 1, IPL_DEPTH_32F, 1);
    const float values[] = {1, 2, 3, 6};   // mean 3
    for (int x = 0; x < 4; ++x)
        at32(img.get(), x, 0) = values[x];
    Image mask = makeImage(4, 1, IPL_DEPTH_8U, 1);
    at8(mask.get(), 1, 0) = 1;
    at8(mask.get(), 3, 0) = 255;

    Common::SubtractAvg(img.get(), mask.get());
    EXPECT_FLOAT_EQ(at32(img.get(), 0, 0), 1);
    EXPECT_FLOAT_EQ(at32(img.get(), 1, 0), -1);
    EXPECT_FLOAT_EQ(at32(img.get(), 2, 0), 3);
    EXPECT_FLOAT_EQ(at32(img.get(), 3, 0), 3);

    Common::SubtractAvg(img.get(), nullptr);   // mean now 1.5
    EXPECT_FLOAT_EQ(at32(img.get(), 0, 0), -0.5f);
    EXPECT_FLOAT_EQ(at32(img.get(), 3, 0), 1.5f);
}

TEST(CommonNormalize, SubtractAvgNormGivesUnitNorm)
{
    Image img = makeImage(3, 2, IPL_DEPTH_32F, 1);
    for (int i = 0; i < 6; ++i)
        at32(img.get(), i % 3, i / 3) = static_cast<float>(i * i);
    Common::SubtractAvgNorm(img.get(), nullptr);
    EXPECT_NEAR(cvAvg(img.get()).val[0], 0.0, 1e-6);
    EXPECT_NEAR(cvNorm(img.get(), nullptr, CV_L2), 1.0, 1e-6);

    // A constant image becomes zero, not NaN.
    Image flat = makeImage(3, 2, IPL_DEPTH_32F, 1, 7);
    Common::SubtractAvgNorm(flat.get(), nullptr);
    EXPECT_EQ(cvCountNonZero(flat.get()), 0);
}

TEST(CommonNormalize, SubtractAvgNormalizeStdOverMask)
{
    Image img = makeImage(4, 1, IPL_DEPTH_32F, 1);
    const float values[] = {2, 4, 100, -50};
    for (int x = 0; x < 4; ++x)
        at32(img.get(), x, 0) = values[x];
    Image mask = makeImage(4, 1, IPL_DEPTH_8U, 1);
    at8(mask.get(), 0, 0) = at8(mask.get(), 1, 0) = 1;   // mean 3, deviation 1

    Common::SubtractAvgNormalizeStd(img.get(), mask.get());
    EXPECT_FLOAT_EQ(at32(img.get(), 0, 0), -1);
    EXPECT_FLOAT_EQ(at32(img.get(), 1, 0), 1);
    EXPECT_FLOAT_EQ(at32(img.get(), 2, 0), 97);
    EXPECT_FLOAT_EQ(at32(img.get(), 3, 0), -53);

    Image flat = makeImage(2, 2, IPL_DEPTH_32F, 1, 5);
    Common::SubtractAvgNormalizeStd(flat.get(), nullptr);
    EXPECT_EQ(cvCountNonZero(flat.get()), 0);
}

TEST(CommonNormalize, NormalizeImg32fMapsToUnitRange)
{
    Image src = makeImage(3, 1, IPL_DEPTH_32F, 1);
    at32(src.get(), 0, 0) = -2;
    at32(src.get(), 1, 0) = 0;
    at32(src.get(), 2, 0) = 6;
    Image dst = makeImage(3, 1, IPL_DEPTH_32F, 1, 9);
    Image mask = makeImage(3, 1, IPL_DEPTH_8U, 1, 1);
    at8(mask.get(), 2, 0) = 0;

    Common::NormalizeImg32f(src.get(), dst.get(), mask.get());
    EXPECT_FLOAT_EQ(at32(dst.get(), 0, 0), 0);
    EXPECT_FLOAT_EQ(at32(dst.get(), 1, 0), 0.25f);
    EXPECT_FLOAT_EQ(at32(dst.get(), 2, 0), 0);   // outside the mask

    Common::NormalizeImg32f(src.get(), src.get(), nullptr);   // in place
    EXPECT_FLOAT_EQ(at32(src.get(), 2, 0), 1);

    Image flat = makeImage(3, 1, IPL_DEPTH_32F, 1, 4);
    Common::NormalizeImg32f(flat.get(), flat.get(), nullptr);
    EXPECT_EQ(cvCountNonZero(flat.get()), 0);
}

// Every grey conversion gives the same normalised image for the same content.
TEST(CommonConvert, GreyConversionsAgreeForAllSourceTypes)
{
    const int w = 5, h = 2;
    const unsigned char grey[w * h] = {10, 20, 30, 40, 50, 60, 70, 80, 90, 110};
    struct Source
    {
        int depth, channels;
    };
    for (const Source& s : {Source{IPL_DEPTH_8U, 1}, Source{IPL_DEPTH_8U, 3}, Source{IPL_DEPTH_32F, 1},
                            Source{IPL_DEPTH_32F, 3}}) {
        Image src = makeImage(w, h, s.depth, s.channels);
        for (int i = 0; i < w * h; ++i)
            for (int c = 0; c < s.channels; ++c) {
                if (s.depth == IPL_DEPTH_8U)
                    at8(src.get(), i % w, i / w, c) = grey[i];
                else
                    at32(src.get(), i % w, i / w, c) = grey[i];
            }
        Image dst = makeImage(w, h, IPL_DEPTH_32F, 1);
        Common::ConvertImageTo32f1(src.get(), dst.get());
        for (int i = 0; i < w * h; ++i)
            EXPECT_NEAR(at32(dst.get(), i % w, i / w), (grey[i] - 10) / 100.0, 1e-5)
                << "depth " << s.depth << " channels " << s.channels << " pixel " << i;

        if (s.depth == IPL_DEPTH_8U && s.channels == 3) {
            Image temp = makeImage(w, h, IPL_DEPTH_8U, 1);
            for (IplImage* t : {static_cast<IplImage*>(nullptr), temp.get()}) {
                Image viaTemp = makeImage(w, h, IPL_DEPTH_32F, 1);
                Common::ConvertImageFrom8u3To32f1(src.get(), viaTemp.get(), t);
                EXPECT_EQ(cvNorm(viaTemp.get(), dst.get(), CV_L1), 0.0);
            }
            EXPECT_EQ(at8(temp.get(), 4, 1), 110);   // the grey image went into temp
        }
    }
}

TEST(CommonConvert, NormalizedBGR)
{
    Image src = makeImage(2, 1, IPL_DEPTH_8U, 3);
    at8(src.get(), 0, 0, 0) = 10;
    at8(src.get(), 0, 0, 1) = 20;
    at8(src.get(), 0, 0, 2) = 70;   // pixel 1 stays black
    Image dst = makeImage(2, 1, IPL_DEPTH_32F, 3, 5);
    Common::ConvertImageToNormalizedBGR32f(src.get(), dst.get());
    EXPECT_FLOAT_EQ(at32(dst.get(), 0, 0, 0), 0.1f);
    EXPECT_FLOAT_EQ(at32(dst.get(), 0, 0, 1), 0.2f);
    EXPECT_FLOAT_EQ(at32(dst.get(), 0, 0, 2), 0.7f);
    for (int c = 0; c < 3; ++c)
        EXPECT_EQ(at32(dst.get(), 1, 0, c), 0.0f);
}

TEST(CommonConvert, FloatTo8uScalesTruncatesAndMasks)
{
    Image src = makeImage(4, 1, IPL_DEPTH_32F, 1);
    const float values[] = {-1, 0, 1, 0.99f};
    for (int x = 0; x < 4; ++x)
        at32(src.get(), x, 0) = values[x];
    Image dst = makeImage(4, 1, IPL_DEPTH_8U, 1, 9);
    Common::ConvertImageFrom32fTo8u(src.get(), dst.get(), nullptr);
    EXPECT_EQ(at8(dst.get(), 0, 0), 0);
    EXPECT_EQ(at8(dst.get(), 1, 0), 127);   // 127.5 truncated
    EXPECT_EQ(at8(dst.get(), 2, 0), 255);
    EXPECT_EQ(at8(dst.get(), 3, 0), 253);   // 253.7 truncated

    Image mask = makeImage(4, 1, IPL_DEPTH_8U, 1, 1);
    at8(mask.get(), 2, 0) = 0;
    Common::ConvertImageFrom32fTo8u(src.get(), dst.get(), mask.get());
    EXPECT_EQ(at8(dst.get(), 2, 0), 0);
    EXPECT_EQ(at8(dst.get(), 3, 0), 253);

    Image flat = makeImage(4, 1, IPL_DEPTH_32F, 1, 3);
    Common::ConvertImageFrom32fTo8u(flat.get(), dst.get(), nullptr);
    EXPECT_EQ(cvCountNonZero(dst.get()), 0);
}

// Arguments of the wrong type or size are refused without touching the output.
TEST(CommonConvert, MismatchedArgumentsLeaveTheOutputAlone)
{
    Image f1 = makeImage(4, 4, IPL_DEPTH_32F, 1, 3);
    Image f1small = makeImage(3, 4, IPL_DEPTH_32F, 1, 3);
    Image f3 = makeImage(4, 4, IPL_DEPTH_32F, 3, 3);
    Image b1 = makeImage(4, 4, IPL_DEPTH_8U, 1, 3);
    Image b3 = makeImage(4, 4, IPL_DEPTH_8U, 3, 3);
    Image b4 = makeImage(4, 4, IPL_DEPTH_8U, 4, 3);
    Image maskSmall = makeImage(2, 2, IPL_DEPTH_8U, 1, 1);
    Image maskFloat = makeImage(4, 4, IPL_DEPTH_32F, 1, 1);

    struct Case
    {
        const char* what;
        IplImage* output;
        std::function<void()> call;
    };
    const std::vector<Case> cases = {
        {"SubtractAvg 8-bit", b1.get(), [&] { Common::SubtractAvg(b1.get(), nullptr); }},
        {"SubtractAvg small mask", f1.get(), [&] { Common::SubtractAvg(f1.get(), maskSmall.get()); }},
        {"SubtractAvgNorm float mask", f1.get(), [&] { Common::SubtractAvgNorm(f1.get(), maskFloat.get()); }},
        {"NormalizeStd small mask", f1.get(), [&] { Common::SubtractAvgNormalizeStd(f1.get(), maskSmall.get()); }},
        {"Normalize sizes", f1small.get(), [&] { Common::NormalizeImg32f(f1.get(), f1small.get(), nullptr); }},
        {"Normalize 3 channels", f3.get(), [&] { Common::NormalizeImg32f(f3.get(), f3.get(), nullptr); }},
        {"8u3To32f1 from grey", f1.get(), [&] { Common::ConvertImageFrom8u3To32f1(b1.get(), f1.get(), nullptr); }},
        {"8u3To32f1 sizes", f1small.get(), [&] { Common::ConvertImageFrom8u3To32f1(b3.get(), f1small.get(), nullptr); }},
        {"To32f1 four channels", f1.get(), [&] { Common::ConvertImageTo32f1(b4.get(), f1.get()); }},
        {"To32f1 into 8-bit", b1.get(), [&] { Common::ConvertImageTo32f1(f1.get(), b1.get()); }},
        {"NormalizedBGR from grey", f3.get(), [&] { Common::ConvertImageToNormalizedBGR32f(b1.get(), f3.get()); }},
        {"32fTo8u sizes", b1.get(), [&] { Common::ConvertImageFrom32fTo8u(f1small.get(), b1.get(), nullptr); }},
        {"32fTo8u small mask", b1.get(), [&] { Common::ConvertImageFrom32fTo8u(f1.get(), b1.get(), maskSmall.get()); }},
        {"FillImageSides depths", f1.get(), [&] { Common::FillImageSides(b1.get(), f1.get(), b1.get(), nullptr); }},
        {"FillImageSides no mask", b1.get(), [&] { Common::FillImageSides(b1.get(), b1.get(), nullptr, nullptr); }},
        {"null images", b1.get(), [&] {
             Common::SubtractAvgNorm(nullptr, nullptr);
             Common::NormalizeImg32f(nullptr, nullptr, nullptr);
             Common::ConvertImageTo32f1(nullptr, f1.get());
             Common::ConvertImageFrom32fTo8u(nullptr, b1.get(), nullptr);
         }},
    };
    for (const Case& c : cases) {
        Image before(cvCloneImage(c.output));
        c.call();
        EXPECT_EQ(cvNorm(before.get(), c.output, CV_L1), 0.0) << c.what;
    }
}

TEST(CommonConvert, FillImageSides)
{
    // Width 8 (halves 0..3 and 4..7); pixel value 10 * x + y.
    const int w = 8, h = 2;
    Image src = makeImage(w, h, IPL_DEPTH_8U, 1);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            at8(src.get(), x, y) = static_cast<unsigned char>(10 * x + y);
    Image mask = makeImage(w, h, IPL_DEPTH_8U, 1);
    for (int x = 2; x <= 5; ++x)
        at8(mask.get(), x, 0) = 1;   // row 0: masked 2..5
    for (int x = 1; x <= 6; ++x)
        at8(mask.get(), x, 1) = 1;   // row 1: masked 1..6
    Image dst = makeImage(w, h, IPL_DEPTH_8U, 1);
    Image outMask = makeImage(w, h, IPL_DEPTH_8U, 1);

    Common::FillImageSides(src.get(), dst.get(), mask.get(), outMask.get());
    // Row 0: left border 2 (value 20), right border 6 (value 60).
    const int row0[w] = {20, 20, 20, 30, 40, 50, 60, 60};
    const int mask0[w] = {0, 0, 0, 255, 255, 255, 0, 0};
    // Row 1: left border 1 (11, averaged with 20 -> 15.5, rounded 16);
    // right border 7 (71 averaged with 60 -> 65.5) has nothing to its right.
    const int row1[w] = {16, 11, 21, 31, 41, 51, 61, 71};
    const int mask1[w] = {0, 0, 255, 255, 255, 255, 255, 0};
    for (int x = 0; x < w; ++x) {
        EXPECT_EQ(at8(dst.get(), x, 0), row0[x]) << x;
        EXPECT_EQ(at8(outMask.get(), x, 0), mask0[x]) << x;
        EXPECT_EQ(at8(dst.get(), x, 1), row1[x]) << x;
        EXPECT_EQ(at8(outMask.get(), x, 1), mask1[x]) << x;
    }

    // Float images, in place, without outMask.
    Image f = makeImage(w, h, IPL_DEPTH_32F, 1);
    cvConvert(src.get(), f.get());
    Common::FillImageSides(f.get(), f.get(), mask.get(), nullptr);
    EXPECT_FLOAT_EQ(at32(f.get(), 0, 1), 15.5f);
    EXPECT_FLOAT_EQ(at32(f.get(), 7, 0), 60.0f);
}

// --- Bilinear sampling --------------------------------------------------------------

TEST(CommonInterpolate, GreySamplesWithClampedNeighbours)
{
    // 3 x 2 float image: 0 10 20 / 30 40 50.
    Image f = makeImage(3, 2, IPL_DEPTH_32F, 1);
    Image b = makeImage(3, 2, IPL_DEPTH_8U, 1);
    for (int i = 0; i < 6; ++i) {
        at32(f.get(), i % 3, i / 3) = 10.0f * i;
        at8(b.get(), i % 3, i / 3) = static_cast<unsigned char>(10 * i + 1);
    }
    struct Case
    {
        float x, y, value;
    };
    const Case cases[] = {
        {0, 0, 0},    {2, 1, 50},     {0.5f, 0, 5},     {1, 0.5f, 25},    {0.5f, 0.5f, 20},
        {2.5f, 0, 20}, {2.9f, 1.9f, 50}, {-0.5f, 0, 0}, {0, -0.5f, 0},  {-0.9f, 1.5f, 30},
        {3, 0, -1},   {0, 2, -1},     {-1, 0, -1},      {0, -1, -1},      {NAN, 0, -1},
        {1e30f, 0, -1},
    };
    for (const Case& c : cases) {
        EXPECT_NEAR(Common::Interpolate2dGRAY32(*f, c.x, c.y), c.value, 1e-4) << c.x << "," << c.y;
        const int expected8 = c.value < 0 ? 255 : static_cast<int>(c.value + 1);
        EXPECT_EQ(Common::Interpolate2dGRAY8(*b, c.x, c.y), expected8) << c.x << "," << c.y;
        float c0 = 7, c1 = 7, c2 = 7;
        EXPECT_NEAR(Common::Interpolate2d(*f, c.x, c.y, &c0, &c1, &c2), c.value, 1e-4);
    }
    // Truncation of the 8-bit result: halfway between 1 and 11 is 6, between
    // 1 and 12 is 6.5 -> 6.
    at8(b.get(), 1, 0) = 12;
    EXPECT_EQ(Common::Interpolate2dGRAY8(*b, 0.5f, 0), 6);
    // Wrong image types are refused.
    EXPECT_EQ(Common::Interpolate2dGRAY32(*b, 0, 0), -1.0f);
    EXPECT_EQ(Common::Interpolate2dGRAY8(*f, 0, 0), 255);
}

TEST(CommonInterpolate, ThreeChannels)
{
    Image f = makeImage(2, 1, IPL_DEPTH_32F, 3);
    for (int c = 0; c < 3; ++c) {
        at32(f.get(), 0, 0, c) = static_cast<float>(c);
        at32(f.get(), 1, 0, c) = static_cast<float>(10 + c);
    }
    float c0 = 0, c1 = 0, c2 = 0;
    EXPECT_EQ(Common::Interpolate2d(*f, 0.5f, 0.7f, &c0, &c1, &c2), 1.0f);
    EXPECT_FLOAT_EQ(c0, 5);
    EXPECT_FLOAT_EQ(c1, 6);
    EXPECT_FLOAT_EQ(c2, 7);
    EXPECT_EQ(Common::Interpolate2d(*f, 2, 0, &c0, &c1, &c2), -1.0f);
    EXPECT_EQ(c0, -1.0f);
    EXPECT_EQ(c1, -1.0f);
    EXPECT_EQ(c2, -1.0f);
    Image b = makeImage(2, 1, IPL_DEPTH_8U, 3);
    c0 = 0;
    EXPECT_EQ(Common::Interpolate2d(*b, 0, 0, &c0, nullptr, nullptr), -1.0f);
    EXPECT_EQ(c0, -1.0f);
}

// --- CLAHE ------------------------------------------------------------------------------

TEST(CommonClahe, TileMappingKnownCases)
{
    unsigned char map[256];
    // Two black and two white pixels, no clipping: half the mass at 0.
    unsigned char halves[2 * 2] = {0, 255, 255, 0};
    ASSERT_TRUE(Common::RCLAHEM(map, halves, 0, 0, 1, 1, 2, 255));
    EXPECT_EQ(map[0], 127);
    EXPECT_EQ(map[128], 127);
    EXPECT_EQ(map[254], 127);
    EXPECT_EQ(map[255], 255);

    // Four pixels of value 10, limit 0.5: bin 10 keeps 0.5 + 1/512, every
    // bin gets 1/512.
    unsigned char flat[2 * 3] = {10, 10, 99, 10, 10, 99};   // third column not in the tile
    ASSERT_TRUE(Common::RCLAHEM(map, flat, 0, 0, 1, 1, 3, 128));
    EXPECT_EQ(map[0], 0);      // 255 / 512
    EXPECT_EQ(map[9], 4);      // 255 * 10 / 512
    EXPECT_EQ(map[10], 132);   // 255 * (0.5 + 11 / 512)
    EXPECT_EQ(map[200], 227);  // 255 * (0.5 + 201 / 512)
    EXPECT_EQ(map[255], 255);

    // Bad bounds and pointers leave the map alone.
    std::memset(map, 7, sizeof map);
    EXPECT_FALSE(Common::RCLAHEM(map, flat, 1, 0, 0, 1, 3, 128));
    EXPECT_FALSE(Common::RCLAHEM(map, flat, -1, 0, 1, 1, 3, 128));
    EXPECT_FALSE(Common::RCLAHEM(map, flat, 0, 0, 1, 3, 3, 128));
    EXPECT_FALSE(Common::RCLAHEM(nullptr, flat, 0, 0, 1, 1, 3, 128));
    EXPECT_FALSE(Common::RCLAHEM(map, nullptr, 0, 0, 1, 1, 3, 128));
    EXPECT_EQ(map[0], 7);
}

Image randomGrey(int w, int h, unsigned seed, int lo = 0, int hi = 255)
{
    Image img = makeImage(w, h, IPL_DEPTH_8U, 1);
    std::mt19937 gen(seed);
    std::uniform_int_distribution<int> dist(lo, hi);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            at8(img.get(), x, y) = static_cast<unsigned char>(dist(gen));
    return img;
}

TEST(CommonClahe, ConstantImageStaysConstant)
{
    for (int tiles : {1, 3, 8}) {
        Image src = makeImage(40, 30, IPL_DEPTH_8U, 1, 77);
        Image dst = makeImage(40, 30, IPL_DEPTH_8U, 1);
        ASSERT_TRUE(Common::CLAHE(dst.get(), src.get(), tiles, tiles, 40));
        EXPECT_EQ(minOf(dst.get()), maxOf(dst.get())) << tiles;
    }
}

TEST(CommonClahe, SingleTileIsMonotonicAndStretchesContrast)
{
    Image src = randomGrey(50, 40, 1, 100, 140);
    Image dst = makeImage(50, 40, IPL_DEPTH_8U, 1);
    ASSERT_TRUE(Common::CLAHE(dst.get(), src.get(), 1, 1, 255));
    int outOf[256];
    std::fill(outOf, outOf + 256, -1);
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 50; ++x) {
            const int in = at8(src.get(), x, y), out = at8(dst.get(), x, y);
            if (outOf[in] >= 0) {
                EXPECT_EQ(outOf[in], out);   // one mapping for the whole image
            }
            outOf[in] = out;
        }
    int last = -1;
    for (int v = 0; v < 256; ++v)
        if (outOf[v] >= 0) {
            EXPECT_GE(outOf[v], last) << v;
            last = outOf[v];
        }
    EXPECT_EQ(maxOf(dst.get()), 255);
    EXPECT_LT(minOf(dst.get()), 20);
}

TEST(CommonClahe, LowerClipLimitGivesLessContrast)
{
    // Half the pixels 100, half 110, in one tile.
    Image src = makeImage(16, 16, IPL_DEPTH_8U, 1, 100);
    cvSetImageROI(src.get(), cvRect(8, 0, 8, 16));
    cvSet(src.get(), cvScalarAll(110));
    cvResetImageROI(src.get());
    int previousSpread = 256;
    for (int clip : {255, 100, 64, 8}) {
        Image dst = makeImage(16, 16, IPL_DEPTH_8U, 1);
        ASSERT_TRUE(Common::CLAHE(dst.get(), src.get(), 1, 1, static_cast<unsigned char>(clip)));
        const int spread = at8(dst.get(), 15, 0) - at8(dst.get(), 0, 0);
        EXPECT_LT(spread, previousSpread) << clip;
        EXPECT_GT(spread, 0) << clip;
        previousSpread = spread;
    }
}

TEST(CommonClahe, TileCentresUseTheirOwnMapping)
{
    // 2 x 2 tiles of 20 x 10 pixels: centres at columns 9, 29 and rows 4, 14.
    const int w = 40, h = 20;
    Image src = randomGrey(w, h, 7);
    Image dst = makeImage(w, h, IPL_DEPTH_8U, 1);
    ASSERT_TRUE(Common::CLAHE(dst.get(), src.get(), 2, 2, 20));
    unsigned char* pixels = reinterpret_cast<unsigned char*>(src->imageData);
    const int tileCols[2][2] = {{0, 19}, {20, 39}};
    const int tileRows[2][2] = {{0, 9}, {10, 19}};
    for (int ty = 0; ty < 2; ++ty)
        for (int tx = 0; tx < 2; ++tx) {
            unsigned char map[256];
            Common::RCLAHEM(map, pixels, tileRows[ty][0], tileCols[tx][0], tileRows[ty][1], tileCols[tx][1],
                            src->widthStep, 20);
            // The centre, and the corner regions beyond the outer centres.
            const int cx = (tileCols[tx][0] + tileCols[tx][1]) / 2, cy = (tileRows[ty][0] + tileRows[ty][1]) / 2;
            const int cornerX = tx == 0 ? 0 : w - 1, cornerY = ty == 0 ? 0 : h - 1;
            EXPECT_EQ(at8(dst.get(), cx, cy), map[at8(src.get(), cx, cy)]);
            EXPECT_EQ(at8(dst.get(), cornerX, cornerY), map[at8(src.get(), cornerX, cornerY)]);
        }

    // In place gives the same result.
    Image copy(cvCloneImage(src.get()));
    ASSERT_TRUE(Common::CLAHE(copy.get(), copy.get(), 2, 2, 20));
    EXPECT_EQ(cvNorm(copy.get(), dst.get(), CV_L1), 0.0);
}

TEST(CommonClahe, BlendsBetweenNeighbouringTiles)
{
    // Left tile all 0, right tile all 255 (two tiles of 10 columns, centres
    // 4 and 14).  With the limit 255 / 256 a constant tile keeps
    // 255 / 256 + 1 / 65536 of its mass in its bin, so the left tile maps 0
    // to 254 and the right tile maps 0 to 0 and 255 to 255.  Between the
    // centres the dark pixels fade linearly from 254 to 0 (truncated).
    Image src = makeImage(20, 4, IPL_DEPTH_8U, 1, 0);
    cvSetImageROI(src.get(), cvRect(10, 0, 10, 4));
    cvSet(src.get(), cvScalarAll(255));
    cvResetImageROI(src.get());
    Image dst = makeImage(20, 4, IPL_DEPTH_8U, 1);
    ASSERT_TRUE(Common::CLAHE(dst.get(), src.get(), 1, 2, 255));
    const int expected[20] = {254, 254, 254, 254, 254, 228, 203, 177, 152, 127,
                              255, 255, 255, 255, 255, 255, 255, 255, 255, 255};
    for (int x = 0; x < 20; ++x)
        EXPECT_EQ(at8(dst.get(), x, 2), expected[x]) << x;
}

TEST(CommonClahe, RefusesBadArguments)
{
    Image src = randomGrey(32, 20, 3);
    Image dst = makeImage(32, 20, IPL_DEPTH_8U, 1, 9);
    Image other = makeImage(31, 20, IPL_DEPTH_8U, 1);
    Image colour = makeImage(32, 20, IPL_DEPTH_8U, 3);
    Image floats = makeImage(32, 20, IPL_DEPTH_32F, 1);
    struct Case
    {
        const char* what;
        IplImage* src;
        int tilesY, tilesX;
    };
    const Case cases[] = {
        {"no tiles", src.get(), 0, 4},    {"negative tiles", src.get(), 4, -1},
        {"33 tiles", src.get(), 4, 33},   {"more rows of tiles than rows", src.get(), 21, 4},
        {"sizes differ", other.get(), 2, 2}, {"colour", colour.get(), 2, 2},
        {"float", floats.get(), 2, 2},    {"null", nullptr, 2, 2},
    };
    for (const Case& c : cases) {
        EXPECT_FALSE(Common::CLAHE(dst.get(), c.src, c.tilesY, c.tilesX, 40)) << c.what;
        EXPECT_EQ(cvCountNonZero(dst.get()), 32 * 20) << c.what;
        EXPECT_EQ(maxOf(dst.get()), 9) << c.what;
    }
    EXPECT_FALSE(Common::CLAHE(nullptr, src.get(), 2, 2, 40));
    // The largest grid: 32 x 20 tiles of a single pixel.
    EXPECT_TRUE(Common::CLAHE(dst.get(), src.get(), 20, 32, 40));
}

// --- Drawing ------------------------------------------------------------------------------

TEST(CommonDraw, CirclesAreClippedToTheImage)
{
    struct Case
    {
        int x, y, radius, pixels;
    };
    const Case cases[] = {
        {5, 5, 0, 1},  {5, 5, -3, 1}, {5, 5, 1, 5},  {5, 5, 2, 13}, {0, 0, 2, 6},
        {9, 7, 2, 6},  {-1, 3, 1, 1}, {12, 3, 2, 0}, {5, -2, 2, 1}, {4, 4, 1000, 80},
        {5, 5, 2147483647, 80},
    };
    for (const Case& c : cases) {
        GuardedCanvas canvas(10, 8);
        Common::drawCircle(canvas.img(), c.x, c.y, c.radius, 200);
        EXPECT_EQ(canvas.count(200), c.pixels) << c.x << "," << c.y << " r " << c.radius;
        EXPECT_TRUE(canvas.guardsIntact()) << c.x << "," << c.y << " r " << c.radius;
    }
}

TEST(CommonDraw, LinesAndRectangles)
{
    struct Case
    {
        CvPoint a, b;
        std::vector<CvPoint> pixels;
    };
    const std::vector<Case> cases = {
        {{1, 1}, {4, 1}, {{1, 1}, {2, 1}, {3, 1}, {4, 1}}},
        {{2, 3}, {2, 1}, {{2, 1}, {2, 2}, {2, 3}}},
        {{0, 0}, {3, 3}, {{0, 0}, {1, 1}, {2, 2}, {3, 3}}},
        {{0, 0}, {4, 2}, {{0, 0}, {1, 1}, {2, 1}, {3, 2}, {4, 2}}},
        {{6, 6}, {6, 6}, {{6, 6}}},
        {{-3, 2}, {2, 2}, {{0, 2}, {1, 2}, {2, 2}}},
        {{7, 4}, {1000000, 4}, {{7, 4}, {8, 4}, {9, 4}}},
    };
    for (const Case& c : cases) {
        GuardedCanvas canvas(10, 8);
        Common::drawLine(canvas.img(), c.a, c.b, 9);
        EXPECT_EQ(canvas.count(9), static_cast<int>(c.pixels.size())) << c.a.x << "," << c.a.y;
        for (const CvPoint& p : c.pixels)
            EXPECT_EQ(canvas.get(p.x, p.y), 9) << p.x << "," << p.y;
        EXPECT_TRUE(canvas.guardsIntact());
    }

    GuardedCanvas canvas(10, 8);
    CvRect r = cvRect(2, 1, 4, 3);
    Common::drawRectangle(canvas.img(), &r, 5);
    EXPECT_EQ(canvas.count(5), 10);
    EXPECT_EQ(canvas.get(2, 1), 5);
    EXPECT_EQ(canvas.get(5, 3), 5);
    EXPECT_EQ(canvas.get(3, 2), 0);

    GuardedCanvas clipped(10, 8);
    CvRect outside = cvRect(7, -2, 10, 5);   // left side x = 7, bottom y = 2
    Common::drawRectangle(clipped.img(), &outside, 5);
    EXPECT_EQ(clipped.count(5), 3 + 3 - 1);
    EXPECT_TRUE(clipped.guardsIntact());
    CvRect empty = cvRect(1, 1, 0, 5);
    Common::drawRectangle(clipped.img(), &empty, 6);
    Common::drawRectangle(clipped.img(), nullptr, 6);
    EXPECT_EQ(clipped.count(6), 0);
}

TEST(CommonDraw, LandmarksAndInitShape)
{
    float xs[] = {0.0f, 0.5f, -1.5f, NAN, 1e20f};
    float ys[] = {0.0f, -0.5f, 0.0f, 0.0f, 0.0f};
    IplImage* shape = nullptr;
    Common::drawInitShape(&shape, xs, ys, 5);
    ASSERT_NE(shape, nullptr);
    Image owned(shape);
    EXPECT_EQ(shape->width, 400);
    EXPECT_EQ(shape->height, 400);
    EXPECT_EQ(shape->depth, IPL_DEPTH_8U);
    EXPECT_EQ(shape->nChannels, 1);
    // Points at (200, 200) and (300, 100) with radius 1 (5 pixels each); the
    // third lies outside and the others are not usable numbers.
    EXPECT_EQ(cvCountNonZero(shape), 10);
    EXPECT_EQ(at8(shape, 200, 200), 255);
    EXPECT_EQ(at8(shape, 301, 100), 255);

    Image colour = makeImage(20, 20, IPL_DEPTH_8U, 3);
    float px[] = {1.0f}, py[] = {2.0f};
    Common::drawLandmarkPoints(colour.get(), 3.0f, 1.0f, 4.0f, px, py, 1, 0, 300);
    for (int c = 0; c < 3; ++c)
        EXPECT_EQ(at8(colour.get(), 7, 9, c), 255);   // saturated, every channel
}

// --- Miscellaneous ---------------------------------------------------------------------------

TEST(CommonMisc, PrintArray)
{
    float values[] = {1.5f, -2.0f, 3.0f};
    struct Case
    {
        int count;
        bool withIndex;
        const char* text;
    };
    const Case cases[] = {
        {3, false, ">>> v: [1.5, -2, 3]\n"},
        {2, true, ">>> v: [0: 1.5, 1: -2]\n"},
        {0, true, ">>> v: []\n"},
    };
    for (const Case& c : cases) {
        testing::internal::CaptureStdout();
        Common::printArray("v", values, c.count, c.withIndex);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.text);
    }
}

TEST(CommonMisc, TicksAreMonotonicMilliseconds)
{
    const double first = Common::getticks();
    timespec pause = {0, 20 * 1000 * 1000};
    nanosleep(&pause, nullptr);
    const double second = Common::getticks();
    EXPECT_GT(first, 0.0);
    EXPECT_GE(second - first, 19.0);
    EXPECT_LT(second - first, 5000.0);
}

TEST(CommonMisc, ConsoleHelpersDoNothing)
{
    EXPECT_EQ(Common::isKeyPressed(27), 0);
    testing::internal::CaptureStdout();
    Common::RedirectIOToConsole();
    Common::RedirectIOToFile("/nonexistent/out.txt");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

}  // namespace
