// orvix-inspect: reads a tracker configuration file and a feature-point file
// and prints what the SDK makes of them.

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "OrvixSDK/FDP.h"
#include "OrvixSDK/OrvixConfiguration.h"
#include "config/ModelConfiguration.h"

using namespace OrvixSDK;

namespace {

const char* const kUsage =
    "usage: orvix-inspect [--config FILE] [--fdp FILE] [FILE ...]\n"
    "\n"
    "Prints the settings of a tracker configuration file, the fitting-model\n"
    "configurations it names, and the defined points of an .fdp file.\n"
    "A FILE ending in .fdp is read as a feature-point file, any other FILE as a\n"
    "tracker configuration.  Without files it reads the bundled examples.\n";

bool isReadableFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return in.good();
}

template <typename T>
void printList(const char* label, const OxCfgArr<T>& values)
{
    std::printf("  %-26s", label);
    if (values.size == 0)
        std::printf(" (none)");
    for (int i = 0; i < values.size; ++i)
        std::printf(" %g", static_cast<double>(values[i]));
    std::printf("\n");
}

void printNames(const char* label, const OxCfgArr<std::string>& names)
{
    std::printf("  %-26s", label);
    if (names.size == 0)
        std::printf(" (none)");
    for (int i = 0; i < names.size; ++i)
        std::printf(" %s", names[i].empty() ? "\"\"" : names[i].c_str());
    std::printf("\n");
}

void printModel(const char* kind, const std::string& path, const ModelConfiguration* model)
{
    std::printf("%s fitting model: %s\n", kind, path.empty() ? "(none)" : path.c_str());
    if (model == nullptr) {
        if (!path.empty())
            std::printf("  not loaded\n");
        return;
    }
    std::printf("  %-26s %s\n", "mesh file", model->getModelFilename().c_str());
    std::printf("  %-26s %s\n", "feature-point file", model->getFdpFilename().c_str());
    std::printf("  %-26s %d\n", "action units", model->getAuCount());
    std::printf("  %-26s %d\n", "shape units", model->getSuCount());
    printList("rotation limit", model->getRotationLimit());
    printList("translation limit", model->getTranslationLimit());
    printList("pose sensitivity", model->getPoseSensitivity());
    printList("action units used", model->getAuUse());
    printList("action-unit sensitivity", model->getAuSensitivity());
    printList("action-unit limits", model->getAuLimit());
    printNames("action-unit names", model->getAuNames());
    printList("shape units used", model->getSuUse());
    printList("shape-unit sensitivity", model->getSuSensitivity());
}

bool inspectConfiguration(const std::string& path)
{
    if (!isReadableFile(path)) {
        std::fprintf(stderr, "orvix-inspect: cannot read the configuration file %s\n", path.c_str());
        return false;
    }
    OrvixConfiguration config(path.c_str());

    std::printf("Tracker configuration: %s\n", path.c_str());
    std::printf("  %-26s %s\n", "folder", config.getConfigDir().c_str());
    std::printf("  %-26s %g\n", "camera focus", config.getCameraFocus());
    std::printf("  %-26s %g ms\n", "recovery time-out", config.getRecoveryTimeout());
    printList("smoothing factors", config.getSmoothingFactors());
    std::printf("  %-26s %u\n", "smoothing enabled", config.getEnableSmoothing());
    std::printf("  %-26s %u\n", "temporal denoising", config.getTemporallyDenoiseInput());
    std::printf("  %-26s %s\n", "face-detector folder", config.getOfdDataPath().c_str());
    std::printf("  %-26s %s\n", "alignment folder", config.getOftDataPath().c_str());
    std::printf("  %-26s %s\n", "pupil folder", config.getPrDataPath().c_str());
    std::printf("  %-26s %s\n", "ears folder", config.getErDataPath().c_str());
    std::printf("  %-26s %u\n", "process eyes", config.getProcessEyes());
    std::printf("  %-26s %u\n", "refine landmarks", config.getRefineLandmarks());
    std::printf("  %-26s %u\n", "refine ears", config.getRefineEars());
    std::printf("  %-26s %g\n", "min face scale", config.getMinFaceScale());
    std::printf("  %-26s %g\n", "max face scale", config.getMaxFaceScale());
    std::printf("  %-26s %g\n", "face detector sensitivity", config.getFaceDetectorSensitivity());
    const std::string algorithm = config.getFittingAlgorithm();
    std::printf("  %-26s %s\n", "fitting algorithm", algorithm.empty() ? "(none)" : algorithm.c_str());
    std::printf("\n");

    printModel("Pose", config.getPoseFittingModelConfiguration(), config.getPoseModelConfiguration());
    printModel("Action-unit", config.getAuFittingModelConfiguration(), config.getAuModelConfiguration());
    printModel("Mesh", config.getMeshFittingModelConfiguration(), config.getMeshModelConfiguration());
    std::printf("\n");
    return true;
}

