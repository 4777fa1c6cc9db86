#include "detection/AlignmentUtils.h"

#include <algorithm>
#include <cmath>
#include <climits>

#include <opencv2/core.hpp>
#include <opencv2/core/core_c.h>

#include "OrvixSDK/FDP.h"

namespace OrvixSDK {

namespace {

// Nearest integer, halves to even; values beyond the int range are clamped
// and a NaN gives 0, so garbage positions never cause undefined behaviour.
int roundToInt(double v)
{
    if (!(v == v))
        return 0;
    const double r = std::nearbyint(v);
    if (r >= static_cast<double>(INT_MAX))
        return INT_MAX;
    if (r <= static_cast<double>(INT_MIN))
        return INT_MIN;
    return static_cast<int>(r);
}

// True when m is an N x 2 single-channel matrix with at least one row.
bool isPointMatrix(const CvMat* m)
{
    return m != nullptr && CV_MAT_CN(m->type) == 1 && m->cols == 2 && m->rows > 0;
}

// Column means of an N x 2 point matrix.
void centroid(const CvMat* m, double& cx, double& cy)
{
    cx = 0.0;
    cy = 0.0;
    for (int r = 0; r < m->rows; ++r) {
        cx += cvGetReal2D(m, r, 0);
        cy += cvGetReal2D(m, r, 1);
    }
    cx /= m->rows;
    cy /= m->rows;
}

// The whole pixel area of image as a matrix sharing its pixels, whatever
// region of interest the image carries.
cv::Mat wholeImage(const IplImage* image)
{
    IplImage header = *image;
    header.roi = nullptr;
    header.maskROI = nullptr;
    return cv::cvarrToMat(&header);
}

}  // namespace

bool AlignmentUtils::calculateBoundingBox(int width, int height, const FDP* points, CvRect* box, bool flipY,
                                          float factor)
{
    if (points == nullptr || box == nullptr)
        return false;
    // Eye corners (3.7/3.11 and 3.8/3.12), nostrils (9.4/9.5) and mouth 8.1.
    static const int needed[7][2] = {{3, 11}, {3, 7}, {3, 12}, {3, 8}, {9, 5}, {9, 4}, {8, 1}};
    CvPoint p[7];
    for (int k = 0; k < 7; ++k) {
        p[k] = cvPoint(0, 0);
        if (!getFeaturePointFromFDP(p[k], points, needed[k][0], needed[k][1], width, height, flipY))
            return false;
    }
    auto mean = [](CvPoint a, CvPoint b) {
        return cvPoint(roundToInt((static_cast<double>(a.x) + b.x) / 2.0),
                       roundToInt((static_cast<double>(a.y) + b.y) / 2.0));
    };
    auto distance = [](CvPoint a, CvPoint b) {
        const double dx = static_cast<double>(a.x) - b.x;
        const double dy = static_cast<double>(a.y) - b.y;
        return std::sqrt(dx * dx + dy * dy);
    };
    const CvPoint eyeA = mean(p[0], p[1]);
    const CvPoint eyeB = mean(p[2], p[3]);
    const CvPoint nose = mean(p[4], p[5]);
    const CvPoint eyes = mean(eyeA, eyeB);
    const CvPoint mouth = p[6];

    const double d = std::max(std::max(distance(eyeA, mouth), distance(eyeB, mouth)), distance(eyeA, eyeB));
    const int side = roundToInt(d * 1.8 * factor);
    box->width = side;
    box->height = side;
    box->x = roundToInt(0.8 * nose.x + 0.2 * eyes.x - side / 2.0);
    box->y = roundToInt(0.8 * nose.y + 0.2 * eyes.y - side / 2.0);
    return true;
}

bool AlignmentUtils::calculateMinMaxBoundingBox(int width, int height, const FDP* points, CvRect* box)
{
    if (width < 1 || height < 1 || points == nullptr || box == nullptr)
        return false;
    double minX = HUGE_VAL;
    double minY = HUGE_VAL;
    double maxX = 0.0;
    double maxY = 0.0;
    bool any = false;
    for (int g = FDP::firstGroup; g <= FDP::lastGroup; ++g) {
        if (g == 10)   // ears
            continue;
        for (int i = 1; i <= FDP::groupSize(g); ++i) {
            const FeaturePoint& fp = points->getFP(g, i);
            if (!fp.defined || !fp.detected)
                continue;
            const double x = static_cast<double>(width) * fp.position[0];
            const double y = static_cast<double>(height) * fp.position[1];
            minX = std::min(minX, x);
            minY = std::min(minY, y);
            maxX = std::max(maxX, x);
            maxY = std::max(maxY, y);
            any = true;
        }
    }
    // Without a single point there is nothing to put a box around.
    if (!any)
        return false;
    double w = maxX - minX;
    double h = maxY - minY;
    if (!(w > 0.0))
        w = 1.0;
    if (!(h > 0.0))
        h = 1.0;
    const double side = (w + h) / 2.0;
    box->width = roundToInt(side);
    box->height = box->width;
    box->x = roundToInt(minX + (w - side) / 2.0);
    box->y = roundToInt(minY + (h - side) / 2.0);
    return true;
}

float AlignmentUtils::calculateTrackingQuality(const FDP* points)
{
    if (points == nullptr)
        return 0.0f;
    float sum = 0.0f;
    int count = 0;
    for (int g = FDP::firstGroup; g <= FDP::lastGroup; ++g) {
        for (int i = 1; i <= FDP::groupSize(g); ++i) {
            const FeaturePoint& p = points->getFP(g, i);
            if (p.defined && p.quality >= 0.0f) {
                sum += p.quality;
                ++count;
            }
        }
    }
    return count > 0 ? sum / static_cast<float>(count) : 0.0f;
}

float AlignmentUtils::calculateTrackingQualityYaw(const FDP* points, float yawDegrees)
{
    if (points == nullptr)
        return 0.0f;
    // Side class hidden by the head turn, 0 for none.
    int hiddenSide = 0;
    if (yawDegrees < -20.0f)
        hiddenSide = 1;
    else if (yawDegrees > 20.0f)
        hiddenSide = 3;

    // Regions: 0 mouth, 1 nose, 2 odd eye/brow points, 3 even eye/brow points.
    float sums[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    int counts[4] = {0, 0, 0, 0};
    for (int g = FDP::firstGroup; g <= FDP::lastGroup; ++g) {
        for (int i = 1; i <= FDP::groupSize(g); ++i) {
            const FeaturePoint& p = points->getFP(g, i);
            if (!p.defined || !(p.quality >= 0.0f))
                continue;
            if (hiddenSide != 0 && FDP::getPointType(g, i) == hiddenSide)
                continue;
            int region;
            if (g == 8)
                region = 0;
            else if (g == 9)
                region = 1;
            else if (g == 3 || g == 4)
                region = (i % 2 == 1) ? 2 : 3;
            else
                continue;
            sums[region] += p.quality;
            ++counts[region];
        }
    }
    float total = 0.0f;
    int regions = 0;
    for (int r = 0; r < 4; ++r) {
        if (counts[r] > 0) {
            total += sums[r] / static_cast<float>(counts[r]);
            ++regions;
        }
    }
    return regions > 0 ? total / static_cast<float>(regions) : 0.0f;
}


float AlignmentUtils::calculateAlignmentAngle(const FDP* points, int width, int height)
{
    if (points == nullptr)
        return 0.0f;
    const float* b1 = points->getFPPos(4, 1);
    const float* b2 = points->getFPPos(4, 2);
    const float* n4 = points->getFPPos(9, 4);
    const float* n5 = points->getFPPos(9, 5);
    // Brow-inner midpoint P and nostril midpoint Q in pixels.
    const double px = (static_cast<double>(b1[0]) + b2[0]) / 2.0 * width;
    const double py = (static_cast<double>(b1[1]) + b2[1]) / 2.0 * height;
    const double qx = (static_cast<double>(n4[0]) + n5[0]) / 2.0 * width;
    const double qy = (static_cast<double>(n4[1]) + n5[1]) / 2.0 * height;
    // Q straight below P (y downward) is an upright face: 90 degrees less 90.
    return static_cast<float>(std::atan2(qy - py, qx - px) * 180.0 / CV_PI - 90.0);
}

void AlignmentUtils::doTransformEstimation(const CvMat* from, const CvMat* to, CvMat* transform)
{
    if (!isPointMatrix(from) || !isPointMatrix(to) || from->rows != to->rows || transform == nullptr ||
        transform->rows != 2 || transform->cols != 3 || CV_MAT_CN(transform->type) != 1)
        return;
    double fromX, fromY, toX, toY;
    centroid(from, fromX, fromY);
    centroid(to, toX, toY);
    double dot = 0.0;
    double cross = 0.0;
    double norm = 0.0;
    for (int r = 0; r < from->rows; ++r) {
        const double ax = cvGetReal2D(from, r, 0) - fromX;
        const double ay = cvGetReal2D(from, r, 1) - fromY;
        const double bx = cvGetReal2D(to, r, 0) - toX;
        const double by = cvGetReal2D(to, r, 1) - toY;
        dot += ax * bx + ay * by;
        cross += ax * by - ay * bx;
        norm += ax * ax + ay * ay;
    }
    // All source points in one place: no rotation or scale can be measured,
    // so only the translation is kept.
    double c = 1.0;
    double s = 0.0;
    if (norm > 0.0) {
        c = dot / norm;
        s = cross / norm;
    }
    const double tx = toX - (c * fromX - s * fromY);
    const double ty = toY - (s * fromX + c * fromY);
    cvSetReal2D(transform, 0, 0, c);
    cvSetReal2D(transform, 0, 1, -s);
    cvSetReal2D(transform, 0, 2, tx);
    cvSetReal2D(transform, 1, 0, s);
    cvSetReal2D(transform, 1, 1, c);
    cvSetReal2D(transform, 1, 2, ty);
}

void AlignmentUtils::scaleUp(const CvMat* shape, CvMat* result, float factor)
{
    if (!isPointMatrix(shape) || !isPointMatrix(result) || result->rows != shape->rows)
        return;
    double cx, cy;
    centroid(shape, cx, cy);
    // Row by row, reading before writing, so result may be shape.
    for (int r = 0; r < shape->rows; ++r) {
        const double x = cvGetReal2D(shape, r, 0);
        const double y = cvGetReal2D(shape, r, 1);
        cvSetReal2D(result, r, 0, (x - cx) * factor + cx);
        cvSetReal2D(result, r, 1, (y - cy) * factor + cy);
    }
}

void AlignmentUtils::switchFDPROI(FDP* points, const CvRect& from, const CvRect& to)
{
    // An empty target region has no normalised coordinates.
    if (points == nullptr || to.width <= 0 || to.height <= 0)
        return;
    for (int g = FDP::firstGroup; g <= FDP::lastGroup; ++g) {
        for (int i = 1; i <= FDP::groupSize(g); ++i) {
            FeaturePoint& fp = points->getFP(g, i);
            if (!fp.defined)
                continue;
            const double x = (static_cast<double>(from.width) * fp.position[0] - (to.x - from.x)) / to.width;
            const double y = (static_cast<double>(from.height) * fp.position[1] - (to.y - from.y)) / to.height;
            fp.position[0] = static_cast<float>(x);
            fp.position[1] = static_cast<float>(y);
        }
    }
}

void AlignmentUtils::switchBBROI(CvRect& r, const CvRect& from, const CvRect& to)
{
    r.x += from.x - to.x;
    r.y += from.y - to.y;
}

void AlignmentUtils::resizeBB(CvRect& r, float s)
{
    r.width = roundToInt(static_cast<double>(r.width) * s);
    r.height = roundToInt(static_cast<double>(r.height) * s);
    r.x = roundToInt(static_cast<double>(r.x) * s);
    r.y = roundToInt(static_cast<double>(r.y) * s);
}

void AlignmentUtils::rescaleBB(CvRect& r, float s, int (*rounding)(double))
{
    if (rounding == nullptr)
        rounding = roundToInt;
    const float cx = static_cast<float>(r.x) + static_cast<float>(r.width) / 2.0f;
    const float cy = static_cast<float>(r.y) + static_cast<float>(r.height) / 2.0f;
    const int w = rounding(static_cast<double>(r.width) * s);
    const int h = rounding(static_cast<double>(r.height) * s);
    r.width = w;
    r.height = h;
    r.x = rounding(static_cast<double>(cx) - w / 2.0);
    r.y = rounding(static_cast<double>(cy) - h / 2.0);
}

void AlignmentUtils::getAdjustedCrop(const IplImage* image, IplImage** copy, CvRect& r, bool withCopy)
{
    if (withCopy && copy != nullptr)
        *copy = nullptr;
    if (image == nullptr)
        return;
    const int x = std::max(0, r.x);
    const int y = std::max(0, r.y);
    // 64-bit sums: a huge rectangle must not overflow on its far edge.
    const long long right = std::min<long long>(image->width, static_cast<long long>(r.x) + r.width);
    const long long bottom = std::min<long long>(image->height, static_cast<long long>(r.y) + r.height);
    r.x = x;
    r.y = y;
    r.width = static_cast<int>(std::max<long long>(right - x, INT_MIN));
    r.height = static_cast<int>(std::max<long long>(bottom - y, INT_MIN));
    if (!withCopy || copy == nullptr || r.width <= 0 || r.height <= 0 || image->imageData == nullptr)
        return;
    IplImage* out = cvCreateImage(cvSize(r.width, r.height), image->depth, image->nChannels);
    cv::Mat target = cv::cvarrToMat(out);
    wholeImage(image)(cv::Rect(r.x, r.y, r.width, r.height)).copyTo(target);
    *copy = out;
}

CvMat* AlignmentUtils::createMatLike(const CvMat* m, bool transposed)
{
    if (m == nullptr || m->rows <= 0 || m->cols <= 0)
        return nullptr;
    return transposed ? cvCreateMat(m->cols, m->rows, CV_MAT_TYPE(m->type))
                      : cvCreateMat(m->rows, m->cols, CV_MAT_TYPE(m->type));
}

}  // namespace OrvixSDK
