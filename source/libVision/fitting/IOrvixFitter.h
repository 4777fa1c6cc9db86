#ifndef ORVIX_FITTING_IORVIXFITTER_H
#define ORVIX_FITTING_IORVIXFITTER_H

namespace OrvixSDK {

class Candide3Model;
class FaceData;
class FDP;

// Fits the face models to a set of feature points and fills the pose, the
// units and the output point sets of a FaceData record.
class IOrvixFitter
{
public:
    virtual ~IOrvixFitter() {}

    // points: normalised image positions, y measured downward.  fit false
    // reports a failed frame without fitting.  pose, when not null, is a
    // six-float pose (rx, ry, rz, tx, ty, tz) held fixed.  Returns whether
    // the fit succeeded.
    virtual bool do_fitting(const FDP* points, int width, int height, FaceData* data, bool fit,
                            float* pose) = 0;
    // Back to the state after creation; with destroyFitters the inner
    // fitters are deleted at once.
    virtual void reset(bool destroyFitters) = 0;

    // A new fitter for the named fitting algorithm, owned by the caller, or
    // null when no fitter is available for the name: a name containing
    // "eif" gives the information-filter fitter, which fits every call from
    // scratch when the name also contains "standalone" and carries its
    // estimate from call to call otherwise.  With copyModels the fitter
    // works on its own copies of the models; otherwise on the caller's,
    // which must outlive it.
    static IOrvixFitter* create(const char* algorithm, Candide3Model* poseModel, Candide3Model* auModel,
                                Candide3Model* meshModel, bool copyModels);
};

}  // namespace OrvixSDK

#endif
