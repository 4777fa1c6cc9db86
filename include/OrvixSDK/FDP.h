#ifndef ORVIXSDK_FDP_H
#define ORVIXSDK_FDP_H

#include <string>

#include <opencv2/core/types_c.h>

#include "OrvixSDK/Export.h"

namespace OrvixSDK {

// One facial feature point.  The unit of `position` depends on the set that
// holds the point (normalised image coordinates, metres, ...).
struct ORVIX_API FeaturePoint
{
    float position[3] = {0.0f, 0.0f, 0.0f};
    int defined = 0;           // 1 when the point has a valid position
    int detected = 0;          // 1 when measured in the image, not taken from a model
    float quality = -1.0f;     // per-point reliability; -1 = no value given
    int vertexIndex = -1;      // linked vertex in `surfaceName`; -1 = no link
    std::string surfaceName;   // linked surface (mesh); empty = none
    int reserved0 = 0;         // carried along, never interpreted
    int reserved1 = 0;
};

// A fixed set of feature points in 16 groups (2 to 17, 253 points in all).
// Point g.i is addressed either by the two ints (group, index) or by its
// name "g.i".
//
// The int forms of the accessors do not check their arguments: callers pass
// valid points (see FPIsValid).  The name forms do check: given a name that
// is not a valid point, getters return a neutral value (a static default
// point, a position of 0,0,0, false, quality -1) and setters do nothing, so
// a bad name never touches memory outside the tables.
class ORVIX_API FDP
{
public:
    // Size of the `fileName` buffer, terminating zero included: paths of at
    // most fileNameSize - 1 characters can be stored.
    static constexpr int fileNameSize = 212;
    static constexpr int groupCount = 18;   // group numbers 0..17, 0 and 1 unused
    static constexpr int firstGroup = 2;
    static constexpr int lastGroup = 17;
    static constexpr int pointCount = 253;

    FDP();
    // Reads the file; the set is initialised only if readFromFile returned 1.
    explicit FDP(const char* path);
    FDP(const FDP& other);
    FDP& operator=(const FDP& other);
    ~FDP();

    static int groupSize(int group);          // 0 for groups outside 2..17
    static bool FPIsValid(int group, int index);
    static bool FPIsValid(const std::string& name);
    // Splits "g.i" into group and index (leading blanks and a sign allowed,
    // conversion stops at the first non-digit like atoi).  Returns false, with
    // group and index set to 0, when the name has no '.', or when a part is
    // not a number or does not fit in an int (that part is then 0).  It does
    // not check the point against the tables: use FPIsValid for that.
    static bool parseFPName(const std::string& name, int& group, int& index);
    static std::string getFPName(int group, int index);

    // Side of the face's symmetry axis: 2 on the axis, 1 and 3 the two sides
    // (each class-1 point has its mirror point in class 3), -1 no class.
    // Returns -1 for points that are not valid.
    static int getPointType(int group, int index);
    // Index, in the same group, of the mirror-image point: the point itself
    // on the axis, -1 for points without a class or that are not valid.
    static int getMirrorPointIndex(int group, int index);

    const FeaturePoint& getFP(int group, int index) const;
    FeaturePoint& getFP(int group, int index);
    const FeaturePoint& getFP(const char* name) const;
    const FeaturePoint& getFP(const std::string& name) const;

    void setFP(int group, int index, const FeaturePoint& point);
    void setFP(const char* name, const FeaturePoint& point);
    void setFP(const std::string& name, const FeaturePoint& point);

    const float* getFPPos(int group, int index) const;
    const float* getFPPos(const char* name) const;
    const float* getFPPos(const std::string& name) const;

    void setFPPos(int group, int index, const float* xyz);
    void setFPPos(int group, int index, float x, float y, float z);
    void setFPPos(const char* name, const float* xyz);
    void setFPPos(const std::string& name, const float* xyz);
    void setFPPos(const char* name, float x, float y, float z);
    void setFPPos(const std::string& name, float x, float y, float z);

    bool FPIsDefined(int group, int index) const;
    bool FPIsDefined(const char* name) const;
    bool FPIsDefined(const std::string& name) const;
    bool FPIsDetected(int group, int index) const;
    bool FPIsDetected(const char* name) const;
    bool FPIsDetected(const std::string& name) const;

    void setFPQuality(int group, int index, float quality);
    void setFPQuality(const char* name, float quality);
    void setFPQuality(const std::string& name, float quality);
    float getFPQuality(int group, int index) const;
    float getFPQuality(const char* name) const;
    float getFPQuality(const std::string& name) const;

    void setFPSurfVert(int group, int index, const std::string& surface, int vertex);
    void setFPSurfVert(const char* name, const std::string& surface, int vertex);
    void setFPSurfVert(const std::string& name, const std::string& surface, int vertex);
    // False, outputs untouched, when the point is not defined; otherwise
    // copies the link out and returns whether it names a vertex.
    bool getFPSurfVert(int group, int index, std::string& surface, int& vertex) const;
    bool getFPSurfVert(const char* name, std::string& surface, int& vertex) const;
    bool getFPSurfVert(const std::string& name, std::string& surface, int& vertex) const;

    // Clears every point (quality kept) and `normalized`.
    void reset();

    // Reads an .fdp file into the set without clearing it first.  Returns 1
    // on success, -1 when a point line lacked a surface link, 0 when the file
    // could not be opened, has a wrong version line or its path does not fit
    // in `fileName` (nothing is read then).
    int readFromFile(const char* path);
    // Writes the defined points to `fileName`.  Returns whether the file
    // could be written; failures print nothing.
    bool saveToFile() const;
    // Stores path in `fileName` and writes the set there.  A path that does
    // not fit in `fileName` is refused: nothing is written, `fileName` is
    // left as it was and the result is false.
    bool saveToFile(const char* path);
    // Writes an empty .fdp file at path and reads it back into this set.
    // Returns whether the file could be written (a path that does not fit in
    // `fileName` is refused).
    bool createNewFile(const char* path);

    void print() const;

    bool isNormalized() const { return normalized; }
    bool isInitialized() const { return initialized; }
    const char* getFileName() const { return fileName; }

private:
    // Stores path in fileName; false (fileName unchanged) when it does not fit.
    bool storeFileName(const char* path);

    static const int groupSizes[groupCount];

    char fileName[fileNameSize];
    bool normalized;
    FeaturePoint* groups[groupCount];
    bool initialized;
};

// Converts one normalised point to pixels: out.x = round(width * x),
// out.y = round(height * (1 - y)) when flipY, else round(height * y), halves
// to even.  Returns whether the point is defined; out is untouched when
// points is null or the point is not valid.
ORVIX_API bool getFeaturePointFromFDP(CvPoint& out, const FDP* points, int group, int index,
                                      int width, int height, bool flipY);

// Splitting of whitespace-separated text.  getNextNumberString skips leading
// white space, ends the token at the first white space after it (writing a
// zero there), copies the text behind that white-space character into rest
// and returns the token (empty when text holds no token; rest is then empty).
// rest must be a buffer of its own with room for the remaining text.  Null
// text gives an empty token and rest.  getNextNumber does the same and returns the token as a float ("C"
// number format, 0 when the token is not a number).
ORVIX_API char* getNextNumberString(char* text, char* rest);
ORVIX_API float getNextNumber(char* text, char* rest);

}  // namespace OrvixSDK

#endif
