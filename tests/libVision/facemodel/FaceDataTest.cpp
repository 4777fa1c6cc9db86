#include "OrvixSDK/FaceData.h"

#include <string>
#include <utility>

#include <opencv2/core/core_c.h>

#include <gtest/gtest.h>

using OrvixSDK::DATA_RANGE_SIZE;
using OrvixSDK::FaceData;
using OrvixSDK::FDP;
using OrvixSDK::ScreenSpaceGazeData;
using OrvixSDK::ScreenSpaceGazeRepository;

namespace {

const int kSu = 3;
const int kAu = 2;
const int kVertices = 5;
const int kTriangles = 4;

// A record with every array present and every field away from its default;
// `seed` makes records distinguishable.
void fillRecord(FaceData& data, float seed)
{
    const char* names[kAu] = {"jaw_drop", "brow_raise"};
    data.allocateArrays(true, kSu, kAu, kVertices, kTriangles, names);
    data.alignmentConfidence = seed + 0.1f;
    data.trackingQuality = seed + 0.2f;
    data.framesPerSecond = seed + 30.0f;
    data.timeStampMs = static_cast<long long>(seed * 1000.0f) + 1234567890123LL;
    for (int k = 0; k < 3; ++k) {
        data.headTranslation[k] = seed + k;
        data.rotationCentre[k] = seed - k;
        data.headRotation[k] = seed * k;
        data.apparentRotation[k] = seed + 10.0f * k;
        data.gazeAngles[k] = seed + 20.0f * k;
    }
    for (int k = 0; k < 2; ++k) {
        data.eyeRotation[k] = seed + 0.5f * k;
        data.eyesOpen[k] = 0.0f;
        data.irisRadius[k] = seed + 3.0f + k;
    }
    for (int k = 0; k < kSu; ++k)
        data.suValues[k] = seed + 0.01f * k;
    for (int k = 0; k < kAu; ++k) {
        data.auUsed[k] = k;
        data.auValues[k] = seed - 0.01f * k;
    }
    for (int k = 0; k < 3 * kVertices; ++k)
        data.meshVertices[k] = seed + k;
    for (int k = 0; k < 2 * kVertices; ++k) {
        data.meshVerticesProjected[k] = seed - k;
        data.meshTexCoords[k] = seed + 2.0f * k;
        data.meshTexCoordsStatic[k] = seed + 3.0f * k;
    }
    for (int k = 0; k < 3 * kTriangles; ++k)
        data.meshTriangles[k] = k % kVertices;
    data.points2D->setFPPos(3, 5, seed, 0.5f, -1.0f);
    data.points3D->setFPPos(9, 3, seed, 1.0f, 2.0f);
    data.points3DRelative->setFPPos(2, 1, seed, 0.0f, 0.1f);
    for (int k = 0; k < DATA_RANGE_SIZE; ++k)
        data.encodedPoints[k] = k ^ static_cast<int>(seed);
    data.faceScale = 120;
    for (int k = 0; k < 4; ++k)
        data.faceBoundingBox[k] = 10 * (k + 1);
    data.cameraFocus = seed + 3.0f;
    data.screenGaze.frameIndex = 9;
    data.screenGaze.x = 0.25f;
    data.screenGaze.state = 1;
}

template <typename T>
::testing::AssertionResult sameArray(const T* a, const T* b, int count)
{
    if ((a == nullptr) != (b == nullptr))
        return ::testing::AssertionFailure() << "only one array is present";
    if (a == nullptr)
        return ::testing::AssertionSuccess();
    if (a == b && count > 0)
        return ::testing::AssertionFailure() << "the array is shared";
    for (int k = 0; k < count; ++k) {
        if (!(a[k] == b[k]))
            return ::testing::AssertionFailure() << "entry " << k << " differs";
    }
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult sameSet(const FDP* a, const FDP* b)
{
    if ((a == nullptr) != (b == nullptr))
        return ::testing::AssertionFailure() << "only one set is present";
    if (a == nullptr)
        return ::testing::AssertionSuccess();
    if (a == b)
        return ::testing::AssertionFailure() << "the set is shared";
    for (int g = 2; g <= 17; ++g) {
        for (int i = 1; i <= FDP::groupSize(g); ++i) {
            if (a->FPIsDefined(g, i) != b->FPIsDefined(g, i) ||
                !sameArray(a->getFPPos(g, i), b->getFPPos(g, i), 3))
                return ::testing::AssertionFailure() << "point " << g << "." << i << " differs";
        }
    }
    return ::testing::AssertionSuccess();
}

// Every field equal and no array shared.
void expectSameContent(const FaceData& a, const FaceData& b)
{
    EXPECT_EQ(a.alignmentConfidence, b.alignmentConfidence);
    EXPECT_EQ(a.trackingQuality, b.trackingQuality);
    EXPECT_EQ(a.spareValue, b.spareValue);
    EXPECT_EQ(a.framesPerSecond, b.framesPerSecond);
    EXPECT_EQ(a.timeStampMs, b.timeStampMs);
    EXPECT_TRUE(sameArray(a.headTranslation, b.headTranslation, 3));
    EXPECT_TRUE(sameArray(a.rotationCentre, b.rotationCentre, 3));
    EXPECT_TRUE(sameArray(a.headRotation, b.headRotation, 3));
    EXPECT_TRUE(sameArray(a.apparentRotation, b.apparentRotation, 3));
    EXPECT_TRUE(sameArray(a.eyeRotation, b.eyeRotation, 2));
    EXPECT_TRUE(sameArray(a.gazeAngles, b.gazeAngles, 3));
    EXPECT_TRUE(sameArray(a.eyesOpen, b.eyesOpen, 2));
    EXPECT_TRUE(sameArray(a.irisRadius, b.irisRadius, 2));
    ASSERT_EQ(a.suCount, b.suCount);
    EXPECT_TRUE(sameArray(a.suValues, b.suValues, a.suCount));
    ASSERT_EQ(a.auCount, b.auCount);
    EXPECT_TRUE(sameArray(a.auUsed, b.auUsed, a.auCount));
    EXPECT_TRUE(sameArray(a.auValues, b.auValues, a.auCount));
    ASSERT_EQ(a.auNames == nullptr, b.auNames == nullptr);
    if (a.auNames != nullptr) {
        EXPECT_NE(a.auNames, b.auNames);
        for (int k = 0; k < a.auCount; ++k) {
            EXPECT_STREQ(a.auNames[k], b.auNames[k]);
            EXPECT_NE(a.auNames[k], b.auNames[k]);
        }
    }
    EXPECT_TRUE(sameSet(a.points3D, b.points3D));
    EXPECT_TRUE(sameSet(a.points3DRelative, b.points3DRelative));
    EXPECT_TRUE(sameSet(a.points2D, b.points2D));
    ASSERT_EQ(a.meshVertexCount, b.meshVertexCount);
    ASSERT_EQ(a.meshTriangleCount, b.meshTriangleCount);
    EXPECT_TRUE(sameArray(a.meshVertices, b.meshVertices, 3 * a.meshVertexCount));
    EXPECT_TRUE(sameArray(a.meshVerticesProjected, b.meshVerticesProjected, 2 * a.meshVertexCount));
    EXPECT_TRUE(sameArray(a.meshTriangles, b.meshTriangles, 3 * a.meshTriangleCount));
    EXPECT_TRUE(sameArray(a.meshTexCoords, b.meshTexCoords, 2 * a.meshVertexCount));
    EXPECT_TRUE(sameArray(a.meshTexCoordsStatic, b.meshTexCoordsStatic, 2 * a.meshVertexCount));
    EXPECT_EQ(a.faceScale, b.faceScale);
    EXPECT_TRUE(sameArray(a.faceBoundingBox, b.faceBoundingBox, 4));
    EXPECT_EQ(a.cameraFocus, b.cameraFocus);
    EXPECT_EQ(a.arraysAllocated, b.arraysAllocated);
    EXPECT_TRUE(sameArray(a.encodedPoints, b.encodedPoints, DATA_RANGE_SIZE));
    EXPECT_EQ(a.screenGaze.frameIndex, b.screenGaze.frameIndex);
    EXPECT_EQ(a.screenGaze.x, b.screenGaze.x);
    EXPECT_EQ(a.screenGaze.y, b.screenGaze.y);
    EXPECT_EQ(a.screenGaze.state, b.screenGaze.state);
    EXPECT_EQ(a.screenGaze.quality, b.screenGaze.quality);
    EXPECT_EQ(a.spareCount, b.spareCount);
}

void expectConstructionValues(const FaceData& data)
{
    EXPECT_EQ(0.0f, data.alignmentConfidence);
    EXPECT_EQ(0.0f, data.trackingQuality);
    EXPECT_EQ(0.0f, data.spareValue);
    EXPECT_EQ(0.0f, data.framesPerSecond);
    EXPECT_EQ(0, data.timeStampMs);
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(0.0f, data.headTranslation[k]);
        EXPECT_EQ(0.0f, data.rotationCentre[k]);
        EXPECT_EQ(0.0f, data.headRotation[k]);
        EXPECT_EQ(0.0f, data.apparentRotation[k]);
        EXPECT_EQ(0.0f, data.gazeAngles[k]);
    }
    for (int k = 0; k < 2; ++k) {
        EXPECT_EQ(0.0f, data.eyeRotation[k]);
        EXPECT_EQ(1.0f, data.eyesOpen[k]);
        EXPECT_EQ(-1.0f, data.irisRadius[k]);
    }
    EXPECT_EQ(0, data.suCount);
    EXPECT_EQ(0, data.auCount);
    EXPECT_EQ(0, data.meshVertexCount);
    EXPECT_EQ(0, data.meshTriangleCount);
    EXPECT_EQ(nullptr, data.suValues);
    EXPECT_EQ(nullptr, data.auUsed);
    EXPECT_EQ(nullptr, data.auValues);
    EXPECT_EQ(nullptr, data.auNames);
    EXPECT_EQ(nullptr, data.points3D);
    EXPECT_EQ(nullptr, data.points3DRelative);
    EXPECT_EQ(nullptr, data.points2D);
    EXPECT_EQ(nullptr, data.meshVertices);
    EXPECT_EQ(nullptr, data.meshVerticesProjected);
    EXPECT_EQ(nullptr, data.meshTriangles);
    EXPECT_EQ(nullptr, data.meshTexCoords);
    EXPECT_EQ(nullptr, data.meshTexCoordsStatic);
    EXPECT_EQ(nullptr, data.encodedPoints);
    EXPECT_EQ(-1, data.faceScale);
    for (int k = 0; k < 4; ++k)
        EXPECT_EQ(-1, data.faceBoundingBox[k]);
    EXPECT_EQ(0.0f, data.cameraFocus);
    EXPECT_FALSE(data.arraysAllocated);
    EXPECT_EQ(0, data.screenGaze.frameIndex);
    EXPECT_EQ(0.5f, data.screenGaze.x);
    EXPECT_EQ(0.5f, data.screenGaze.y);
    EXPECT_EQ(0, data.screenGaze.state);
    EXPECT_EQ(0.0f, data.screenGaze.quality);
    EXPECT_EQ(0, data.spareCount);
}

}  // namespace

