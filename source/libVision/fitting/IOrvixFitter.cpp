#include "fitting/IOrvixFitter.h"

#include <cstring>

#include "fitting/OrvixModelFitter.h"

namespace OrvixSDK {

IOrvixFitter* IOrvixFitter::create(const char* algorithm, Candide3Model* poseModel, Candide3Model* auModel,
                                   Candide3Model* meshModel, bool copyModels)
{
    // The information-filter fitter is the only method; the name also says
    // whether it fits every frame from scratch.
    if (algorithm == nullptr || std::strstr(algorithm, "eif") == nullptr)
        return nullptr;
    const FittingMethod method = std::strstr(algorithm, "standalone") != nullptr ? STANDALONE_FITTING : UPDATE_FITTING;
    return new OrvixModelFitter(poseModel, auModel, meshModel, copyModels, method);
}

}  // namespace OrvixSDK
