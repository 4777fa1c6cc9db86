#include "OrvixSDK/Candide3Model.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string_view>
#include <utility>
#include <vector>

#include <unistd.h>

#include <opencv2/core/core_c.h>

#include "OrvixSDK/FDP.h"
#include "OrvixSDK/GeometryHelpers.h"
#include "OrvixSDK/OrvixConfiguration.h"
#include "config/ModelConfiguration.h"
#include "facemodel/PoseRotation.h"
#include "support/OptionalCv.h"

namespace OrvixSDK {

namespace {

const float kPi = 3.14159265358979f;

// Largest mesh file read, and the largest number of floats one unit basis
// may hold; both keep a damaged count from sizing huge allocations.
const std::streamoff kMaxMeshFileBytes = 64L * 1024L * 1024L;
const long kMaxBasisElements = 1L << 24;

// Largest magnitude accepted for a coordinate, texture coordinate or unit
// displacement of a mesh file (the mesh is in metres or similar units; a
// larger value can only be damage and would overflow later products).
const float kMaxMeshValue = 1.0e6f;

// Smallest depth used in the projection: a vertex at z = 0 (on the camera
// plane) is projected as if it lay this far in front of or behind it, so the
// projection stays finite.
const float kMinDepth = 1.0e-6f;

// A float matrix of rows x 1, zero-filled.
CvMat* zeroColumn(int rows)
{
    CvMat* m = cvCreateMat(rows, 1, CV_32FC1);
    cvSetZero(m);
    return m;
}

CvMat* zeroIntColumn(int rows)
{
    CvMat* m = cvCreateMat(rows, 1, CV_32SC1);
    cvSetZero(m);
    return m;
}

// True when m is a continuous one-channel float matrix of at least count
// elements.
bool holdsFloats(const CvMat* m, int count)
{
    return m != nullptr && CV_MAT_TYPE(m->type) == CV_32FC1 && CV_IS_MAT_CONT(m->type) && elementCount(m) >= count;
}

bool holdsInts(const CvMat* m, int count)
{
    return m != nullptr && CV_MAT_TYPE(m->type) == CV_32SC1 && CV_IS_MAT_CONT(m->type) && elementCount(m) >= count;
}

// A column of `rows` floats copied from the array: entries the array lacks
// are `fill`; extra entries are ignored.
CvMat* columnFrom(const OxCfgArr<float>& values, int rows, float fill)
{
    CvMat* m = cvCreateMat(rows, 1, CV_32FC1);
    for (int i = 0; i < rows; ++i)
        m->data.fl[i] = i < values.size ? values.data[i] : fill;
    return m;
}

CvMat* intColumnFrom(const OxCfgArr<int>& values, int rows)
{
    CvMat* m = cvCreateMat(rows, 1, CV_32SC1);
    for (int i = 0; i < rows; ++i)
        m->data.i[i] = i < values.size ? values.data[i] : 0;
    return m;
}

char* copyString(const char* text)
{
    const std::size_t length = text != nullptr ? std::strlen(text) : 0;
    char* copy = new char[length + 1];
    if (length > 0)
        std::memcpy(copy, text, length);
    copy[length] = '\0';
    return copy;
}

void freeNames(char**& names, int& count)
{
    if (names != nullptr) {
        for (int k = 0; k < count; ++k)
            delete[] names[k];
        delete[] names;
    }
    names = nullptr;
    count = 0;
}

void printOpenError(const std::string& name)
{
    char workingDirectory[500];
    if (getcwd(workingDirectory, sizeof(workingDirectory)) == nullptr)
        workingDirectory[0] = '\0';
    std::printf("Error opening file %s.\nWorking directory: %s\n", name.c_str(), workingDirectory);
    std::fflush(stdout);
}

// Pinhole projection of a camera-space point; a depth closer to 0 than
// kMinDepth is replaced by kMinDepth with the depth's sign.
void project(const float* p, float focus, float* out)
{
    float z = p[2];
    if (std::fabs(z) < kMinDepth)
        z = std::signbit(z) ? -kMinDepth : kMinDepth;
    out[0] = p[0] * focus / z;
    out[1] = p[1] * focus / z;
}

// Text of a mesh file in memory, read with the rules of formatted stream
// input: numbers are white-space separated tokens, and "lines" are read from
// the current position to the next line end.  Every read stops at the end of
// the text and reports failure instead of running past it.
class MeshText
{
public:
    explicit MeshText(std::string content) : text(std::move(content)), pos(0) {}

    void rewind() { pos = 0; }
    std::size_t remaining() const { return text.size() - pos; }

    // Reads lines until one contains key; false at the end of the text.
    bool findLine(std::string_view key)
    {
        std::string_view line;
        while (nextLine(line)) {
            if (line.find(key) != std::string_view::npos)
                return true;
        }
        return false;
    }

    // The next line (from the current position to its end); false at the
    // end of the text.
    bool nextLine(std::string_view& line)
    {
        if (pos >= text.size())
            return false;
        const std::size_t end = text.find('\n', pos);
        const std::size_t stop = end == std::string::npos ? text.size() : end;
        line = std::string_view(text).substr(pos, stop - pos);
        pos = end == std::string::npos ? text.size() : end + 1;
        return true;
    }

    // A whole-token integer in [low, high].
    bool readInt(long low, long high, long& value)
    {
        char buffer[64];
        if (!nextToken(buffer, sizeof(buffer)))
            return false;
        errno = 0;
        char* end = nullptr;
        const long v = std::strtol(buffer, &end, 10);
        if (end == buffer || *end != '\0' || errno == ERANGE || v < low || v > high)
            return false;
        value = v;
        return true;
    }

