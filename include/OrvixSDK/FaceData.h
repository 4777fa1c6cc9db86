#ifndef ORVIXSDK_FACEDATA_H
#define ORVIXSDK_FACEDATA_H

#include <vector>

#include <opencv2/core/types_c.h>

#include "OrvixSDK/Export.h"
#include "OrvixSDK/FDP.h"

namespace OrvixSDK {

// Number of ints in FaceData::encodedPoints.
constexpr int DATA_RANGE_SIZE = 2200;

// An on-screen gaze point.  The image pointers are owned: a copy clones the
// images it finds set, and the destructor releases them.
class ORVIX_API ScreenSpaceGazeData
{
public:
    ScreenSpaceGazeData();
    ScreenSpaceGazeData(const ScreenSpaceGazeData& other);
    ScreenSpaceGazeData& operator=(const ScreenSpaceGazeData& other);
    virtual ~ScreenSpaceGazeData();

    void swap(ScreenSpaceGazeData& other);

    int frameIndex;
    float x;          // gaze point, normalised screen coordinates
    float y;
    int state;
    float quality;
    // Carried along unread.
    bool spareFlag;
    IplImage* spareImage0;
    IplImage* spareImage1;
    int spareInt0;
    int spareInt1;
    double spareDouble;
};

// An owning list of gaze records in insertion order.
class ORVIX_API ScreenSpaceGazeRepository
{
public:
    ScreenSpaceGazeRepository() = default;
    ~ScreenSpaceGazeRepository();
    ScreenSpaceGazeRepository(const ScreenSpaceGazeRepository&) = delete;
    ScreenSpaceGazeRepository& operator=(const ScreenSpaceGazeRepository&) = delete;

    // Appends the record and takes ownership of it; null is ignored.
    void Add(ScreenSpaceGazeData* data);
    // Appends a new record with state 1.
    void Add(int index, float x, float y);
    // First record with this frame index, or null.
    ScreenSpaceGazeData* Get(int index) const;
    // Frame index of the first or last record, -1 when the list is empty.
    int GetFirst() const;
    int GetLast() const;
    int GetCount() const;
    // Deletes every record.
    void Clear();

private:
    std::vector<ScreenSpaceGazeData*> records;
};

// The description of one face in one frame.  The arrays and point sets are
// owned by the record; each array holds exactly as many entries as its count
// field says (see allocateArrays), so copies are made count by count.
class ORVIX_API FaceData
{
public:
    FaceData();
    FaceData(const FaceData& other);
    FaceData& operator=(FaceData other);
    ~FaceData();

    friend ORVIX_API void swap(FaceData& a, FaceData& b);

    // Frees every array and point set and puts all fields back to their
    // construction values.
    void reinit();

    // Replaces the record's arrays by new zeroed ones sized from the counts
    // (negative counts count as 0), and stores the counts.  Always creates
    // points2D and encodedPoints; with withFitting also the mesh arrays,
    // suValues, auUsed, auValues, points3D and points3DRelative.  auNames,
    // when not null, must hold auCount strings, which are copied.  Sets
    // arraysAllocated.  Returns false, leaving a record without arrays and
    // with zero counts, when memory runs out.
    bool allocateArrays(bool withFitting, int suCount, int auCount, int vertexCount, int triangleCount,
                        const char* const* auNames = nullptr);

    float alignmentConfidence;
    float trackingQuality;
    float spareValue;
    float framesPerSecond;
    long long timeStampMs;
    float headTranslation[3];
    float rotationCentre[3];
    float headRotation[3];
    float apparentRotation[3];
    float eyeRotation[2];
    float gazeAngles[3];
    float eyesOpen[2];
    float irisRadius[2];
    int suCount;
    float* suValues;
    int auCount;
    int* auUsed;
    float* auValues;
    char** auNames;
    FDP* points3D;
    FDP* points3DRelative;
    FDP* points2D;
    int meshVertexCount;
    float* meshVertices;            // 3 per vertex
    float* meshVerticesProjected;   // 2 per vertex
    int meshTriangleCount;
    int* meshTriangles;             // 3 per triangle
    float* meshTexCoords;           // 2 per vertex
    float* meshTexCoordsStatic;     // 2 per vertex
    int faceScale;
    int faceBoundingBox[4];         // x, y, width, height
    float cameraFocus;
    bool arraysAllocated;
    int* encodedPoints;             // DATA_RANGE_SIZE ints
    ScreenSpaceGazeData screenGaze;
    int spareCount;

private:
    void setScalarDefaults();
    void freeArrays();
};

ORVIX_API void swap(FaceData& a, FaceData& b);

}  // namespace OrvixSDK

#endif
