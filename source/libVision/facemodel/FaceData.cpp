#include "OrvixSDK/FaceData.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#include <opencv2/core/core_c.h>

#include "support/OptionalCv.h"

namespace OrvixSDK {

namespace {

// A new zeroed array of count entries (none for a negative count).
template <typename T>
T* newArray(int count)
{
    return new T[static_cast<std::size_t>(std::max(count, 0))]();
}

// A copy of the first count entries of source, or null when source is null.
template <typename T>
T* copyArray(const T* source, int count)
{
    if (source == nullptr)
        return nullptr;
    T* copy = newArray<T>(count);
    std::copy(source, source + std::max(count, 0), copy);
    return copy;
}

char* copyString(const char* text)
{
    if (text == nullptr)
        return nullptr;
    const std::size_t length = std::strlen(text);
    char* copy = new char[length + 1];
    std::memcpy(copy, text, length + 1);
    return copy;
}

char** copyNames(const char* const* names, int count)
{
    if (names == nullptr)
        return nullptr;
    char** copy = newArray<char*>(count);
    for (int k = 0; k < count; ++k)
        copy[k] = copyString(names[k]);
    return copy;
}

template <typename T>
void freeArray(T*& array)
{
    delete[] array;
    array = nullptr;
}

template <typename T>
void freeObject(T*& object)
{
    delete object;
    object = nullptr;
}

void freeNames(char** names, int count)
{
    if (names == nullptr)
        return;
    for (int k = 0; k < count; ++k)
        delete[] names[k];
    delete[] names;
}

}  // namespace

// ---------------------------------------------------------------------------
// ScreenSpaceGazeData

ScreenSpaceGazeData::ScreenSpaceGazeData()
    : frameIndex(0), x(0.5f), y(0.5f), state(0), quality(0.0f), spareFlag(false), spareImage0(nullptr),
      spareImage1(nullptr), spareInt0(0), spareInt1(0), spareDouble(0.0)
{
}

// The images are owned, so a copy gets clones of its own: sharing them would
// release them twice.
ScreenSpaceGazeData::ScreenSpaceGazeData(const ScreenSpaceGazeData& other)
    : frameIndex(other.frameIndex), x(other.x), y(other.y), state(other.state), quality(other.quality),
      spareFlag(other.spareFlag), spareImage0(cloneOrNull(other.spareImage0)),
      spareImage1(cloneOrNull(other.spareImage1)), spareInt0(other.spareInt0), spareInt1(other.spareInt1),
      spareDouble(other.spareDouble)
{
}

ScreenSpaceGazeData& ScreenSpaceGazeData::operator=(const ScreenSpaceGazeData& other)
{
    if (this != &other) {
        ScreenSpaceGazeData copy(other);
        swap(copy);
    }
    return *this;
}

ScreenSpaceGazeData::~ScreenSpaceGazeData()
{
    releaseAndClear(spareImage0);
    releaseAndClear(spareImage1);
}

void ScreenSpaceGazeData::swap(ScreenSpaceGazeData& other)
{
    std::swap(frameIndex, other.frameIndex);
    std::swap(x, other.x);
    std::swap(y, other.y);
    std::swap(state, other.state);
    std::swap(quality, other.quality);
    std::swap(spareFlag, other.spareFlag);
    std::swap(spareImage0, other.spareImage0);
    std::swap(spareImage1, other.spareImage1);
    std::swap(spareInt0, other.spareInt0);
    std::swap(spareInt1, other.spareInt1);
    std::swap(spareDouble, other.spareDouble);
}

// ---------------------------------------------------------------------------
// ScreenSpaceGazeRepository

ScreenSpaceGazeRepository::~ScreenSpaceGazeRepository()
{
    Clear();
}

void ScreenSpaceGazeRepository::Add(ScreenSpaceGazeData* data)
{
    if (data != nullptr)
        records.push_back(data);
}

void ScreenSpaceGazeRepository::Add(int index, float x, float y)
{
    ScreenSpaceGazeData* data = new ScreenSpaceGazeData();
    data->frameIndex = index;
    data->x = x;
    data->y = y;
    data->state = 1;
    records.push_back(data);
}

ScreenSpaceGazeData* ScreenSpaceGazeRepository::Get(int index) const
{
    for (ScreenSpaceGazeData* data : records) {
        if (data->frameIndex == index)
            return data;
    }
    return nullptr;
}

int ScreenSpaceGazeRepository::GetFirst() const
{
    return records.empty() ? -1 : records.front()->frameIndex;
}

int ScreenSpaceGazeRepository::GetLast() const
{
    return records.empty() ? -1 : records.back()->frameIndex;
}

int ScreenSpaceGazeRepository::GetCount() const
{
    return static_cast<int>(records.size());
}

void ScreenSpaceGazeRepository::Clear()
{
    for (ScreenSpaceGazeData* data : records)
        delete data;
    records.clear();
}

// ---------------------------------------------------------------------------
// FaceData

FaceData::FaceData()
{
    setScalarDefaults();
}

FaceData::FaceData(const FaceData& other)
{
    setScalarDefaults();

    alignmentConfidence = other.alignmentConfidence;
    trackingQuality = other.trackingQuality;
    spareValue = other.spareValue;
    framesPerSecond = other.framesPerSecond;
    timeStampMs = other.timeStampMs;
    std::copy(other.headTranslation, other.headTranslation + 3, headTranslation);
    std::copy(other.rotationCentre, other.rotationCentre + 3, rotationCentre);
    std::copy(other.headRotation, other.headRotation + 3, headRotation);
    std::copy(other.apparentRotation, other.apparentRotation + 3, apparentRotation);
    std::copy(other.eyeRotation, other.eyeRotation + 2, eyeRotation);
    std::copy(other.gazeAngles, other.gazeAngles + 3, gazeAngles);
    std::copy(other.eyesOpen, other.eyesOpen + 2, eyesOpen);
    std::copy(other.irisRadius, other.irisRadius + 2, irisRadius);
    suCount = other.suCount;
    auCount = other.auCount;
    meshVertexCount = other.meshVertexCount;
    meshTriangleCount = other.meshTriangleCount;
    faceScale = other.faceScale;
    std::copy(other.faceBoundingBox, other.faceBoundingBox + 4, faceBoundingBox);
    cameraFocus = other.cameraFocus;
    arraysAllocated = other.arraysAllocated;
    screenGaze = other.screenGaze;
    spareCount = other.spareCount;

    // Should an allocation fail half-way, free what was made so far.
    try {
        suValues = copyArray(other.suValues, suCount);
        auUsed = copyArray(other.auUsed, auCount);
        auValues = copyArray(other.auValues, auCount);
        auNames = copyNames(other.auNames, auCount);
        points3D = other.points3D ? new FDP(*other.points3D) : nullptr;
        points3DRelative = other.points3DRelative ? new FDP(*other.points3DRelative) : nullptr;
        points2D = other.points2D ? new FDP(*other.points2D) : nullptr;
        meshVertices = copyArray(other.meshVertices, 3 * std::max(meshVertexCount, 0));
        meshVerticesProjected = copyArray(other.meshVerticesProjected, 2 * std::max(meshVertexCount, 0));
        meshTriangles = copyArray(other.meshTriangles, 3 * std::max(meshTriangleCount, 0));
        meshTexCoords = copyArray(other.meshTexCoords, 2 * std::max(meshVertexCount, 0));
        meshTexCoordsStatic = copyArray(other.meshTexCoordsStatic, 2 * std::max(meshVertexCount, 0));
        encodedPoints = copyArray(other.encodedPoints, DATA_RANGE_SIZE);
    } catch (...) {
        freeArrays();
        throw;
    }
}

FaceData& FaceData::operator=(FaceData other)
{
    swap(*this, other);
    return *this;
}

FaceData::~FaceData()
{
    freeArrays();
}

void swap(FaceData& a, FaceData& b)
{
    using std::swap;
    swap(a.alignmentConfidence, b.alignmentConfidence);
    swap(a.trackingQuality, b.trackingQuality);
    swap(a.spareValue, b.spareValue);
    swap(a.framesPerSecond, b.framesPerSecond);
    swap(a.timeStampMs, b.timeStampMs);
    swap(a.headTranslation, b.headTranslation);
    swap(a.rotationCentre, b.rotationCentre);
    swap(a.headRotation, b.headRotation);
    swap(a.apparentRotation, b.apparentRotation);
    swap(a.eyeRotation, b.eyeRotation);
    swap(a.gazeAngles, b.gazeAngles);
    swap(a.eyesOpen, b.eyesOpen);
    swap(a.irisRadius, b.irisRadius);
    swap(a.suCount, b.suCount);
    swap(a.suValues, b.suValues);
    swap(a.auCount, b.auCount);
    swap(a.auUsed, b.auUsed);
    swap(a.auValues, b.auValues);
    swap(a.auNames, b.auNames);
    swap(a.points3D, b.points3D);
    swap(a.points3DRelative, b.points3DRelative);
    swap(a.points2D, b.points2D);
    swap(a.meshVertexCount, b.meshVertexCount);
    swap(a.meshVertices, b.meshVertices);
    swap(a.meshVerticesProjected, b.meshVerticesProjected);
    swap(a.meshTriangleCount, b.meshTriangleCount);
    swap(a.meshTriangles, b.meshTriangles);
    swap(a.meshTexCoords, b.meshTexCoords);
    swap(a.meshTexCoordsStatic, b.meshTexCoordsStatic);
    swap(a.faceScale, b.faceScale);
    swap(a.faceBoundingBox, b.faceBoundingBox);
    swap(a.cameraFocus, b.cameraFocus);
    swap(a.arraysAllocated, b.arraysAllocated);
    swap(a.encodedPoints, b.encodedPoints);
    a.screenGaze.swap(b.screenGaze);
    swap(a.spareCount, b.spareCount);
}

void FaceData::reinit()
{
    freeArrays();
    setScalarDefaults();
    screenGaze = ScreenSpaceGazeData();
}

bool FaceData::allocateArrays(bool withFitting, int suCountIn, int auCountIn, int vertexCount, int triangleCount,
                              const char* const* auNamesIn)
{
    freeArrays();
    suCount = std::max(suCountIn, 0);
    auCount = std::max(auCountIn, 0);
    meshVertexCount = std::max(vertexCount, 0);
    meshTriangleCount = std::max(triangleCount, 0);
    try {
        points2D = new FDP();
        encodedPoints = newArray<int>(DATA_RANGE_SIZE);
        if (withFitting) {
            suValues = newArray<float>(suCount);
            auUsed = newArray<int>(auCount);
            auValues = newArray<float>(auCount);
            points3D = new FDP();
            points3DRelative = new FDP();
            meshVertices = newArray<float>(3 * meshVertexCount);
            meshVerticesProjected = newArray<float>(2 * meshVertexCount);
            meshTriangles = newArray<int>(3 * meshTriangleCount);
            meshTexCoords = newArray<float>(2 * meshVertexCount);
            meshTexCoordsStatic = newArray<float>(2 * meshVertexCount);
        }
        auNames = copyNames(auNamesIn, auCount);
    } catch (const std::bad_alloc&) {
        // Out of memory: leave a record without arrays and say so.
        freeArrays();
        suCount = auCount = meshVertexCount = meshTriangleCount = 0;
        return false;
    }
    arraysAllocated = true;
    return true;
}

void FaceData::setScalarDefaults()
{
    alignmentConfidence = 0.0f;
    trackingQuality = 0.0f;
    spareValue = 0.0f;
    framesPerSecond = 0.0f;
    timeStampMs = 0;
    std::fill(headTranslation, headTranslation + 3, 0.0f);
    std::fill(rotationCentre, rotationCentre + 3, 0.0f);
    std::fill(headRotation, headRotation + 3, 0.0f);
    std::fill(apparentRotation, apparentRotation + 3, 0.0f);
    std::fill(eyeRotation, eyeRotation + 2, 0.0f);
    std::fill(gazeAngles, gazeAngles + 3, 0.0f);
    std::fill(eyesOpen, eyesOpen + 2, 1.0f);
    std::fill(irisRadius, irisRadius + 2, -1.0f);
    suCount = 0;
    suValues = nullptr;
    auCount = 0;
    auUsed = nullptr;
    auValues = nullptr;
    auNames = nullptr;
    points3D = nullptr;
    points3DRelative = nullptr;
    points2D = nullptr;
    meshVertexCount = 0;
    meshVertices = nullptr;
    meshVerticesProjected = nullptr;
    meshTriangleCount = 0;
    meshTriangles = nullptr;
    meshTexCoords = nullptr;
    meshTexCoordsStatic = nullptr;
    faceScale = -1;
    std::fill(faceBoundingBox, faceBoundingBox + 4, -1);
    cameraFocus = 0.0f;
    arraysAllocated = false;
    encodedPoints = nullptr;
    spareCount = 0;
}

// Frees the arrays and point sets; the counts stay as they are.
void FaceData::freeArrays()
{
    freeArray(suValues);
    freeArray(auUsed);
    freeArray(auValues);
    freeNames(auNames, auCount);
    auNames = nullptr;
    freeObject(points3D);
    freeObject(points3DRelative);
    freeObject(points2D);
    freeArray(meshVertices);
    freeArray(meshVerticesProjected);
    freeArray(meshTriangles);
    freeArray(meshTexCoords);
    freeArray(meshTexCoordsStatic);
    freeArray(encodedPoints);
    arraysAllocated = false;
}

}  // namespace OrvixSDK