    // A whole-token finite float of magnitude at most kMaxMeshValue.
    bool readFloat(float& value)
    {
        char buffer[64];
        if (!nextToken(buffer, sizeof(buffer)))
            return false;
        char* end = nullptr;
        const float v = std::strtof(buffer, &end);
        if (end == buffer || *end != '\0' || !std::isfinite(v) || std::fabs(v) > kMaxMeshValue)
            return false;
        value = v;
        return true;
    }

    // Upper bound on the number of numbers the rest of the text can hold
    // (each takes at least one character and one separator).
    long numbersLeft() const { return static_cast<long>(remaining() / 2 + 1); }

private:
    static bool isSpace(char c)
    {
        return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
    }

    // Copies the next token into buffer; false at the end of the text or
    // for a token that does not fit (no number is that long).
    bool nextToken(char* buffer, std::size_t size)
    {
        while (pos < text.size() && isSpace(text[pos]))
            ++pos;
        if (pos >= text.size())
            return false;
        std::size_t length = 0;
        while (pos < text.size() && !isSpace(text[pos])) {
            // A NUL byte would end the number early: no number holds one.
            if (length + 1 >= size || text[pos] == '\0')
                return false;
            buffer[length++] = text[pos++];
        }
        buffer[length] = '\0';
        return true;
    }

