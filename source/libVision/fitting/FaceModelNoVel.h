#ifndef ORVIX_FITTING_FACEMODELNOVEL_H
#define ORVIX_FITTING_FACEMODELNOVEL_H

#include <vector>

#include <opencv2/core/types_c.h>

#include "fitting/FaceModel.h"

namespace OrvixSDK
{

// A static face state (no velocities): head pose plus shape-unit and
// action-unit parameters, observed through the perspective projection of a
// set of mesh points.
//
// Unit parameters live in an unbounded "parameter domain": a state s is
// clamped to [-3, 3] when values are extracted, and the unit's value is
// tanh(s) * halfRange + centre.  Shape units thus stay inside (-1, 1) and
// action units inside their limits.
//
// The owner fills baseShape, the bases, the use flags and the unit values
// after Create (P = pointCount, A = auCount, S = suCount):
//   baseShape 3P x 1, auBasis 3P x A, suBasis 3P x S (float),
//   auUse A x 1, suUse S x 1 (32-bit int, 1 = estimated).
// Observation j (j = 0 .. P-1) is (u, v) = focus * (X, Y) / Z of point j,
// at entries 2j and 2j + 1.
class FaceModelNoVel : public FaceModel
{
public:
    // Limits of the parameter domain of a unit state.
    static constexpr float stateClamp = 3.0f;
    // Observation noise at or above this value excludes a point: its rows
    // of the Jacobian stay zero.
    static constexpr float excludedNoise = 100000.0f;
    // Default process noise of a part whose noise vector is not given, and
    // the value that replaces a noise of exactly 0.
    static constexpr float defaultProcessNoise = 0.01f;
    static constexpr float zeroProcessNoise = 1e-7f;
    // Points whose depth is below this are not projected (behind or on the
    // camera plane): their observations are 0 and their Jacobian rows zero.
    static constexpr double minDepth = 1e-6;

    FaceModelNoVel();
    ~FaceModelNoVel() override;

    FaceModelNoVel(const FaceModelNoVel&) = delete;
    FaceModelNoVel& operator=(const FaceModelNoVel&) = delete;

    bool PredictState(CvMat* predicted, CvMat* state) override;
    bool ProcessJacobian(CvMat* F) override;
    bool ProcessNoise(CvMat* Q) override;
    bool ProcessNoiseInv(CvMat* Qinv) override;
    bool Observe(CvMat* observation, CvMat* state) override;
    bool ObservationJacobianAndObserve(CvMat* H, CvMat* observation, CvMat* state) override;
    bool ObservationNoise(CvMat* R) override;
    bool ObservationNoiseInv(CvMat* Rinv) override;

    // Fails (false, nothing allocated) when the mask selects no state or
    // pointCount is 0.  Re-creating a created model destroys it first.
    bool Create(unsigned auCount, unsigned suCount, unsigned vertexCount, unsigned pointCount,
                float focus, float scale, const float* auLimits, int stateMask) override;
    // Pose into entries 0..5, unit values through the inverse mapping
    // s = atanh((v - centre) / halfRange) into their entries.  Values on or
    // beyond a unit's limits give the clamp value +-3, values that are not
    // finite (or a unit of zero range) give 0.  The pose is also kept as the
    // fixed pose of the observation model when the mask has no pose bit.
    bool SetInitialState(const float* rotation, const float* translation, const CvMat* suValues,
                         const CvMat* auValues, CvMat* state) override;
    // Entry i of the process-noise diagonal for each part in the mask from
    // element i of the part's vector; 0.01 when the vector is null or has no
    // element i; an exact 0 becomes 1e-7.
    bool SetNoiseCovariance(const CvMat* poseNoise, const CvMat* suNoise, const CvMat* auNoise) override;
    // Pose out of entries 0..5, unit values through clamp and tanh mapping;
    // the clamped states are written back into `state`.  Any output may be
    // null; value vectors take at most as many entries as they hold.
    bool ExtractData(float* rotation, float* translation, CvMat* suValues, CvMat* auValues,
                     CvMat* state) override;
    void Destroy() override;

    // Value of a unit for a state in the parameter domain (after clamping),
    // and the state for a value (inverse mapping, clamped).
    static float unitValue(float state, float halfRange, float centre);
    static float unitState(float value, float halfRange, float centre);

    CvMat* baseShape;        // 3P x 1
    int pointCount;          // P
    CvMat* auBasis;          // 3P x A, null when A = 0
    CvMat* auValues;         // A x 1
    CvMat* auUse;            // A x 1, 32-bit int
    int auCount;             // A
    CvMat* auRange;          // 2A x 1: half range, centre per unit
    CvMat* suBasis;          // 3P x S, null when S = 0
    CvMat* suValues;         // S x 1
    CvMat* suUse;            // S x 1, 32-bit int
    int suCount;             // S
    CvMat* suRange;          // 2S x 1: 1, 0 per unit
    float focus;
    float scale;
    CvMat* processNoise;     // n x 1, diagonal of Q
    CvMat* observationNoise; // m x 1, diagonal of R
    CvMat* shapeWork;        // 3P x 1, base shape plus shape units
    CvMat* deformedWork;     // 3P x 1, plus action units
    CvMat* posedWork;        // 3P x 1, in camera space
    int vertexCount;         // stored only
    float rotation[3];       // pose observed when the mask has no pose bit
    float translation[3];

private:
    // Extracts the parameters of `state` and fills the three work vectors
    // and, when not null, the observation.
    void evaluate(CvMat* observation, CvMat* state);

    // Per unit (shape units first), d(value)/d(state) at the last
    // Jacobian's state; sized by Create.
    std::vector<double> unitSlopes;
};

} // namespace OrvixSDK

#endif
