#ifndef ORVIX_DETECTION_CONNECTIONLAYER_H
#define ORVIX_DETECTION_CONNECTIONLAYER_H

#include <opencv2/core/types_c.h>

namespace OrvixSDK {

// The step between the two deep-alignment stages: re-warps the image to the
// first stage's landmarks and paints a heatmap of them.
class ConnectionLayer
{
public:
    ConnectionLayer(int imageSize, int patchSize, float scale);

    // Builds the two-channel second-stage input in out (S x S, 8-bit, two
    // channels): the image warped to the landmarks, then the heatmap.
    // Replaces transform by the transform of the second frame and landmarks
    // by their place in it.
    void connect(const IplImage* image, const CvMat* meanShape, CvMat* landmarks, CvMat* transform, IplImage* out);

    // out = the 2 x 3 affine transform (inverted first when invert) applied
    // to the N x 2 points of in; in and out may be the same.
    static void doLandmarkTransform(const CvMat* in, CvMat* out, const CvMat* transform, bool invert);
    // out = a after b, for 2 x 3 affine transforms; out may be b.
    static void combineTransformations(const CvMat* a, const CvMat* b, CvMat* out);
    // Paints a peak around every landmark into the S x S 8-bit heatmap.
    void doHeatmapGeneration(const CvMat* landmarks, CvMat* heatmap) const;

    int imageSize;
    int patchSize;
    float scale;
};

}  // namespace OrvixSDK

#endif
