#include "filtering/OrvixSmoothingFilter.h"

#include <algorithm>
#include <climits>
#include <exception>
#include <new>
#include <vector>

#include "OrvixSDK/FDP.h"
#include "filtering/SmoothingFilter.h"

namespace OrvixSDK
{

namespace
{

const int kFactorCount = 8;
const int kPointChannels = 2000;
const int kHistoryLength = 31;
const int kWindow = 310;

// Rows of (group, first index, last index, index into the factors).
const float kFaceGroups[][4] = {
    {4, 1, 6, 0},
    {14, 1, 12, 0},
    {8, 1, 10, 1},
    {2, 2, 9, 1},
    {17, 5, 20, 1},
    {3, 5, 6, 2},
    {3, 1, 4, 3},
    {3, 7, 14, 3},
    {12, 5, 12, 3},
    {16, 1, 28, 3},
    {9, 3, 5, 4},
    {9, 15, 15, 4},
    {14, 22, 25, 4},
    {2, 1, 1, 5},
    {15, 1, 17, 5},
};
const float kEarGroups[][4] = {
    {10, 1, 24, 7},
};

// Contour group whose factor does not depend on point quality.
const int kContourGroup = 15;

// 8 x 1 float matrix holding the given factors; every factor that the given
// matrix does not hold (null, not a single-channel matrix, fewer elements) is
// -1, which leaves its points untouched.  Matrices of another depth are read
// element by element in row order.  Null only when out of memory.
CvMat* copyFactors(const CvMat* source)
{
    CvMat* copy = nullptr;
    try {
        copy = cvCreateMat(kFactorCount, 1, CV_32FC1);
    } catch (const std::exception&) {
        return nullptr;
    }
    for (int i = 0; i < kFactorCount; ++i)
        copy->data.fl[i] = -1.0f;
    if (source == nullptr || !CV_IS_MAT(source) || CV_MAT_CN(source->type) != 1 ||
        source->rows <= 0 || source->cols <= 0)
        return copy;
    const long long available = static_cast<long long>(source->rows) * source->cols;
    const int n = static_cast<int>(std::min<long long>(kFactorCount, available));
    try {
        for (int i = 0; i < n; ++i)
            copy->data.fl[i] =
                static_cast<float>(cvGetReal2D(source, i / source->cols, i % source->cols));
    } catch (const std::exception&) {
        // An element type that cannot be read: the rest stay -1.
    }
    return copy;
}

float factorAt(const CvMat* factors, int index)
{
    if (factors == nullptr || index < 0 || index >= kFactorCount)
        return -1.0f;
    return factors->data.fl[index];
}

// One iris radius: -1 (unknown) passes through and ends the present run of
// samples; the next known value starts a new run at its time.
void smoothIrisValue(SmoothingFilter* filter, float& value, long* start, long time)
{
    if (filter == nullptr || start == nullptr)
        return;
    if (value == -1.0f) {
        *start = -1;
        return;
    }
    if (*start == -1) {
        *start = time;
        filter->reset();
    }
    long elapsed = 0;
    if (__builtin_sub_overflow(time, *start, &elapsed))
        elapsed = time < *start ? LONG_MIN : LONG_MAX;
    filter->smooth_w_time(&value, 1, elapsed, kWindow, 0.1f, 0.0f, 1000000.0f, 0.0f, 1.0f);
}

} // namespace

OrvixSmoothingFilter::OrvixSmoothingFilter(const CvMat* factors_)
    : factors(copyFactors(factors_)),
      pointFilter(new (std::nothrow) SmoothingFilter(kPointChannels, kHistoryLength)),
      irisFilter0(new (std::nothrow) SmoothingFilter(1, kHistoryLength)),
      irisFilter1(new (std::nothrow) SmoothingFilter(1, kHistoryLength))
{
}

OrvixSmoothingFilter::~OrvixSmoothingFilter()
{
    cvReleaseMat(&factors);
    delete pointFilter;
    delete irisFilter0;
    delete irisFilter1;
}

void OrvixSmoothingFilter::setSmoothingFactors(const CvMat* factors_)
{
    CvMat* copy = copyFactors(factors_);
    cvReleaseMat(&factors);
    factors = copy;
}

void OrvixSmoothingFilter::forEachFilter(void (SmoothingFilter::*operation)())
{
    for (SmoothingFilter* filter : {pointFilter, irisFilter0, irisFilter1}) {
        if (filter != nullptr)
            (filter->*operation)();
    }
}

void OrvixSmoothingFilter::startFrame()
{
    forEachFilter(&SmoothingFilter::startFrame);
}

void OrvixSmoothingFilter::enable()
{
    forEachFilter(&SmoothingFilter::enable);
}

void OrvixSmoothingFilter::disable()
{
    forEachFilter(&SmoothingFilter::disable);
}

void OrvixSmoothingFilter::reset()
{
    forEachFilter(&SmoothingFilter::reset);
}

void OrvixSmoothingFilter::do_smoothing(FDP* points, long time)
{
    smooth(points, time, kFaceGroups, sizeof(kFaceGroups) / sizeof(kFaceGroups[0]));
}

void OrvixSmoothingFilter::do_smoothingEars(FDP* points, long time)
{
    smooth(points, time, kEarGroups, sizeof(kEarGroups) / sizeof(kEarGroups[0]));
}

void OrvixSmoothingFilter::do_smoothingIris(float* irisRadius, long* start0, long* start1,
                                            long time)
{
    if (irisRadius == nullptr)
        return;
    smoothIrisValue(irisFilter0, irisRadius[0], start0, time);
    smoothIrisValue(irisFilter1, irisRadius[1], start1, time);
}

void OrvixSmoothingFilter::smooth(FDP* points, long time, const float (*groups)[4],
                                  int groupCount)
{
    if (points == nullptr || groups == nullptr || pointFilter == nullptr)
        return;

    // Positions: x and y of every listed point, one factor per coordinate.
    // Less reliable points are smoothed harder, except on the face contour.
    std::vector<float*> values;
    std::vector<float> pointFactors;
    try {
        for (int row = 0; row < groupCount; ++row) {
            const int group = static_cast<int>(groups[row][0]);
            const int first = static_cast<int>(groups[row][1]);
            const int last = static_cast<int>(groups[row][2]);
            const float rowFactor = factorAt(factors, static_cast<int>(groups[row][3]));
            for (int index = first; index <= last; ++index) {
                if (!FDP::FPIsValid(group, index))
                    continue;
                FeaturePoint& point = points->getFP(group, index);
                const float extra = group == kContourGroup ? 0.0f : (1.0f - point.quality) * 0.2f;
                const float factor = rowFactor + extra;
                values.push_back(&point.position[0]);
                values.push_back(&point.position[1]);
                pointFactors.push_back(factor);
                pointFactors.push_back(factor);
            }
        }
    } catch (const std::exception&) {
        return;
    }
    if (!values.empty())
        pointFilter->smooth_w_time_SG(values.data(), static_cast<int>(values.size()), time, kWindow,
                                      pointFactors.data());

    // Qualities of every point that has one, each on its own channel.
    for (int group = FDP::firstGroup; group <= FDP::lastGroup; ++group) {
        for (int index = 1; index <= FDP::groupSize(group); ++index) {
            FeaturePoint& point = points->getFP(group, index);
            if (point.defined && point.quality >= 0.0f)
                pointFilter->smooth_w_time(&point.quality, 1, time, kWindow, 0.5f, 0.05f, 1.0f,
                                           0.5f, 1.0f);
        }
    }
}

} // namespace OrvixSDK
