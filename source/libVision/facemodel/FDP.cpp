#include "OrvixSDK/FDP.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <initializer_list>
#include <locale>
#include <string>
#include <system_error>

namespace OrvixSDK {

const int FDP::groupSizes[FDP::groupCount] = {
    0, 0, 14, 14, 6, 4, 4, 1, 10, 15, 24, 6, 47, 17, 26, 17, 28, 20,
};

namespace {

// Returned by the name-form getters for names that are not valid points.
const FeaturePoint invalidPoint{};

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

bool isAsciiLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

const char* skipBlanks(const char* p, const char* end)
{
    while (p < end && isBlank(*p))
        ++p;
    return p;
}

// Number readers over [p, end) in the "C" number format whatever the global
// locale: leading blanks and a '+' are skipped like scanf does.  On success p
// moves behind the number; on failure (no number, or one that does not fit
// the type) the result is false and p is left where it was.
template <typename T>
bool readNumber(const char*& p, const char* end, T& value)
{
    const char* q = skipBlanks(p, end);
    if (q < end && *q == '+' && q + 1 < end && q[1] != '-')
        ++q;
    T parsed{};
    const std::from_chars_result result = std::from_chars(q, end, parsed);
    if (result.ec != std::errc())
        return false;
    value = parsed;
    p = result.ptr;
    return true;
}

// atoi-like conversion of a whole string part; false when it holds no number
// or one that does not fit in an int.
bool parseIntPart(const std::string& text, int& value)
{
    const char* p = text.data();
    value = 0;
    int parsed = 0;
    if (!readNumber(p, text.data() + text.size(), parsed))
        return false;
    value = parsed;
    return true;
}

bool containsIndex(std::initializer_list<int> list, int index)
{
    for (int entry : list) {
        if (entry == index)
            return true;
    }
    return false;
}

// Looks index up in a list of mirror pairs (each pair works both ways).
int mirrorFromPairs(const int (*pairs)[2], int pairCount, int index)
{
    for (int k = 0; k < pairCount; ++k) {
        if (pairs[k][0] == index)
            return pairs[k][1];
        if (pairs[k][1] == index)
            return pairs[k][0];
    }
    return -1;
}

// Rounds to the nearest int, halves to even, clamped to the int range (NaN
// gives 0) so that wild positions cannot overflow the conversion.
int roundToInt(double value)
{
    const double rounded = std::nearbyint(value);
    if (!(rounded == rounded))
        return 0;
    if (rounded <= static_cast<double>(INT_MIN))
        return INT_MIN;
    if (rounded >= static_cast<double>(INT_MAX))
        return INT_MAX;
    return static_cast<int>(rounded);
}

}  // namespace

// ---------------------------------------------------------------------------
// Construction and copying

FDP::FDP()
    : normalized(false), initialized(true)
{
    fileName[0] = '\0';
    for (int g = 0; g < groupCount; ++g)
        groups[g] = groupSizes[g] > 0 ? new FeaturePoint[groupSizes[g]] : nullptr;
}

FDP::FDP(const char* path)
    : FDP()
{
    initialized = (readFromFile(path) == 1);
}

FDP::FDP(const FDP& other)
    : FDP()
{
    *this = other;
}

FDP& FDP::operator=(const FDP& other)
{
    if (this == &other)
        return *this;
    for (int g = firstGroup; g <= lastGroup; ++g) {
        for (int i = 0; i < groupSizes[g]; ++i)
            groups[g][i] = other.groups[g][i];
    }
    std::memcpy(fileName, other.fileName, sizeof(fileName));
    normalized = other.normalized;
    initialized = other.initialized;
    return *this;
}

FDP::~FDP()
{
    for (int g = 0; g < groupCount; ++g)
        delete[] groups[g];
}

// ---------------------------------------------------------------------------
// Names and tables

int FDP::groupSize(int group)
{
    if (group < firstGroup || group > lastGroup)
        return 0;
    return groupSizes[group];
}

bool FDP::FPIsValid(int group, int index)
{
    return group >= firstGroup && group <= lastGroup && index >= 1 && index <= groupSizes[group];
}

bool FDP::FPIsValid(const std::string& name)
{
    int group = 0;
    int index = 0;
    return parseFPName(name, group, index) && FPIsValid(group, index);
}

bool FDP::parseFPName(const std::string& name, int& group, int& index)
{
    const std::string::size_type dot = name.find('.');
    if (dot == std::string::npos) {
        group = 0;
        index = 0;
        return false;
    }
    const bool groupRead = parseIntPart(name.substr(0, dot), group);
    const bool indexRead = parseIntPart(name.substr(dot + 1), index);
    return groupRead && indexRead;
}

std::string FDP::getFPName(int group, int index)
{
    return std::to_string(group) + "." + std::to_string(index);
}

int FDP::getPointType(int group, int index)
{
    if (!FPIsValid(group, index))
        return -1;
    const bool odd = (index % 2) == 1;
    switch (group) {
    case 2:
        if (index <= 3)
            return 2;
        if (index <= 9)
            return odd ? 3 : 1;
        return -1;
    case 3:
    case 4:
    case 10:
    case 16:
        return odd ? 1 : 3;
    case 8:
        if (index <= 2)
            return 2;
        return containsIndex({3, 5, 7, 10}, index) ? 1 : 3;
    case 9:
        if (index == 3 || index == 15)
            return 2;
        if (index == 1 || index == 5)
            return 1;
        if (index == 2 || index == 4)
            return 3;
        return -1;
    case 12:
        if (index >= 5 && index <= 12)
            return odd ? 1 : 3;
        return -1;
    case 13:
    case 15:
        if (index == 17)
            return 2;
        return odd ? 1 : 3;
    case 14:
        if (index >= 21 && index <= 25)
            return 2;
        if (index == 26)
            return -1;
        return containsIndex({1, 3, 5, 7, 10, 11, 14, 16, 18, 20}, index) ? 1 : 3;
    case 17:
        if (index <= 4)
            return -1;
        return containsIndex({5, 7, 10, 11, 14, 16, 18, 20}, index) ? 1 : 3;
    default:  // groups 5, 6, 7 and 11
        return -1;
    }
}

int FDP::getMirrorPointIndex(int group, int index)
{
    const int type = getPointType(group, index);
    if (type == 2)
        return index;
    if (type == -1)
        return -1;

    static const int group2[][2] = {{4, 5}, {6, 7}, {8, 9}};
    static const int group3[][2] = {{1, 2}, {3, 4}, {5, 6}, {7, 12}, {8, 11}, {9, 10}, {13, 14}};
    static const int group9[][2] = {{1, 2}, {4, 5}};
    static const int group12[][2] = {{5, 10}, {6, 9}, {7, 12}, {8, 11}};
    // Entry i - 1 holds the mirror point of 16.i.
    static const int group16[28] = {6,  5,  8,  7,  2,  1,  4,  3,  22, 21, 24, 23, 18, 17,
                                    20, 19, 14, 13, 16, 15, 10, 9,  12, 11, 28, 27, 26, 25};
    switch (group) {
    case 2:
        return mirrorFromPairs(group2, 3, index);
    case 3:
        return mirrorFromPairs(group3, 7, index);
    case 9:
        return mirrorFromPairs(group9, 2, index);
    case 12:
        return mirrorFromPairs(group12, 4, index);
    case 16:
        return group16[index - 1];
    default:
        // Groups 4, 8, 10, 13, 14, 15 and 17 pair each odd index with the
        // next even one.
        return (index % 2 == 1) ? index + 1 : index - 1;
    }
}

// ---------------------------------------------------------------------------
// Point accessors

const FeaturePoint& FDP::getFP(int group, int index) const
{
    return groups[group][index - 1];
}

FeaturePoint& FDP::getFP(int group, int index)
{
    return groups[group][index - 1];
}

const FeaturePoint& FDP::getFP(const char* name) const
{
    return getFP(std::string(name ? name : ""));
}

const FeaturePoint& FDP::getFP(const std::string& name) const
{
    int group = 0;
    int index = 0;
    if (!parseFPName(name, group, index) || !FPIsValid(group, index))
        return invalidPoint;
    return getFP(group, index);
}

void FDP::setFP(int group, int index, const FeaturePoint& point)
{
    groups[group][index - 1] = point;
}

void FDP::setFP(const char* name, const FeaturePoint& point)
{
    setFP(std::string(name ? name : ""), point);
}

void FDP::setFP(const std::string& name, const FeaturePoint& point)
{
    int group = 0;
    int index = 0;
    if (parseFPName(name, group, index) && FPIsValid(group, index))
        setFP(group, index, point);
}

const float* FDP::getFPPos(int group, int index) const
{
    return groups[group][index - 1].position;
}

const float* FDP::getFPPos(const char* name) const
{
    return getFP(name).position;
}

const float* FDP::getFPPos(const std::string& name) const
{
    return getFP(name).position;
}

void FDP::setFPPos(int group, int index, const float* xyz)
{
    setFPPos(group, index, xyz[0], xyz[1], xyz[2]);
}

void FDP::setFPPos(int group, int index, float x, float y, float z)
{
    FeaturePoint& point = groups[group][index - 1];
    point.position[0] = x;
    point.position[1] = y;
    point.position[2] = z;
    point.defined = 1;
}

void FDP::setFPPos(const char* name, const float* xyz)
{
    setFPPos(std::string(name ? name : ""), xyz);
}

void FDP::setFPPos(const std::string& name, const float* xyz)
{
    int group = 0;
    int index = 0;
    if (parseFPName(name, group, index) && FPIsValid(group, index))
        setFPPos(group, index, xyz);
}

void FDP::setFPPos(const char* name, float x, float y, float z)
{
    setFPPos(std::string(name ? name : ""), x, y, z);
}

void FDP::setFPPos(const std::string& name, float x, float y, float z)
{
    int group = 0;
    int index = 0;
    if (parseFPName(name, group, index) && FPIsValid(group, index))
        setFPPos(group, index, x, y, z);
}

bool FDP::FPIsDefined(int group, int index) const
{
    return groups[group][index - 1].defined != 0;
}

bool FDP::FPIsDefined(const char* name) const
{
    return getFP(name).defined != 0;
}

bool FDP::FPIsDefined(const std::string& name) const
{
    return getFP(name).defined != 0;
}

bool FDP::FPIsDetected(int group, int index) const
{
    return groups[group][index - 1].detected != 0;
}

bool FDP::FPIsDetected(const char* name) const
{
    return getFP(name).detected != 0;
}

bool FDP::FPIsDetected(const std::string& name) const
{
    return getFP(name).detected != 0;
}

void FDP::setFPQuality(int group, int index, float quality)
{
    groups[group][index - 1].quality = quality;
}

void FDP::setFPQuality(const char* name, float quality)
{
    setFPQuality(std::string(name ? name : ""), quality);
}

void FDP::setFPQuality(const std::string& name, float quality)
{
    int group = 0;
    int index = 0;
    if (parseFPName(name, group, index) && FPIsValid(group, index))
        setFPQuality(group, index, quality);
}

float FDP::getFPQuality(int group, int index) const
{
    return groups[group][index - 1].quality;
}

float FDP::getFPQuality(const char* name) const
{
    return getFP(name).quality;
}

float FDP::getFPQuality(const std::string& name) const
{
    return getFP(name).quality;
}

void FDP::setFPSurfVert(int group, int index, const std::string& surface, int vertex)
{
    FeaturePoint& point = groups[group][index - 1];
    point.surfaceName = surface;
    point.vertexIndex = vertex;
    point.defined = 1;
}

void FDP::setFPSurfVert(const char* name, const std::string& surface, int vertex)
{
    setFPSurfVert(std::string(name ? name : ""), surface, vertex);
}

void FDP::setFPSurfVert(const std::string& name, const std::string& surface, int vertex)
{
    int group = 0;
    int index = 0;
    if (parseFPName(name, group, index) && FPIsValid(group, index))
        setFPSurfVert(group, index, surface, vertex);
}

bool FDP::getFPSurfVert(int group, int index, std::string& surface, int& vertex) const
{
    const FeaturePoint& point = groups[group][index - 1];
    if (point.defined == 0)
        return false;
    surface = point.surfaceName;
    vertex = point.vertexIndex;
    return point.vertexIndex != -1;
}

bool FDP::getFPSurfVert(const char* name, std::string& surface, int& vertex) const
{
    return getFPSurfVert(std::string(name ? name : ""), surface, vertex);
}

bool FDP::getFPSurfVert(const std::string& name, std::string& surface, int& vertex) const
{
    int group = 0;
    int index = 0;
    if (!parseFPName(name, group, index) || !FPIsValid(group, index))
        return false;
    return getFPSurfVert(group, index, surface, vertex);
}

void FDP::reset()
{
    for (int g = firstGroup; g <= lastGroup; ++g) {
        for (int i = 0; i < groupSizes[g]; ++i) {
            FeaturePoint& point = groups[g][i];
            point.position[0] = point.position[1] = point.position[2] = 0.0f;
            point.defined = 0;
            point.detected = 0;
            point.reserved0 = 0;
            point.reserved1 = 0;
            point.surfaceName.clear();
            point.vertexIndex = -1;
        }
    }
    normalized = false;
}

// ---------------------------------------------------------------------------
// Files

bool FDP::storeFileName(const char* path)
{
    if (path == nullptr)
        return false;
    const std::size_t length = std::strlen(path);
    if (length >= sizeof(fileName))
        return false;
    // memmove: path may be fileName itself.
    std::memmove(fileName, path, length + 1);
    return true;
}

namespace {

// Reads one point line after the version line into the set.  Lines that are
// blank, hold a '#', begin with a letter, name no valid point, or whose
// numbers cannot be read are ignored, as are lines whose three coordinates
// are all below -9999.  Sets linkMissing when a point was set without a
// readable surface link.
void readPointLine(FDP& set, const std::string& line, bool& linkMissing)
{
    const char* p = line.data();
    const char* end = p + line.size();
    if (skipBlanks(p, end) == end)
        return;
    if (line.find('#') != std::string::npos || isAsciiLetter(line[0]))
        return;

    int group = 0;
    int index = 0;
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;
    if (!readNumber(p, end, group))
        return;
    if (p == end)
        return;
    ++p;  // the separator between group and index
    if (!readNumber(p, end, index) || !readNumber(p, end, x) || !readNumber(p, end, y) ||
        !readNumber(p, end, z))
        return;
    if (!FDP::FPIsValid(group, index))
        return;
    if (x < -9999.0f && y < -9999.0f && z < -9999.0f)
        return;
    set.setFPPos(group, index, x, y, z);

    // Optional surface link "s.v" after the coordinates.
    if (std::find(p, end, '.') == end) {
        linkMissing = true;
        return;
    }
    int surface = 0;
    if (!readNumber(p, end, surface)) {
        linkMissing = true;
        return;
    }
    if (surface < 0) {
        set.setFPSurfVert(group, index, "", -1);
        return;
    }
    int vertex = 0;
    if (p == end) {
        linkMissing = true;
        return;
    }
    ++p;  // the separator between surface and vertex
    if (!readNumber(p, end, vertex)) {
        linkMissing = true;
        return;
    }
    set.setFPSurfVert(group, index, std::to_string(surface), vertex);
}

}  // namespace

int FDP::readFromFile(const char* path)
{
    if (path == nullptr) {
        std::printf("FDP::readFromFile: Could not open the FDP file %s! (file missing?)\n", "(null)");
        return 0;
    }
    // The path is stored in fileName, and a later saveToFile() writes there:
    // a path that does not fit is refused rather than cut, since a cut path
    // names a different file.
    if (std::strlen(path) >= sizeof(fileName)) {
        std::printf("FDP::readFromFile: The path of the FDP file is too long: %s\n", path);
        return 0;
    }
    std::ifstream in(path, std::ios::in | std::ios::binary);
    if (!in) {
        std::printf("FDP::readFromFile: Could not open the FDP file %s! (file missing?)\n", path);
        return 0;
    }

    std::string line;
    bool versionFound = false;
    while (std::getline(in, line)) {
        if (line.size() <= 1 || line[0] == '#')
            continue;
        if (line.find("1.0") == std::string::npos) {
            std::printf("Error 072\nFDP file format error: wrong version!\n");
            return 0;
        }
        versionFound = true;
        break;
    }

    bool linkMissing = false;
    if (versionFound) {
        while (std::getline(in, line))
            readPointLine(*this, line, linkMissing);
    }
    // A read error (a folder, an unreadable device) is not an empty file.
    if (in.bad()) {
        std::printf("FDP::readFromFile: Could not open the FDP file %s! (file missing?)\n", path);
        return 0;
    }
    storeFileName(path);
    return linkMissing ? -1 : 1;
}

bool FDP::saveToFile() const
{
    if (fileName[0] == '\0')
        return false;
    std::ofstream out(fileName, std::ios::out | std::ios::trunc);
    if (!out)
        return false;
    // Numbers are always written with a '.' whatever the global locale.
    out.imbue(std::locale::classic());
    out << "# FDP file.\n";
    out << "1.0 " << fileName << " 0 0 0 0 0 0\n";
    for (int g = firstGroup; g <= lastGroup; ++g) {
        for (int i = 1; i <= groupSizes[g]; ++i) {
            const FeaturePoint& point = groups[g][i - 1];
            if (point.defined == 0)
                continue;
            out << "    " << g << "." << i << " " << point.position[0] << " " << point.position[1] << " "
                << point.position[2] << " " << "\n";
        }
    }
    out.close();
    return !out.fail();
}

bool FDP::saveToFile(const char* path)
{
    if (!storeFileName(path))
        return false;
    return saveToFile();
}

bool FDP::createNewFile(const char* path)
{
    std::printf("FDP::CreateNewFile: Creating a new fdp file\n");
    if (path == nullptr || std::strlen(path) >= sizeof(fileName))
        return false;
    bool written = false;
    {
        std::ofstream out(path, std::ios::out | std::ios::trunc);
        if (out) {
            out << "# FDP file, created by orvix|annotator.\n";
            out << "1.0 " << path << " 0 0 0 0 0 0\n";
            out.close();
            written = !out.fail();
        }
    }
    readFromFile(path);
    return written;
}

void FDP::print() const
{
    if (!initialized) {
        std::printf("FDP::Print: FDP structure not initialized.\n");
        return;
    }
    std::printf("defined FDP:\n");
    for (int g = firstGroup; g <= lastGroup; ++g) {
        for (int i = 1; i <= groupSizes[g]; ++i) {
            const FeaturePoint& point = groups[g][i - 1];
            if (point.defined == 0)
                continue;
            std::printf("fdp: %d.%d %.3f %.3f %.3f\n", g, i, static_cast<double>(point.position[0]),
                        static_cast<double>(point.position[1]), static_cast<double>(point.position[2]));
        }
    }
    std::printf("\n");
}

// ---------------------------------------------------------------------------
// Free functions

bool getFeaturePointFromFDP(CvPoint& out, const FDP* points, int group, int index, int width, int height,
                            bool flipY)
{
    if (points == nullptr || !FDP::FPIsValid(group, index))
        return false;
    const float* position = points->getFPPos(group, index);
    const double x = static_cast<double>(position[0]);
    const double y = static_cast<double>(position[1]);
    out.x = roundToInt(width * x);
    out.y = roundToInt(height * (flipY ? 1.0 - y : y));
    return points->FPIsDefined(group, index);
}

char* getNextNumberString(char* text, char* rest)
{
    static char emptyToken[1] = {'\0'};
    if (text == nullptr) {
        if (rest != nullptr)
            rest[0] = '\0';
        return emptyToken;
    }
    char* token = text;
    while (*token != '\0' && isBlank(*token))
        ++token;
    char* tokenEnd = token;
    while (*tokenEnd != '\0' && !isBlank(*tokenEnd))
        ++tokenEnd;
    if (*tokenEnd == '\0') {
        if (rest != nullptr)
            rest[0] = '\0';
        return token;
    }
    *tokenEnd = '\0';
    const char* after = tokenEnd + 1;
    if (rest != nullptr)
        std::memmove(rest, after, std::strlen(after) + 1);
    return token;
}

float getNextNumber(char* text, char* rest)
{
    const char* token = getNextNumberString(text, rest);
    const char* p = token;
    float value = 0.0f;
    if (!readNumber(p, token + std::strlen(token), value))
        return 0.0f;
    return value;
}

}  // namespace OrvixSDK
