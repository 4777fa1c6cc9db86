#ifndef ORVIX_SUPPORT_OPTIONALCV_H
#define ORVIX_SUPPORT_OPTIONALCV_H

// OpenCV matrices and images held through owning raw pointers that may be
// null: copying, releasing and sizing them.

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

// Number of elements of a one-channel matrix; 0 for null.
inline int elementCount(const CvMat* m)
{
    return m != nullptr ? m->rows * m->cols : 0;
}

} // namespace OrvixSDK

#endif
