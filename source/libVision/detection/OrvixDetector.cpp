#include "detection/OrvixDetector.h"

#include <cstdint>
#include <cstring>
#include <string>

#include "OrvixSDK/FDP.h"
#include "OrvixSDK/MathUtils.h"
#include "detection/AlignmentUtils.h"
#include "detection/DeepAlignmentData.h"
#include "detection/DeepAlignmentRuntime.h"
#include "detection/OpenNetwork.h"
#include "detection/ONNFaceFinderData.h"
#include "detection/ONNTrackerCore.h"
#include "onn/NNFrontend.h"
#include "onn/NNInterfaces.h"
#include "onn/ONNInit.h"

namespace OrvixSDK {

namespace {

// Start of the running key of the packed point buffer.  Odd, so that no key
// of the squaring sequence becomes 0.
const uint32_t kPackKeyStart = 0x2545F491u;

uint32_t floatBits(float value)
{
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof(bits));
    return bits;
}

float bitsFloat(uint32_t bits)
{
    float value;
    std::memcpy(&value, &bits, sizeof(value));
    return value;
}

}  // namespace

OrvixDetector::OrvixDetector(const char* faceDetectorPath)
    : sensitivity(0.75f), qualityThreshold(0.5125f), refinePupils(false), refineEars(false), useONN(0),
      frontalEarsCascade(nullptr), profileEarsCascade(nullptr), alignData(nullptr), faceFinderData(nullptr),
      pupilFrontend(nullptr)
{
    MathUtils::smwcrand(124243, 143556);
    ONNInit(folderPath(faceDetectorPath) + "/../../");
}

OrvixDetector::~OrvixDetector()
{
    // Non-virtual calls: a stand-in's overrides are gone by now.
    OrvixDetector::deleteAlignData();
    OrvixDetector::deleteFaceDetectorData();
    OrvixDetector::deletePupilNNModel();
    OrvixDetector::deleteEarsCascades();
}

std::string OrvixDetector::folderPath(const char* path)
{
    return std::string(path != nullptr ? path : "");
}

void OrvixDetector::loadFaceDetectorData(const char* path)
{
    if (faceFinderData == nullptr)
        faceFinderData = new ONNFaceFinderData(folderPath(path) + "/ff");
}

void OrvixDetector::deleteFaceDetectorData()
{
    delete faceFinderData;
    faceFinderData = nullptr;
}

void OrvixDetector::loadAlignData(const char* path)
{
    if (alignData == nullptr)
        alignData = new DeepAlignmentData(folderPath(path), useONN > 1);
}

void OrvixDetector::deleteAlignData()
{
    delete alignData;
    alignData = nullptr;
}

// A pupil network that cannot be opened is reported with the runner-failure
// message and stays absent, so isInitialized names it and the owner gives up
// its initialisation.
void OrvixDetector::loadPupilNNModel(const char* path)
{
    if (pupilFrontend != nullptr)
        return;
    const std::string modelPath = folderPath(path) + "/pr";
    pupilFrontend = openNetwork(modelPath);
}

void OrvixDetector::deletePupilNNModel()
{
    delete pupilFrontend;
    pupilFrontend = nullptr;
}

// The ear cascades are not part of this build: they stay absent, and
// isInitialized names them when ear refinement is wanted.
void OrvixDetector::loadEarsCascades(const char* /*path*/)
{
}

void OrvixDetector::deleteEarsCascades()
{
    frontalEarsCascade = nullptr;
    profileEarsCascade = nullptr;
}

int OrvixDetector::isInitialized()
{
    int missing = 0;
    // Absent data counts as not loaded.
    if (faceFinderData == nullptr || !faceFinderData->isLoaded())
        missing |= 1;
    if (alignData == nullptr || !alignData->isLoaded())
        missing |= 2;
    if (refinePupils) {
        ONN::INNModel* model = pupilFrontend != nullptr ? pupilFrontend->GetModel() : nullptr;
        if (model == nullptr || !model->IsLoaded())
            missing |= 8;
    }
    if (refineEars && (frontalEarsCascade == nullptr || profileEarsCascade == nullptr))
        missing |= 4;
    return missing;
}

OrvixTrackerCore* OrvixDetector::createTrackerCore()
{
    if ((OrvixDetector::isInitialized() & 3) != 0)
        return nullptr;
    return new ONNTrackerCore(this);
}

