#ifndef ORVIX_FITTING_ORVIXMODELFITTER_H
#define ORVIX_FITTING_ORVIXMODELFITTER_H

#include "OrvixSDK/FDP.h"
#include "fitting/IOrvixFitter.h"

// How an OrvixModelFitter works: incremental fitting carries its estimate
// from frame to frame; stand-alone fitting starts from scratch on every call.
enum FittingMethod
{
    UPDATE_FITTING = 0,
    STANDALONE_FITTING = 1
};

namespace OrvixSDK {

class EIFModelFitter;

// Fits up to three face models to a set of feature points with one
// information-filter fitter per distinct model: the pose model carries the
// head pose; the action-unit and mesh models are fitted with the pose held
// at the pose model's result.  The mesh model (the pose model when there is
// none) supplies the output points and mesh.
//
// Each model pointer may be the same object as another one; a model shared
// by two roles gets one fitter only.
class OrvixModelFitter : public IOrvixFitter
{
public:
    // With copyModels, each distinct model is copied and owned by the
    // fitter (models that were the same object share one copy); otherwise
    // the caller's models are fitted in place and stay the caller's.
    OrvixModelFitter(Candide3Model* poseModel, Candide3Model* auModel, Candide3Model* meshModel, bool copyModels,
                     FittingMethod method);
    // One model in all three roles.
    OrvixModelFitter(Candide3Model* model, bool copyModels, FittingMethod method);
    ~OrvixModelFitter() override;

    OrvixModelFitter(const OrvixModelFitter&) = delete;
    OrvixModelFitter& operator=(const OrvixModelFitter&) = delete;

    // Fails at once, touching nothing, for width or height <= 0 or null
    // points or data.  Otherwise fits by the method chosen at construction.
    bool do_fitting(const FDP* points, int width, int height, FaceData* data, bool fit, float* pose) override;
    // Back to the created state (the fitters are rebuilt from the next
    // input); every model's unit values become 0.  With destroyFitters the
    // fitters are deleted at once.
    void reset(bool destroyFitters) override;

    // Starting pose rx, ry, rz, tx, ty, tz for the next (re)initialisation;
    // null is ignored.
    void setInitPose(float* pose);

    // Replaces the fitters by new ones, one per distinct model, whose
    // fitting set is the points defined in points and linked by the model.
    // Returns whether the pose fitter exists (it needs a pose model).
    bool create_model_fitters(const FDP* points);

    // pose <- rotation[0..2], translation[0..2].
    static void setPose(float* pose, float* translation, float* rotation);
    // Every point of groups 2 to 17 defined in source but not in target is
    // copied whole into target.
    static void augmentFDP(FDP* source, FDP* target);
    // Moves each 3-D point defined in both sets onto the camera ray of its
    // 2-D point (normalised, y up), keeping its depth, so that it projects
    // exactly onto the image point.  Does nothing for a focus of 0 or an
    // image size <= 0.
    static void unProjectStuff(FDP* points2D, FDP* points3D, int width, int height, float focus);
    // pointsRelative <- R^T (p - translation) for every point p defined in
    // points3D, with R = Ry Rx Rz of rotation: the points in the head's own
    // frame.
    static void removeTransform(FDP* points3D, FDP* pointsRelative, const float* rotation,
                                const float* translation);

    FittingMethod fittingMethod;
    Candide3Model* poseModel;
    Candide3Model* auModel;
    Candide3Model* meshModel;
    EIFModelFitter* poseFitter;
    EIFModelFitter* auFitter;     // null when auModel is poseModel
    EIFModelFitter* meshFitter;   // null when meshModel is one of the others
    bool needsInit;               // the fitters are (re)built from the next input
    float initPose[6];
    bool hasInitPose;
    bool initialFitDone;          // the first incremental fit since initialisation succeeded
    bool ownsModels;
    FDP imagePoints;              // the last input points, y up

private:
    void set_default_parameters_();
    void reset_fitting_models_();
    void deleteFitters();

    bool update_fitting_method_(const FDP* points, int width, int height, FaceData* data, bool fit, float* pose);
    bool standalone_fitting_method_(const FDP* points, int width, int height, FaceData* data, float* pose);
    bool calculate_pose_shape_action_units_(const FDP* points, int width, int height, FaceData* data,
                                            float* pose);

    // Pose read-out of the pose model into the record.
    void writePose(FaceData* data) const;
    // The record's point sets from the fitted models and the input points.
    void writeOutput(int width, int height, FaceData* data);
    // imagePoints <- points with y turned upward.
    void takeImagePoints(const FDP* points);
};

}  // namespace OrvixSDK

#endif
