#include "OrvixSDK/Candide3Model.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include <opencv2/core/core_c.h>

#include "OrvixSDK/FDP.h"
#include "support/OptionalCv.h"

namespace OrvixSDK {

Candide3Model::Candide3Model()
    : vertices(nullptr), referenceVertices(nullptr), shapeUnits(nullptr), actionUnits(nullptr), faces(nullptr),
      staticTexCoords(nullptr), auUse(nullptr), suUse(nullptr), auNames(nullptr), auNameCount(0), focus(0.0f),
      scale(1.0f), rotation{0.0f, 0.0f, 0.0f}, translation{0.0f, 0.0f, 0.0f}, suValues(nullptr), auValues(nullptr),
      deformedVertices(nullptr), transformedVertices(nullptr), projectedVertices(nullptr), texCoords(nullptr),
      vertexCount(0), fdp(nullptr), processEyes(0), eyesOpen{1.0f, 1.0f}, initialized(false), ipd(0.065f),
      poseSensitivity(nullptr), auSensitivity(nullptr), suSensitivity(nullptr), rotationLimits(nullptr),
      translationLimits(nullptr), auLimits(nullptr), eyeRotation{0.0f, 0.0f}
{
}

Candide3Model::Candide3Model(const Candide3Model& other)
    : vertices(cloneOrNull(other.vertices)), referenceVertices(cloneOrNull(other.referenceVertices)),
      shapeUnits(cloneOrNull(other.shapeUnits)), actionUnits(cloneOrNull(other.actionUnits)), faces(cloneOrNull(other.faces)),
      staticTexCoords(cloneOrNull(other.staticTexCoords)), auUse(cloneOrNull(other.auUse)), suUse(cloneOrNull(other.suUse)),
      auNames(nullptr), auNameCount(0), focus(other.focus), scale(other.scale),
      rotation{other.rotation[0], other.rotation[1], other.rotation[2]},
      translation{other.translation[0], other.translation[1], other.translation[2]},
      suValues(cloneOrNull(other.suValues)), auValues(cloneOrNull(other.auValues)),
      deformedVertices(cloneOrNull(other.deformedVertices)), transformedVertices(cloneOrNull(other.transformedVertices)),
      projectedVertices(cloneOrNull(other.projectedVertices)), texCoords(cloneOrNull(other.texCoords)),
      vertexCount(other.vertexCount), fdp(other.fdp != nullptr ? new FDP(*other.fdp) : nullptr),
      processEyes(other.processEyes), eyesOpen{other.eyesOpen[0], other.eyesOpen[1]},
      initialized(other.initialized), ipd(other.ipd), poseSensitivity(cloneOrNull(other.poseSensitivity)),
      auSensitivity(cloneOrNull(other.auSensitivity)), suSensitivity(cloneOrNull(other.suSensitivity)),
      rotationLimits(cloneOrNull(other.rotationLimits)), translationLimits(cloneOrNull(other.translationLimits)),
      auLimits(cloneOrNull(other.auLimits)), eyeRotation{other.eyeRotation[0], other.eyeRotation[1]}
{
    if (other.auNames != nullptr && other.auNameCount > 0) {
        auNames = new char*[other.auNameCount]();
        auNameCount = other.auNameCount;
        for (int k = 0; k < auNameCount; ++k) {
            const char* name = other.auNames[k];
            if (name != nullptr) {
                const std::size_t length = std::strlen(name);
                auNames[k] = new char[length + 1];
                std::memcpy(auNames[k], name, length + 1);
            }
        }
    }
}

Candide3Model& Candide3Model::operator=(Candide3Model other)
{
    swap(*this, other);
    return *this;
}

Candide3Model::~Candide3Model()
{
    CvMat** matrices[] = {&vertices, &referenceVertices, &shapeUnits, &actionUnits, &faces, &staticTexCoords,
                          &auUse, &suUse, &suValues, &auValues, &deformedVertices, &transformedVertices,
                          &projectedVertices, &texCoords, &poseSensitivity, &auSensitivity, &suSensitivity,
                          &rotationLimits, &translationLimits, &auLimits};
    for (CvMat** m : matrices)
        releaseAndClear(*m);
    if (auNames != nullptr) {
        for (int k = 0; k < auNameCount; ++k)
            delete[] auNames[k];
        delete[] auNames;
    }
    delete fdp;
}

void Candide3Model::swap(Candide3Model& a, Candide3Model& b)
{
    using std::swap;
    swap(a.vertices, b.vertices);
    swap(a.referenceVertices, b.referenceVertices);
    swap(a.shapeUnits, b.shapeUnits);
    swap(a.actionUnits, b.actionUnits);
    swap(a.faces, b.faces);
    swap(a.staticTexCoords, b.staticTexCoords);
    swap(a.auUse, b.auUse);
    swap(a.suUse, b.suUse);
    swap(a.auNames, b.auNames);
    swap(a.auNameCount, b.auNameCount);
    swap(a.focus, b.focus);
    swap(a.scale, b.scale);
    swap(a.rotation, b.rotation);
    swap(a.translation, b.translation);
    swap(a.suValues, b.suValues);
    swap(a.auValues, b.auValues);
    swap(a.deformedVertices, b.deformedVertices);
    swap(a.transformedVertices, b.transformedVertices);
    swap(a.projectedVertices, b.projectedVertices);
    swap(a.texCoords, b.texCoords);
    swap(a.vertexCount, b.vertexCount);
    swap(a.fdp, b.fdp);
    swap(a.processEyes, b.processEyes);
    swap(a.eyesOpen, b.eyesOpen);
    swap(a.initialized, b.initialized);
    swap(a.ipd, b.ipd);
    swap(a.poseSensitivity, b.poseSensitivity);
    swap(a.auSensitivity, b.auSensitivity);
    swap(a.suSensitivity, b.suSensitivity);
    swap(a.rotationLimits, b.rotationLimits);
    swap(a.translationLimits, b.translationLimits);
    swap(a.auLimits, b.auLimits);
    swap(a.eyeRotation, b.eyeRotation);
}

bool Candide3Model::init(const OrvixConfiguration* /*configuration*/, const char* /*path*/, MODEL_TYPE /*type*/)
{
    return false;
}

bool Candide3Model::initReduced(const Candide3Model* source)
{
    if (source == nullptr)
        return false;
    if (source != this)
        *this = *source;
    initialized = true;
    return true;
}

void Candide3Model::setIPD(float newIpd)
{
    ipd = newIpd;
}

void Candide3Model::estimate_eye_rotations(CvMat* /*pupils*/, int* /*indices*/)
{
}

const float* Candide3Model::getTexCoord(float aspect)
{
    if (texCoords == nullptr || projectedVertices == nullptr)
        return nullptr;
    const int count = std::min(elementCount(texCoords), elementCount(projectedVertices)) / 2;
    const float* projected = projectedVertices->data.fl;
    float* out = texCoords->data.fl;
    for (int k = 0; k < count; ++k) {
        const float x = projected[2 * k];
        const float y = projected[2 * k + 1];
        if (aspect >= 1.0f) {
            out[2 * k] = (x + aspect) / (2.0f * aspect);
            out[2 * k + 1] = 1.0f - (y + 1.0f) / 2.0f;
        } else {
            out[2 * k] = (x + 1.0f) / 2.0f;
            out[2 * k + 1] = 1.0f - (y * aspect + 1.0f) / 2.0f;
        }
    }
    return out;
}

const float* Candide3Model::getTexCoordStatic() const
{
    return staticTexCoords != nullptr ? staticTexCoords->data.fl : nullptr;
}

}  // namespace OrvixSDK
