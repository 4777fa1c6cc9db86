#ifndef ORVIX_FITTING_EXTENDEDINFORMATIONFILTER_H
#define ORVIX_FITTING_EXTENDEDINFORMATIONFILTER_H

#include <opencv2/core/types_c.h>

namespace OrvixSDK
{

class SystemModel;

// Extended information filter over a SystemModel.  Each Update is one
// damped Gauss-Newton step around the current state:
//
//   x <- x + (H' R^-1 H + Q^-1)^-1 H' R^-1 (z - h(x))
//
// with H and h evaluated at the predicted state.  The information of the
// previous update is not carried over: Q^-1 alone is the prior, so a large
// process noise lets a state move freely and a tiny one pins it.
//
// All matrices are 32-bit float and allocated once by Create.
class ExtendedInformationFilter
{
public:
    ExtendedInformationFilter();
    ~ExtendedInformationFilter();

    ExtendedInformationFilter(const ExtendedInformationFilter&) = delete;
    ExtendedInformationFilter& operator=(const ExtendedInformationFilter&) = delete;

    // Allocates the matrices for the model's state and observation sizes.
    // False when the model is null or not created, or a size is 0.  The
    // model is not owned and must outlive the filter.  Creating again
    // destroys the previous set-up first.
    bool Create(SystemModel* model);
    // Copies the state (n x 1) and the information (n x n).  False when not
    // created or a size does not match (nothing changes then).
    bool Initialize(const CvMat* state, const CvMat* information);
    // One update with the observation z (m values).  False, with the state
    // unchanged, when not created and initialised, when z has the wrong
    // size, when the model fails, when the information matrix cannot be
    // inverted or when the new state would not be finite.
    bool Update(const CvMat* observation);
    // Releases every matrix and clears both flags.
    void Destroy();

    SystemModel* model;             // not owned
    bool created;
    bool initialized;
    CvMat* state;                   // x, n x 1
    CvMat* predictedState;          // n x 1
    CvMat* information;             // Y, n x n
    CvMat* covariance;              // P = Y^-1, n x n
    CvMat* predictedInformation;    // n x n
    CvMat* processNoiseInv;         // Q^-1, n x n
    CvMat* observationNoiseInv;     // R^-1, m x m
    CvMat* processJacobian;         // F, n x n
    CvMat* predictedObservation;    // h, m x 1
    CvMat* innovation;              // z - h, m x 1
    CvMat* observationJacobian;     // H, m x n
    CvMat* weightedJacobianT;       // H' R^-1, n x m
    CvMat* gain;                    // K = P H' R^-1, n x m

private:
    // weightedJacobianT = H' R^-1.
    void weightJacobian();
};

} // namespace OrvixSDK

#endif
