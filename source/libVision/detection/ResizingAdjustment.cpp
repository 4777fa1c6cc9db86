#include "detection/ResizingAdjustment.h"

#include <cmath>

#include <opencv2/core/core_c.h>
#include <opencv2/imgproc/imgproc_c.h>

#include "detection/AlignmentData.h"
#include "detection/AlignmentUtils.h"

namespace OrvixSDK {

ResizingAdjustment::ResizingAdjustment(float scale, int interpolation, bool applyToImage, bool fromSource)
    : Adjustment(applyToImage, fromSource), scale(scale), interpolation(interpolation)
{
}

void ResizingAdjustment::apply(AlignmentData* data)
{
    if (data == nullptr)
        return;
    if (applyToImage) {
        IplImage* image = fromSource ? data->sourceImage : data->workingImage;
        if (image != nullptr && image->imageData != nullptr) {
            // The size of the image's region of interest, when it has one.
            const CvSize size = cvGetSize(image);
            const CvSize scaled = cvSize(static_cast<int>(std::nearbyint(size.width * static_cast<double>(scale))),
                                         static_cast<int>(std::nearbyint(size.height * static_cast<double>(scale))));
            if (scaled.width > 0 && scaled.height > 0) {
                IplImage* resized = cvCreateImage(scaled, image->depth, image->nChannels);
                cvResize(image, resized, interpolation);
                cvReleaseImage(&data->workingImage);
                data->workingImage = resized;
            }
        }
    }
    AlignmentUtils::resizeBB(data->faceRect, scale);
    AlignmentUtils::resizeBB(data->cropRect, scale);
}

void ResizingAdjustment::revert(AlignmentData* data)
{
    // A zero scale cannot be undone; it never comes from a face of width > 0.
    if (data == nullptr || scale == 0.0f)
        return;
    AlignmentUtils::resizeBB(data->faceRect, 1.0f / scale);
}

}  // namespace OrvixSDK
