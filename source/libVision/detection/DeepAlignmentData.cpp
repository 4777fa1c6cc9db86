#include "detection/DeepAlignmentData.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include <opencv2/core/core_c.h>

#include "OrvixSDK/FDP.h"
#include "detection/OpenNetwork.h"
#include "onn/NNInterfaces.h"

namespace OrvixSDK {

namespace {

// Largest landmark count the reader accepts; the networks produce a few
// hundred at most, so anything above this is a damaged file.
const int32_t kMaxLandmarks = 10000;

// Reads one 4-byte little-endian item.  False at the end of the file.
bool readItem(std::FILE* file, unsigned char (&bytes)[4])
{
    return std::fread(bytes, 1, 4, file) == 4;
}

bool readInt(std::FILE* file, int32_t& value)
{
    unsigned char bytes[4];
    if (!readItem(file, bytes))
        return false;
    const uint32_t bits = static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
                          (static_cast<uint32_t>(bytes[2]) << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
    std::memcpy(&value, &bits, sizeof(value));
    return true;
}

bool readFloat(std::FILE* file, float& value)
{
    int32_t bits = 0;
    if (!readInt(file, bits))
        return false;
    std::memcpy(&value, &bits, sizeof(value));
    return true;
}

// Whether the frontend's model is loaded and gives at least the given number
// of outputs per run.
bool networkUsable(ONN::INNFrontend* frontend, long outputs)
{
    if (frontend == nullptr)
        return false;
    ONN::INNModel* model = frontend->GetModel();
    return model != nullptr && model->IsLoaded() && model->GetOutputSize() >= outputs;
}

}  // namespace

DeepAlignmentData::DeepAlignmentData(const std::string& folder, bool useRefinementStage)
    : loaded(false), m_useRefinementStage(useRefinementStage), imageSize(96), channels(1), heatmapPatch(16),
      landmarkCount(0), shapeScale(0.0f), initShape(nullptr), stage1(nullptr), stage2(nullptr)
{
    const bool auxRead = loadAuxBin(folder + "/aux_file.bin", &initShape);
    if (auxRead)
        adjustInitShape(initShape, imageSize, shapeScale);

    // The first stage gives an offset pair and a quality per landmark, the
    // second an offset pair; a network with fewer outputs than that would be
    // read past its end.
    stage1 = openNetwork(folder + "/d1qy");
    bool networksLoaded = networkUsable(stage1, 3L * landmarkCount);
    if (m_useRefinementStage) {
        stage2 = openNetwork(folder + "/d2");
        networksLoaded = networkUsable(stage2, 2L * landmarkCount) && networksLoaded;
    }
    loaded = auxRead && networksLoaded;
}

DeepAlignmentData::~DeepAlignmentData()
{
    if (initShape != nullptr)
        cvReleaseMat(&initShape);
    // Deleting a frontend deletes every runner made from it.
    delete stage1;
    delete stage2;
}

bool DeepAlignmentData::loadAuxBin(const std::string& path, CvMat** shape)
{
    if (shape == nullptr)
        return false;
    *shape = nullptr;
    landmarkCount = 0;
    groups.clear();
    indices.clear();

    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        std::printf("Error while reading bin file %s\n", path.c_str());
        return false;
    }

