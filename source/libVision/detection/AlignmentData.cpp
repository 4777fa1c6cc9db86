#include "detection/AlignmentData.h"

#include <algorithm>
#include <climits>
#include <exception>
#include <cmath>
#include <memory>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/core/core_c.h>
#include <opencv2/imgproc/imgproc_c.h>

#include "OrvixSDK/FDP.h"
#include "detection/Adjustment.h"
#include "detection/AlignmentUtils.h"
#include "detection/CroppingAdjustment.h"
#include "detection/ResizingAdjustment.h"

namespace OrvixSDK {

namespace {

// Rounding down for the crop, clamped to the int range.
int floorToInt(double v)
{
    if (!(v == v))
        return 0;
    const double f = std::floor(v);
    if (f >= static_cast<double>(INT_MAX))
        return INT_MAX;
    if (f <= static_cast<double>(INT_MIN))
        return INT_MIN;
    return static_cast<int>(f);
}

// Side of the square working image, at least one pixel.
int workingSide(int faceSize, float cropFactor)
{
    const double side = std::nearbyint(static_cast<double>(faceSize) * cropFactor);
    if (!(side >= 1.0))
        return 1;
    // Far beyond any sensible working frame; keeps the allocation bounded.
    return side > 4096.0 ? 4096 : static_cast<int>(side);
}

const CvRect noRect = {-1, -1, -1, -1};

}  // namespace

AlignmentData::AlignmentData(int faceSize, float cropFactor)
    : sourceImage(nullptr),
      workingImage(nullptr),
      points(new FDP()),
      faceRect(noRect),
      cropRect(noRect),
      faceSize(faceSize),
      cropFactor(cropFactor)
{
    const int side = workingSide(faceSize, cropFactor);
    workingImage = cvCreateImage(cvSize(side, side), IPL_DEPTH_8U, 1);
}

AlignmentData::~AlignmentData()
{
    clear();
    delete points;
    cvReleaseImage(&workingImage);
}

void AlignmentData::applyAdjustment(Adjustment* a)
{
    if (a == nullptr)
        return;
    adjustments.push_back(a);
    a->apply(this);
}

void AlignmentData::revertAdjustments()
{
    for (auto it = adjustments.rbegin(); it != adjustments.rend(); ++it)
        (*it)->revert(this);
}

void AlignmentData::clear()
{
    if (sourceImage != nullptr)
        cvReleaseImageHeader(&sourceImage);
    // A fresh set: no positions, flags or qualities of the last face remain.
    *points = FDP();
    while (!adjustments.empty()) {
        delete adjustments.back();
        adjustments.pop_back();
    }
    faceRect = noRect;
    cropRect = noRect;
}

bool AlignmentData::doInitAdjustment(const IplImage* frame, const FDP* framePoints, const CvRect& faceArg,
                                     bool withImage)
{
    // The arguments may be this object's own faceRect and points, which the
    // clearing below resets: take copies first.
    const CvRect face = faceArg;
    std::unique_ptr<FDP> aliasedPoints;
    if (framePoints != nullptr && framePoints == points) {
        aliasedPoints.reset(new FDP(*points));
        framePoints = aliasedPoints.get();
    }
    // Whatever a previous frame left behind would be mapped back twice.
    clear();

    if (frame == nullptr || frame->imageData == nullptr || frame->width < 1 || frame->height < 1)
        return false;
    const int pixelBytes = ((frame->depth & 255) / 8) * frame->nChannels;
    if (pixelBytes < 1 || frame->widthStep < static_cast<long long>(frame->width) * pixelBytes)
        return false;
    // The working frame is 8-bit grey; other frames can only carry points.
    if (withImage && (frame->depth != IPL_DEPTH_8U || frame->nChannels != 1))
        return false;
    if (face.width <= 0 || face.height <= 0 || faceSize <= 0 || !(cropFactor > 0.0f))
        return false;

    const int side = workingSide(faceSize, cropFactor);
    // The working image may have been replaced by an adjustment that moves
    // pixels itself; make sure a full working square is allocated.
    if (workingImage == nullptr || workingImage->depth != IPL_DEPTH_8U || workingImage->nChannels != 1 ||
        workingImage->widthStep < side ||
        workingImage->imageSize < static_cast<long long>(side) * workingImage->widthStep) {
        cvReleaseImage(&workingImage);
        workingImage = cvCreateImage(cvSize(side, side), IPL_DEPTH_8U, 1);
    }

    try {
        // A header over the caller's pixels, row step included; nothing is copied.
        sourceImage = cvCreateImageHeader(cvSize(frame->width, frame->height), frame->depth, frame->nChannels);
        cvSetData(sourceImage, frame->imageData, frame->widthStep);

        if (framePoints != nullptr)
            *points = *framePoints;
        faceRect = face;
        cropRect = face;

        // The crop is the face enlarged about its centre, rounded down.
        AlignmentUtils::rescaleBB(cropRect, cropFactor, floorToInt);
        CvRect clipped = cropRect;
        AlignmentUtils::getAdjustedCrop(sourceImage, nullptr, clipped, false);
        if (clipped.width <= 0 || clipped.height <= 0) {
            clear();
            return false;
        }

        const CvRect frameRect = cvRect(0, 0, frame->width, frame->height);
        applyAdjustment(new CroppingAdjustment(frameRect, cropRect, false, true));
        if (withImage)
            cvSetImageROI(sourceImage, cropRect);

        const float scale = static_cast<float>(faceSize) / static_cast<float>(faceRect.width);
        applyAdjustment(new ResizingAdjustment(scale, CV_INTER_CUBIC, false, true));

        // The scaled crop never exceeds the allocated square (rounding could
        // otherwise add a pixel) and keeps at least one pixel.
        cropRect.width = std::min(std::max(cropRect.width, 1), side);
        cropRect.height = std::min(std::max(cropRect.height, 1), side);
        cvResetImageROI(workingImage);
        workingImage->width = cropRect.width;
        workingImage->height = cropRect.height;

        if (withImage) {
            // Matrices over the source's region and the working image's
            // current part: resizing writes into the reused pixel buffer.
            const cv::Mat region = cv::cvarrToMat(sourceImage);
            cv::Mat target = cv::cvarrToMat(workingImage);
            if (face.width < 8LL * faceSize) {
                cv::resize(region, target, target.size(), 0.0, 0.0, cv::INTER_LINEAR);
            } else {
                // Very large faces are shrunk in two steps so that the
                // bilinear filter does not skip most of the pixels at once.
                cv::Mat intermediate;
                cv::resize(region, intermediate, cv::Size(2 * target.cols, 2 * target.rows), 0.0, 0.0,
                           cv::INTER_LINEAR);
                cv::resize(intermediate, target, target.size(), 0.0, 0.0, cv::INTER_LINEAR);
            }
            cvResetImageROI(sourceImage);
        }
    } catch (const std::exception&) {
        // OpenCV reports bad arguments and lack of memory by exceptions;
        // they must not leave the library.
        clear();
        return false;
    }
    return true;
}

}  // namespace OrvixSDK