TEST(FaceDataTest, NewAndCopiedEmptyRecordsHoldConstructionValues)
{
    const FaceData data;
    expectConstructionValues(data);
    const FaceData copy(data);
    expectConstructionValues(copy);
    FaceData assigned;
    assigned = data;
    expectConstructionValues(assigned);
}

TEST(FaceDataTest, AllocateArraysSizesEveryArrayFromItsCount)
{
    FaceData data;
    const char* names[kAu] = {"a", "b"};
    data.allocateArrays(true, kSu, kAu, kVertices, kTriangles, names);
    ASSERT_TRUE(data.arraysAllocated);
    EXPECT_EQ(kSu, data.suCount);
    EXPECT_EQ(kAu, data.auCount);
    EXPECT_EQ(kVertices, data.meshVertexCount);
    EXPECT_EQ(kTriangles, data.meshTriangleCount);
    // The last entry of each array is writable (checked by the sanitizer
    // build) and starts at zero.
    EXPECT_EQ(0.0f, data.suValues[kSu - 1]);
    EXPECT_EQ(0, data.auUsed[kAu - 1]);
    EXPECT_EQ(0.0f, data.auValues[kAu - 1]);
    EXPECT_STREQ("b", data.auNames[kAu - 1]);
    EXPECT_EQ(0.0f, data.meshVertices[3 * kVertices - 1]);
    EXPECT_EQ(0.0f, data.meshVerticesProjected[2 * kVertices - 1]);
    EXPECT_EQ(0, data.meshTriangles[3 * kTriangles - 1]);
    EXPECT_EQ(0.0f, data.meshTexCoords[2 * kVertices - 1]);
    EXPECT_EQ(0.0f, data.meshTexCoordsStatic[2 * kVertices - 1]);
    EXPECT_EQ(0, data.encodedPoints[DATA_RANGE_SIZE - 1]);
    ASSERT_NE(nullptr, data.points2D);
    ASSERT_NE(nullptr, data.points3D);
    ASSERT_NE(nullptr, data.points3DRelative);

    // Without fitting only the 2-D points and the encoded points exist;
    // allocating again replaces the old arrays.
    data.allocateArrays(false, 0, 0, 0, 0);
    EXPECT_TRUE(data.arraysAllocated);
    EXPECT_NE(nullptr, data.points2D);
    EXPECT_NE(nullptr, data.encodedPoints);
    EXPECT_EQ(nullptr, data.points3D);
    EXPECT_EQ(nullptr, data.suValues);
    EXPECT_EQ(nullptr, data.auNames);
    EXPECT_EQ(nullptr, data.meshVertices);

    // Negative counts count as 0.
    data.allocateArrays(true, -4, -1, -2, -3);
    EXPECT_EQ(0, data.suCount);
    EXPECT_EQ(0, data.meshVertexCount);
    const FaceData copy(data);
    expectSameContent(data, copy);
}

