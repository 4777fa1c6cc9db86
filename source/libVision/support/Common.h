#ifndef ORVIX_SUPPORT_COMMON_H
#define ORVIX_SUPPORT_COMMON_H

#include <string>
#include <vector>

#include <opencv2/core/types_c.h>

#include "OrvixSDK/Export.h"

namespace ONN {
class ONNIEChooser;
}

namespace OrvixSDK {

class FDP;

// Small static helpers shared by the face code: paths, point-set flips,
// splines and image utilities.
//
// The image utilities are public tools.  They check their arguments (null
// images, depth, channel count, matching sizes) and do nothing when the
// arguments do not fit; they never read or write outside an image and never
// throw.  Masks are 8-bit one-channel images of the same size, where a pixel
// is selected when it is not zero.  Drawing, sampling and CLAHE address the
// whole image (regions of interest are not looked at); the conversions go
// through OpenCV and honour regions of interest like OpenCV does.
class ORVIX_API Common {
public:
    // Size of the folder buffers that setCfgDirPath fills (including the NUL).
    static const int kPathBufferSize = 1024;

    struct Vec2D
    {
        float x;
        float y;
    };

    // c0 + c1 t + c2 t^2 + c3 t^3.
    struct CubicPoly
    {
        float c0;
        float c1;
        float c2;
        float c3;

        float eval(float t) const { return c0 + t * (c1 + t * (c2 + t * c3)); }
    };

    // folder <- the part of path up to and including its last '/' or '\\',
    // or "" when there is none.  At most 1023 characters are kept; folder must
    // hold kPathBufferSize characters.  A null path gives an empty folder.
    static void setCfgDirPath(const char* path, char* folder);

    // y <- 1 - y for every defined point (x and z unchanged): turns normalised
    // points between "y down" and "y up".  Null does nothing.
    static void verticalFlip(FDP* points);

    // --- Splines -----------------------------------------------------------

    // points holds m points as x, y pairs (a trailing odd value is ignored).
    // out receives the m points with n centripetal Catmull-Rom points between
    // each consecutive pair: 2 (m + n (m - 1)) floats, input point i at pair
    // i (n + 1).  The ends are continued by mirrored phantom points.  n < 0
    // counts as 0; with fewer than two points out is a copy of them (one
    // point or nothing).  points is not changed, and out may be the same
    // vector as points.  Should out not fit in memory it is left empty.
    static void calcSpline(const std::vector<float>& points, int n, std::vector<float>& out);

    // Hermite cubic from x0 (t = 0) to x1 (t = 1) with end tangents t0, t1.
    static void InitCubicPoly(float x0, float x1, float t0, float t1, CubicPoly& p);
    // Uniform Catmull-Rom segment from x1 to x2.
    static void InitCatmullRom(float x0, float x1, float x2, float x3, CubicPoly& p);
    // Catmull-Rom segment from x1 to x2 with knot intervals dt0, dt1, dt2.
    static void InitNonuniformCatmullRom(float x0, float x1, float x2, float x3,
                                         float dt0, float dt1, float dt2, CubicPoly& p);
    static float VecDistSquared(const Vec2D& a, const Vec2D& b);
    // Centripetal segment from p1 to p2: knot intervals are the square roots
    // of the point distances; an interval below 0.0001 (coincident points) is
    // replaced (the middle one by 1, the outer ones by the middle one).
    static void InitCentripetalCR(const Vec2D& p0, const Vec2D& p1, const Vec2D& p2,
                                  const Vec2D& p3, CubicPoly& px, CubicPoly& py);

    // --- Normalisation and conversion (32-bit float images) ----------------

    // Subtracts the mean of the whole image from the pixels selected by mask
    // (all when mask is null).  img: 32-bit float.
    static void SubtractAvg(IplImage* img, IplImage* mask);
    // SubtractAvg, then scales the whole image by 1 / its L2 norm; an image
    // whose norm is 0 is left after the subtraction.
    static void SubtractAvgNorm(IplImage* img, IplImage* mask);
    // Subtracts the mean over mask from the whole image, then scales it by
    // 1 / the standard deviation over mask (first channel); a deviation of 0
    // leaves the image after the subtraction.
    static void SubtractAvgNormalizeStd(IplImage* img, IplImage* mask);
    // dst <- (src - min) / (max - min), min and max over the whole of src;
    // a constant image gives 0 everywhere.  With a mask, pixels outside it
    // become 0.  src, dst: 32-bit float, one channel, same size (may be the
    // same image).
    static void NormalizeImg32f(IplImage* src, IplImage* dst, IplImage* mask);
    // 8-bit BGR to grey (in temp when it is an 8-bit one-channel image of the
    // size, else in a temporary image), to float in dst (32-bit, one
    // channel), then NormalizeImg32f in place.
    static void ConvertImageFrom8u3To32f1(const IplImage* src, IplImage* dst, IplImage* temp);
    // 8-bit or float source with one channel (copied) or three BGR channels
    // (converted to grey) into a 32-bit one-channel dst, then normalised.
    static void ConvertImageTo32f1(const IplImage* src, IplImage* dst);
    // 8-bit BGR pixel -> three floats B/s, G/s, R/s with s = B + G + R; a
    // black pixel (s = 0) gives 0, 0, 0.  dst: 32-bit float, three channels.
    static void ConvertImageToNormalizedBGR32f(const IplImage* src, IplImage* dst);
    // Maps min..max of src (32-bit float, one channel) linearly to 0..255
    // and truncates into dst (8-bit, one channel); pixels outside mask become
    // 0.  A constant src gives 0 everywhere.
    static void ConvertImageFrom32fTo8u(const IplImage* src, IplImage* dst, IplImage* mask);
    // Per row: dst <- src, then the part left of the first masked pixel of
    // the left half is filled with that border pixel's value, and the part
    // right of the first unmasked pixel of the right half with that border
    // pixel's value.  A border value is averaged with the one used on the
    // previous row on that side, unless the border lies at the first column
    // of its half.  outMask (optional) starts at 255 and gets 0 where values
    // were filled and at the border pixels.  src, dst: same depth (8-bit or
    // 32-bit float), one channel; mask, outMask: 8-bit one channel.
    static void FillImageSides(const IplImage* src, IplImage* dst, IplImage* mask, IplImage* outMask);