    bool ok = false;
    bool reported = false;
    int32_t count = 0;
    std::vector<int> fileGroups;
    std::vector<int> fileIndices;
    CvMat* mean = nullptr;
    float scale = 0.0f;
    do {
        if (!readInt(file, count) || count <= 0 || count > kMaxLandmarks)
            break;
        fileGroups.resize(static_cast<size_t>(count));
        fileIndices.resize(static_cast<size_t>(count));
        bool pointsValid = true;
        for (int32_t k = 0; k < count && pointsValid; ++k) {
            int32_t group = 0;
            int32_t index = 0;
            pointsValid = readInt(file, group) && readInt(file, index) && FDP::FPIsValid(group, index);
            fileGroups[static_cast<size_t>(k)] = group;
            fileIndices[static_cast<size_t>(k)] = index;
        }
        if (!pointsValid)
            break;

        int32_t dimension = 0;
        if (!readInt(file, dimension))
            break;
        if (dimension != 2) {
            std::printf("expected 2D init shapes, got %d!\n", static_cast<int>(dimension));
            reported = true;
            break;
        }

        mean = cvCreateMat(count, 2, CV_32FC1);
        bool valuesValid = true;
        for (int32_t k = 0; k < count && valuesValid; ++k) {
            for (int c = 0; c < 2 && valuesValid; ++c) {
                float v = 0.0f;
                valuesValid = readFloat(file, v) && std::isfinite(v);
                CV_MAT_ELEM(*mean, float, k, c) = v;
            }
        }
        if (!valuesValid || !readFloat(file, scale) || !std::isfinite(scale) || !(scale > 0.0f))
            break;

        // The shape is scaled by its extent and fitted to face rectangles by
        // its width and its height: both must be positive.
        const cv::Rect2f extent = findMinMaxBoundingBox(mean);
        ok = extent.width > 0.0f && extent.height > 0.0f;
    } while (false);
    std::fclose(file);

    if (!ok) {
        if (!reported)
            std::printf("Error while reading bin file %s\n", path.c_str());
        if (mean != nullptr)
            cvReleaseMat(&mean);
        return false;
    }

    landmarkCount = count;
    groups.swap(fileGroups);
    indices.swap(fileIndices);
    shapeScale = scale;
    *shape = mean;
    return true;
}

void DeepAlignmentData::adjustInitShape(CvMat* shape, int size, float scale)
{
    if (shape == nullptr || CV_MAT_TYPE(shape->type) != CV_32FC1 || shape->cols != 2 || shape->rows < 1)
        return;
    const int n = shape->rows;
    const cv::Rect2f box = findMinMaxBoundingBox(shape);
    const float extent = std::max(box.width, box.height);
    if (!(extent > 0.0f) || !(scale > 0.0f))
        return;

    double sumX = 0.0;
    double sumY = 0.0;
    for (int k = 0; k < n; ++k) {
        sumX += CV_MAT_ELEM(*shape, float, k, 0);
        sumY += CV_MAT_ELEM(*shape, float, k, 1);
    }
    const float meanX = static_cast<float>(sumX / n);
    const float meanY = static_cast<float>(sumY / n);
    const float factor = static_cast<float>(size) / (scale * extent);
    const float centre = static_cast<float>(size) / 2.0f;
    for (int k = 0; k < n; ++k) {
        float& x = CV_MAT_ELEM(*shape, float, k, 0);
        float& y = CV_MAT_ELEM(*shape, float, k, 1);
        x = (x - meanX) * factor + centre;
        y = (y - meanY) * factor + centre;
    }
}

ONN::INNRunner* DeepAlignmentData::getRunner(DanModelIdentifier id)
{
    ONN::INNFrontend* frontend = nullptr;
    if (id == INITIAL_STAGE)
        frontend = stage1;
    else if (id == REFINEMENT_STAGE && m_useRefinementStage)
        frontend = stage2;
    if (frontend == nullptr)
        return nullptr;
    ONN::INNModel* model = frontend->GetModel();
    if (model == nullptr || !model->IsLoaded())
        return nullptr;
    return frontend->CreateRunner();
}

cv::Rect2f findMinMaxBoundingBox(const CvMat* shape)
{
    if (shape == nullptr || CV_MAT_TYPE(shape->type) != CV_32FC1 || shape->cols < 2 || shape->rows < 1)
        return cv::Rect2f(0.0f, 0.0f, 0.0f, 0.0f);
    float lowX = CV_MAT_ELEM(*shape, float, 0, 0), highX = lowX;
    float lowY = CV_MAT_ELEM(*shape, float, 0, 1), highY = lowY;
    for (int k = 1; k < shape->rows; ++k) {
        const float x = CV_MAT_ELEM(*shape, float, k, 0);
        const float y = CV_MAT_ELEM(*shape, float, k, 1);
        lowX = std::min(lowX, x);
        highX = std::max(highX, x);
        lowY = std::min(lowY, y);
        highY = std::max(highY, y);
    }
    return cv::Rect2f(lowX, lowY, highX - lowX, highY - lowY);
}

}  // namespace OrvixSDK
