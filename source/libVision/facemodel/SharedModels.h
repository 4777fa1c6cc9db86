#ifndef ORVIX_FACEMODEL_SHAREDMODELS_H
#define ORVIX_FACEMODEL_SHAREDMODELS_H

// The pose, action-unit and mesh models of a tracker or a tracking unit. The
// action-unit model may be the same object as the pose model, and the mesh
// model the same as either of the others; these helpers touch each distinct
// object once.

#include "OrvixSDK/Candide3Model.h"

namespace OrvixSDK
{

// The distinct, non-null models among pose, au and mesh, in that order.
class DistinctModels
{
public:
    DistinctModels(Candide3Model* pose, Candide3Model* au, Candide3Model* mesh) : count(0)
    {
        for (Candide3Model* model : {pose, au, mesh})
        {
            bool seen = model == nullptr;
            for (int i = 0; i < count && !seen; ++i)
                seen = models[i] == model;
            if (!seen)
                models[count++] = model;
        }
    }

    Candide3Model* const* begin() const { return models; }
    Candide3Model* const* end() const { return models + count; }

private:
    Candide3Model* models[3] = {nullptr, nullptr, nullptr};
    int count;
};

// Deletes each distinct model once and clears the three pointers.
inline void deleteSharedModels(Candide3Model*& pose, Candide3Model*& au, Candide3Model*& mesh)
{
    for (Candide3Model* model : DistinctModels(pose, au, mesh))
        delete model;
    pose = au = mesh = nullptr;
}

// Copy-constructs each distinct model once into pose, au and mesh, so that
// roles that shared a model share its copy; a null role stays null.
inline void copySharedModels(const Candide3Model* sourcePose, const Candide3Model* sourceAu,
                             const Candide3Model* sourceMesh, Candide3Model*& pose, Candide3Model*& au,
                             Candide3Model*& mesh)
{
    pose = sourcePose != nullptr ? new Candide3Model(*sourcePose) : nullptr;
    if (sourceAu == nullptr)
        au = nullptr;
    else if (sourceAu == sourcePose)
        au = pose;
    else
        au = new Candide3Model(*sourceAu);
    if (sourceMesh == nullptr)
        mesh = nullptr;
    else if (sourceMesh == sourcePose)
        mesh = pose;
    else if (sourceMesh == sourceAu)
        mesh = au;
    else
        mesh = new Candide3Model(*sourceMesh);
}

} // namespace OrvixSDK

#endif
