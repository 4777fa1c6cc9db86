#include "detection/DeepAlignmentRuntime.h"

#include <cmath>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/core/core_c.h>
#include <opencv2/imgproc/imgproc_c.h>

#include "OrvixSDK/FDP.h"
#include "detection/AlignmentUtils.h"
#include "detection/ConnectionLayer.h"
#include "detection/DeepAlignmentData.h"
#include "onn/NNInterfaces.h"

namespace OrvixSDK {

namespace {

// Roll of the previous frame, in degrees, below which the face is aligned
// without de-rotation.
const float kDerotationThreshold = 5.0f;

// Defaults of a runtime made without data; such a runtime never aligns.
const int kDefaultImageSize = 96;
const int kDefaultPatch = 16;

bool allFinite(const float* values, int count)
{
    for (int i = 0; i < count; ++i)
        if (!std::isfinite(values[i]))
            return false;
    return true;
}

}  // namespace

DeepAlignmentRuntime::DeepAlignmentRuntime(DeepAlignmentData* data_)
    : runner1(nullptr), runner2(nullptr), data(data_), layer(nullptr), lastAngle(0.0f), shapeScale(0.0f),
      hasPreviousAngle(false)
{
    // Data that did not load has no mean shape to align with: no runners.
    if (data != nullptr && data->loaded) {
        runner1 = data->getRunner(INITIAL_STAGE);
        if (data->m_useRefinementStage)
            runner2 = data->getRunner(REFINEMENT_STAGE);
    }
    if (data != nullptr) {
        shapeScale = data->shapeScale;
        layer = new ConnectionLayer(data->imageSize, data->heatmapPatch, data->shapeScale);
    } else {
        layer = new ConnectionLayer(kDefaultImageSize, kDefaultPatch, 1.0f);
    }
}

DeepAlignmentRuntime::~DeepAlignmentRuntime()
{
    // The runners belong to the data's frontends.
    delete layer;
}

bool DeepAlignmentRuntime::findLandmarkPoints(const IplImage* image, CvRect face, FDP* points, float& quality)
{
    quality = 0.0f;
    if (data == nullptr || !data->loaded || data->initShape == nullptr || runner1 == nullptr ||
        (data->m_useRefinementStage && runner2 == nullptr) || layer == nullptr || points == nullptr)
        return false;
    if (image == nullptr || image->imageData == nullptr || image->depth != IPL_DEPTH_8U ||
        image->nChannels != data->channels || image->nChannels != 1 || image->width < 1 || image->height < 1)
        return false;
    if (face.width <= 0 || face.height <= 0)
        return false;

    const int s = data->imageSize;
    const int n = data->landmarkCount;
    const CvMat* initShape = data->initShape;
    if (s < 1 || n < 1 || initShape->rows != n || initShape->cols != 2 ||
        static_cast<int>(data->groups.size()) != n || static_cast<int>(data->indices.size()) != n ||
        !(data->shapeScale > 0.0f))
        return false;

    try {
        // 1. The mean shape fitted to the rectangle: scaled by the mean of
        // the width and height ratios, its box centred on the rectangle's.
        const cv::Rect2f box = findMinMaxBoundingBox(initShape);
        if (!(box.width > 0.0f) || !(box.height > 0.0f))
            return false;
        const float factor = (static_cast<float>(face.width) / box.width +
                              static_cast<float>(face.height) / box.height) / 2.0f;
        const float shiftX = static_cast<float>(face.x) + static_cast<float>(face.width) / 2.0f -
                             (box.x + box.width / 2.0f) * factor;
        const float shiftY = static_cast<float>(face.y) + static_cast<float>(face.height) / 2.0f -
                             (box.y + box.height / 2.0f) * factor;
        cv::Mat shape(n, 2, CV_32FC1);
        for (int k = 0; k < n; ++k) {
            shape.at<float>(k, 0) = CV_MAT_ELEM(*initShape, float, k, 0) * factor + shiftX;
            shape.at<float>(k, 1) = CV_MAT_ELEM(*initShape, float, k, 1) * factor + shiftY;
        }
        CvMat shapeHeader = cvMat(shape);

        // 2. From the image onto the canonical frame.
        float transformValues[6];
        CvMat transform = cvMat(2, 3, CV_32FC1, transformValues);
        AlignmentUtils::doTransformEstimation(&shapeHeader, initShape, &transform);

        // 3. A face that was rolled in the previous frame is turned upright
        // about the frame centre first.
        if (hasPreviousAngle && std::fabs(lastAngle) > kDerotationThreshold) {
            const double a = static_cast<double>(lastAngle) * CV_PI / 180.0;
            const double c = std::cos(a);
            const double si = std::sin(a);
            const double k = s / 2.0;
            float rotationValues[6] = {static_cast<float>(c), static_cast<float>(si),
                                       static_cast<float>(k - c * k - si * k), static_cast<float>(-si),
                                       static_cast<float>(c), static_cast<float>(k + si * k - c * k)};
            CvMat rotation = cvMat(2, 3, CV_32FC1, rotationValues);
            ConnectionLayer::combineTransformations(&rotation, &transform, &transform);
        }

        // 4. The canonical crop, read through the header's own size and row
        // step (the image may be a smaller view of a larger buffer).
        CvMat source;
        cvInitMatHeader(&source, image->height, image->width, CV_8UC1, image->imageData, image->widthStep);
        cv::Mat warped(s, s, CV_8UC1);
        CvMat warpedHeader = cvMat(warped);
        cvWarpAffine(&source, &warpedHeader, &transform, CV_INTER_LINEAR + CV_WARP_FILL_OUTLIERS, cvScalarAll(0));

        // 5. First stage: offsets (x, y per landmark), then qualities.
        ONN::NNData input1(warped.data, data->channels, s, s, ONN::ImageUtils::NHWC, ONN::UINT8, true);
        const float* output1 = runner1->Forward(input1);
        if (output1 == nullptr || !allFinite(output1, 3 * n))
            return false;
        const std::vector<float> qualities(output1 + 2 * n, output1 + 3 * n);

        // 6. Landmarks in the canonical frame.
        const float offsetScale = static_cast<float>(s) / data->shapeScale;
        cv::Mat landmarks(n, 2, CV_32FC1);
        for (int k = 0; k < n; ++k) {
            landmarks.at<float>(k, 0) = output1[2 * k] * offsetScale + CV_MAT_ELEM(*initShape, float, k, 0);
            landmarks.at<float>(k, 1) = output1[2 * k + 1] * offsetScale + CV_MAT_ELEM(*initShape, float, k, 1);
        }
        CvMat landmarksHeader = cvMat(landmarks);

        // 8. Second stage on the re-warped face and the heatmap of the first
        // result; its offsets are in the second frame's pixels.
        if (data->m_useRefinementStage) {
            cv::Mat connected(s, s, CV_8UC2);
            IplImage connectedHeader = cvIplImage(connected);
            layer->connect(image, initShape, &landmarksHeader, &transform, &connectedHeader);
            ONN::NNData input2(connected.data, 2, s, s, ONN::ImageUtils::NHWC, ONN::UINT8, true);
            const float* output2 = runner2->Forward(input2);
            if (output2 == nullptr || !allFinite(output2, 2 * n))
                return false;
            for (int k = 0; k < n; ++k) {
                landmarks.at<float>(k, 0) += output2[2 * k];
                landmarks.at<float>(k, 1) += output2[2 * k + 1];
            }
        }

        // 9. Back to image pixels.
        ConnectionLayer::doLandmarkTransform(&landmarksHeader, &landmarksHeader, &transform, true);

        // 10, 11.
        matToFDP(&landmarksHeader, points, image, qualities.data());
        lastAngle = AlignmentUtils::calculateAlignmentAngle(points, image->width, image->height);
    } catch (const cv::Exception&) {
        return false;
    }
    return true;
}

void DeepAlignmentRuntime::matToFDP(const CvMat* landmarks, FDP* points, const IplImage* image,
                                    const float* qualities) const
{
    if (data == nullptr || landmarks == nullptr || points == nullptr || image == nullptr || qualities == nullptr ||
        CV_MAT_TYPE(landmarks->type) != CV_32FC1 || landmarks->cols != 2 || image->width < 1 || image->height < 1)
        return;
    const int n = data->landmarkCount;
    if (landmarks->rows < n || static_cast<int>(data->groups.size()) < n ||
        static_cast<int>(data->indices.size()) < n)
        return;
    const float width = static_cast<float>(image->width);
    const float height = static_cast<float>(image->height);
    for (int k = 0; k < n; ++k) {
        const int group = data->groups[static_cast<size_t>(k)];
        const int index = data->indices[static_cast<size_t>(k)];
        if (!FDP::FPIsValid(group, index))
            continue;
        points->setFPPos(group, index, CV_MAT_ELEM(*landmarks, float, k, 0) / width,
                         CV_MAT_ELEM(*landmarks, float, k, 1) / height, -1.0f);
        points->setFPQuality(group, index, qualities[k]);
        points->getFP(group, index).detected = 1;
    }
}

}  // namespace OrvixSDK