    // --- Bilinear sampling ---------------------------------------------------

    // Bilinear sample of a 32-bit float image with one or three channels at
    // (x, y), neighbours clamped into the image.  One channel: returns the
    // value.  Three channels: writes the three values (null outputs are
    // skipped) and returns 1.  Outside (x >= width, y >= height, x <= -1,
    // y <= -1, not a number) or another image type: writes -1 to the three
    // outputs and returns -1.
    static float Interpolate2d(const IplImage& img, float x, float y, float* c0, float* c1, float* c2);
    // One-channel float image; -1 outside or for another image type.
    static float Interpolate2dGRAY32(const IplImage& img, float x, float y);
    // 8-bit grey image, truncated to 8 bits; 255 outside or for another
    // image type.
    static unsigned char Interpolate2dGRAY8(const IplImage& img, float x, float y);

    // --- Contrast-limited adaptive histogram equalisation ------------------

    // Equalises an 8-bit grey image in tilesY x tilesX tiles (1 to 32 each
    // way).  Tiles are W / tilesX by H / tilesY pixels (integer division), the
    // last row and column of tiles reaching the image edge; a tile's centre is
    // (first + last) / 2 (integer division) of its rows and columns.  Pixels
    // between centres blend the neighbouring tiles' mappings with integer
    // weights (truncating division).  dst may be src.  Returns false and
    // leaves dst untouched for null or non-8-bit-grey images, differing sizes,
    // tile counts outside 1..32 or an image with fewer pixels than tiles in a
    // direction.
    static bool CLAHE(IplImage* dst, IplImage* src, int tilesY, int tilesX, unsigned char clip);
    // Mapping of one tile, rows row0..row1 and columns col0..col1 inclusive
    // of an 8-bit image with row stride step: histogram of pixel fractions,
    // bins clipped at clip / 256 with the excess spread over all bins, then
    // map[v] = integer part of 255 x cumulative[v] (with a tolerance of 1e-9
    // for rounding, so that a sum that reaches 1 gives 255).  Returns false (map
    // untouched) for null pointers, negative or reversed bounds or a step
    // narrower than the tile.
    static bool RCLAHEM(unsigned char* map, unsigned char* src, int row0, int col0, int row1,
                        int col1, int step, unsigned char clip);

    // --- Drawing ------------------------------------------------------------
    // Drawing writes value to every channel of the pixels it touches, on
    // 8-bit (value saturated to 0..255) and 32-bit float images; pixels
    // outside the image are skipped.

    // Sets the pixels with offset (i, j) from (x, y) where i^2 + j^2 <=
    // radius^2; radius <= 0 sets the single pixel.
    static void drawCircle(IplImage* img, int x, int y, int radius, int value);
    // drawCircle at (xs[i] scale + ox, ys[i] scale + oy), truncated to whole
    // pixels; points that are not finite numbers are skipped.
    static void drawLandmarkPoints(IplImage* img, float ox, float oy, float scale, float* xs,
                                   float* ys, int count, int radius, int value);
    // *img <- a new black 400 x 400 8-bit one-channel image (the caller
    // releases it with cvReleaseImage; a previous *img is not released) with
    // the points drawn at scale 200, offset 200, radius 1, value 255.
    static void drawInitShape(IplImage** img, float* xs, float* ys, int count);
    // drawCircle at (width x, height (1 - y when flipY, else y)), truncated,
    // for each defined point of group (all groups when group is -1) whose x
    // and y lie in 0..1.
    static void drawFDP(IplImage* img, FDP* points, bool flipY, int radius, int value, int group);
    // Straight line from a to b, both ends included.
    static void drawLine(IplImage* img, CvPoint a, CvPoint b, int value);
    // The four sides of r: columns r.x .. r.x + width - 1, rows r.y ..
    // r.y + height - 1.  Null or empty rectangles draw nothing.
    static void drawRectangle(IplImage* img, CvRect* r, int value);

    // --- Miscellaneous -------------------------------------------------------

    // Prints why chooser could not create a network runner for modelPath
    // (from its status, backend and plug-in) through a temporary
    // TrackerInternalInterface, and returns; the caller reports the failure.
    static void displayErrorMessageAndExit(ONN::ONNIEChooser* chooser, const std::string& modelPath);

    // ">>> name: [v0, v1, ...]" (with withIndex "[0: v0, 1: v1, ...]") and a
    // line end on standard output.
    static void printArray(std::string name, float* values, int count, bool withIndex);
    // Monotonic clock in milliseconds; prints "clock_gettime error" and
    // returns -1 when the clock fails.
    static double getticks();
    // Console helpers of other platforms: isKeyPressed returns 0, the
    // redirections do nothing.
    static int isKeyPressed(int key);
    static void RedirectIOToConsole();
    static void RedirectIOToFile(const char* path);
};

}  // namespace OrvixSDK

#endif
