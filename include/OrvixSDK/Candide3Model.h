#ifndef ORVIXSDK_CANDIDE3MODEL_H
#define ORVIXSDK_CANDIDE3MODEL_H

#include <string>

#include <opencv2/core/types_c.h>

#include "OrvixSDK/Export.h"

namespace OrvixSDK {

class FDP;
class OrvixConfiguration;
class ModelConfiguration;

// How well a posed, projected model matches a set of detected points:
// the mean and the largest per-point error (pixels divided by the
// normaliser) and the point that first reached the largest error.  With no
// point to compare, both errors are 0 and maxGroup / maxIndex are -1.
struct ORVIX_API FittingError
{
    float meanError = 0.0f;
    float maxError = 0.0f;
    int maxGroup = -1;
    int maxIndex = -1;
};

// The deformable Candide-3 face mesh: a neutral shape, shape-unit and
// action-unit bases, a rigid pose, two eye angles and a pinhole camera.
// Feature points are tied to mesh vertices through `fdp`.
//
// All matrices are owned CvMat objects (32-bit float unless noted) and may
// be absent (null).  N vertices, F triangles; A0 / S0 action / shape units
// in the mesh file, A / S of them in use.  The fields are public: the
// fitters read and write them directly.
//
// Order of use: construct, init (or initReduced), optionally setIPD, then
// any number of parameter changes, each followed by update() before the
// derived vertex arrays are read.
class ORVIX_API Candide3Model
{
public:
    using FittingError = ::OrvixSDK::FittingError;

    // Fixed underlying type: any int converts to it, so a wrong value can be
    // passed (and refused) safely.
    enum MODEL_TYPE : int
    {
        POSE_FITTING_MODEL = 1,
        AU_FITTING_MODEL = 2,
        MESH_FITTING_MODEL = 3
    };

    // Openness above which an eye counts as open.
    static constexpr float EYE_OPEN_THRESHOLD = 0.08f;

    // Largest vertex, triangle, texture-coordinate and unit counts accepted
    // from a mesh file (a count is further bounded by what the rest of the
    // file can hold).
    static constexpr int kMaxVertexCount = 1000000;
    static constexpr int kMaxFaceCount = 2000000;
    static constexpr int kMaxUnitCount = 1000;

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
    // fitting-model configuration (mesh file, links, unit selection,
    // sensitivities, limits).  `path` is not read.  False for a type other
    // than 1..3, a missing model configuration, a mesh file that cannot be
    // read or is damaged, or a link file that is missing or not fully
    // linked; the model may then be partly filled and is not initialised.
    bool init(const OrvixConfiguration* configuration, const char* path, MODEL_TYPE type);
    // Builds this model as the reduced copy of an initialised source: one
    // vertex per linked feature point (groups 2..17 in order).  False only
    // for a null source.
    bool initReduced(const Candide3Model* source);

    // Reads the mesh file directory + fileName (no separator inserted).
    // False, with a diagnostic on standard output, when the file cannot be
    // opened or is damaged (missing section, truncated list, count out of
    // range, vertex index outside the mesh, number that is not finite); the
    // mesh matrices are then released.
    bool read_gSuAu_wfm(const std::string& fileName, const char* directory);
    // Copies the configuration's action-unit names into auNames.
    void loadAuNames(const ModelConfiguration* modelConfiguration);
    // Moves the origin to the pupil midpoint and scales the mesh and bases
    // so that the pupils lie `ipd` apart (x-y distance).  Always true.
    bool scaleToEyeDistance();

    // deformedVertices, transformedVertices and projectedVertices from the
    // current parameters.
    void update();

    float getIPD() const { return ipd; }
    // Rescales mesh and bases to a new inter-pupil distance; does nothing
    // unless vertices, referenceVertices and both bases exist.
    void setIPD(float newIpd);

    // Initial pose from the detected points 3.5, 3.6 and 9.3 (normalised,
    // y downward; aspect = width / height), or the default pose when points
    // is null.
    void reset_pose(const FDP* points, float aspect);
    // rotation and translation <- pose[0..5] (rx, ry, rz, tx, ty, tz).
    void set_pose(float* pose);
    // rx, ry - pi, rz; tx, ty, tz; the posed position of the vertex linked to
    // 7.1 (0, 0, 0 without a link).  Null outputs are skipped.
    void calculatePose(float* rotation, float* translation, float* rotationCentre) const;

    // Eye rotation from two measured pupils (float pairs in the projection
    // frame; indices name the rows of 3.5 and 3.6, 0 and 1 when null).
    void estimate_eye_rotations(CvMat* pupils, int* indices);

    // Gives every point of `points` the vertex link that fdp holds for it.
    void setFDPIndices(FDP* points) const;
    // Writes every linked point of `points` from a per-vertex array: 3-D
    // (3 floats per vertex) or 2-D projection-frame positions turned into
    // normalised image positions (y upward).
    void calculateFDP(FDP* points, int width, int height, CvMat* source, bool threeD) const;
    // Compares detected points with the projected model (groups 13 and 15
    // left out).
    FittingError calculateFittingError(const FDP* points, int width, int height, float normaliser) const;

    // Fills texCoords from projectedVertices for the given width / height
    // ratio and returns it (2 floats per vertex); null when either matrix is
    // absent.
    const float* getTexCoord(float aspect);
    // The texture coordinates of the mesh file, or null when it had none.
    const float* getTexCoordStatic() const;

    // out = in, with `defined` cleared for linked points whose surface faces
    // away from the camera.
    void setFDPPointVisibility(const FDP* in, FDP& out) const;

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