const char* sideName(int type)
{
    switch (type) {
    case 1: return "side 1";
    case 2: return "axis";
    case 3: return "side 3";
    default: return "-";
    }
}

bool inspectPoints(const std::string& path)
{
    FDP points;
    const int result = points.readFromFile(path.c_str());
    if (result == 0) {
        std::fprintf(stderr, "orvix-inspect: cannot read the feature-point file %s\n", path.c_str());
        return false;
    }

    std::printf("Feature points: %s%s\n", path.c_str(),
                result == -1 ? " (some points have no mesh link)" : "");
    std::printf("  %-6s %10s %10s %10s  %-8s %-7s %s\n", "point", "x", "y", "z", "link", "side", "mirror");
    int defined = 0;
    for (int group = FDP::firstGroup; group <= FDP::lastGroup; ++group) {
        for (int index = 1; index <= FDP::groupSize(group); ++index) {
            if (!points.FPIsDefined(group, index))
                continue;
            ++defined;
            const float* xyz = points.getFPPos(group, index);
            std::string surface;
            int vertex = -1;
            std::string link = "-";
            if (points.getFPSurfVert(group, index, surface, vertex))
                link = surface + ":" + std::to_string(vertex);
            const int mirror = FDP::getMirrorPointIndex(group, index);
            const std::string mirrorName = mirror > 0 ? FDP::getFPName(group, mirror) : "-";
            std::printf("  %-6s %10.4f %10.4f %10.4f  %-8s %-7s %s\n", FDP::getFPName(group, index).c_str(),
                        xyz[0], xyz[1], xyz[2], link.c_str(), sideName(FDP::getPointType(group, index)),
                        mirrorName.c_str());
        }
    }
    std::printf("  %d of %d points defined\n", defined, FDP::pointCount);
    return true;
}

bool endsWith(const std::string& text, const char* suffix)
{
    const size_t length = std::strlen(suffix);
    return text.size() >= length && text.compare(text.size() - length, length, suffix) == 0;
}

}  // namespace

int main(int argc, char** argv)
{
    std::string configPath;
    std::string fdpPath;
    bool anyFile = false;

    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            std::printf("%s", kUsage);
            return 0;
        }
        if (arg == "--config" || arg == "--fdp") {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "orvix-inspect: %s needs a file name\n%s", arg.c_str(), kUsage);
                return 2;
            }
            (arg == "--config" ? configPath : fdpPath) = argv[++i];
        } else if (!arg.empty() && arg[0] == '-') {
            std::fprintf(stderr, "orvix-inspect: unknown option %s\n%s", arg.c_str(), kUsage);
            return 2;
        } else if (endsWith(arg, ".fdp")) {
            fdpPath = arg;
        } else {
            configPath = arg;
        }
        anyFile = true;
    }

    if (!anyFile) {
        configPath = std::string(ORVIX_EXAMPLES_DIR) + "tracker.cfg";
        fdpPath = std::string(ORVIX_EXAMPLES_DIR) + "example_mesh.fdp";
    }

    bool ok = true;
    if (!configPath.empty())
        ok = inspectConfiguration(configPath) && ok;
    if (!fdpPath.empty())
        ok = inspectPoints(fdpPath) && ok;
    return ok ? 0 : 1;
}
