#ifndef ORVIX_FITTING_FACEMODEL_H
#define ORVIX_FITTING_FACEMODEL_H

#include "fitting/SystemModel.h"

namespace OrvixSDK
{

// The common part of the face system models: which parts of the state are
// estimated and where they sit in the state vector.
//
// State vector, each part only when its bit of stateMask is set:
//   0 .. 5              rx, ry, rz (radians), tx, ty, tz   (STATE_POSE)
//   suOffset ..         one entry per shape unit           (STATE_SHAPE_UNITS)
//   auOffset ..         one entry per action unit          (STATE_ACTION_UNITS)
class FaceModel : public SystemModel
{
public:
    FaceModel();
    ~FaceModel() override;

    bool IsCreated() const override;
    unsigned GetNumberOfStates() const override;
    unsigned GetNumberOfObservations() const override;

    // Fills stateMask, suOffset, auOffset, stateCount and observationCount
    // for the given counts (observations: 2 per point).
    void setLayout(int mask, unsigned suCount, unsigned auCount, unsigned pointCount);

    bool created;
    int stateMask;
    unsigned suOffset;          // index of the first shape-unit state
    unsigned auOffset;          // index of the first action-unit state
    unsigned stateCount;        // n
    unsigned observationCount;  // m = 2 * pointCount
};

} // namespace OrvixSDK

#endif
