#include "detection/CroppingAdjustment.h"

#include <opencv2/core/core_c.h>

#include "detection/AlignmentData.h"
#include "detection/AlignmentUtils.h"

namespace OrvixSDK {

CroppingAdjustment::CroppingAdjustment(CvRect fromRect, CvRect toRect, bool applyToImage, bool fromSource)
    : Adjustment(applyToImage, fromSource), fromRect(fromRect), toRect(toRect)
{
}

void CroppingAdjustment::apply(AlignmentData* data)
{
    if (data == nullptr)
        return;
    // The crop is first clipped to the image it is cut from; the clipped
    // rectangle is kept so that revert maps back through the same region.
    IplImage* image = fromSource ? data->sourceImage : data->workingImage;
    IplImage* copy = nullptr;
    AlignmentUtils::getAdjustedCrop(image, &copy, toRect, applyToImage);
    if (copy != nullptr) {
        cvReleaseImage(&data->workingImage);
        data->workingImage = copy;
    }
    AlignmentUtils::switchFDPROI(data->points, fromRect, toRect);
    AlignmentUtils::switchBBROI(data->faceRect, fromRect, toRect);
    data->cropRect = toRect;
}

void CroppingAdjustment::revert(AlignmentData* data)
{
    if (data == nullptr)
        return;
    AlignmentUtils::switchFDPROI(data->points, toRect, fromRect);
    AlignmentUtils::switchBBROI(data->faceRect, toRect, fromRect);
}

}  // namespace OrvixSDK
