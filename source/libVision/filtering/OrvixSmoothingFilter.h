#ifndef ORVIX_ORVIX_SMOOTHING_FILTER_H
#define ORVIX_ORVIX_SMOOTHING_FILTER_H

#include <opencv2/core/core_c.h>

namespace OrvixSDK
{

class FDP;
class SmoothingFilter;

// Smooths one tracked face over time: the 2-D positions and qualities of
// selected feature points, by face region with the configured factors, and
// the two iris radii.
class OrvixSmoothingFilter
{
public:
    // factors: 8 x 1 float matrix of smoothing factors; copied.
    explicit OrvixSmoothingFilter(const CvMat* factors);
    ~OrvixSmoothingFilter();

    OrvixSmoothingFilter(const OrvixSmoothingFilter&) = delete;
    OrvixSmoothingFilter& operator=(const OrvixSmoothingFilter&) = delete;

    void setSmoothingFactors(const CvMat* factors);

    void startFrame();
    void enable();
    void disable();
    void reset();

    // Smooth the positions and qualities of points in place; time is the
    // elapsed time of the present tracking run in milliseconds.
    void do_smoothing(FDP* points, long time);
    void do_smoothingEars(FDP* points, long time);
    // Smooths the two radii in place; start0 and start1 hold the state of
    // the radius smoothing between calls (-1 initially).
    void do_smoothingIris(float* irisRadius, long* start0, long* start1, long time);

private:
    void smooth(FDP* points, long time, const float (*groups)[4], int groupCount);
    // Runs operation on each of the three filters that exists.
    void forEachFilter(void (SmoothingFilter::*operation)());

    CvMat* factors;
    SmoothingFilter* pointFilter;
    SmoothingFilter* irisFilter0;
    SmoothingFilter* irisFilter1;
};

} // namespace OrvixSDK

#endif
