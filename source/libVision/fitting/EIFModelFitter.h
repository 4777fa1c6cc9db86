#ifndef ORVIX_FITTING_EIFMODELFITTER_H
#define ORVIX_FITTING_EIFMODELFITTER_H

#include <map>
#include <utility>
#include <vector>

#include <opencv2/core/types_c.h>

namespace OrvixSDK
{

class Candide3Model;
class ExtendedInformationFilter;
class FaceModelNoVel;
class FDP;

// Fits one Candide3Model to the 2-D feature points of an image with an
// extended information filter.
//
// The set of fitting points is fixed at construction: every point that the
// given set defines and that the model links to one of its vertices.  The
// filter built by InitInformFilter persists between passes as long as the
// state mask stays the same, so tracking continues from the previous
// estimate.
//
// Input points are normalised image positions with y measured downward from
// the top edge.
class EIFModelFitter
{
public:
    // Observation noise of an ordinary point and of an excluded one (which
    // gets zero Jacobian rows).
    static constexpr float pointNoise = 0.0019999999f;
    static constexpr float excludedPointNoise = 100001.0f;
    // Fewer fitting points than this make every pass fail.
    static constexpr int minFittingPoints = 4;

    // model and points may be null (no fitting points then).  The model is
    // not owned and must outlive the fitter.
    EIFModelFitter(Candide3Model* model, const FDP* points, int stateMask);
    ~EIFModelFitter();

    EIFModelFitter(const EIFModelFitter&) = delete;
    EIFModelFitter& operator=(const EIFModelFitter&) = delete;

    // Builds the filter for the mask (1 pose, 2 shape units, 4 action
    // units) from the model's current parameters; keeps an existing filter
    // of the same mask.  Returns whether a filter is ready.
    bool InitInformFilter(int stateMask);
    // Restarts the existing filter from the model's current pose and unit
    // values with an identity information matrix.
    void ResetInformFilterData();
    // Pose and unit values out of `state`, or out of the filter's state when
    // `state` is null.
    void ExtractInformFilterData(float* rotation, float* translation, CvMat* suValues, CvMat* auValues,
                                 CvMat* state);
    // One filter update.
    bool UpdateEIF(CvMat* observation);
    // Sets the model's pose to pose[0..5] and pins it in the filter until
    // the filter is rebuilt.
    void FreezePose(const float* pose);
    // True when the model's parameters are out of its limits or not finite
    // (unit values that are not finite are set to 0).
    bool CheckBadStates();
    // Turns the points into observations and per-point noise.
    void GetImageFittFPs(const FDP* points, int width, int height);
    // One fitting pass of `iterations` updates; writes the estimate into the
    // model and calls its update().  With pose not null the pose is held at
    // pose[0..5].  On an out-of-range estimate the pass is retried once from
    // the pose of the detected points.  Returns whether the fit succeeded;
    // without a built filter or with fewer than 4 fitting points it fails
    // and the model is left alone.
    bool FitModelToFace(const FDP* points, int width, int height, const float* pose, int iterations);
    void SetContourFact(float factor);

    int stateMask;
    bool filterReady;
    int iterations;
    ExtendedInformationFilter* filter;   // owned
    FaceModelNoVel* systemModel;         // owned
    Candide3Model* model;                // not owned
    int count;                           // number of fitting points
    CvMat* observation;                  // 2*count x 1; null when count is 0
    std::vector<float> baseCoordinates;  // 3 per fitting point
    std::vector<int> vertexIndices;      // model vertex per fitting point
    std::map<std::pair<int, int>, int> pointSlots;   // (group, index) -> slot
    bool profileMode;
    float contourFactor;
    // Observation noise of each observation entry as last set; entries of
    // points never observed exclude them.
    std::vector<float> slotNoise;

private:
    // Deletes the filter and the system model.
    void destroyFilter();
    // Copies slotNoise into the system model's observation noise.
    void applySlotNoise();
    // (Re)initialises the filter's state from the model with an identity
    // information matrix.
    bool restartFilter();
};

} // namespace OrvixSDK

#endif