TEST(FaceDataTest, CopyIsDeepAndIndependent)
{
    FaceData original;
    fillRecord(original, 1.0f);
    FaceData copy(original);
    expectSameContent(original, copy);

    copy.suValues[0] = 99.0f;
    copy.auNames[0][0] = 'X';
    copy.points2D->setFPPos(3, 5, 9.0f, 9.0f, 9.0f);
    copy.encodedPoints[0] = -5;
    EXPECT_EQ(1.0f, original.suValues[0]);
    EXPECT_STREQ("jaw_drop", original.auNames[0]);
    EXPECT_EQ(1.0f, original.points2D->getFPPos(3, 5)[0]);
    EXPECT_EQ(1, original.encodedPoints[0]);
}

TEST(FaceDataTest, AbsentArraysStayAbsentInCopies)
{
    FaceData original;
    original.allocateArrays(false, 7, 4, 10, 10);   // counts without fitting arrays
    original.points2D->setFPPos(2, 1, 0.5f, 0.5f, 0.0f);
    const FaceData copy(original);
    expectSameContent(original, copy);
    EXPECT_EQ(nullptr, copy.suValues);
    EXPECT_EQ(nullptr, copy.meshVertices);
    EXPECT_EQ(nullptr, copy.points3D);
    EXPECT_NE(nullptr, copy.points2D);
}

