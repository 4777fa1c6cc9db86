#ifndef ORVIX_DETECTION_DEEPALIGNMENTDATA_H
#define ORVIX_DETECTION_DEEPALIGNMENTDATA_H

#include <string>
#include <vector>

#include <opencv2/core/types.hpp>
#include <opencv2/core/types_c.h>

namespace ONN {
class INNFrontend;
class INNRunner;
}  // namespace ONN

namespace OrvixSDK {

enum DanModelIdentifier
{
    INITIAL_STAGE = 0,
    REFINEMENT_STAGE = 1
};

// The deep-alignment networks with their mean shape and landmark names, read
// from one folder ("aux_file.bin", "d1qy" and, with the refinement stage,
// "d2").  One exists per detector; every runtime made from it only reads it,
// and it must outlive them (its frontends own their runners).
class DeepAlignmentData
{
public:
    // Reads the auxiliary file, prepares the mean shape for the canonical
    // frame and opens the networks.  Anything missing or unusable leaves the
    // data not loaded; a network that cannot be opened is reported with the
    // frontend's message.
    DeepAlignmentData(const std::string& folder, bool useRefinementStage);
    ~DeepAlignmentData();

    DeepAlignmentData(const DeepAlignmentData&) = delete;
    DeepAlignmentData& operator=(const DeepAlignmentData&) = delete;

    bool isLoaded() const { return loaded; }

    // Reads landmarkCount, groups, indices, the N x 2 mean shape (into
    // *shape, a new matrix) and shapeScale.  False, with *shape null, for a
    // missing, short or malformed file.
    bool loadAuxBin(const std::string& path, CvMat** shape);

    // Centres shape in a size x size frame with its larger extent
    // size / scale.
    static void adjustInitShape(CvMat* shape, int size, float scale);

    // A new runner of the given stage, owned by its frontend; null for an
    // unknown stage, a stage that is not loaded or a missing frontend.
    ONN::INNRunner* getRunner(DanModelIdentifier id);

    bool loaded;
    bool m_useRefinementStage;
    int imageSize;
    int channels;
    int heatmapPatch;
    int landmarkCount;
    float shapeScale;
    std::vector<int> groups;
    std::vector<int> indices;
    CvMat* initShape;
    ONN::INNFrontend* stage1;
    ONN::INNFrontend* stage2;
};

// The bounding box of an N x 2 float shape: (min x, min y, width, height).
cv::Rect2f findMinMaxBoundingBox(const CvMat* shape);

}  // namespace OrvixSDK

#endif
