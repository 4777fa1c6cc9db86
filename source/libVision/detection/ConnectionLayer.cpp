#include "detection/ConnectionLayer.h"

#include <cmath>

#include <opencv2/core/core_c.h>
#include <opencv2/imgproc.hpp>
#include <opencv2/imgproc/imgproc_c.h>

#include "detection/AlignmentUtils.h"

namespace OrvixSDK {

namespace {

bool isPointMatrix(const CvMat* m)
{
    return m != nullptr && CV_MAT_TYPE(m->type) == CV_32FC1 && m->cols == 2 && m->rows >= 1;
}

bool isAffine(const CvMat* m)
{
    return m != nullptr && CV_MAT_TYPE(m->type) == CV_32FC1 && m->rows == 2 && m->cols == 3;
}

}  // namespace

ConnectionLayer::ConnectionLayer(int imageSize_, int patchSize_, float scale_)
    : imageSize(imageSize_), patchSize(patchSize_), scale(scale_)
{
}

void ConnectionLayer::connect(const IplImage* image, const CvMat* meanShape, CvMat* landmarks, CvMat* transform,
                              IplImage* out)
{
    const int s = imageSize;
    if (image == nullptr || image->imageData == nullptr || image->depth != IPL_DEPTH_8U || image->nChannels != 1 ||
        image->width < 1 || image->height < 1 || !isPointMatrix(meanShape) || !isPointMatrix(landmarks) ||
        meanShape->rows != landmarks->rows || !isAffine(transform) || out == nullptr || out->imageData == nullptr ||
        out->depth != IPL_DEPTH_8U || out->nChannels != 2 || out->width != s || out->height != s || s < 1)
        return;

    // The mean shape grown to fill the frame, and the transform that brings
    // the first-stage landmarks onto it.
    CvMat* target = cvCreateMat(meanShape->rows, 2, CV_32FC1);
    AlignmentUtils::scaleUp(meanShape, target, scale);
    float next[6];
    CvMat nextTransform = cvMat(2, 3, CV_32FC1, next);
    AlignmentUtils::doTransformEstimation(landmarks, target, &nextTransform);
    cvReleaseMat(&target);
    combineTransformations(&nextTransform, transform, transform);

    // The header's own size and row step, whatever its allocation.
    CvMat source;
    cvInitMatHeader(&source, image->height, image->width, CV_8UC1, image->imageData, image->widthStep);
    cv::Mat warped(s, s, CV_8UC1);
    CvMat warpedHeader = cvMat(warped);
    cvWarpAffine(&source, &warpedHeader, transform, CV_INTER_LINEAR + CV_WARP_FILL_OUTLIERS, cvScalarAll(0));

    doLandmarkTransform(landmarks, landmarks, &nextTransform, false);

    cv::Mat heatmap = cv::Mat::zeros(s, s, CV_8UC1);
    CvMat heatmapHeader = cvMat(heatmap);
    doHeatmapGeneration(landmarks, &heatmapHeader);

    for (int y = 0; y < s; ++y) {
        unsigned char* row = reinterpret_cast<unsigned char*>(out->imageData + static_cast<size_t>(y) * out->widthStep);
        const unsigned char* pixels = warped.ptr<unsigned char>(y);
        const unsigned char* heat = heatmap.ptr<unsigned char>(y);
        for (int x = 0; x < s; ++x) {
            row[2 * x] = pixels[x];
            row[2 * x + 1] = heat[x];
        }
    }
}

void ConnectionLayer::doLandmarkTransform(const CvMat* in, CvMat* out, const CvMat* transform, bool invert)
{
    if (!isPointMatrix(in) || !isPointMatrix(out) || in->rows != out->rows || !isAffine(transform))
        return;
    cv::Matx23d t;
    for (int r = 0; r < 2; ++r)
        for (int c = 0; c < 3; ++c)
            t(r, c) = CV_MAT_ELEM(*transform, float, r, c);
    if (invert) {
        cv::Matx23d inverse;
        cv::invertAffineTransform(t, inverse);
        t = inverse;
    }
    for (int k = 0; k < in->rows; ++k) {
        // Both read before either is written: in and out may be one matrix.
        const double x = CV_MAT_ELEM(*in, float, k, 0);
        const double y = CV_MAT_ELEM(*in, float, k, 1);
        CV_MAT_ELEM(*out, float, k, 0) = static_cast<float>(t(0, 0) * x + t(0, 1) * y + t(0, 2));
        CV_MAT_ELEM(*out, float, k, 1) = static_cast<float>(t(1, 0) * x + t(1, 1) * y + t(1, 2));
    }
}

void ConnectionLayer::combineTransformations(const CvMat* a, const CvMat* b, CvMat* out)
{
    if (!isAffine(a) || !isAffine(b) || !isAffine(out))
        return;
    // Both extended by the row (0, 0, 1); the product's last row stays that.
    double result[2][3];
    for (int r = 0; r < 2; ++r) {
        for (int c = 0; c < 3; ++c) {
            double sum = 0.0;
            for (int k = 0; k < 2; ++k)
                sum += static_cast<double>(CV_MAT_ELEM(*a, float, r, k)) * CV_MAT_ELEM(*b, float, k, c);
            if (c == 2)
                sum += CV_MAT_ELEM(*a, float, r, 2);
            result[r][c] = sum;
        }
    }
    for (int r = 0; r < 2; ++r)
        for (int c = 0; c < 3; ++c)
            CV_MAT_ELEM(*out, float, r, c) = static_cast<float>(result[r][c]);
}

void ConnectionLayer::doHeatmapGeneration(const CvMat* landmarks, CvMat* heatmap) const
{
    if (!isPointMatrix(landmarks) || heatmap == nullptr || CV_MAT_TYPE(heatmap->type) != CV_8UC1)
        return;
    const int h = patchSize / 2;
    // Centres are kept far enough from the edges for the whole patch to fit.
    const float low = static_cast<float>(h);
    const float high = static_cast<float>(imageSize - 1 - h);
    if (high < low)
        return;
    for (int k = 0; k < landmarks->rows; ++k) {
        float x = CV_MAT_ELEM(*landmarks, float, k, 0);
        float y = CV_MAT_ELEM(*landmarks, float, k, 1);
        // Written so that a non-number lands on the low edge.
        x = !(x >= low) ? low : (x > high ? high : x);
        y = !(y >= low) ? low : (y > high ? high : y);
        const int ix = static_cast<int>(x);
        const int iy = static_cast<int>(y);
        const float fx = x - static_cast<float>(ix);
        const float fy = y - static_cast<float>(iy);
        for (int dy = -h; dy <= h; ++dy) {
            const int row = iy + dy;
            if (row < 0 || row >= heatmap->rows)
                continue;
            for (int dx = -h; dx <= h; ++dx) {
                const int col = ix + dx;
                if (col < 0 || col >= heatmap->cols)
                    continue;
                const float ddx = static_cast<float>(dx) - fx;
                const float ddy = static_cast<float>(dy) - fy;
                const float d = std::sqrt(ddx * ddx + ddy * ddy + 1e-6f);
                const int v = static_cast<int>(std::nearbyint(255.0f / (1.0f + d)));
                unsigned char& pixel = CV_MAT_ELEM(*heatmap, unsigned char, row, col);
                if (v > pixel)
                    pixel = static_cast<unsigned char>(v);
            }
        }
    }
}

}  // namespace OrvixSDK
