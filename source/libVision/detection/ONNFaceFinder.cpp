#include "detection/ONNFaceFinder.h"

#include <algorithm>
#include <cmath>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "detection/ONNFaceFinderData.h"
#include "onn/NNInterfaces.h"

namespace OrvixSDK {

namespace {

// The network's fixed input side.
const int kInputSide = 256;
// Values per prior in the three output blocks: location, scores, landmarks.
const int kLocationValues = 4;
const int kScoreValues = 2;
const int kLandmarkValues = 10;
// Overlap at which a less confident candidate is dropped.
const float kSuppressionThreshold = 0.25f;
// Lowest score threshold, reached at sensitivity 1.
const float kLowestThreshold = 0.02f;

// Round to nearest, ties to even (the default floating-point rounding mode).
float roundEven(float v)
{
    return std::nearbyint(v);
}

float inclusiveArea(const ONNFaceFinder::Detection& d)
{
    return (d.x2 - d.x1 + 1.0f) * (d.y2 - d.y1 + 1.0f);
}

// Where the image lands in the network input: the content rectangle and the
// factor from input pixels back to image pixels.
struct Letterbox
{
    int x0 = 0, y0 = 0, width = kInputSide, height = kInputSide;
    float scale = 1.0f;
};

Letterbox placeContent(int imageWidth, int imageHeight)
{
    Letterbox box;
    // The shorter content side is 256 * short / long.  It is taken in one
    // division so that exact halves round to even as they should.  At least
    // one row or column is kept so that extreme aspect ratios still give a
    // region to resize into.
    if (imageWidth > imageHeight) {
        const double h = std::nearbyint(static_cast<double>(kInputSide) * imageHeight / imageWidth);
        box.height = std::max(1, std::min(kInputSide, static_cast<int>(h)));
        box.y0 = (kInputSide - box.height) / 2;
        box.scale = static_cast<float>(imageWidth) / kInputSide;
    } else {
        const double w = std::nearbyint(static_cast<double>(kInputSide) * imageWidth / imageHeight);
        box.width = std::max(1, std::min(kInputSide, static_cast<int>(w)));
        box.x0 = (kInputSide - box.width) / 2;
        box.scale = static_cast<float>(imageHeight) / kInputSide;
    }
    return box;
}

}  // namespace

ONNFaceFinder::Detection::Detection(CvRect r)
    : x1(static_cast<float>(r.x)), y1(static_cast<float>(r.y)), x2(static_cast<float>(r.x + r.width)),
      y2(static_cast<float>(r.y + r.height))
{
}

float ONNFaceFinder::Detection::iou(const Detection& other) const
{
    const float iw = std::min(x2, other.x2) - std::max(x1, other.x1) + 1.0f;
    const float ih = std::min(y2, other.y2) - std::max(y1, other.y1) + 1.0f;
    const float inter = std::max(iw, 0.0f) * std::max(ih, 0.0f);
    return inter / (inclusiveArea(*this) + inclusiveArea(other) - inter);
}

CvRect ONNFaceFinder::Detection::rect() const
{
    return cvRect(static_cast<int>(x1), static_cast<int>(y1), static_cast<int>(x2 - x1), static_cast<int>(y2 - y1));
}

bool ONNFaceFinder::Detection::greaterSize(const Detection& a, const Detection& b)
{
    return (a.x2 - a.x1) > (b.x2 - b.x1);
}

bool ONNFaceFinder::Detection::greaterConfidence(const Detection& a, const Detection& b)
{
    return a.confidence > b.confidence;
}

ONNFaceFinder::ONNFaceFinder(ONNFaceFinderData* data)
    : model(data != nullptr ? data->getModel() : nullptr),
      runner(data != nullptr ? data->createRunner() : nullptr)
{
}

// The runner belongs to the data's frontend, which frees it.
ONNFaceFinder::~ONNFaceFinder() = default;

std::vector<ONNFaceFinder::CenteredBox> ONNFaceFinder::makePriors()
{
    struct FeatureMap
    {
        int step;
        std::vector<int> sizes;
    };
    const FeatureMap maps[] = {{8, {10, 16, 24}}, {16, {32, 48}}, {32, {64, 96}}, {64, {128, 192, 256}}};
    const float side = static_cast<float>(kInputSide);

    std::vector<CenteredBox> priors;
    priors.reserve(3760);
    for (const FeatureMap& map : maps) {
        const int rows = (kInputSide + map.step - 1) / map.step;
        const int columns = rows;
        for (int j = 0; j < rows; ++j)
            for (int k = 0; k < columns; ++k)
                for (int size : map.sizes) {
                    CenteredBox box;
                    box.cx = (k + 0.5f) * map.step / side;
                    box.cy = (j + 0.5f) * map.step / side;
                    box.w = size / side;
                    box.h = size / side;
                    priors.push_back(box);
                }
    }
    return priors;
}

void ONNFaceFinder::nonMaximumSupression(std::vector<Detection>& boxes, float threshold, std::vector<int>* kept)
{
    std::vector<float> areas;
    std::vector<int> indices;
    areas.reserve(boxes.size());
    indices.reserve(boxes.size());
    for (size_t i = 0; i < boxes.size(); ++i) {
        areas.push_back(inclusiveArea(boxes[i]));
        indices.push_back(static_cast<int>(i));
    }

    for (size_t i = 0; i < boxes.size(); ++i) {
        size_t j = i + 1;
        while (j < boxes.size()) {
            const Detection& a = boxes[i];
            const Detection& b = boxes[j];
            const float iw = std::min(a.x2, b.x2) - std::max(a.x1, b.x1) + 1.0f;
            const float ih = std::min(a.y2, b.y2) - std::max(a.y1, b.y1) + 1.0f;
            const float inter = std::max(iw, 0.0f) * std::max(ih, 0.0f);
            const float overlap = inter / (areas[i] + areas[j] - inter);
            if (overlap >= threshold) {
                // The next box moves into place j and is compared in turn.
                boxes.erase(boxes.begin() + static_cast<long>(j));
                areas.erase(areas.begin() + static_cast<long>(j));
                indices.erase(indices.begin() + static_cast<long>(j));
            } else {
                ++j;
            }
        }
    }
    if (kept != nullptr)
        *kept = indices;
}

int ONNFaceFinder::findFaces(const IplImage* image, std::vector<Detection>& faces, float sensitivity,
                             float minFaceScale, float maxFaceScale, const CvRect* region)
{
    faces.clear();
    if (image == nullptr || image->imageData == nullptr || image->depth != IPL_DEPTH_8U || image->nChannels != 1
        || image->width < 1 || image->height < 1 || image->widthStep < image->width)
        return 0;
    if (runner == nullptr || model == nullptr)
        return 0;

    // A network whose output cannot hold the three blocks is never read.
    if (priors.empty())
        priors = makePriors();
    const long priorCount = static_cast<long>(priors.size());
    const long outputSize = priorCount * (kLocationValues + kScoreValues + kLandmarkValues);
    if (model->GetOutputSize() < outputSize)
        return 0;

    const int width = image->width;
    const int height = image->height;
    const float shorter = static_cast<float>(std::min(width, height));

    const float threshold = 1.0f - sensitivity > 1.0f ? 1.0f : std::max(kLowestThreshold, 1.0f - sensitivity);
    const float minSize = std::min(std::max(minFaceScale, 0.0f), 1.0f) * shorter;
    const float maxSize = std::max(minFaceScale, std::min(maxFaceScale, 1.0f)) * shorter;

    // Letterbox: the image scaled into the content rectangle, zeros around it.
    const Letterbox box = placeContent(width, height);
    cv::Mat input = cv::Mat::zeros(kInputSide, kInputSide, CV_8UC1);
    const cv::Mat source(height, width, CV_8UC1, image->imageData, static_cast<size_t>(image->widthStep));
    cv::Mat content = input(cv::Rect(box.x0, box.y0, box.width, box.height));
    cv::resize(source, content, content.size(), 0, 0, cv::INTER_LINEAR);

    ONN::NNData data(input.data, 1, kInputSide, kInputSide, ONN::ImageUtils::NHWC, ONN::UINT8, true);
    const float* output = runner->Forward(data);
    if (output == nullptr)
        return 0;
    const float* locations = output;
    const float* scores = output + kLocationValues * priorCount;

    std::vector<Detection> candidates;
    const float side = static_cast<float>(kInputSide);
    for (long i = 0; i < priorCount; ++i) {
        const float score = scores[kScoreValues * i + 1];
        if (!(score > threshold))
            continue;
        const CenteredBox& prior = priors[static_cast<size_t>(i)];
        const float* d = locations + kLocationValues * i;
        const float cx = prior.cx + 0.1f * d[0] * prior.w;
        const float cy = prior.cy + 0.1f * d[1] * prior.h;
        const float w = prior.w * std::exp(0.2f * d[2]);
        const float h = prior.h * std::exp(0.2f * d[3]);
        const float left = (cx - w / 2) * side;
        const float top = (cy - h / 2) * side;
        const float right = (cx + w / 2) * side;
        const float bottom = (cy + h / 2) * side;
        // A regression that is not a number describes no face (clamping
        // alone would turn it into a box over the whole input).
        if (std::isnan(left) || std::isnan(top) || std::isnan(right) || std::isnan(bottom))
            continue;
        Detection candidate(std::max(0.0f, left), std::max(0.0f, top), std::min(side, right),
                            std::min(side, bottom), score);
        if (!std::isfinite(candidate.x1) || !std::isfinite(candidate.y1) || !std::isfinite(candidate.x2)
            || !std::isfinite(candidate.y2))
            continue;
        candidates.push_back(candidate);
    }
    if (candidates.empty())
        return 0;

    std::stable_sort(candidates.begin(), candidates.end(), Detection::greaterConfidence);
    nonMaximumSupression(candidates, kSuppressionThreshold, nullptr);
    std::stable_sort(candidates.begin(), candidates.end(), Detection::greaterSize);

    const float x0 = static_cast<float>(box.x0);
    const float y0 = static_cast<float>(box.y0);
    for (const Detection& candidate : candidates) {
        const float x1 = (candidate.x1 - x0) * box.scale;
        const float x2 = (candidate.x2 - x0) * box.scale;
        const float y1 = (candidate.y1 - y0) * box.scale;
        const float y2 = (candidate.y2 - y0) * box.scale;
        const float g = roundEven(((x2 - x1) + (y2 - y1)) / 4);
        const float cx = roundEven((x1 + x2) / 2);
        const float cy = roundEven((y1 + y2) / 2);
        Detection face(cx - g, cy - g, cx - g + 2 * g, cy - g + 2 * g, candidate.confidence);

        const float faceSide = 2 * g;
        if (!(minSize < faceSide && faceSide < maxSize))
            continue;
        if (region != nullptr) {
            const float centreX = roundEven((face.x1 + face.x2) / 2);
            const float centreY = roundEven((face.y1 + face.y2) / 2);
            const float left = static_cast<float>(region->x);
            const float top = static_cast<float>(region->y);
            const float right = static_cast<float>(region->x) + static_cast<float>(region->width);
            const float bottom = static_cast<float>(region->y) + static_cast<float>(region->height);
            if (!(left < centreX && centreX < right && top < centreY && centreY < bottom))
                continue;
        }
        faces.push_back(face);
    }
    return static_cast<int>(faces.size());
}

}  // namespace OrvixSDK
