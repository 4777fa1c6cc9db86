#include "detection/ONNTrackerCore.h"

#include <chrono>
#include <cmath>
#include <cstdlib>

#include <opencv2/core/core_c.h>

#include "OrvixSDK/FDP.h"
#include "detection/AlignmentData.h"
#include "detection/AlignmentUtils.h"
#include "detection/DeepAlignmentRuntime.h"
#include "detection/ONNFaceFinder.h"
#include "detection/OrvixDetector.h"
#include "detection/PupilRefiner.h"
#include "onn/NNInterfaces.h"
#include "support/Common.h"

namespace OrvixSDK {

float ONNTrackerCore::s_faceFinderSensitivity = 0.75f;
float ONNTrackerCore::s_minFaceScale = 0.15f;
float ONNTrackerCore::s_maxFaceScale = 1.0f;

namespace {

// Faces are scaled to this width inside a crop this many times the face.
const int kWorkingFaceSize = 96;
const float kWorkingCropFactor = 2.5f;
// Mean point quality a frame needs to start a face and to keep one.
const float kStartQuality = 0.38f;
const float kKeepQuality = 0.22f;
// Two faces overlap when their IoU exceeds this.
const float kOverlapIoU = 0.1f;
// Score threshold of the re-detection inside the crop (sensitivity 0.95).
const float kRedetectSensitivity = 0.95f;

const CvRect kNoBox = {-1, -1, -1, -1};

typedef std::chrono::steady_clock Clock;

double millisecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

bool overlapsAny(const ONNFaceFinder::Detection& candidate, const std::vector<CvRect>& others)
{
    for (const CvRect& other : others) {
        if (candidate.iou(ONNFaceFinder::Detection(other)) > kOverlapIoU)
            return true;
    }
    return false;
}

// A detection as a square rectangle of its width.
CvRect squareByWidth(const ONNFaceFinder::Detection& d)
{
    const int side = static_cast<int>(d.x2 - d.x1);
    return cvRect(static_cast<int>(d.x1), static_cast<int>(d.y1), side, side);
}

bool isGreyFrame(const IplImage* frame)
{
    return frame != nullptr && frame->imageData != nullptr && frame->depth == IPL_DEPTH_8U && frame->nChannels == 1 &&
           frame->width > 0 && frame->height > 0;
}

}  // namespace

void ONNTrackerCore::setFaceScaleSearchRange(float minScale, float maxScale)
{
    s_minFaceScale = minScale;
    s_maxFaceScale = maxScale;
}

void ONNTrackerCore::setFaceDetectorSensitivity(float sensitivity)
{
    // A NaN fails both comparisons and would pass through unclamped; it
    // counts as the lowest sensitivity.
    if (!(sensitivity >= 0.0f))
        sensitivity = 0.0f;
    else if (sensitivity > 1.0f)
        sensitivity = 1.0f;
    s_faceFinderSensitivity = sensitivity;
}

ONNTrackerCore::ONNTrackerCore(OrvixDetector* detector)
    : alignmentData(new AlignmentData(kWorkingFaceSize, kWorkingCropFactor)), detector(detector),
      pupilRefiner(nullptr), deepAlignment(nullptr), faceFinder(nullptr), trackingState(SEARCHING), faceBox(kNoBox)
{
    if (detector == nullptr)
        return;
    // Pupil refinement switched on later leaves this core without a
    // refiner; the owner rebuilds its cores when that setting changes.
    if (detector->refinePupils && detector->pupilFrontend != nullptr && detector->pupilFrontend->GetModel() != nullptr)
        pupilRefiner = new PupilRefiner(detector->pupilFrontend->GetModel());
    if (detector->alignData != nullptr)
        deepAlignment = new DeepAlignmentRuntime(detector->alignData);
    if (detector->faceFinderData != nullptr)
        faceFinder = new ONNFaceFinder(detector->faceFinderData);
}

ONNTrackerCore::~ONNTrackerCore()
{
    delete alignmentData;
    delete pupilRefiner;
    delete deepAlignment;
    delete faceFinder;
}

bool ONNTrackerCore::refineEars() const
{
    return detector != nullptr && detector->refineEars;
}

void ONNTrackerCore::resetEarsRefiner(Candide3Model* /*model1*/, Candide3Model* /*model2*/,
                                      Candide3Model* /*model3*/, std::string /*fittingAlgorithm*/)
{
}

void ONNTrackerCore::resetTrackerState()
{
    faceBox = kNoBox;
    trackingState = SEARCHING;
    alignmentData->clear();
    if (deepAlignment != nullptr)
        deepAlignment->setHasPreviousAngle(false);
}

bool ONNTrackerCore::findFace(const IplImage* frame, CvRect& face, const std::vector<CvRect>& otherFaces)
{
    if (faceFinder == nullptr)
        return false;
    std::vector<ONNFaceFinder::Detection> detections;
    faceFinder->findFaces(frame, detections, s_faceFinderSensitivity, s_minFaceScale, s_maxFaceScale, nullptr);
    // The list comes widest first; faces that other slots follow drop out.
    for (const ONNFaceFinder::Detection& d : detections) {
        if (!overlapsAny(d, otherFaces)) {
            face = squareByWidth(d);
            return true;
        }
    }
    return false;
}

bool ONNTrackerCore::trackFaceFastDetector(const IplImage* crop, CvRect* face)
{
    if (faceFinder == nullptr || face == nullptr)
        return false;
    std::vector<ONNFaceFinder::Detection> detections;
    faceFinder->findFaces(crop, detections, kRedetectSensitivity, 0.0f, 1.0f, nullptr);
    const ONNFaceFinder::Detection expected(*face);
    int best = -1;
    float bestIoU = 0.0f;
    for (size_t i = 0; i < detections.size(); ++i) {
        const float iou = expected.iou(detections[i]);
        if (best < 0 || iou > bestIoU) {
            best = static_cast<int>(i);
            bestIoU = iou;
        }
    }
    if (best < 0 || !(bestIoU > kOverlapIoU))
        return false;
    *face = squareByWidth(detections[best]);
    return true;
}

CvRect ONNTrackerCore::steadyRect(const CvRect& previous, const CvRect& fresh, int frameWidth, int frameHeight)
{
    const float sx = static_cast<float>(frameWidth) / 50.0f;
    const float sy = static_cast<float>(frameHeight) / 50.0f;
    auto steady = [](int oldValue, int newValue, float step) {
        if (!(step > 0.0f))
            return newValue;
        const float a = static_cast<float>(std::abs(newValue - oldValue)) / step;
        if (a < 1.0f)
            return static_cast<int>((1.0f - a) * static_cast<float>(oldValue) + a * static_cast<float>(newValue));
        return newValue;
    };
    CvRect r = fresh;
    r.width = steady(previous.width, fresh.width, sx);
    r.height = steady(previous.height, fresh.height, sy);
    r.x = steady(previous.x, fresh.x, sx);
    r.y = steady(previous.y, fresh.y, sy);
    if (r.width != r.height)
        r.width = r.height = (r.width + r.height) / 2;
    return r;
}

bool ONNTrackerCore::getTrackingPoints(const IplImage* frame, FDP* points, float& quality,
                                       const std::vector<CvRect>& otherFaces)
{
    const Clock::time_point callStart = Clock::now();
    stageTimes = StageTimes();
    stageTimes.startState = trackingState;
    struct TotalTime
    {
        StageTimes& times;
        Clock::time_point start;
        ~TotalTime() { times.totalMs = millisecondsSince(start); }
    } totalTime{stageTimes, callStart};

    if (!isGreyFrame(frame) || points == nullptr || faceFinder == nullptr || deepAlignment == nullptr ||
        detector == nullptr) {
        resetTrackerState();
        return false;
    }

    // 1. Place the working frame (which clears what the last frame left).
    if (trackingState == SEARCHING) {
        CvRect found;
        const Clock::time_point start = Clock::now();
        const bool ok = findFace(frame, found, otherFaces);
        stageTimes.finderMs += millisecondsSince(start);
        if (!ok || !alignmentData->doInitAdjustment(frame, points, found, true)) {
            resetTrackerState();
            return false;
        }
    } else {
        if (!alignmentData->doInitAdjustment(frame, points, faceBox, true)) {
            resetTrackerState();
            return false;
        }
        if (trackingState == REDETECTING) {
            const Clock::time_point start = Clock::now();
            const bool ok = trackFaceFastDetector(alignmentData->workingImage, &alignmentData->faceRect);
            stageTimes.finderMs += millisecondsSince(start);
            if (!ok) {
                resetTrackerState();
                return false;
            }
        }
    }

    // 2. Align in the working frame; the quality decides, not the result.
    {
        const Clock::time_point start = Clock::now();
        detector->detectFeaturePointsONN(alignmentData->workingImage, alignmentData->faceRect, deepAlignment,
                                         alignmentData->points, quality, false, false);
        stageTimes.alignmentMs += millisecondsSince(start);
    }

    // 3. Judge the points.
    const float q = AlignmentUtils::calculateTrackingQuality(alignmentData->points);
    const bool passed = q > (trackingState == TRACKING ? kKeepQuality : kStartQuality);

    // 4. Ear refinement is not part of this build.

    // 5. Back to the whole frame.
    alignmentData->revertAdjustments();

    // 6-7. The face rectangle of the points, steadied against the last one.
    CvRect r = kNoBox;
    AlignmentUtils::calculateMinMaxBoundingBox(frame->width, frame->height, alignmentData->points, &r);
    if (faceBox.height != -1)
        r = steadyRect(faceBox, r, frame->width, frame->height);

    // 8. Accept the face unless another slot follows it.
    if (passed && !overlapsAny(ONNFaceFinder::Detection(r), otherFaces)) {
        trackingState = TRACKING;
        faceBox = r;
        deepAlignment->setHasPreviousAngle(true);
        if (detector->refinePupils && pupilRefiner != nullptr) {
            const Clock::time_point start = Clock::now();
            pupilRefiner->refine(frame, alignmentData->points, 0.0f, true);
            stageTimes.pupilMs += millisecondsSince(start);
        }
        *points = *alignmentData->points;
        Common::verticalFlip(points);
        alignmentData->clear();
        return true;
    }

    // 9. Quality too low, or the face belongs to another slot.
    if (trackingState == TRACKING) {
        trackingState = REDETECTING;
        faceBox = alignmentData->faceRect;
        deepAlignment->setHasPreviousAngle(false);
        alignmentData->clear();
        return false;
    }
    resetTrackerState();
    return false;
}

}  // namespace OrvixSDK
