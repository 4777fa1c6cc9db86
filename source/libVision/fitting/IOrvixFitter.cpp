#include "fitting/IOrvixFitter.h"

namespace OrvixSDK {

IOrvixFitter* IOrvixFitter::create(const char* /*algorithm*/, Candide3Model* /*poseModel*/,
                                   Candide3Model* /*auModel*/, Candide3Model* /*meshModel*/, bool /*copyModels*/)
{
    return nullptr;
}

}  // namespace OrvixSDK