TEST(FaceDataTest, AssignmentReplacesAndSelfAssignmentKeeps)
{
    FaceData first;
    fillRecord(first, 1.0f);
    FaceData second;
    fillRecord(second, 2.0f);
    second.allocateArrays(true, 1, 0, 2, 1);   // other sizes, to be freed on assignment

    second = first;
    expectSameContent(first, second);

    const FaceData snapshot(first);
    FaceData& alias = first;
    first = alias;
    expectSameContent(snapshot, first);

    // Assigning an empty record frees the arrays.
    second = FaceData();
    expectConstructionValues(second);
}

TEST(FaceDataTest, SwapExchangesEverything)
{
    FaceData a;
    fillRecord(a, 1.0f);
    FaceData b;
    b.allocateArrays(false, 0, 0, 0, 0);
    b.trackingQuality = 0.9f;
    b.screenGaze.frameIndex = 4;
    const FaceData aBefore(a);
    const FaceData bBefore(b);
    float* aSu = a.suValues;
    FDP* bPoints = b.points2D;

    swap(a, b);
    expectSameContent(aBefore, b);
    expectSameContent(bBefore, a);
    EXPECT_EQ(aSu, b.suValues);   // pointers move, nothing is copied
    EXPECT_EQ(bPoints, a.points2D);
    EXPECT_EQ(4, a.screenGaze.frameIndex);
}

