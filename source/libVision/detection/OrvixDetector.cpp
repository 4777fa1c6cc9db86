#include "detection/OrvixDetector.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "OrvixSDK/FDP.h"
#include "OrvixSDK/MathUtils.h"
#include "detection/ModelKey.h"
#include "onn/NNFrontend.h"
#include "onn/NNInterfaces.h"
#include "onn/ONNIEChooser.h"
#include "onn/ONNInit.h"
#include "support/Common.h"

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
    ONNInit(std::string(faceDetectorPath != nullptr ? faceDetectorPath : "") + "/../../");
}

OrvixDetector::~OrvixDetector()
{
    // Non-virtual calls: a stand-in's overrides are gone by now.
    OrvixDetector::deleteAlignData();
    OrvixDetector::deleteFaceDetectorData();
    OrvixDetector::deletePupilNNModel();
    OrvixDetector::deleteEarsCascades();
}

// The face-finder data, the alignment data and the ear cascades are not part
// of this build: nothing can be loaded into these members, so they stay
// null and isInitialized reports them missing.
void OrvixDetector::loadFaceDetectorData(const char* /*path*/)
{
}

void OrvixDetector::deleteFaceDetectorData()
{
    faceFinderData = nullptr;
}

void OrvixDetector::loadAlignData(const char* /*path*/)
{
}

void OrvixDetector::deleteAlignData()
{
    alignData = nullptr;
}

// A pupil network that cannot be opened is reported with the runner-failure
// message and stays absent, so isInitialized names it and the owner gives up
// its initialisation.
void OrvixDetector::loadPupilNNModel(const char* path)
{
    if (pupilFrontend != nullptr)
        return;
    const std::string modelPath = std::string(path != nullptr ? path : "") + "/pr";
    std::vector<unsigned char> key = Key::buildModelKey();
    ONN::ONNIEChooser chooser;
    pupilFrontend = chooser.Create(modelPath.c_str(), key.data(), static_cast<int>(key.size()));
    if (pupilFrontend == nullptr)
        Common::displayErrorMessageAndExit(&chooser, modelPath);
}

void OrvixDetector::deletePupilNNModel()
{
    delete pupilFrontend;
    pupilFrontend = nullptr;
}

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
    if (faceFinderData == nullptr)
        missing |= 1;
    if (alignData == nullptr)
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
    // No core can be built without the network data.
    return nullptr;
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
