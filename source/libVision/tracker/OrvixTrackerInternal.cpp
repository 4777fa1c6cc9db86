#include "tracker/OrvixTrackerInternal.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include <opencv2/core/core_c.h>

#include "OrvixSDK/Candide3Model.h"
#include "OrvixSDK/FDP.h"
#include "OrvixSDK/FaceData.h"
#include "OrvixSDK/OrvixTracker.h"
#include "detection/AlignmentUtils.h"
#include "detection/OrvixDetector.h"
#include "detection/OrvixTrackerCore.h"
#include "facemodel/SharedModels.h"
#include "filtering/OrvixSmoothingFilter.h"
#include "fitting/IOrvixFitter.h"
#include "support/Common.h"
#include "support/OptionalCv.h"

namespace OrvixSDK {

namespace {

// Change bits (see the tracker) and the groups of them that the steps of
// init test.
const unsigned kAllBits = ~0u;
const unsigned kNewCoreMask = 0xF86;       // ears, eyes, landmarks, the four data folders
const unsigned kGeometryBit = 0x1000;
const unsigned kNewSmootherMask = 0x6;     // ears, eyes
const unsigned kSmoothingFactorsBit = 0x20;
const unsigned kEnableSmoothingBit = 0x2000;
const unsigned kRecordMask = 0x81;         // models, landmarks
const unsigned kFitterMask = 0x900D;       // models, eyes, focus, geometry, fitting algorithm
const unsigned kEarsDataMask = 0x702;      // ears, the ears and both detector folders

const float kPi = 3.14159265358979f;

// Copies up to count floats of a float matrix into out and zeroes the rest
// of out's count entries.
void copyFloats(float* out, int count, const float* source, int available)
{
    if (out == nullptr || count <= 0)
        return;
    const int n = source != nullptr ? std::min(count, std::max(available, 0)) : 0;
    if (n > 0)
        std::memcpy(out, source, sizeof(float) * static_cast<std::size_t>(n));
    std::fill(out + n, out + count, 0.0f);
}

// record[i] <- the next entry of values for every use flag equal to 1, else
// 0, walking the flags in order; usedOut (when not null) takes the flags.
void copyUsedUnits(const CvMat* use, const CvMat* values, float* out, int* usedOut, int outCount)
{
    if (use == nullptr || out == nullptr)
        return;
    const int flags = std::min(elementCount(use), outCount);
    const int available = elementCount(values);
    int next = 0;
    for (int i = 0; i < flags; ++i) {
        const int flag = use->data.i[i];
        if (flag == 1 && next < available)
            out[i] = values->data.fl[next++];
        else
            out[i] = 0.0f;
        if (usedOut != nullptr)
            usedOut[i] = flag;
    }
}

}  // namespace

OrvixTrackerInternal::OrvixTrackerInternal()
    : core(nullptr), record(nullptr), status(STATUS_OFF), smoother(nullptr), smoothingEnabled(0), fitter(nullptr),
      poseCopy(nullptr), auCopy(nullptr), meshCopy(nullptr), rawPoints(nullptr), flippedPoints(nullptr),
      smoothedPoints(nullptr), smoothingStart(0), lostSince(-1), irisStateA(-1), irisStateB(-1), hasPose(false),
      hasAu(false), hasMesh(false), fittingEnabled(true), recoveryTimeoutMs(0), frameWidth(0), frameHeight(0),
      ipd(0.065f), timeStamp(0), alignmentConfidence(0.0f), framesPerSecond(0.0f), changeFlags(0),
      recordHasFitting(false)
{
}

OrvixTrackerInternal::~OrvixTrackerInternal()
{
    delete core;
    delete record;
    delete smoother;
    delete fitter;
    deleteModelCopies();
    delete rawPoints;
    delete flippedPoints;
    delete smoothedPoints;
}

void OrvixTrackerInternal::deleteModelCopies()
{
    // The copies alias exactly as the tracker's models do.
    deleteSharedModels(poseCopy, auCopy, meshCopy);
    hasPose = hasAu = hasMesh = false;
}

IOrvixFitter* OrvixTrackerInternal::createFitter(const std::string& fittingAlgorithm)
{
    return IOrvixFitter::create(fittingAlgorithm.c_str(), poseCopy, auCopy, meshCopy, false);
}

bool OrvixTrackerInternal::shouldReset(int mask) const
{
    if (mask == -1)
        return changeFlags == kAllBits;
    return (static_cast<unsigned>(mask) & changeFlags) != 0;
}

int OrvixTrackerInternal::init(OrvixDetector* detector, Candide3Model* pose, Candide3Model* au, Candide3Model* mesh,
                               CvMat* smoothingFactors, unsigned smoothingEnabledIn, std::string fittingAlgorithm,
                               int changeFlagsIn)
{
    status = STATUS_SEARCHING;
    changeFlags = static_cast<unsigned>(changeFlagsIn);

    if (shouldReset(kNewCoreMask)) {
        delete core;
        core = detector != nullptr ? detector->createTrackerCore() : nullptr;
    } else if (shouldReset(kGeometryBit) && core != nullptr) {
        core->resetTrackerState();
    }

    if (shouldReset(kNewSmootherMask) || smoother == nullptr) {
        delete smoother;
        smoother = nullptr;
        if (smoothingFactors != nullptr) {
            smoother = new OrvixSmoothingFilter(smoothingFactors);
        } else {
            // No factors given: every factor off.
            float off[8] = {-1.0f, -1.0f, -1.0f, -1.0f, -1.0f, -1.0f, -1.0f, -1.0f};
            CvMat factors = cvMat(8, 1, CV_32FC1, off);
            smoother = new OrvixSmoothingFilter(&factors);
        }
    }
    if (shouldReset(kSmoothingFactorsBit) && smoothingFactors != nullptr)
        smoother->setSmoothingFactors(smoothingFactors);
    if (shouldReset(kEnableSmoothingBit))
        smoothingEnabled = smoothingEnabledIn;

    const bool newRecord = shouldReset(kRecordMask) || record == nullptr;
    if (newRecord) {
        delete record;
        delete rawPoints;
        delete flippedPoints;
        delete smoothedPoints;
        record = new FaceData();
        rawPoints = new FDP();
        flippedPoints = new FDP();
        smoothedPoints = new FDP();
    }

    if (shouldReset(kFitterMask)) {
        delete fitter;
        fitter = nullptr;
        deleteModelCopies();
        fittingEnabled = pose != nullptr && !fittingAlgorithm.empty();
        if (fittingEnabled) {
            copySharedModels(pose, au, mesh, poseCopy, auCopy, meshCopy);
            hasPose = true;
            hasAu = au != nullptr;
            hasMesh = mesh != nullptr;
            fitter = createFitter(fittingAlgorithm);
            if (fitter == nullptr) {
                // No fitter for this name: work exactly as without a
                // fitting algorithm.
                deleteModelCopies();
                fittingEnabled = false;
            }
        }
    }

    // The record's arrays follow the models; they are also rebuilt when
    // fitting was switched on or off, so that the fitting arrays exist
    // exactly when they are written.
    if (newRecord || recordHasFitting != fittingEnabled)
        initTrackingData();

    if ((shouldReset(kNewCoreMask) || shouldReset(kEarsDataMask)) && detector != nullptr && detector->refineEars &&
        fittingEnabled)
        earCheck(detector, fittingAlgorithm);
    return 1;
}

void OrvixTrackerInternal::earCheck(OrvixDetector* detector, const std::string& fittingAlgorithm)
{
    const Candide3Model* m = meshCopy != nullptr ? meshCopy : poseCopy;
    bool allLinked = m != nullptr && m->fdp != nullptr;
    for (int i = 1; allLinked && i <= FDP::groupSize(10); ++i)
        allLinked = m->fdp->FPIsDefined(10, i);
    if (!allLinked) {
        // The mesh cannot place the ears: no tracking unit refines them.
        detector->setRefineEars(false);
    } else if (core != nullptr) {
        core->resetEarsRefiner(poseCopy, auCopy, meshCopy, fittingAlgorithm);
    }
}

void OrvixTrackerInternal::initTrackingData()
{
    if (record == nullptr)
        return;
    FaceData& r = *record;
    r.alignmentConfidence = 0.0f;
    r.spareValue = 0.0f;
    r.eyesOpen[0] = poseCopy != nullptr ? poseCopy->eyesOpen[0] : 0.0f;
    r.eyesOpen[1] = poseCopy != nullptr ? poseCopy->eyesOpen[1] : 0.0f;
    r.irisRadius[0] = r.irisRadius[1] = -1.0f;
    std::fill(r.headTranslation, r.headTranslation + 3, 0.0f);
    std::fill(r.rotationCentre, r.rotationCentre + 3, 0.0f);
    std::fill(r.headRotation, r.headRotation + 3, 0.0f);
    std::fill(r.apparentRotation, r.apparentRotation + 3, 0.0f);
    std::fill(r.eyeRotation, r.eyeRotation + 2, 0.0f);
    std::fill(r.gazeAngles, r.gazeAngles + 3, 0.0f);
    r.cameraFocus = poseCopy != nullptr ? poseCopy->focus : 3.0f;
    r.framesPerSecond = framesPerSecond;
    r.timeStampMs = timeStamp;

    bool allocated;
    if (fittingEnabled && poseCopy != nullptr) {
        const Candide3Model* m = meshCopy != nullptr ? meshCopy : poseCopy;
        const Candide3Model* u = auCopy != nullptr ? auCopy : poseCopy;
        const int vertexCount = m->vertexCount;
        const int triangleCount = elementCount(m->faces) / 3;
        const int suCount = elementCount(u->suUse);
        const int auCount = elementCount(u->auUse);
        // One name per action unit; units without a name get none.
        std::vector<const char*> names;
        if (auCopy != nullptr && u->auNames != nullptr) {
            names.assign(static_cast<std::size_t>(std::max(auCount, 0)), nullptr);
            for (int k = 0; k < auCount && k < u->auNameCount; ++k)
                names[static_cast<std::size_t>(k)] = u->auNames[k];
        }
        allocated = r.allocateArrays(true, suCount, auCount, vertexCount, triangleCount,
                                     names.empty() ? nullptr : names.data());
    } else {
        allocated = r.allocateArrays(false, 0, 0, 0, 0, nullptr);
    }
    recordHasFitting = allocated && fittingEnabled;
    r.screenGaze = ScreenSpaceGazeData();
}

int OrvixTrackerInternal::update(const IplImage* frame, long t, float fps)
{
    timeStamp = t;
    framesPerSecond = fps;
    if (frame == nullptr || record == nullptr) {
        status = STATUS_OFF;
        return status;
    }
    frameWidth = frame->width;
    frameHeight = frame->height;
    if (status == STATUS_OFF)
        status = STATUS_SEARCHING;

    bool found = false;
    if (core != nullptr)
        found = core->getTrackingPoints(frame, rawPoints, alignmentConfidence, otherFaces);

    if (found) {
        for (int k = 0; k < 2; ++k) {
            const float z = rawPoints->getFP(3, 5 + k).position[2];
            record->irisRadius[k] = (z != -1.0f) ? static_cast<float>(frameWidth) * z : -1.0f;
        }
        smoother->enable();
    } else {
        smoother->disable();
    }
    smoother->startFrame();

    if (found) {
        if (status != STATUS_TRACKING) {
            smoothingStart = t;
            smoother->reset();
        }
        *smoothedPoints = *rawPoints;
        smoother->do_smoothing(smoothedPoints, t - smoothingStart);
        if (core->refineEars())
            smoother->do_smoothingEars(smoothedPoints, t - smoothingStart);
        if (smoothingEnabled == 1)
            *rawPoints = *smoothedPoints;
    }

    *flippedPoints = *rawPoints;
    Common::verticalFlip(flippedPoints);

    if (status == STATUS_RECOVERING) {
        if (lostSince == -1) {
            lostSince = t;
        } else if (t - lostSince >= recoveryTimeoutMs) {
            if (fittingEnabled && fitter != nullptr)
                fitter->reset(false);
            lostSince = -1;
            smoother->reset();
            status = STATUS_SEARCHING;
        }
    } else {
        lostSince = -1;
    }

    if (fittingEnabled) {
        found = do_fitting(found, frame);
    } else if (record->points2D != nullptr) {
        record->points2D->reset();
        *record->points2D = *rawPoints;
        record->trackingQuality = AlignmentUtils::calculateTrackingQualityYaw(record->points2D, 1.0f);
    }

    swapTrackingData();
    smoother->do_smoothingIris(record->irisRadius, &irisStateA, &irisStateB, t);

    if (found) {
        status = STATUS_TRACKING;
        record->faceScale = core->getFaceScale();
        const CvRect box = core->getFaceBoundingBox();
        record->faceBoundingBox[0] = box.x;
        record->faceBoundingBox[1] = box.y;
        record->faceBoundingBox[2] = box.width;
        record->faceBoundingBox[3] = box.height;
    } else if (status == STATUS_TRACKING) {
        status = STATUS_RECOVERING;
        record->faceScale = -1;
        std::fill(record->faceBoundingBox, record->faceBoundingBox + 4, -1);
    }
    return status;
}

bool OrvixTrackerInternal::do_fitting(bool found, const IplImage* frame)
{
    if (fitter == nullptr || poseCopy == nullptr || record == nullptr)
        return false;
    const bool ok = fitter->do_fitting(flippedPoints, frameWidth, frameHeight, record, found, nullptr);
    if (!ok) {
        if (core != nullptr)
            core->resetTrackerState();
        fitter->reset(false);
        return false;
    }

    if (poseCopy->processEyes) {
        float pupils[4];
        CvMat pupilMat = cvMat(4, 1, CV_32FC1, pupils);
        OrvixTracker::GetPupilCoords(flippedPoints, &pupilMat, frameWidth, frameHeight);
        int indices[2] = {0, 1};
        poseCopy->estimate_eye_rotations(&pupilMat, indices);
        record->eyeRotation[0] = poseCopy->eyeRotation[1];
        record->eyeRotation[1] = poseCopy->eyeRotation[0];
    }

    OrvixTracker::processEyesClosure(frame, flippedPoints, poseCopy->translation, poseCopy->rotation,
                                     poseCopy->eyesOpen);

    const float ry = poseCopy->rotation[1];
    const float tx = poseCopy->translation[0];
    const float tz = poseCopy->translation[2];
    const float yaw = -(ry - std::atan2(tx, tz) - kPi) * 180.0f / kPi;
    record->trackingQuality = AlignmentUtils::calculateTrackingQualityYaw(record->points2D, yaw);
    return true;
}

void OrvixTrackerInternal::swapTrackingData()
{
    if (record == nullptr)
        return;
    FaceData& r = *record;
    const float* R = r.headRotation;
    const float* T = r.headTranslation;
    const Candide3Model* p = poseCopy;

    r.spareValue = 0.0f;
    // Without a face model eye closure is not measured: the eyes count as
    // open, so that the iris radii the pupil network measured are kept.
    const float unmeasured = Candide3Model::EYE_OPEN_THRESHOLD + 1.0f;
    const float c[2] = {p != nullptr ? p->eyesOpen[0] : unmeasured, p != nullptr ? p->eyesOpen[1] : unmeasured};

    r.gazeAngles[0] = R[0] + r.eyeRotation[1];
    r.gazeAngles[1] = R[1] + r.eyeRotation[0];
    r.gazeAngles[2] = R[2];
    r.apparentRotation[0] = R[0] - std::atan2(T[1], T[2]);
    r.apparentRotation[1] = R[1] - std::atan2(T[0], T[2]);
    r.apparentRotation[2] = R[2];

    r.cameraFocus = p != nullptr ? p->focus : 0.0f;
    r.framesPerSecond = framesPerSecond;
    r.timeStampMs = timeStamp;
    r.alignmentConfidence = alignmentConfidence;

    if (fittingEnabled && recordHasFitting && p != nullptr) {
        Candide3Model* m = hasMesh ? meshCopy : poseCopy;
        const int vertexFloats2 = 2 * r.meshVertexCount;
        copyFloats(r.meshVertices, 3 * r.meshVertexCount, m->deformedVertices ? m->deformedVertices->data.fl : nullptr,
                   elementCount(m->deformedVertices));
        if (r.meshTriangles != nullptr && r.meshTriangleCount > 0) {
            const int n = std::min(3 * r.meshTriangleCount, elementCount(m->faces));
            if (n > 0)
                std::memcpy(r.meshTriangles, m->faces->data.i, sizeof(int) * static_cast<std::size_t>(n));
            std::fill(r.meshTriangles + std::max(n, 0), r.meshTriangles + 3 * r.meshTriangleCount, 0);
        }
        const float aspect =
            frameHeight > 0 ? static_cast<float>(frameWidth) / static_cast<float>(frameHeight) : 1.0f;
        const float* tex = m->getTexCoord(aspect);
        copyFloats(r.meshTexCoords, vertexFloats2, tex, tex != nullptr ? elementCount(m->texCoords) : 0);
        copyFloats(r.meshTexCoordsStatic, vertexFloats2, m->getTexCoordStatic(), elementCount(m->staticTexCoords));
        copyFloats(r.meshVerticesProjected, vertexFloats2, r.meshTexCoords, vertexFloats2);

        const Candide3Model* u = hasAu ? auCopy : poseCopy;
        copyUsedUnits(u->suUse, u->suValues, r.suValues, nullptr, r.suCount);
        copyUsedUnits(u->auUse, u->auValues, r.auValues, r.auUsed, r.auCount);
    }

    for (int i = 0; i < 2; ++i) {
        const bool open = c[i] > Candide3Model::EYE_OPEN_THRESHOLD;
        r.eyesOpen[i] = open ? 1.0f : 0.0f;
        if (!open)
            r.irisRadius[i] = -1.0f;
    }
}

int OrvixTrackerInternal::getTrackingData(FaceData* out)
{
    if (out == nullptr)
        return status;
    if (record == nullptr || !record->arraysAllocated || out == record)
        return 0;
    const FaceData& r = *record;

    // Arrays are sized from the internal record only when the output record
    // has none, or lacks the fitting arrays that are now written.
    if (!out->arraysAllocated || (recordHasFitting && out->points3D == nullptr)) {
        bool ok;
        if (recordHasFitting)
            ok = out->allocateArrays(true, r.suCount, hasAu ? r.auCount : 0, r.meshVertexCount, r.meshTriangleCount,
                                     hasAu ? r.auNames : nullptr);
        else
            ok = out->allocateArrays(false, 0, 0, 0, 0, nullptr);
        if (!ok)
            return 0;
    }

    out->alignmentConfidence = r.alignmentConfidence;
    out->trackingQuality = r.trackingQuality;
    out->spareValue = r.spareValue;
    out->framesPerSecond = r.framesPerSecond;
    out->timeStampMs = r.timeStampMs;
    std::copy(r.headTranslation, r.headTranslation + 3, out->headTranslation);
    std::copy(r.rotationCentre, r.rotationCentre + 3, out->rotationCentre);
    std::copy(r.headRotation, r.headRotation + 3, out->headRotation);
    std::copy(r.apparentRotation, r.apparentRotation + 3, out->apparentRotation);
    std::copy(r.eyeRotation, r.eyeRotation + 2, out->eyeRotation);
    std::copy(r.gazeAngles, r.gazeAngles + 3, out->gazeAngles);
    std::copy(r.eyesOpen, r.eyesOpen + 2, out->eyesOpen);
    std::copy(r.irisRadius, r.irisRadius + 2, out->irisRadius);
    out->faceScale = r.faceScale;
    std::copy(r.faceBoundingBox, r.faceBoundingBox + 4, out->faceBoundingBox);
    out->cameraFocus = r.cameraFocus;
    out->screenGaze = r.screenGaze;
    out->spareCount = r.spareCount;

    if (recordHasFitting) {
        // Each array is copied with the smaller of the two counts, so that a
        // record sized by another tracker never overflows.
        const int vertices = std::min(out->meshVertexCount, r.meshVertexCount);
        copyFloats(out->meshVertices, 3 * vertices, r.meshVertices, 3 * vertices);
        copyFloats(out->meshVerticesProjected, 2 * vertices, r.meshVerticesProjected, 2 * vertices);
        copyFloats(out->meshTexCoords, 2 * vertices, r.meshTexCoords, 2 * vertices);
        copyFloats(out->meshTexCoordsStatic, 2 * vertices, r.meshTexCoordsStatic, 2 * vertices);
        const int triangles = std::min(out->meshTriangleCount, r.meshTriangleCount);
        if (out->meshTriangles != nullptr && r.meshTriangles != nullptr && triangles > 0)
            std::copy(r.meshTriangles, r.meshTriangles + 3 * triangles, out->meshTriangles);
        const int su = std::min(out->suCount, r.suCount);
        copyFloats(out->suValues, su, r.suValues, su);
        const int au = std::min(out->auCount, r.auCount);
        copyFloats(out->auValues, au, r.auValues, au);
        if (out->auUsed != nullptr && r.auUsed != nullptr && au > 0)
            std::copy(r.auUsed, r.auUsed + au, out->auUsed);
        if (out->points3D != nullptr && r.points3D != nullptr)
            *out->points3D = *r.points3D;
        if (out->points3DRelative != nullptr && r.points3DRelative != nullptr)
            *out->points3DRelative = *r.points3DRelative;
    }
    if (out->points2D != nullptr && r.points2D != nullptr)
        *out->points2D = *r.points2D;

    if (out->encodedPoints != nullptr)
        OrvixDetector::transformData(out->points2D, recordHasFitting ? out->points3DRelative : nullptr,
                                     out->encodedPoints, true);
    return status;
}

void OrvixTrackerInternal::setIPD(float newIpd)
{
    ipd = newIpd;
    for (Candide3Model* model : DistinctModels(poseCopy, auCopy, meshCopy))
        model->setIPD(newIpd);
    status = STATUS_SEARCHING;
    if (fitter != nullptr)
        fitter->reset(false);
}

}  // namespace OrvixSDK