bool OrvixDetector::detectPointsONN(const IplImage* image, CvRect face, DeepAlignmentRuntime* runtime, FDP* points,
                                    float& quality)
{
    if (points == nullptr)
        return false;
    points->reset();
    if (runtime == nullptr)
        return false;
    const bool ok = runtime->findLandmarkPoints(image, face, points, quality);
    if (ok)
        setMatchingPoints(points);
    return ok;
}

bool OrvixDetector::detectFeaturePointsONN(const IplImage* image, const CvRect& face, DeepAlignmentRuntime* runtime,
                                           FDP* points, float& quality, bool twoPasses, bool checkQuality)
{
    bool ok = detectPointsONN(image, face, runtime, points, quality);
    if (!ok)
        return false;
    if (twoPasses && image != nullptr) {
        CvRect box = face;
        if (AlignmentUtils::calculateMinMaxBoundingBox(image->width, image->height, points, &box))
            ok = detectPointsONN(image, box, runtime, points, quality);
    }
    if (checkQuality && qualityThreshold > AlignmentUtils::calculateTrackingQuality(points))
        return false;
    return ok;
}

void OrvixDetector::setMatchingPoints(FDP* points)
{
    if (points == nullptr)
        return;
    struct Rule
    {
        const char* target;
        const char* candidates[2];
    };
    static const Rule rules[] = {
        {"2.1", {"13.17", "15.17"}}, {"13.17", {"2.1", "15.17"}}, {"15.17", {"13.17", "2.1"}},
        {"9.3", {"14.21", nullptr}}, {"14.21", {"9.3", nullptr}},  {"9.12", {"14.23", nullptr}},
        {"14.23", {"9.12", nullptr}},
    };
    for (const Rule& rule : rules) {
        const FeaturePoint& target = points->getFP(rule.target);
        if (target.defined || target.detected)
            continue;
        for (const char* name : rule.candidates) {
            if (name == nullptr)
                break;
            const FeaturePoint& candidate = points->getFP(name);
            if (candidate.defined && candidate.detected) {
                const FeaturePoint copy = candidate;
                points->setFP(rule.target, copy);
                break;
            }
        }
    }
}

bool OrvixDetector::calculateBoundingBox(int width, int height, FDP* points, CvRect* box, bool flipY)
{
    return AlignmentUtils::calculateBoundingBox(width, height, points, box, flipY, 1.0f);
}

bool OrvixDetector::calculateMinMaxBoundingBox(int width, int height, FDP* points, CvRect* box)
{
    return AlignmentUtils::calculateMinMaxBoundingBox(width, height, points, box);
}

void OrvixDetector::setDetectorSensitivity(float s)
{
    if (!(s >= 0.0f))
        s = 0.0f;
    else if (s > 1.0f)
        s = 1.0f;
    sensitivity = s;
    qualityThreshold = 0.35f + 0.65f * (1.0f - s);
}

unsigned OrvixDetector::transformData(FDP* points, int* buffer, bool pack)
{
    if (points == nullptr || buffer == nullptr)
        return 0;
    uint32_t key = kPackKeyStart;
    unsigned used = 0;
    for (int g = FDP::firstGroup; g <= FDP::lastGroup; ++g) {
        for (int i = 1; i <= FDP::groupSize(g); ++i) {
            uint32_t k[4];
            k[0] = key;
            k[1] = k[0] * k[0];
            k[2] = k[1] * k[1];
            k[3] = k[2] * k[2];
            key = k[3] * k[3];
            int* slot = buffer + used;
            if (pack) {
                const FeaturePoint& p = points->getFP(g, i);
                for (int c = 0; c < 3; ++c)
                    slot[c] = static_cast<int>(floatBits(p.position[c]) ^ k[c]);
                slot[3] = static_cast<int>(floatBits(p.quality) ^ k[3]);
            } else {
                float xyz[3];
                for (int c = 0; c < 3; ++c)
                    xyz[c] = bitsFloat(static_cast<uint32_t>(slot[c]) ^ k[c]);
                points->setFPPos(g, i, xyz);
                points->setFPQuality(g, i, bitsFloat(static_cast<uint32_t>(slot[3]) ^ k[3]));
            }
            used += 4;
        }
    }
    return used;
}

unsigned OrvixDetector::transformData(FDP* first, FDP* second, int* buffer, bool pack)
{
    const unsigned used = transformData(first, buffer, pack);
    if (used == 0 || second == nullptr)
        return used;
    return used + transformData(second, buffer + used, pack);
}

}  // namespace OrvixSDK
