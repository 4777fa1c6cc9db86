#include "fitting/EIFModelFitter.h"

#include <cmath>
#include <string>

#include <opencv2/core/core_c.h>

#include "OrvixSDK/Candide3Model.h"
#include "OrvixSDK/FDP.h"
#include "fitting/ExtendedInformationFilter.h"
#include "fitting/FaceModelNoVel.h"
#include "support/OptionalCv.h"

namespace OrvixSDK
{

namespace
{

const float pi = 3.14159265358979f;

// Element i of a one-channel float vector, or null when it has none.
float* floatAt(CvMat* v, int i)
{
    if (v == nullptr || CV_MAT_TYPE(v->type) != CV_32FC1 || !CV_IS_MAT_CONT(v->type) || i < 0 ||
        i >= elementCount(v))
        return nullptr;
    return v->data.fl + i;
}

// Basis entry (row, column) of a float matrix; 0 outside it.
float basisEntry(const CvMat* basis, int row, int column)
{
    if (basis == nullptr || CV_MAT_TYPE(basis->type) != CV_32FC1 || row < 0 || row >= basis->rows ||
        column < 0 || column >= basis->cols)
        return 0.0f;
    return reinterpret_cast<const float*>(basis->data.ptr + size_t(row) * basis->step)[column];
}

// Copies the per-point basis rows of the model's units into the system
// model's basis and sets the use flags; units that move no fitting point
// are not estimated.
void copyUnits(const CvMat* modelBasis, const CvMat* modelUse, const CvMat* modelValues, int units,
               const std::vector<int>& vertexIndices, CvMat* basis, CvMat* use, CvMat* values)
{
    if (units == 0 || basis == nullptr)
        return;
    const bool keptAll = elementCount(modelUse) == units;
    for (int c = 0; c < units; ++c)
    {
        bool moves = false;
        for (size_t i = 0; i < vertexIndices.size(); ++i)
        {
            const int v = vertexIndices[i];
            for (int k = 0; k < 3; ++k)
            {
                const float b = basisEntry(modelBasis, 3 * v + k, c);
                reinterpret_cast<float*>(basis->data.ptr + (3 * i + size_t(k)) * basis->step)[c] = b;
                moves = moves || b != 0.0f;
            }
        }
        if (moves)
            use->data.i[c] = keptAll ? int(cvGetReal1D(modelUse, c)) : 1;
        values->data.fl[c] = float(cvGetReal1D(modelValues, c));
    }
}

} // namespace

EIFModelFitter::EIFModelFitter(Candide3Model* fittedModel, const FDP* points, int mask)
    : stateMask(mask), filterReady(false), iterations(0), filter(nullptr), systemModel(nullptr),
      model(fittedModel), count(0), observation(nullptr), profileMode(false), contourFactor(2.0f)
{
    if (model == nullptr || points == nullptr || model->fdp == nullptr || model->vertices == nullptr ||
        CV_MAT_TYPE(model->vertices->type) != CV_32FC1)
        return;
    const int coordinates = elementCount(model->vertices);
    for (int group = FDP::firstGroup; group <= FDP::lastGroup; ++group)
    {
        for (int index = 1; index <= FDP::groupSize(group); ++index)
        {
            std::string surface;
            int vertex = -1;
            if (!points->FPIsDefined(group, index) || !model->fdp->getFPSurfVert(group, index, surface, vertex))
                continue;
            // A link outside the mesh cannot be fitted.
            if (vertex < 0 || vertex >= coordinates / 3)
                continue;
            pointSlots[std::make_pair(group, index)] = count++;
            vertexIndices.push_back(vertex);
            for (int k = 0; k < 3; ++k)
                baseCoordinates.push_back(model->vertices->data.fl[3 * vertex + k]);
        }
    }
    if (count > 0)
    {
        observation = cvCreateMat(2 * count, 1, CV_32FC1);
        cvSetZero(observation);
    }
    // Slots that have never been observed take no part in a fit.
    slotNoise.assign(size_t(2 * count), excludedPointNoise);
}

EIFModelFitter::~EIFModelFitter()
{
    destroyFilter();
    releaseAndClear(observation);
}

void EIFModelFitter::destroyFilter()
{
    // The filter refers to the system model: it goes first.
    delete filter;
    filter = nullptr;
    delete systemModel;
    systemModel = nullptr;
    filterReady = false;
}

void EIFModelFitter::applySlotNoise()
{
    if (systemModel == nullptr || !systemModel->IsCreated())
        return;
    for (size_t i = 0; i < slotNoise.size(); ++i)
        systemModel->observationNoise->data.fl[i] = slotNoise[i];
}

bool EIFModelFitter::InitInformFilter(int mask)
{
    if (filter != nullptr || systemModel != nullptr)
    {
        if (stateMask == mask)
            return filterReady;
        destroyFilter();
    }
    stateMask = mask;
    if (model == nullptr)
        return false;

    const int auCount = elementCount(model->auValues);
    const int suCount = elementCount(model->suValues);
    // Limits that do not cover every unit are not used (the default range
    // applies then).
    const float* auLimits = nullptr;
    if (model->auLimits != nullptr && CV_MAT_TYPE(model->auLimits->type) == CV_32FC1 &&
        elementCount(model->auLimits) >= 2 * auCount)
        auLimits = model->auLimits->data.fl;

    systemModel = new FaceModelNoVel();
    filter = new ExtendedInformationFilter();
    if (!systemModel->Create(unsigned(auCount), unsigned(suCount), unsigned(model->vertexCount), unsigned(count),
                             model->focus, model->scale, auLimits, mask))
        return false;

    for (int i = 0; i < 3 * count; ++i)
        systemModel->baseShape->data.fl[i] = baseCoordinates[size_t(i)];
    copyUnits(model->shapeUnits, model->suUse, model->suValues, suCount, vertexIndices, systemModel->suBasis,
              systemModel->suUse, systemModel->suValues);
    copyUnits(model->actionUnits, model->auUse, model->auValues, auCount, vertexIndices, systemModel->auBasis,
              systemModel->auUse, systemModel->auValues);
    systemModel->SetNoiseCovariance(model->poseSensitivity, model->suSensitivity, model->auSensitivity);
    applySlotNoise();

    if (!filter->Create(systemModel))
        return false;
    filterReady = restartFilter();
    return filterReady;
}

bool EIFModelFitter::restartFilter()
{
    if (filter == nullptr || !filter->created)
        return false;
    const int n = int(systemModel->GetNumberOfStates());
    CvMat* start = cvCreateMat(n, 1, CV_32FC1);
    CvMat* identity = cvCreateMat(n, n, CV_32FC1);
    cvSetZero(start);
    cvSetIdentity(identity);
    const bool ok = systemModel->SetInitialState(model->rotation, model->translation, model->suValues,
                                                 model->auValues, start) &&
                    filter->Initialize(start, identity);
    cvReleaseMat(&identity);
    cvReleaseMat(&start);
    return ok;
}

void EIFModelFitter::ResetInformFilterData()
{
    restartFilter();
}

void EIFModelFitter::ExtractInformFilterData(float* rotation, float* translation, CvMat* suValues,
                                             CvMat* auValues, CvMat* state)
{
    if (systemModel == nullptr)
        return;
    if (state == nullptr)
        state = filter != nullptr && filter->created ? filter->state : nullptr;
    if (state != nullptr)
        systemModel->ExtractData(rotation, translation, suValues, auValues, state);
}

bool EIFModelFitter::UpdateEIF(CvMat* observations)
{
    return filter != nullptr && filterReady && filter->Update(observations);
}

void EIFModelFitter::FreezePose(const float* pose)
{
    if (pose == nullptr || model == nullptr)
        return;
    for (int i = 0; i < 3; ++i)
    {
        model->rotation[i] = pose[i];
        model->translation[i] = pose[3 + i];
    }
    if (systemModel == nullptr || filter == nullptr || !filter->created)
        return;
    systemModel->SetInitialState(model->rotation, model->translation, model->suValues, model->auValues,
                                 filter->state);
    // Zero noise is turned into the smallest one, which pins the pose.
    float zeros[6] = {0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f};
    CvMat poseNoise = cvMat(6, 1, CV_32FC1, zeros);
    systemModel->SetNoiseCovariance(&poseNoise, model->suSensitivity, model->auSensitivity);
}

bool EIFModelFitter::CheckBadStates()
{
    if (model == nullptr)
        return true;
    bool bad = false;
    const float* r = model->rotation;
    const float* t = model->translation;
    for (int i = 0; i < 3; ++i)
        bad = bad || !std::isfinite(r[i]) || !std::isfinite(t[i]);
    const CvMat* rl = model->rotationLimits;
    if (!bad && elementCount(rl) >= 6 && CV_MAT_TYPE(rl->type) == CV_32FC1)
    {
        const float* l = rl->data.fl;
        const float rz = std::fmod(r[2], 3.1415925f);
        bad = r[0] < l[0] || r[0] > l[1] || r[1] < l[2] || r[1] > l[3] || rz < l[4] || rz > l[5];
    }
    const CvMat* tl = model->translationLimits;
    if (!bad && elementCount(tl) >= 6 && CV_MAT_TYPE(tl->type) == CV_32FC1)
    {
        const float* l = tl->data.fl;
        bad = t[0] < l[0] || t[0] > l[1] || t[1] < l[2] || t[1] > l[3] || t[2] < l[4] || t[2] > l[5];
    }
    for (CvMat* values : {model->suValues, model->auValues})
    {
        for (int i = 0; i < elementCount(values); ++i)
        {
            float* v = floatAt(values, i);
            if (v != nullptr && !std::isfinite(*v))
            {
                *v = 0.0f;
                bad = true;
            }
        }
    }
    return bad;
}

void EIFModelFitter::GetImageFittFPs(const FDP* points, int width, int height)
{
    if (points == nullptr || model == nullptr || width <= 0 || height <= 0 || count == 0)
        return;
    const float ax = width > height ? float(width) / float(height) : 1.0f;
    const float ay = height > width ? float(height) / float(width) : 1.0f;

    const float yaw = (model->rotation[1] - std::atan2(model->translation[0], model->translation[2]) - pi) *
                      180.0f / pi;
    // Hysteresis: profile mode starts beyond 15 degrees and ends below 10.
    profileMode = std::fabs(yaw) > (profileMode ? 10.0f : 15.0f);

    float* obs = observation->data.fl;
    for (const auto& entry : pointSlots)
    {
        const int group = entry.first.first;
        const int index = entry.first.second;
        const int slot = entry.second;
        if (!points->FPIsDefined(group, index))
            continue;
        const float* position = points->getFPPos(group, index);
        float noise = pointNoise;
        if (!std::isfinite(position[0]) || !std::isfinite(position[1]))
        {
            // A position that is not a number cannot be observed.
            obs[2 * slot] = obs[2 * slot + 1] = 0.0f;
            noise = excludedPointNoise;
        }
        else
        {
            obs[2 * slot] = ax * (1.0f - 2.0f * position[0]);
            obs[2 * slot + 1] = ay * (1.0f - 2.0f * position[1]);
            if ((group == 2 && index == 1) || (group == 3 && (index == 5 || index == 6)))
                noise = excludedPointNoise;
            else if (group == 10)
            {
                const int side = FDP::getPointType(group, index);
                const bool hidden = profileMode && ((yaw >= 0.0f && side == 1) || (yaw < 0.0f && side == 3));
                noise = hidden ? excludedPointNoise : contourFactor * pointNoise;
            }
        }
        slotNoise[size_t(2 * slot)] = slotNoise[size_t(2 * slot + 1)] = noise;
    }
    applySlotNoise();
}

bool EIFModelFitter::FitModelToFace(const FDP* points, int width, int height, const float* pose,
                                    int passIterations)
{
    if (count < minFittingPoints || model == nullptr || points == nullptr || width <= 0 || height <= 0)
        return false;
    // Without a filter nothing can be fitted: the model keeps its parameters,
    // the held pose included.
    if (!filterReady)
        return false;
    for (int pass = 0; pass < 2; ++pass)
    {
        iterations = pass == 0 ? passIterations : 3;
        if (pose != nullptr)
            FreezePose(pose);
        for (int i = 0; i < iterations; ++i)
        {
            GetImageFittFPs(points, width, height);
            if (!UpdateEIF(observation))
                return false;
            ExtractInformFilterData(model->rotation, model->translation, model->suValues, model->auValues,
                                    nullptr);
        }
        if (!CheckBadStates())
        {
            model->update();
            return true;
        }
        if (pass == 0)
        {
            // One retry from the pose that the detected points suggest.
            model->reset_pose(points, float(width) / float(height));
            ResetInformFilterData();
        }
    }
    return false;
}

void EIFModelFitter::SetContourFact(float factor)
{
    contourFactor = factor;
}

} // namespace OrvixSDK
