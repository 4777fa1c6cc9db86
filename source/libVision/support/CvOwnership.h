#ifndef ORVIX_SUPPORT_CVOWNERSHIP_H
#define ORVIX_SUPPORT_CVOWNERSHIP_H

// Copying and releasing OpenCV matrices and images held through owning raw
// pointers that may be null.

#include <opencv2/core/core_c.h>

namespace OrvixSDK
{

// A deep copy, or null for null.
inline CvMat* cloneOrNull(const CvMat* m)
{
    return m != nullptr ? cvCloneMat(m) : nullptr;
}

inline IplImage* cloneOrNull(const IplImage* image)
{
    return image != nullptr ? cvCloneImage(image) : nullptr;
}

// Releases what the pointer owns, if anything, and leaves it null.
inline void releaseAndClear(CvMat*& m)
{
    if (m != nullptr)
        cvReleaseMat(&m);
    m = nullptr;
}

inline void releaseAndClear(IplImage*& image)
{
    if (image != nullptr)
        cvReleaseImage(&image);
    image = nullptr;
}

} // namespace OrvixSDK

#endif