TEST(FaceDataTest, ReinitFreesArraysAndRestoresValues)
{
    FaceData data;
    fillRecord(data, 3.0f);
    data.reinit();
    expectConstructionValues(data);

    // The next allocation uses the new sizes.
    data.allocateArrays(true, 2, 0, 7, 3);
    EXPECT_EQ(7, data.meshVertexCount);
    EXPECT_EQ(0, data.auCount);
    EXPECT_EQ(nullptr, data.auNames);
    data.meshVertices[3 * 7 - 1] = 1.0f;
    data.reinit();
    data.reinit();
    expectConstructionValues(data);
}

TEST(FaceDataTest, GazeDataCopiesOwnImages)
{
    ScreenSpaceGazeData gaze;
    EXPECT_EQ(0, gaze.frameIndex);
    EXPECT_EQ(0.5f, gaze.x);
    EXPECT_EQ(0.5f, gaze.y);
    EXPECT_FALSE(gaze.spareFlag);
    EXPECT_EQ(nullptr, gaze.spareImage0);
    EXPECT_EQ(nullptr, gaze.spareImage1);

    gaze.spareImage0 = cvCreateImage(cvSize(4, 3), IPL_DEPTH_8U, 1);
    cvSet(gaze.spareImage0, cvScalarAll(7));
    gaze.spareInt1 = 3;
    gaze.spareDouble = 2.5;
    {
        const ScreenSpaceGazeData copy(gaze);
        ASSERT_NE(nullptr, copy.spareImage0);
        EXPECT_NE(gaze.spareImage0, copy.spareImage0);
        EXPECT_EQ(7, CV_IMAGE_ELEM(copy.spareImage0, unsigned char, 2, 3));
        EXPECT_EQ(nullptr, copy.spareImage1);
        EXPECT_EQ(3, copy.spareInt1);
        EXPECT_EQ(2.5, copy.spareDouble);

        ScreenSpaceGazeData assigned;
        assigned.spareImage1 = cvCreateImage(cvSize(2, 2), IPL_DEPTH_8U, 1);
        assigned = gaze;   // frees its own image, clones the other
        EXPECT_EQ(nullptr, assigned.spareImage1);
        EXPECT_NE(gaze.spareImage0, assigned.spareImage0);
        ScreenSpaceGazeData& alias = assigned;
        assigned = alias;
        EXPECT_NE(nullptr, assigned.spareImage0);
    }
    // Records holding images copy and free cleanly.
    FaceData data;
    data.screenGaze = gaze;
    const FaceData copy(data);
    EXPECT_NE(data.screenGaze.spareImage0, copy.screenGaze.spareImage0);
}

TEST(FaceDataTest, GazeRepositoryKeepsInsertionOrder)
{
    ScreenSpaceGazeRepository repository;
    EXPECT_EQ(0, repository.GetCount());
    EXPECT_EQ(-1, repository.GetFirst());
    EXPECT_EQ(-1, repository.GetLast());
    EXPECT_EQ(nullptr, repository.Get(0));

    repository.Add(5, 0.1f, 0.2f);
    ScreenSpaceGazeData* own = new ScreenSpaceGazeData();
    own->frameIndex = 2;
    repository.Add(own);
    repository.Add(nullptr);
    repository.Add(5, 0.3f, 0.4f);

    EXPECT_EQ(3, repository.GetCount());
    EXPECT_EQ(5, repository.GetFirst());
    EXPECT_EQ(5, repository.GetLast());
    ASSERT_NE(nullptr, repository.Get(5));
    EXPECT_EQ(0.1f, repository.Get(5)->x);   // the first record with that index
    EXPECT_EQ(0.2f, repository.Get(5)->y);
    EXPECT_EQ(1, repository.Get(5)->state);
    EXPECT_EQ(own, repository.Get(2));
    EXPECT_EQ(0, own->state);
    EXPECT_EQ(nullptr, repository.Get(3));

    repository.Clear();
    EXPECT_EQ(0, repository.GetCount());
    EXPECT_EQ(-1, repository.GetLast());
    repository.Add(1, 0.0f, 0.0f);   // freed by the destructor
}