    std::string text;
    std::size_t pos;
};

// The parsed content of a mesh file.
struct MeshData
{
    int vertexCount = 0;
    std::vector<float> vertices;          // 3N
    std::vector<float> texCoords;         // 2T
    std::vector<int> faces;               // 3F
    int auCount = 0;
    std::vector<float> actionUnits;       // 3N x A0, row-major
    int suCount = 0;
    std::vector<float> shapeUnits;        // 3N x S0, row-major
};

// Reads a unit section ("ANIMATION UNITS LIST" / "SHAPE UNITS LIST") from
// the current position.  A missing section gives no units; any damage sets
// error and returns false.
bool readUnits(MeshText& text, std::string_view key, int vertexCount, int& count, std::vector<float>& basis,
               const char*& error)
{
    count = 0;
    basis.clear();
    if (!text.findLine(key))
        return true;
    long units = 0;
    if (!text.readInt(0, Candide3Model::kMaxUnitCount, units)) {
        error = "unit count missing or out of range";
        return false;
    }
    const long rows = 3L * vertexCount;
    if (units > 0 && rows * units > kMaxBasisElements) {
        error = "unit basis too large";
        return false;
    }
    // Each unit needs at least a header line and a count.
    if (units > static_cast<long>(text.remaining())) {
        error = "unit list truncated";
        return false;
    }
    basis.assign(static_cast<std::size_t>(rows * units), 0.0f);
    for (long u = 0; u < units; ++u) {
        if (!text.findLine("#")) {
            error = "unit header line missing";
            return false;
        }
        long entries = 0;
        if (!text.readInt(0, text.numbersLeft() / 4, entries)) {
            error = "unit entry count missing or out of range";
            return false;
        }
        for (long e = 0; e < entries; ++e) {
            long v = 0;
            float d[3];
            if (!text.readInt(0, vertexCount - 1, v)) {
                error = "unit vertex index missing or outside the mesh";
                return false;
            }
            if (!text.readFloat(d[0]) || !text.readFloat(d[1]) || !text.readFloat(d[2])) {
                error = "unit displacement missing or not a usable number";
                return false;
            }
            for (int c = 0; c < 3; ++c)
                basis[static_cast<std::size_t>((3 * v + c) * units + u)] = d[c];
        }
    }
    count = static_cast<int>(units);
    return true;
}

// Parses a mesh file; false with a reason for damaged content.
bool parseMesh(MeshText& text, MeshData& mesh, const char*& error)
{
    if (!text.findLine("VERTEX LIST")) {
        error = "no VERTEX LIST";
        return false;
    }
    long n = 0;
    if (!text.readInt(1, Candide3Model::kMaxVertexCount, n) || 3 * n > text.numbersLeft()) {
        error = "vertex count missing or out of range";
        return false;
    }
    mesh.vertexCount = static_cast<int>(n);
    mesh.vertices.resize(static_cast<std::size_t>(3 * n));
    for (float& value : mesh.vertices) {
        if (!text.readFloat(value)) {
            error = "vertex list truncated or holds a number that is not usable";
            return false;
        }
    }

    // Texture coordinates may come between the vertices and the faces.
    bool faceList = false;
    std::string_view line;
    while (!faceList && text.nextLine(line)) {
        if (line.find("FACE LIST") != std::string_view::npos) {
            faceList = true;
        } else if (line.find("TEXCOORD LIST") != std::string_view::npos) {
            long t = 0;
            if (!text.readInt(0, Candide3Model::kMaxVertexCount, t) || 2 * t > text.numbersLeft()) {
                error = "texture coordinate count missing or out of range";
                return false;
            }
            mesh.texCoords.resize(static_cast<std::size_t>(2 * t));
            for (float& value : mesh.texCoords) {
                if (!text.readFloat(value)) {
                    error = "texture coordinate list truncated or holds a number that is not usable";
                    return false;
                }
            }
        }
    }
    if (!faceList) {
        error = "no FACE LIST";
        return false;
    }
    long f = 0;
    if (!text.readInt(1, Candide3Model::kMaxFaceCount, f) || 3 * f > text.numbersLeft()) {
        error = "face count missing or out of range";
        return false;
    }
    mesh.faces.resize(static_cast<std::size_t>(3 * f));
    for (int& index : mesh.faces) {
        long v = 0;
        if (!text.readInt(0, n - 1, v)) {
            error = "face list truncated or a vertex index outside the mesh";
            return false;
        }
        index = static_cast<int>(v);
    }

    if (!readUnits(text, "ANIMATION UNITS LIST", mesh.vertexCount, mesh.auCount, mesh.actionUnits, error))
        return false;
    text.rewind();
    return readUnits(text, "SHAPE UNITS LIST", mesh.vertexCount, mesh.suCount, mesh.shapeUnits, error);
}

CvMat* matrixFrom(const std::vector<float>& values, int rows, int cols)
{
    CvMat* m = cvCreateMat(rows, cols, CV_32FC1);
    std::memcpy(m->data.fl, values.data(), values.size() * sizeof(float));
    return m;
}

// Keeps the columns of basis whose flag is 1, in order; the count kept is
// returned (0: the basis is released).
int selectColumns(CvMat*& basis, const CvMat* use)
{
    if (basis == nullptr)
        return 0;
    const int total = basis->cols;
    std::vector<int> kept;
    for (int c = 0; c < total; ++c) {
        if (use != nullptr && c < elementCount(use) && use->data.i[c] == 1)
            kept.push_back(c);
    }
    if (kept.empty()) {
        releaseAndClear(basis);
        return 0;
    }
    if (static_cast<int>(kept.size()) < total) {
        CvMat* reduced = cvCreateMat(basis->rows, static_cast<int>(kept.size()), CV_32FC1);
        for (int r = 0; r < basis->rows; ++r) {
            const float* in = basis->data.fl + static_cast<std::size_t>(r) * total;
            float* out = reduced->data.fl + static_cast<std::size_t>(r) * kept.size();
            for (std::size_t k = 0; k < kept.size(); ++k)
                out[k] = in[kept[k]];
        }
        cvReleaseMat(&basis);
        basis = reduced;
    }
    return basis->cols;
}

}  // namespace

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
        for (int k = 0; k < auNameCount; ++k)
            auNames[k] = copyString(other.auNames[k]);
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
    freeNames(auNames, auNameCount);
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

// ---------------------------------------------------------------------------
// Feature-point links

namespace {

// The vertex that `points` links g.i to, or -1 when the point is not defined,
// has no link or links a vertex outside 0 .. vertexCount - 1.
int linkedVertex(const FDP* points, int group, int index, int vertexCount)
{
    if (points == nullptr)
        return -1;
    const FeaturePoint& p = points->getFP(group, index);
    if (p.defined == 0 || p.vertexIndex < 0 || p.vertexIndex >= vertexCount)
        return -1;
    return p.vertexIndex;
}

}  // namespace

void Candide3Model::setFDPIndices(FDP* points) const
{
    if (points == nullptr || fdp == nullptr)
        return;
    std::string surface;
    int vertex = -1;
    for (int g = FDP::firstGroup; g <= FDP::lastGroup; ++g) {
        for (int i = 1; i <= FDP::groupSize(g); ++i) {
            if (fdp->getFPSurfVert(g, i, surface, vertex))
                points->setFPSurfVert(g, i, surface, vertex);
        }
    }
}

void Candide3Model::calculateFDP(FDP* points, int width, int height, CvMat* source, bool threeD) const
{
    if (points == nullptr || fdp == nullptr || source == nullptr || CV_MAT_TYPE(source->type) != CV_32FC1 ||
        !CV_IS_MAT_CONT(source->type))
        return;
    // An image side that is not positive gives no aspect: both factors 1.
    float ax = 1.0f;
    float ay = 1.0f;
    if (width > 0 && height > 0) {
        if (width > height)
            ax = static_cast<float>(width) / static_cast<float>(height);
        else if (width < height)
            ay = static_cast<float>(height) / static_cast<float>(width);
    }
    const int stride = threeD ? 3 : 2;
    const int available = elementCount(source) / stride;
    const float* data = source->data.fl;
    for (int g = FDP::firstGroup; g <= FDP::lastGroup; ++g) {
        for (int i = 1; i <= FDP::groupSize(g); ++i) {
            const int k = linkedVertex(fdp, g, i, available);
            if (k < 0)
                continue;
            const float* v = data + static_cast<std::size_t>(stride) * k;
            if (threeD)
                points->setFPPos(g, i, v[0], v[1], v[2]);
            else
                points->setFPPos(g, i, 0.5f - 0.5f * v[0] / ax, 0.5f + 0.5f * v[1] / ay, 0.0f);
        }
    }
}

FittingError Candide3Model::calculateFittingError(const FDP* points, int width, int height, float normaliser) const
{
    FittingError result;
    if (points == nullptr || fdp == nullptr || !holdsFloats(projectedVertices, 2 * vertexCount))
        return result;
    FDP model;
    setFDPIndices(&model);
    calculateFDP(&model, width, height, projectedVertices, false);

    // A normaliser that is not a positive number leaves the error in pixels.
    const float norm = (normaliser > 0.0f && std::isfinite(normaliser)) ? normaliser : 1.0f;
    const float w = static_cast<float>(width);
    const float h = static_cast<float>(height);
    float sum = 0.0f;
    int count = 0;
    for (int g = FDP::firstGroup; g <= FDP::lastGroup; ++g) {
        if (g == 13 || g == 15)
            continue;
        for (int i = 1; i <= FDP::groupSize(g); ++i) {
            if (!points->FPIsDefined(g, i) || !model.FPIsDefined(g, i))
                continue;
            const float* a = points->getFPPos(g, i);
            const float* b = model.getFPPos(g, i);
            const float dx = (a[0] - b[0]) * w;
            const float dy = (a[1] - b[1]) * h;
            const float error = std::sqrt(dx * dx + dy * dy) / norm;
            sum += error;
            ++count;
            // The first compared point starts the maximum; later ones
            // replace it only when strictly larger.
            if (result.maxGroup < 0 || error > result.maxError) {
                result.maxError = error;
                result.maxGroup = g;
                result.maxIndex = i;
            }
        }
    }
    // No point in both sets: mean 0, no worst point (-1, -1).
    result.meanError = count > 0 ? sum / static_cast<float>(count) : 0.0f;
    return result;
}

// ---------------------------------------------------------------------------
// Deformation, pose and projection

void Candide3Model::update()
{
    const int n = vertexCount;
    if (n <= 0 || !holdsFloats(vertices, 3 * n) || !holdsFloats(deformedVertices, 3 * n) ||
        !holdsFloats(transformedVertices, 3 * n) || !holdsFloats(projectedVertices, 2 * n))
        return;
    const int rows = 3 * n;
    float* deformed = deformedVertices->data.fl;
    std::memcpy(deformed, vertices->data.fl, static_cast<std::size_t>(rows) * sizeof(float));

    // Linear deformation by one basis; a basis whose shape does not fit the
    // mesh or its value vector is left out.
    auto deform = [&](const CvMat* basis, const CvMat* values) {
        if (basis == nullptr || values == nullptr || basis->rows != rows || CV_MAT_TYPE(basis->type) != CV_32FC1 ||
            !CV_IS_MAT_CONT(basis->type) || !holdsFloats(values, basis->cols))
            return;
        const int cols = basis->cols;
        const float* b = basis->data.fl;
        const float* v = values->data.fl;
        for (int r = 0; r < rows; ++r) {
            const float* row = b + static_cast<std::size_t>(r) * cols;
            float sum = 0.0f;
            for (int c = 0; c < cols; ++c)
                sum += row[c] * v[c];
            deformed[r] += sum;
        }
    };
    deform(shapeUnits, suValues);
    deform(actionUnits, auValues);

    // The pupils are moved by the eye rotation on their way into the pose.
    const float p = eyeRotation[0];
    const float y = eyeRotation[1];
    const float eyeOffset[3] = {0.0125f * std::cos(p) * std::sin(y), -0.0125f * std::sin(p),
                                0.0125f * std::cos(p) * std::cos(y) - 0.0125f};
    const int pupil5 = linkedVertex(fdp, 3, 5, n);
    const int pupil6 = linkedVertex(fdp, 3, 6, n);

    const PoseRotation r(rotation);
    float* transformed = transformedVertices->data.fl;
    float* projected = projectedVertices->data.fl;
    for (int k = 0; k < n; ++k) {
        const float* source = deformed + 3 * k;
        float moved[3];
        if (k == pupil5 || k == pupil6) {
            for (int c = 0; c < 3; ++c)
                moved[c] = source[c] + eyeOffset[c];
            source = moved;
        }
        r.pose(source, scale, translation, transformed + 3 * k);
        project(transformed + 3 * k, focus, projected + 2 * k);
    }
}

void Candide3Model::set_pose(float* pose)
{
    if (pose == nullptr)
        return;
    for (int k = 0; k < 3; ++k) {
        rotation[k] = pose[k];
        translation[k] = pose[k + 3];
    }
}

void Candide3Model::reset_pose(const FDP* points, float aspect)
{
    const float defaultRotation[3] = {0.0f, kPi, 0.0f};
    auto setDefault = [&]() {
        for (int k = 0; k < 3; ++k) {
            rotation[k] = defaultRotation[k];
            translation[k] = 0.0f;
        }
    };
    if (points == nullptr) {
        setDefault();
        return;
    }

    // An aspect that is not a positive number is taken as square.
    if (!(aspect > 0.0f) || !std::isfinite(aspect))
        aspect = 1.0f;
    const float ax = std::max(aspect, 1.0f);
    const float ay = aspect < 1.0f ? 1.0f / aspect : 1.0f;
    auto mapped = [&](int group, int index, float& X, float& Y) {
        const float* p = points->getFPPos(group, index);
        X = (p[0] - 0.5f) * 2.0f * ax;
        Y = (0.5f - p[1]) * 2.0f * ay;
    };
    float x5, y5, x6, y6, x9, y9;
    mapped(3, 5, x5, y5);
    mapped(3, 6, x6, y6);
    mapped(9, 3, x9, y9);

    const float e = x9 - x6;
    const float g = x5 - x9;
    float ry = kPi;
    if (e < 0.0f)
        ry = 2.0071287f;   // 115 degrees
    else if (g < 0.0f)
        ry = 4.2760568f;   // 245 degrees
    else if (g > 2.0f * e)
        ry = 2.5307274f;   // 145 degrees
    else if (e > 2.0f * g)
        ry = 3.7524581f;   // 215 degrees

    const float d56 = std::hypot(x5 - x6, y5 - y6);
    const float d69 = std::hypot(x6 - x9, y6 - y9);
    const float d59 = std::hypot(x5 - x9, y5 - y9);
    const float d = std::max(d56, std::max(d69, d59));

    // Three coinciding (or unusable) points carry no scale: the pose falls
    // back to the default, as without points.
    if (!(d > 0.0f) || !std::isfinite(d)) {
        setDefault();
        eyeRotation[0] = eyeRotation[1] = 0.0f;
        return;
    }

    rotation[0] = 0.0f;
    rotation[1] = ry;
    rotation[2] = std::atan2(y5 - y6, x5 - x6);
    eyeRotation[0] = eyeRotation[1] = 0.0f;

    // Eye distance of the mesh from its pupil vertices; the configured
    // inter-pupil distance when the pupils are not linked.
    float meshEyeDistance = ipd;
    const int p5 = linkedVertex(fdp, 3, 5, vertexCount);
    const int p6 = linkedVertex(fdp, 3, 6, vertexCount);
    if (p5 >= 0 && p6 >= 0 && holdsFloats(referenceVertices, 3 * vertexCount)) {
        const float* ref = referenceVertices->data.fl;
        meshEyeDistance = std::hypot(ref[3 * p5] - ref[3 * p6], ref[3 * p5 + 1] - ref[3 * p6 + 1]);
    }
    const float m = meshEyeDistance / d;
    translation[2] = focus * m;
    translation[0] = -m * (x5 + x6) / 2.0f;
    translation[1] = m * (y5 + y6) / 2.0f;
}

void Candide3Model::calculatePose(float* rotationOut, float* translationOut, float* rotationCentre) const
{
    if (rotationOut != nullptr) {
        rotationOut[0] = rotation[0];
        rotationOut[1] = rotation[1] - kPi;
        rotationOut[2] = rotation[2];
    }
    if (translationOut != nullptr) {
        for (int k = 0; k < 3; ++k)
            translationOut[k] = translation[k];
    }
    if (rotationCentre != nullptr) {
        rotationCentre[0] = rotationCentre[1] = rotationCentre[2] = 0.0f;
        const int k = linkedVertex(fdp, 7, 1, vertexCount);
        if (k >= 0 && holdsFloats(transformedVertices, 3 * vertexCount)) {
            for (int c = 0; c < 3; ++c)
                rotationCentre[c] = transformedVertices->data.fl[3 * k + c];
        }
    }
}

// ---------------------------------------------------------------------------
// Mesh file and loading

bool Candide3Model::read_gSuAu_wfm(const std::string& fileName, const char* directory)
{
    const std::string path = std::string(directory != nullptr ? directory : "") + fileName;
    std::ifstream in(path, std::ios::binary);
    if (!in.is_open()) {
        printOpenError(fileName);
        return false;
    }
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    in.seekg(0, std::ios::beg);
    MeshData mesh;
    const char* error = nullptr;
    bool ok = false;
    if (size < 0 || size > kMaxMeshFileBytes) {
        error = "file too large";
    } else {
        std::string content(static_cast<std::size_t>(size), '\0');
        if (size > 0)
            in.read(&content[0], size);
        if (!in) {
            error = "file could not be read";
        } else {
            MeshText text(std::move(content));
            ok = parseMesh(text, mesh, error);
        }
    }

    CvMat** meshMatrices[] = {&vertices, &referenceVertices, &staticTexCoords, &faces, &actionUnits, &shapeUnits};
    for (CvMat** m : meshMatrices)
        releaseAndClear(*m);
    vertexCount = 0;
    if (!ok) {
        std::printf("read_gSuAu_wfm: damaged mesh file %s: %s\n", fileName.c_str(), error);
        std::fflush(stdout);
        return false;
    }

    const int n = mesh.vertexCount;
    vertexCount = n;
    vertices = matrixFrom(mesh.vertices, 3 * n, 1);
    referenceVertices = cvCloneMat(vertices);
    if (!mesh.texCoords.empty())
        staticTexCoords = matrixFrom(mesh.texCoords, static_cast<int>(mesh.texCoords.size()), 1);
    faces = cvCreateMat(static_cast<int>(mesh.faces.size()), 1, CV_32SC1);
    std::memcpy(faces->data.i, mesh.faces.data(), mesh.faces.size() * sizeof(int));
    if (mesh.auCount > 0)
        actionUnits = matrixFrom(mesh.actionUnits, 3 * n, mesh.auCount);
    if (mesh.suCount > 0)
        shapeUnits = matrixFrom(mesh.shapeUnits, 3 * n, mesh.suCount);
    return true;
}

void Candide3Model::loadAuNames(const ModelConfiguration* modelConfiguration)
{
    freeNames(auNames, auNameCount);
    if (modelConfiguration == nullptr)
        return;
    const OxCfgArr<std::string> names = modelConfiguration->getAuNames();
    if (names.size <= 0)
        return;
    auNames = new char*[names.size]();
    auNameCount = names.size;
    for (int k = 0; k < auNameCount; ++k)
        auNames[k] = copyString(names.data[k].c_str());
}

bool Candide3Model::scaleToEyeDistance()
{
    const int n = vertexCount;
    const int p5 = linkedVertex(fdp, 3, 5, n);
    const int p6 = linkedVertex(fdp, 3, 6, n);
    // Without both pupils (or with pupils that coincide in x and y) there is
    // no eye distance to scale to: the mesh stays as it is.
    if (p5 < 0 || p6 < 0 || !holdsFloats(referenceVertices, 3 * n) || !holdsFloats(vertices, 3 * n))
        return true;
    const float* ref = referenceVertices->data.fl;
    const float a[3] = {ref[3 * p5], ref[3 * p5 + 1], ref[3 * p5 + 2]};
    const float b[3] = {ref[3 * p6], ref[3 * p6 + 1], ref[3 * p6 + 2]};
    const float d = std::hypot(a[0] - b[0], a[1] - b[1]);
    if (!(d > 0.0f) || !std::isfinite(d))
        return true;
    const float f = ipd / d;
    const float mid[3] = {(a[0] + b[0]) / 2.0f, (a[1] + b[1]) / 2.0f, (a[2] + b[2]) / 2.0f};

    for (CvMat* basis : {shapeUnits, actionUnits}) {
        if (basis != nullptr)
            cvConvertScale(basis, basis, f, 0.0);
    }
    for (CvMat* mesh : {vertices, referenceVertices}) {
        float* v = mesh->data.fl;
        for (int k = 0; k < n; ++k) {
            for (int c = 0; c < 3; ++c)
                v[3 * k + c] = (v[3 * k + c] - mid[c]) * f;
        }
        v[3 * p5 + 2] += 0.006f;
        v[3 * p6 + 2] += 0.006f;
    }
    return true;
}

void Candide3Model::setIPD(float newIpd)
{
    if (shapeUnits == nullptr || actionUnits == nullptr || referenceVertices == nullptr || vertices == nullptr)
        return;
    // A distance that is not a positive number cannot be scaled to (nor
    // from).
    if (!(newIpd > 0.0f) || !std::isfinite(newIpd) || !(ipd > 0.0f) || !std::isfinite(ipd))
        return;
    const double b = static_cast<double>(newIpd / ipd);
    cvConvertScale(shapeUnits, shapeUnits, b, 0.0);
    cvConvertScale(actionUnits, actionUnits, b, 0.0);
    cvConvertScale(referenceVertices, referenceVertices, b, 0.0);
    if (CV_ARE_SIZES_EQ(vertices, referenceVertices) && CV_ARE_TYPES_EQ(vertices, referenceVertices))
        cvCopy(referenceVertices, vertices);
    ipd = newIpd;
}

bool Candide3Model::init(const OrvixConfiguration* configuration, const char* /*path*/, MODEL_TYPE type)
{
    if (configuration == nullptr || type < POSE_FITTING_MODEL || type > MESH_FITTING_MODEL)
        return false;
    const ModelConfiguration* config = configuration->getModelConfiguration(type);
    if (config == nullptr)
        return false;

    // The model is built aside and swapped in on success, so a failed load
    // leaves this model as it was.  The eye distance it scales to and the eye
    // openness are this model's.
    Candide3Model model;
    model.ipd = ipd;
    model.eyesOpen[0] = eyesOpen[0];
    model.eyesOpen[1] = eyesOpen[1];

    const std::string folder = config->getFolder();
    if (!model.read_gSuAu_wfm(config->getModelFilename(), folder.c_str()))
        return false;
    const int n = model.vertexCount;
    const int fileAuCount = model.actionUnits != nullptr ? model.actionUnits->cols : 0;
    const int fileSuCount = model.shapeUnits != nullptr ? model.shapeUnits->cols : 0;

    // The configuration's lists are sized by the unit counts it found in the
    // mesh file.  Where a list is shorter than the file's units (the file
    // changed, or the configuration lacks the list), the missing entries take
    // the values of a missing key: unit not used, sensitivity 0; longer lists
    // are cut to the file's units.
    if (fileAuCount > 0)
        model.auUse = intColumnFrom(config->getAuUse(), fileAuCount);
    if (fileSuCount > 0)
        model.suUse = intColumnFrom(config->getSuUse(), fileSuCount);
    model.poseSensitivity = columnFrom(config->getPoseSensitivity(), 6, 0.0f);
    if (fileAuCount > 0)
        model.auSensitivity = columnFrom(config->getAuSensitivity(), fileAuCount, 0.0f);
    if (fileSuCount > 0)
        model.suSensitivity = columnFrom(config->getSuSensitivity(), fileSuCount, 0.0f);

    const std::string fdpPath = folder + config->getFdpFilename();
    model.fdp = new FDP(fdpPath.c_str());
    if (!model.fdp->isInitialized()) {
        printOpenError(fdpPath);
        return false;
    }
    // Every link must name a vertex of this mesh: the fitters and the
    // visibility test index the vertex arrays by it.
    for (int g = FDP::firstGroup; g <= FDP::lastGroup; ++g) {
        for (int i = 1; i <= FDP::groupSize(g); ++i) {
            const FeaturePoint& p = model.fdp->getFP(g, i);
            if (p.defined != 0 && (p.vertexIndex >= n || p.vertexIndex < -1)) {
                std::printf("Candide3Model: feature point %d.%d of %s links vertex %d outside the mesh of %d vertices\n",
                            g, i, fdpPath.c_str(), p.vertexIndex, n);
                std::fflush(stdout);
                return false;
            }
        }
    }

    model.focus = configuration->getCameraFocus();
    model.processEyes = static_cast<int>(configuration->getProcessEyes() & 1u);
    model.scaleToEyeDistance();
    model.loadAuNames(config);

    // Action units in use, with their limits (pairs of the units kept); a
    // pair the configuration lacks is -10, 10.
    const OxCfgArr<float> limits = config->getAuLimit();
    const int a = selectColumns(model.actionUnits, model.auUse);
    if (a > 0) {
        model.auValues = zeroColumn(a);
        model.auLimits = cvCreateMat(2 * a, 1, CV_32FC1);
        int u = 0;
        for (int k = 0; k < fileAuCount; ++k) {
            if (model.auUse->data.i[k] != 1)
                continue;
            const bool given = limits.size > 0 && 2 * k + 1 < limits.size;
            model.auLimits->data.fl[2 * u] = given ? limits.data[2 * k] : -10.0f;
            model.auLimits->data.fl[2 * u + 1] = given ? limits.data[2 * k + 1] : 10.0f;
            ++u;
        }
    }
    const int s = selectColumns(model.shapeUnits, model.suUse);
    if (s > 0)
        model.suValues = zeroColumn(s);

    model.deformedVertices = zeroColumn(3 * n);
    model.transformedVertices = zeroColumn(3 * n);
    model.projectedVertices = zeroColumn(2 * n);
    model.texCoords = zeroColumn(2 * n);
    model.rotationLimits = columnFrom(config->getRotationLimit(), 6, 0.0f);
    model.translationLimits = columnFrom(config->getTranslationLimit(), 6, 0.0f);

    model.scale = 1.0f;
    model.rotation[0] = 0.0f;
    model.rotation[1] = kPi;
    model.rotation[2] = 0.0f;
    model.translation[0] = model.translation[1] = model.translation[2] = 0.0f;
    model.eyeRotation[0] = model.eyeRotation[1] = 0.0f;
    model.initialized = true;
    swap(*this, model);
    return true;
}

bool Candide3Model::initReduced(const Candide3Model* source)
{
    if (source == nullptr)
        return false;
    const int sourceCount = source->vertexCount;
    if (source->fdp == nullptr || !holdsFloats(source->vertices, 3 * sourceCount))
        return false;

    // One new vertex per linked point, groups and indices in order.
    Candide3Model model;
    model.focus = source->focus;
    model.processEyes = source->processEyes;
    // The reduced vertices keep the source's scale, so they keep its eye
    // distance too (a later setIPD rescales from it).
    model.ipd = source->ipd;
    model.fdp = new FDP(*source->fdp);
    std::vector<int> sourceVertex;
    for (int g = FDP::firstGroup; g <= FDP::lastGroup; ++g) {
        for (int i = 1; i <= FDP::groupSize(g); ++i) {
            const int k = linkedVertex(source->fdp, g, i, sourceCount);
            if (k < 0)
                continue;
            model.fdp->setFPSurfVert(g, i, source->fdp->getFP(g, i).surfaceName,
                                     static_cast<int>(sourceVertex.size()));
            sourceVertex.push_back(k);
        }
    }
    const int count = static_cast<int>(sourceVertex.size());
    if (count == 0)
        return false;
    model.vertexCount = count;

    auto pickRows = [&](const CvMat* from) -> CvMat* {
        if (from == nullptr || from->rows != 3 * sourceCount || CV_MAT_TYPE(from->type) != CV_32FC1)
            return nullptr;
        const int cols = from->cols;
        CvMat* to = cvCreateMat(3 * count, cols, CV_32FC1);
        for (int r = 0; r < count; ++r) {
            for (int c = 0; c < 3; ++c) {
                const float* in = from->data.fl + static_cast<std::size_t>(3 * sourceVertex[r] + c) * cols;
                std::memcpy(to->data.fl + static_cast<std::size_t>(3 * r + c) * cols, in, cols * sizeof(float));
            }
        }
        return to;
    };
    model.vertices = pickRows(source->vertices);
    model.referenceVertices = pickRows(source->referenceVertices != nullptr ? source->referenceVertices
                                                                            : source->vertices);
    model.actionUnits = pickRows(source->actionUnits);
    if (model.actionUnits != nullptr) {
        model.auValues = zeroColumn(model.actionUnits->cols);
        model.auUse = cloneOrNull(source->auUse);
    }
    model.shapeUnits = pickRows(source->shapeUnits);
    if (model.shapeUnits != nullptr) {
        model.suValues = zeroColumn(model.shapeUnits->cols);
        model.suUse = cloneOrNull(source->suUse);
    }

    model.poseSensitivity = cloneOrNull(source->poseSensitivity);
    model.auSensitivity = cloneOrNull(source->auSensitivity);
    model.suSensitivity = cloneOrNull(source->suSensitivity);
    model.rotationLimits = cloneOrNull(source->rotationLimits);
    model.translationLimits = cloneOrNull(source->translationLimits);
    model.auLimits = cloneOrNull(source->auLimits);

    // Names: as many as the source's action-unit flags, empty where the
    // source has fewer names.
    if (source->auNames != nullptr && source->auNameCount > 0) {
        const int names = source->auUse != nullptr ? elementCount(source->auUse) : source->auNameCount;
        if (names > 0) {
            model.auNames = new char*[names]();
            model.auNameCount = names;
            for (int k = 0; k < names; ++k)
                model.auNames[k] = copyString(k < source->auNameCount ? source->auNames[k] : "");
        }
    }

    model.faces = zeroIntColumn(3);
    model.deformedVertices = zeroColumn(3 * count);
    model.transformedVertices = zeroColumn(3 * count);
    model.projectedVertices = zeroColumn(2 * count);
    model.texCoords = zeroColumn(2 * count);

    model.scale = 1.0f;
    model.rotation[0] = 0.0f;
    model.rotation[1] = kPi;
    model.rotation[2] = 0.0f;
    model.eyeRotation[0] = model.eyeRotation[1] = 0.0f;
    model.initialized = true;
    swap(*this, model);
    return true;
}

// ---------------------------------------------------------------------------
// Eyes

void Candide3Model::estimate_eye_rotations(CvMat* pupils, int* indices)
{
    const int n = vertexCount;
    const int vertex[2] = {linkedVertex(fdp, 3, 5, n), linkedVertex(fdp, 3, 6, n)};
    if (pupils == nullptr || CV_MAT_TYPE(pupils->type) != CV_32FC1 || vertex[0] < 0 || vertex[1] < 0 ||
        !holdsFloats(deformedVertices, 3 * n))
        return;
    // Measured pupils: rows of a two-column matrix, or consecutive float
    // pairs of a vector.
    float measured[2][2];
    for (int e = 0; e < 2; ++e) {
        const int row = indices != nullptr ? indices[e] : e;
        if (row < 0)
            return;
        if (pupils->cols == 2) {
            if (row >= pupils->rows)
                return;
            const float* p = reinterpret_cast<const float*>(pupils->data.ptr + static_cast<std::size_t>(row) * pupils->step);
            measured[e][0] = p[0];
            measured[e][1] = p[1];
        } else {
            if (!CV_IS_MAT_CONT(pupils->type) || 2 * row + 1 >= elementCount(pupils))
                return;
            measured[e][0] = pupils->data.fl[2 * row];
            measured[e][1] = pupils->data.fl[2 * row + 1];
        }
    }

    const PoseRotation r(rotation);
    float best[2] = {10000.0f, 10000.0f};
    float bestAngles[2][2] = {{0.0f, 0.0f}, {0.0f, 0.0f}};
    for (int pitchDeg = -25; pitchDeg <= 30; ++pitchDeg) {
        const float p = static_cast<float>(pitchDeg) * kPi / 180.0f;
        for (int yawDeg = -45; yawDeg <= 45; ++yawDeg) {
            const float y = static_cast<float>(yawDeg) * kPi / 180.0f;
            const float offset[3] = {0.012f * std::cos(p) * std::sin(y), 0.0035f - 0.012f * std::sin(p),
                                     0.012f * std::cos(p) * std::cos(y) - 0.007f};
            for (int e = 0; e < 2; ++e) {
                const float* v = deformedVertices->data.fl + 3 * vertex[e];
                const float moved[3] = {v[0] + offset[0], v[1] + offset[1], v[2] + offset[2]};
                float posed[3];
                float image[2];
                r.pose(moved, scale, translation, posed);
                project(posed, focus, image);
                const float distance = std::hypot(image[0] - measured[e][0], image[1] - measured[e][1]);
                if (distance < best[e]) {
                    best[e] = distance;
                    bestAngles[e][0] = p;
                    bestAngles[e][1] = y;
                }
            }
        }
    }

    const float headYaw = (rotation[1] - kPi - std::atan2(translation[0], translation[2])) * 180.0f / kPi;
    if (headYaw < -15.0f) {
        eyeRotation[0] = bestAngles[0][0];
        eyeRotation[1] = bestAngles[0][1];
    } else if (headYaw > 15.0f) {
        eyeRotation[0] = bestAngles[1][0];
        eyeRotation[1] = bestAngles[1][1];
    } else {
        eyeRotation[0] = (bestAngles[0][0] + bestAngles[1][0]) / 2.0f;
        eyeRotation[1] = (bestAngles[0][1] + bestAngles[1][1]) / 2.0f;
    }
}

// ---------------------------------------------------------------------------
// Texture coordinates and visibility

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

void Candide3Model::setFDPPointVisibility(const FDP* in, FDP& out) const
{
    if (in == nullptr)
        return;
    if (&out != in)
        out = *in;
    const int n = vertexCount;
    if (fdp == nullptr || !holdsInts(faces, 0) || !holdsFloats(transformedVertices, 3 * n))
        return;
    const int triangleCount = elementCount(faces) / 3;
    const int* tri = faces->data.i;
    const float* t = transformedVertices->data.fl;
    for (int g = FDP::firstGroup; g <= FDP::lastGroup; ++g) {
        for (int i = 1; i <= FDP::groupSize(g); ++i) {
            const int k = linkedVertex(fdp, g, i, n);
            if (k < 0)
                continue;
            float sum[3] = {0.0f, 0.0f, 0.0f};
            int count = 0;
            for (int f = 0; f < triangleCount; ++f) {
                const int a = tri[3 * f];
                const int b = tri[3 * f + 1];
                const int c = tri[3 * f + 2];
                if (a != k && b != k && c != k)
                    continue;
                // Face lists are checked when a mesh is read; a triangle
                // that still names a vertex outside the mesh (a face list
                // changed by hand) is skipped.
                if (a < 0 || a >= n || b < 0 || b >= n || c < 0 || c >= n)
                    continue;
                float ab[3], ac[3], normal[3];
                for (int j = 0; j < 3; ++j) {
                    ab[j] = t[3 * b + j] - t[3 * a + j];
                    ac[j] = t[3 * c + j] - t[3 * a + j];
                }
                cross(normal, ab, ac);
                normalize(normal);
                for (int j = 0; j < 3; ++j)
                    sum[j] += normal[j];
                ++count;
            }
            if (count == 0)
                continue;
            const float mx = sum[0] / static_cast<float>(count);
            const float my = sum[1] / static_cast<float>(count);
            const float mz = sum[2] / static_cast<float>(count);
            const float elevation = std::atan2(mz, std::sqrt(mx * mx + my * my));
            const bool wideAngle = (g == 3 && (i == 7 || i == 12)) || (g == 8 && (i == 5 || i == 6));
            const float threshold = wideAngle ? 0.785f : 1.0466667f;
            if (elevation < threshold) {
                out.setFP(g, i, in->getFP(g, i));
                out.getFP(g, i).defined = 0;
            }
        }
    }
}

}  // namespace OrvixSDK
