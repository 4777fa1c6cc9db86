#include "detection/PupilRefiner.h"

#include <algorithm>
#include <cmath>

#include <opencv2/core.hpp>
#include <opencv2/core/core_c.h>
#include <opencv2/imgproc.hpp>

#include "OrvixSDK/FDP.h"
#include "onn/NNInterfaces.h"

namespace OrvixSDK {

namespace {

// Side of the network's eye crop.
const int kEyeSide = 32;
// Mean point quality an eye must exceed to be refined.
const float kQualityGate = 0.75f;
// Crops of this side or less carry too little of the eye.
const int kSmallestSide = 7;
// Values the network gives per eye: centre u, v and radius r.
const int kPupilOutputs = 3;

// Feature points (group 3) of one eye.
struct EyePoints
{
    int pupil;
    int cornerA, cornerB;
    int lidA, lidB;
};

EyePoints eyePoints(EyeType type)
{
    if (type == LEFT_EYE)
        return {5, 7, 11, 9, 13};
    return {6, 8, 12, 10, 14};
}

bool usableGreyImage(const IplImage* image)
{
    return image != nullptr && image->imageData != nullptr && image->depth == IPL_DEPTH_8U && image->nChannels == 1
           && image->width >= 1 && image->height >= 1 && image->widthStep >= image->width;
}

// Mean quality of the group-3 points whose index has the given parity.
float meanQuality(const FDP* points, int firstIndex)
{
    float sum = 0.0f;
    for (int i = firstIndex; i <= 14; i += 2)
        sum += points->getFPQuality(3, i);
    return sum / 7.0f;
}

}  // namespace

PupilRefiner::PupilRefiner(ONN::INNModel* model_)
    : model(model_), runner(model_ != nullptr ? model_->CreateRunner() : nullptr)
{
}

PupilRefiner::~PupilRefiner()
{
    delete runner;
}

void PupilRefiner::refine(const IplImage* image, FDP* points, float /*yaw*/, bool /*byQuality*/)
{
    if (points == nullptr)
        return;
    // Without a working network (or one whose output is too short to read)
    // both eyes keep their centres and get the average radius.
    const bool networkReady = runner != nullptr && model != nullptr && model->GetOutputSize() >= kPupilOutputs;

    const float qualityOdd = meanQuality(points, 1);
    const float qualityEven = meanQuality(points, 2);

    CvRect box0 = cvRect(0, 0, 0, 0);
    CvRect box1 = cvRect(0, 0, 0, 0);
    IplImage* crop0 = nullptr;
    IplImage* crop1 = nullptr;
    if (networkReady && qualityEven > kQualityGate)
        crop0 = getResizedEyeImage(image, points->getFP(3, 12), points->getFP(3, 8), box0);
    if (networkReady && qualityOdd > kQualityGate)
        crop1 = getResizedEyeImage(image, points->getFP(3, 11), points->getFP(3, 7), box1);

    if (crop0 != nullptr) {
        refineSingleEye(image, crop0, box0, points, runner, RIGHT_EYE);
        cvReleaseImage(&crop0);
    } else {
        setAverageIrisRadius(points, RIGHT_EYE);
    }
    if (crop1 != nullptr) {
        refineSingleEye(image, crop1, box1, points, runner, LEFT_EYE);
        cvReleaseImage(&crop1);
    } else {
        setAverageIrisRadius(points, LEFT_EYE);
    }
}

IplImage* getResizedEyeImage(const IplImage* image, const FeaturePoint& c1, const FeaturePoint& c2, CvRect& box)
{
    if (!usableGreyImage(image))
        return nullptr;
    const int width = image->width;
    const int height = image->height;

    const double x1 = static_cast<double>(c1.position[0]) * width;
    const double y1 = static_cast<double>(c1.position[1]) * height;
    const double x2 = static_cast<double>(c2.position[0]) * width;
    const double y2 = static_cast<double>(c2.position[1]) * height;
    const double s = 1.25 * std::hypot(x2 - x1, y2 - y1);
    const double side = std::nearbyint(s);
    const double left = std::nearbyint((x1 + x2) / 2 - s / 2);
    const double top = std::nearbyint((y1 + y2) / 2 - s / 2);
    // Corners that are not numbers, or a square larger than the image.
    if (!std::isfinite(side) || !std::isfinite(left) || !std::isfinite(top) || side > width || side > height)
        return nullptr;
    // Further out than the image plus the largest allowed shift: no crop.
    const double allowed = 0.3 * s;
    if (left < -allowed - 1 || top < -allowed - 1 || left > width + allowed || top > height + allowed)
        return nullptr;

    box.width = box.height = static_cast<int>(side);
    box.x = static_cast<int>(left);
    box.y = static_cast<int>(top);

    // A square sticking out by up to 30 % of its side is moved inside.
    if (box.x < 0) {
        if (-box.x > allowed)
            return nullptr;
        box.x = 0;
    }
    if (box.y < 0) {
        if (-box.y > allowed)
            return nullptr;
        box.y = 0;
    }
    if (box.x + box.width >= width) {
        const int shift = std::max(0, box.x + box.width - width);
        if (shift > allowed)
            return nullptr;
        box.x -= shift;
    }
    if (box.y + box.height >= height) {
        const int shift = std::max(0, box.y + box.height - height);
        if (shift > allowed)
            return nullptr;
        box.y -= shift;
    }
    if (box.width <= kSmallestSide)
        return nullptr;
    // Never copy from outside the image.
    if (box.x < 0 || box.y < 0 || box.x + box.width > width || box.y + box.height > height)
        return nullptr;

    const cv::Mat source(height, width, CV_8UC1, image->imageData, static_cast<size_t>(image->widthStep));
    const cv::Mat eyeCopy = source(cv::Rect(box.x, box.y, box.width, box.height)).clone();
    IplImage* eye = cvCreateImage(cvSize(kEyeSide, kEyeSide), IPL_DEPTH_8U, 1);
    cv::Mat eyeView = cv::cvarrToMat(eye);
    cv::resize(eyeCopy, eyeView, eyeView.size(), 0, 0, cv::INTER_CUBIC);
    return eye;
}

void refineSingleEye(const IplImage* image, IplImage* eye, const CvRect& box, FDP* points, ONN::INNRunner* runner,
                     EyeType type)
{
    if (points == nullptr)
        return;
    if (!usableGreyImage(image) || eye == nullptr || eye->imageData == nullptr || eye->width != kEyeSide
        || eye->height != kEyeSide || eye->depth != IPL_DEPTH_8U || eye->widthStep != kEyeSide * eye->nChannels
        || runner == nullptr) {
        setAverageIrisRadius(points, type);
        return;
    }

    ONN::NNData data(eye->imageData, eye->nChannels, kEyeSide, kEyeSide, ONN::ImageUtils::NHWC, ONN::UINT8, true);
    const float* output = runner->Forward(data);
    // No answer, or one that is not a number: keep the centre.
    if (output == nullptr || !std::isfinite(output[0]) || !std::isfinite(output[1]) || !std::isfinite(output[2])) {
        setAverageIrisRadius(points, type);
        return;
    }

    const float width = static_cast<float>(image->width);
    const float height = static_cast<float>(image->height);
    float x = output[0] * box.width + box.x;
    float y = output[1] * box.height + box.y;
    const float z = output[2] * box.width / width;

    // The centre stays inside the eye: the box of its corners and lid
    // points, widened by a tenth of its size on every side.
    const EyePoints eyeIds = eyePoints(type);
    const int around[] = {eyeIds.cornerA, eyeIds.cornerB, eyeIds.lidA, eyeIds.lidB};
    float lowX = 0.0f, highX = 0.0f, lowY = 0.0f, highY = 0.0f;
    for (int k = 0; k < 4; ++k) {
        const float* p = points->getFPPos(3, around[k]);
        const float px = p[0] * width;
        const float py = p[1] * height;
        lowX = k == 0 ? px : std::min(lowX, px);
        highX = k == 0 ? px : std::max(highX, px);
        lowY = k == 0 ? py : std::min(lowY, py);
        highY = k == 0 ? py : std::max(highY, py);
    }
    const float marginX = 0.1f * (highX - lowX);
    const float marginY = 0.1f * (highY - lowY);
    x = std::min(std::max(x, lowX - marginX), highX + marginX);
    y = std::min(std::max(y, lowY - marginY), highY + marginY);

    points->setFPPos(3, eyeIds.pupil, x / width, y / height, z);
}

void setAverageIrisRadius(FDP* points, EyeType type)
{
    if (points == nullptr)
        return;
    const EyePoints eyeIds = eyePoints(type);
    const float* a = points->getFPPos(3, eyeIds.cornerA);
    const float* b = points->getFPPos(3, eyeIds.cornerB);
    const float distance = std::hypot(a[0] - b[0], a[1] - b[1]);
    // Only the radius changes: the centre and its flags stay as they are.
    points->getFP(3, eyeIds.pupil).position[2] = distance / 5.0f;
}

}  // namespace OrvixSDK
