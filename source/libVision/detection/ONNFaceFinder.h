#ifndef ORVIX_DETECTION_ONNFACEFINDER_H
#define ORVIX_DETECTION_ONNFACEFINDER_H

#include <vector>

#include <opencv2/core/types_c.h>

namespace ONN {
class INNModel;
class INNRunner;
}  // namespace ONN

namespace OrvixSDK {

class ONNFaceFinderData;

// Finds faces in a grey image with one pass of a single-shot detection
// network over a fixed 256 x 256 letterboxed input.  Each user (tracking
// core, still-image detector) owns its finder; a finder is used by one
// thread at a time and must not outlive its data.
class ONNFaceFinder
{
public:
    // A prior box, normalised to the network input.
    struct CenteredBox
    {
        float cx, cy, w, h;
    };

    struct Detection
    {
        float x1 = 0.0f, y1 = 0.0f, x2 = 0.0f, y2 = 0.0f;
        float confidence = 0.0f;

        Detection() = default;
        Detection(float left, float top, float right, float bottom, float score)
            : x1(left), y1(top), x2(right), y2(bottom), confidence(score)
        {
        }
        explicit Detection(CvRect r);

        // Intersection over union, counting pixels inclusively.
        float iou(const Detection& other) const;
        CvRect rect() const;
        static bool greaterSize(const Detection& a, const Detection& b);
        static bool greaterConfidence(const Detection& a, const Detection& b);
    };

    explicit ONNFaceFinder(ONNFaceFinderData* data);
    ~ONNFaceFinder();

    ONNFaceFinder(const ONNFaceFinder&) = delete;
    ONNFaceFinder& operator=(const ONNFaceFinder&) = delete;

    // Clears faces and fills it with square face rectangles in image pixels,
    // widest first, whose side lies strictly between the size range (as
    // fractions of the shorter image side) and, when region is given, whose
    // centre lies strictly inside it.  image is 8-bit, one channel.  Returns
    // the number of faces; 0 for an unusable image or network.
    int findFaces(const IplImage* image, std::vector<Detection>& faces, float sensitivity, float minFaceScale,
                  float maxFaceScale, const CvRect* region);

    // Greedy suppression in the order of boxes: a later box whose IoU with an
    // earlier survivor reaches threshold is removed.  kept, when given,
    // receives the original index of every survivor.
    static void nonMaximumSupression(std::vector<Detection>& boxes, float threshold, std::vector<int>* kept);

    // The 3760 prior boxes of the 256 x 256 input, in the network's order.
    static std::vector<CenteredBox> makePriors();

private:
    ONN::INNModel* model;
    ONN::INNRunner* runner;
    std::vector<CenteredBox> priors;
};

}  // namespace OrvixSDK

#endif
