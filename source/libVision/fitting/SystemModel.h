#ifndef ORVIX_FITTING_SYSTEMMODEL_H
#define ORVIX_FITTING_SYSTEMMODEL_H

#include <opencv2/core/types_c.h>

namespace OrvixSDK
{

// What an ExtendedInformationFilter needs to know about the system it
// estimates: the size of the state and of the observation, the (trivial or
// not) state transition with its noise, and the observation function with
// its Jacobian and noise.  The filter itself knows nothing else.
//
// Every operation that takes matrices returns false and does nothing when
// the model has not been created.
class SystemModel
{
public:
    // Bits of the state mask: which parts of the state are estimated.
    enum StateBits
    {
        STATE_POSE = 1,
        STATE_SHAPE_UNITS = 2,
        STATE_ACTION_UNITS = 4
    };

    virtual ~SystemModel() {}

    virtual bool IsCreated() const = 0;
    // n, the length of the state vector.
    virtual unsigned GetNumberOfStates() const = 0;
    // predicted = f(state).
    virtual bool PredictState(CvMat* predicted, CvMat* state) = 0;
    // F = df/dstate (n x n).
    virtual bool ProcessJacobian(CvMat* F) = 0;
    // Q and its inverse (n x n).
    virtual bool ProcessNoise(CvMat* Q) = 0;
    virtual bool ProcessNoiseInv(CvMat* Qinv) = 0;
    // m, the length of the observation vector.
    virtual unsigned GetNumberOfObservations() const = 0;
    // observation = h(state) (m x 1).
    virtual bool Observe(CvMat* observation, CvMat* state) = 0;
    // H = dh/dstate (m x n) and, when observation is not null, h(state).
    virtual bool ObservationJacobianAndObserve(CvMat* H, CvMat* observation, CvMat* state) = 0;
    // R and its inverse (m x m).
    virtual bool ObservationNoise(CvMat* R) = 0;
    virtual bool ObservationNoiseInv(CvMat* Rinv) = 0;

    // Sets the model up for the given counts.  auLimits holds a (min, max)
    // pair per action unit, or is null.  stateMask combines StateBits.
    virtual bool Create(unsigned auCount, unsigned suCount, unsigned vertexCount, unsigned pointCount,
                        float focus, float scale, const float* auLimits, int stateMask) = 0;
    // Builds a state vector from pose and unit values.
    virtual bool SetInitialState(const float* rotation, const float* translation, const CvMat* suValues,
                                 const CvMat* auValues, CvMat* state) = 0;
    // Diagonal of the process noise from per-part vectors (null: default).
    virtual bool SetNoiseCovariance(const CvMat* poseNoise, const CvMat* suNoise, const CvMat* auNoise) = 0;
    // Pose and unit values out of a state vector.
    virtual bool ExtractData(float* rotation, float* translation, CvMat* suValues, CvMat* auValues,
                             CvMat* state) = 0;
    // Releases everything Create allocated.
    virtual void Destroy() = 0;
};

} // namespace OrvixSDK

#endif
