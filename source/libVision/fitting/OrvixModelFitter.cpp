#include "fitting/OrvixModelFitter.h"

#include <cmath>

#include <opencv2/core/core_c.h>

#include "OrvixSDK/Candide3Model.h"
#include "OrvixSDK/FaceData.h"
#include "facemodel/PoseRotation.h"
#include "facemodel/SharedModels.h"
#include "fitting/EIFModelFitter.h"
#include "support/Common.h"

namespace OrvixSDK {

namespace {

// Filter state masks: pose 1, shape units 2, action units 4.
const int kPoseShape = 3;
const int kPoseActions = 5;
const int kPoseShapeActions = 7;

// Beyond a quarter turn about x or y the shape units are not estimated.
const float kQuarterTurn = 1.5707964f;

// Shape-unit and action-unit values of the model back to 0.
void zeroUnits(Candide3Model* model)
{
    if (model == nullptr)
        return;
    if (model->auValues != nullptr)
        cvSetZero(model->auValues);
    if (model->suValues != nullptr)
        cvSetZero(model->suValues);
}

// Every point of groups 2 to 17 in order.
template <typename F>
void forEachPoint(F f)
{
    for (int g = FDP::firstGroup; g <= FDP::lastGroup; ++g) {
        for (int i = 1; i <= FDP::groupSize(g); ++i)
            f(g, i);
    }
}

}  // namespace

OrvixModelFitter::OrvixModelFitter(Candide3Model* pose, Candide3Model* au, Candide3Model* mesh, bool copyModels,
                                   FittingMethod method)
    : fittingMethod(method), poseModel(pose), auModel(au), meshModel(mesh), poseFitter(nullptr), auFitter(nullptr),
      meshFitter(nullptr), needsInit(true), initPose{0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f}, hasInitPose(false),
      initialFitDone(false), ownsModels(copyModels)
{
    // One copy per distinct model: roles that shared a model share its copy.
    if (copyModels)
        copySharedModels(pose, au, mesh, poseModel, auModel, meshModel);
    set_default_parameters_();
}

OrvixModelFitter::OrvixModelFitter(Candide3Model* model, bool copyModels, FittingMethod method)
    : OrvixModelFitter(model, model, model, copyModels, method)
{
}

OrvixModelFitter::~OrvixModelFitter()
{
    deleteFitters();
    if (ownsModels)
        deleteSharedModels(poseModel, auModel, meshModel);
}

void OrvixModelFitter::deleteFitters()
{
    delete poseFitter;
    delete auFitter;
    delete meshFitter;
    poseFitter = auFitter = meshFitter = nullptr;
}

void OrvixModelFitter::set_default_parameters_()
{
    needsInit = true;
    initialFitDone = false;
    hasInitPose = false;
}

void OrvixModelFitter::reset_fitting_models_()
{
    for (Candide3Model* model : DistinctModels(poseModel, auModel, meshModel))
        zeroUnits(model);
}

void OrvixModelFitter::reset(bool destroyFitters)
{
    if (destroyFitters)
        deleteFitters();
    set_default_parameters_();
    reset_fitting_models_();
}

void OrvixModelFitter::setInitPose(float* pose)
{
    if (pose == nullptr)
        return;
    for (int k = 0; k < 6; ++k)
        initPose[k] = pose[k];
    hasInitPose = true;
}

bool OrvixModelFitter::create_model_fitters(const FDP* points)
{
    deleteFitters();
    if (poseModel == nullptr || points == nullptr)
        return false;
    poseFitter = new EIFModelFitter(poseModel, points, 0);
    if (auModel != nullptr && auModel != poseModel)
        auFitter = new EIFModelFitter(auModel, points, 0);
    if (meshModel != nullptr && meshModel != poseModel && meshModel != auModel)
        meshFitter = new EIFModelFitter(meshModel, points, 0);
    return true;
}

bool OrvixModelFitter::do_fitting(const FDP* points, int width, int height, FaceData* data, bool fit, float* pose)
{
    if (width <= 0 || height <= 0 || points == nullptr || data == nullptr)
        return false;
    if (fittingMethod == STANDALONE_FITTING)
        return standalone_fitting_method_(points, width, height, data, pose);
    return update_fitting_method_(points, width, height, data, fit, pose);
}

void OrvixModelFitter::takeImagePoints(const FDP* points)
{
    imagePoints = *points;
    Common::verticalFlip(&imagePoints);
}

void OrvixModelFitter::writePose(FaceData* data) const
{
    poseModel->calculatePose(data->headRotation, data->headTranslation, data->rotationCentre);
}

bool OrvixModelFitter::update_fitting_method_(const FDP* points, int width, int height, FaceData* data, bool fit,
                                              float* pose)
{
    const float aspect = static_cast<float>(width) / static_cast<float>(height);
    if (needsInit) {
        if (!create_model_fitters(points)) {
            // No pose model: nothing can be fitted or reset, but the record
            // still reports the failure.
            data->eyeRotation[0] = data->eyeRotation[1] = 0.0f;
            data->trackingQuality = 0.0f;
            return false;
        }
        needsInit = false;
        zeroUnits(poseModel);
        if (data->points2D != nullptr)
            poseModel->setFDPIndices(data->points2D);
        poseModel->reset_pose(points, aspect);
        if (hasInitPose)
            poseModel->set_pose(initPose);
    }

    takeImagePoints(points);
    poseModel->eyeRotation[0] = poseModel->eyeRotation[1] = 0.0f;

    bool ok = false;
    if (fit) {
        ok = calculate_pose_shape_action_units_(points, width, height, data, pose);
        if (!initialFitDone) {
            initialFitDone = ok;
            writePose(data);
            for (FDP* set : {data->points3D, data->points3DRelative, data->points2D}) {
                if (set != nullptr) {
                    set->reset();
                    poseModel->setFDPIndices(set);
                }
            }
        }
    }

    if (ok) {
        writePose(data);
        writeOutput(width, height, data);
        return true;
    }

    // Failure: eyes closed in the model, no eye rotation, the input points
    // as they came and the default pose.
    poseModel->eyesOpen[0] = poseModel->eyesOpen[1] = 0.0f;
    data->eyeRotation[0] = data->eyeRotation[1] = 0.0f;
    if (data->points2D != nullptr)
        *data->points2D = imagePoints;
    poseModel->reset_pose(nullptr, aspect);
    writePose(data);
    data->trackingQuality = 0.0f;
    return false;
}

bool OrvixModelFitter::calculate_pose_shape_action_units_(const FDP* points, int width, int height, FaceData* data,
                                                         float* pose)
{
    if (poseFitter == nullptr)
        return false;
    // The pose of the previous frame decides: with the head turned by a
    // quarter turn or more the face shape cannot be seen.
    const bool facing =
        std::fabs(data->headRotation[0]) < kQuarterTurn && std::fabs(data->headRotation[1]) < kQuarterTurn;
    const int mask = facing ? kPoseShapeActions : kPoseActions;

    poseFitter->InitInformFilter(mask);
    if (!poseFitter->FitModelToFace(points, width, height, pose, 1))
        return false;

    // The other models are fitted with the pose held at the pose model's.
    float heldPose[6];
    setPose(heldPose, poseModel->translation, poseModel->rotation);
    for (EIFModelFitter* fitter : {auFitter, meshFitter}) {
        if (fitter != nullptr) {
            fitter->InitInformFilter(mask);
            fitter->FitModelToFace(points, width, height, heldPose, 1);
        }
    }
    return true;
}

bool OrvixModelFitter::standalone_fitting_method_(const FDP* points, int width, int height, FaceData* data,
                                                  float* pose)
{
    if (!create_model_fitters(points))
        return false;
    takeImagePoints(points);

    zeroUnits(poseModel);
    poseModel->reset_pose(points, static_cast<float>(width) / static_cast<float>(height));
    if (hasInitPose)
        poseModel->set_pose(initPose);

    // Pose with the face shape first, then the expression.
    poseFitter->InitInformFilter(kPoseShape);
    if (!poseFitter->FitModelToFace(points, width, height, pose, 2))
        return false;
    poseFitter->InitInformFilter(kPoseActions);
    if (!poseFitter->FitModelToFace(points, width, height, nullptr, 1))
        return false;

    float heldPose[6];
    setPose(heldPose, poseModel->translation, poseModel->rotation);
    if (auFitter != nullptr) {
        zeroUnits(auModel);
        auFitter->InitInformFilter(kPoseShape);
        auFitter->FitModelToFace(points, width, height, heldPose, 2);
        auFitter->InitInformFilter(kPoseActions);
        auFitter->FitModelToFace(points, width, height, pose, 1);
    }
    if (meshFitter != nullptr) {
        zeroUnits(meshModel);
        meshFitter->InitInformFilter(kPoseShape);
        meshFitter->FitModelToFace(points, width, height, heldPose, 2);
        meshFitter->InitInformFilter(kPoseShape);
        meshFitter->FitModelToFace(points, width, height, heldPose, 2);
    }

    writePose(data);
    data->eyeRotation[0] = poseModel->eyeRotation[1];
    data->eyeRotation[1] = poseModel->eyeRotation[0];
    writeOutput(width, height, data);
    return true;
}

void OrvixModelFitter::writeOutput(int width, int height, FaceData* data)
{
    Candide3Model* m = meshModel != nullptr ? meshModel : poseModel;

    // The model's projection of every point it links.
    FDP projected;
    m->setFDPIndices(&projected);
    if (data->points3D != nullptr && m->transformedVertices != nullptr)
        m->calculateFDP(data->points3D, width, height, m->transformedVertices, true);
    if (data->points3DRelative != nullptr && m->deformedVertices != nullptr)
        m->calculateFDP(data->points3DRelative, width, height, m->deformedVertices, true);
    if (m->projectedVertices != nullptr)
        m->calculateFDP(&projected, width, height, m->projectedVertices, false);

    // The measured points stay as measured; the model fills in the rest.
    if (data->points2D != nullptr) {
        *data->points2D = imagePoints;
        augmentFDP(&projected, data->points2D);
    }
    // The 3-D points are moved onto the rays of the image points, and then
    // expressed in the head's own frame.
    if (data->points2D != nullptr && data->points3D != nullptr)
        unProjectStuff(data->points2D, data->points3D, width, height, data->cameraFocus);
    if (data->points3D != nullptr && data->points3DRelative != nullptr)
        removeTransform(data->points3D, data->points3DRelative, poseModel->rotation, poseModel->translation);
}

void OrvixModelFitter::setPose(float* pose, float* translation, float* rotation)
{
    if (pose == nullptr || translation == nullptr || rotation == nullptr)
        return;
    for (int k = 0; k < 3; ++k) {
        pose[k] = rotation[k];
        pose[3 + k] = translation[k];
    }
}

void OrvixModelFitter::augmentFDP(FDP* source, FDP* target)
{
    if (source == nullptr || target == nullptr)
        return;
    forEachPoint([&](int g, int i) {
        if (!target->FPIsDefined(g, i) && source->FPIsDefined(g, i))
            target->setFP(g, i, source->getFP(g, i));
    });
}

void OrvixModelFitter::unProjectStuff(FDP* points2D, FDP* points3D, int width, int height, float focus)
{
    // A focus of 0 puts every point at infinity: the points stay where the
    // model placed them.
    if (points2D == nullptr || points3D == nullptr || width <= 0 || height <= 0 || focus == 0.0f ||
        !std::isfinite(focus))
        return;
    const float w = static_cast<float>(width);
    const float h = static_cast<float>(height);
    const float ax = width > height ? w / h : 1.0f;
    const float ay = height > width ? h / w : 1.0f;
    forEachPoint([&](int g, int i) {
        if (!points2D->FPIsDefined(g, i) || !points3D->FPIsDefined(g, i))
            return;
        const float* p2 = points2D->getFPPos(g, i);
        const float z = points3D->getFPPos(g, i)[2];
        const float x = -(2.0f * p2[0] - 1.0f) * ax * z / focus;
        const float y = (2.0f * p2[1] - 1.0f) * ay * z / focus;
        points3D->setFPPos(g, i, x, y, z);
    });
}

void OrvixModelFitter::removeTransform(FDP* points3D, FDP* pointsRelative, const float* rotation,
                                       const float* translation)
{
    if (points3D == nullptr || pointsRelative == nullptr || rotation == nullptr || translation == nullptr)
        return;
    const PoseRotation r(rotation);
    forEachPoint([&](int g, int i) {
        if (!points3D->FPIsDefined(g, i))
            return;
        float out[3];
        r.unpose(points3D->getFPPos(g, i), translation, out);
        pointsRelative->setFPPos(g, i, out);
    });
}

}  // namespace OrvixSDK
