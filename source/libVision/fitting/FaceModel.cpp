#include "fitting/FaceModel.h"

namespace OrvixSDK
{

FaceModel::FaceModel()
    : created(false), stateMask(0), suOffset(0), auOffset(0), stateCount(0), observationCount(0)
{
}

FaceModel::~FaceModel()
{
}

bool FaceModel::IsCreated() const
{
    return created;
}

unsigned FaceModel::GetNumberOfStates() const
{
    return stateCount;
}

unsigned FaceModel::GetNumberOfObservations() const
{
    return observationCount;
}

void FaceModel::setLayout(int mask, unsigned suCount, unsigned auCount, unsigned pointCount)
{
    stateMask = mask;
    const unsigned poseStates = (mask & STATE_POSE) != 0 ? 6u : 0u;
    const unsigned suStates = (mask & STATE_SHAPE_UNITS) != 0 ? suCount : 0u;
    const unsigned auStates = (mask & STATE_ACTION_UNITS) != 0 ? auCount : 0u;
    suOffset = poseStates;
    auOffset = poseStates + suStates;
    stateCount = poseStates + suStates + auStates;
    observationCount = 2u * pointCount;
}

} // namespace OrvixSDK
