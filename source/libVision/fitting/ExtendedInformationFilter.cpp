#include "fitting/ExtendedInformationFilter.h"

#include <cmath>
#include <vector>

#include <opencv2/core/core_c.h>

#include "fitting/SystemModel.h"
#include "support/OptionalCv.h"

namespace OrvixSDK
{

namespace
{

// Largest state or observation size accepted by Create (the matrices grow
// with the square of it).
const unsigned maxDimension = 20000u;

const float* floatRow(const CvMat* m, int row)
{
    return reinterpret_cast<const float*>(m->data.ptr + size_t(row) * m->step);
}

} // namespace

ExtendedInformationFilter::ExtendedInformationFilter()
    : model(nullptr), created(false), initialized(false), state(nullptr), predictedState(nullptr),
      information(nullptr), covariance(nullptr), predictedInformation(nullptr), processNoiseInv(nullptr),
      observationNoiseInv(nullptr), processJacobian(nullptr), predictedObservation(nullptr),
      innovation(nullptr), observationJacobian(nullptr), weightedJacobianT(nullptr), gain(nullptr)
{
}

ExtendedInformationFilter::~ExtendedInformationFilter()
{
    Destroy();
}

bool ExtendedInformationFilter::Create(SystemModel* systemModel)
{
    Destroy();
    if (systemModel == nullptr || !systemModel->IsCreated())
        return false;
    const unsigned n = systemModel->GetNumberOfStates();
    const unsigned m = systemModel->GetNumberOfObservations();
    if (n == 0 || m == 0 || n > maxDimension || m > maxDimension)
        return false;
    const int ni = int(n), mi = int(m);
    try
    {
        state = cvCreateMat(ni, 1, CV_32FC1);
        predictedState = cvCreateMat(ni, 1, CV_32FC1);
        information = cvCreateMat(ni, ni, CV_32FC1);
        covariance = cvCreateMat(ni, ni, CV_32FC1);
        predictedInformation = cvCreateMat(ni, ni, CV_32FC1);
        processNoiseInv = cvCreateMat(ni, ni, CV_32FC1);
        observationNoiseInv = cvCreateMat(mi, mi, CV_32FC1);
        processJacobian = cvCreateMat(ni, ni, CV_32FC1);
        predictedObservation = cvCreateMat(mi, 1, CV_32FC1);
        innovation = cvCreateMat(mi, 1, CV_32FC1);
        observationJacobian = cvCreateMat(mi, ni, CV_32FC1);
        weightedJacobianT = cvCreateMat(ni, mi, CV_32FC1);
        gain = cvCreateMat(ni, mi, CV_32FC1);
    }
    catch (...)
    {
        Destroy();
        return false;
    }
    for (CvMat* m : {state, predictedState, information, covariance, predictedInformation, processNoiseInv,
                     observationNoiseInv, processJacobian, predictedObservation, innovation,
                     observationJacobian, weightedJacobianT, gain})
        cvSetZero(m);
    model = systemModel;
    created = true;
    return true;
}

bool ExtendedInformationFilter::Initialize(const CvMat* initialState, const CvMat* initialInformation)
{
    if (!created || initialState == nullptr || initialInformation == nullptr)
        return false;
    const int n = state->rows;
    if (elementCount(initialState) != n || CV_MAT_CN(initialState->type) != 1 ||
        !CV_IS_MAT_CONT(initialState->type) || initialInformation->rows != n || initialInformation->cols != n ||
        CV_MAT_CN(initialInformation->type) != 1)
        return false;
    for (int i = 0; i < n; ++i)
        state->data.fl[i] = float(cvGetReal1D(initialState, i));
    cvConvert(initialInformation, information);
    cvCopy(information, predictedInformation);
    initialized = true;
    return true;
}

bool ExtendedInformationFilter::Update(const CvMat* observation)
{
    if (!created || !initialized || observation == nullptr)
        return false;
    const int n = state->rows;
    const int m = innovation->rows;
    if (elementCount(observation) != m || CV_MAT_CN(observation->type) != 1 ||
        !CV_IS_MAT_CONT(observation->type))
        return false;

    if (!model->ProcessNoiseInv(processNoiseInv) || !model->ObservationNoiseInv(observationNoiseInv))
        return false;
    if (!model->PredictState(predictedState, state) || !model->ProcessJacobian(processJacobian))
        return false;
    // No information is carried over from the previous update: the process
    // noise alone is the prior of this step.
    cvCopy(processNoiseInv, predictedInformation);
    if (!model->ObservationJacobianAndObserve(observationJacobian, predictedObservation, predictedState))
        return false;

    // Y = H' R^-1 H + Q^-1, P = Y^-1, K = P H' R^-1.
    weightJacobian();
    cvGEMM(weightedJacobianT, observationJacobian, 1.0, predictedInformation, 1.0, information, 0);
    if (cvInvert(information, covariance, CV_LU) == 0.0)
        return false;
    cvGEMM(covariance, weightedJacobianT, 1.0, nullptr, 0.0, gain, 0);

    for (int i = 0; i < m; ++i)
        innovation->data.fl[i] = float(cvGetReal1D(observation, i)) - predictedObservation->data.fl[i];

    // x = predicted + K (z - h), written only when every entry is finite.
    for (int i = 0; i < n; ++i)
    {
        const float* k = floatRow(gain, i);
        double sum = 0.0;
        for (int j = 0; j < m; ++j)
            sum += double(k[j]) * innovation->data.fl[j];
        const float x = float(predictedState->data.fl[i] + sum);
        if (!std::isfinite(x))
            return false;
        predictedState->data.fl[i] = x;
    }
    cvCopy(predictedState, state);
    return true;
}

void ExtendedInformationFilter::weightJacobian()
{
    // H' R^-1, skipping the zero entries of R^-1: the observation noise is
    // usually diagonal, and a dense product would cost n m^2.
    const int n = state->rows;
    const int m = innovation->rows;
    cvSetZero(weightedJacobianT);
    for (int j = 0; j < m; ++j)
    {
        const float* h = floatRow(observationJacobian, j);
        const float* rinv = floatRow(observationNoiseInv, j);
        for (int k = 0; k < m; ++k)
        {
            const float r = rinv[k];
            if (r == 0.0f)
                continue;
            for (int i = 0; i < n; ++i)
                CV_MAT_ELEM(*weightedJacobianT, float, i, k) += h[i] * r;
        }
    }
}

void ExtendedInformationFilter::Destroy()
{
    for (CvMat** m : {&state, &predictedState, &information, &covariance, &predictedInformation,
                      &processNoiseInv, &observationNoiseInv, &processJacobian, &predictedObservation,
                      &innovation, &observationJacobian, &weightedJacobianT, &gain})
        releaseAndClear(*m);
    model = nullptr;
    created = false;
    initialized = false;
}

} // namespace OrvixSDK
