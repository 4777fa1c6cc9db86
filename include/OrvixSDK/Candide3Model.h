#ifndef ORVIXSDK_CANDIDE3MODEL_H
#define ORVIXSDK_CANDIDE3MODEL_H

#include <opencv2/core/types_c.h>

#include "OrvixSDK/Export.h"

namespace OrvixSDK {

class FDP;
class OrvixConfiguration;

// The deformable Candide-3 face mesh: a neutral shape, shape-unit and
// action-unit bases, a rigid pose, two eye angles and a pinhole camera.
// Feature points are tied to mesh vertices through `fdp`.
//
// All matrices are owned CvMat objects (32-bit float unless noted) and may
// be absent (null).  N vertices, F triangles; A0 / S0 action / shape units
// in the mesh file, A / S of them in use.  The fields are public: the
// fitters read and write them directly.
class ORVIX_API Candide3Model
{
public:
    enum MODEL_TYPE
    {
        POSE_FITTING_MODEL = 1,
        AU_FITTING_MODEL = 2,
        MESH_FITTING_MODEL = 3
    };

    // Openness above which an eye counts as open.
    static constexpr float EYE_OPEN_THRESHOLD = 0.08f;

    // Empty model: no matrices, no fdp, focus 0, ipd 0.065, eyes open, not
    // initialised.
    Candide3Model();
    // Deep copy: every matrix cloned, fdp and names copied.
    Candide3Model(const Candide3Model& other);
    Candide3Model& operator=(Candide3Model other);
    ~Candide3Model();

    // Exchanges every member of the two models.
    static void swap(Candide3Model& a, Candide3Model& b);

    // Loads the model of the given type from the configuration's
    // fitting-model configuration.  No mesh-file reader is part of this
    // build: the result is always false and the model stays empty.
    bool init(const OrvixConfiguration* configuration, const char* path, MODEL_TYPE type);
    // Builds this model from an initialised source; here as a full copy of
    // it.  False for a null source.
    bool initReduced(const Candide3Model* source);

    float getIPD() const { return ipd; }
    // Stores the inter-pupil distance.
    void setIPD(float newIpd);

    // Eye rotation from two measured pupils (float pairs in the projection
    // frame; indices name the rows of 3.5 and 3.6).  No estimate is made in
    // this build: eyeRotation keeps its value.
    void estimate_eye_rotations(CvMat* pupils, int* indices);

    // Fills texCoords from projectedVertices for the given width / height
    // ratio and returns it (2 floats per vertex); null when either matrix is
    // absent.
    const float* getTexCoord(float aspect);
    // The texture coordinates of the mesh file, or null when it had none.
    const float* getTexCoordStatic() const;

    CvMat* vertices;              // 3N x 1 neutral shape
    CvMat* referenceVertices;     // 3N x 1 second copy of the neutral shape
    CvMat* shapeUnits;            // 3N x S
    CvMat* actionUnits;           // 3N x A
    CvMat* faces;                 // 3F x 1, 32-bit int
    CvMat* staticTexCoords;       // 2T x 1
    CvMat* auUse;                 // A0 x 1, 32-bit int, 1 = used
    CvMat* suUse;                 // S0 x 1, 32-bit int
    char** auNames;               // auNameCount owned strings
    int auNameCount;
    float focus;                  // in half the shorter image side
    float scale;
    float rotation[3];            // rx, ry, rz; ry = pi faces the camera
    float translation[3];         // tx, ty, tz
    CvMat* suValues;              // S x 1
    CvMat* auValues;              // A x 1
    CvMat* deformedVertices;      // 3N x 1
    CvMat* transformedVertices;   // 3N x 1
    CvMat* projectedVertices;     // 2N x 1
    CvMat* texCoords;             // 2N x 1
    int vertexCount;              // N
    FDP* fdp;                     // feature points linked to vertices
    int processEyes;              // 1: the tracker estimates eye rotations
    float eyesOpen[2];
    bool initialized;
    float ipd;                    // metres
    CvMat* poseSensitivity;       // 6 x 1
    CvMat* auSensitivity;         // A0 x 1
    CvMat* suSensitivity;         // S0 x 1
    CvMat* rotationLimits;        // 6 x 1
    CvMat* translationLimits;     // 6 x 1
    CvMat* auLimits;              // 2A x 1
    float eyeRotation[2];         // pitch, yaw
};

}  // namespace OrvixSDK

#endif
