#include "config/ModelConfiguration.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <locale>

#include <unistd.h>

#include <opencv2/core/core_c.h>

#include "config/FileIO.h"
#include "support/Common.h"
#include "support/OptionalCv.h"

namespace OrvixSDK {

namespace {

CvMat* createZeros(int rows, int type)
{
    CvMat* m = cvCreateMat(rows, 1, type);
    cvSetZero(m);
    return m;
}

template <typename Element>
OxCfgArr<Element> copyColumn(const CvMat* m)
{
    if (m == nullptr)
        return OxCfgArr<Element>();
    OxCfgArr<Element> values(m->rows);
    for (int i = 0; i < m->rows; ++i)
        values[i] = *reinterpret_cast<const Element*>(m->data.ptr + static_cast<size_t>(i) * m->step);
    return values;
}

// Consumes the stream up to and including the end of the first line that
// contains marker.  Only the tail of the current line is kept, so a very
// long line costs no memory.  Returns false when no line contains marker.
bool skipPastLineContaining(std::streambuf* buffer, const std::string& marker)
{
    typedef std::char_traits<char> Traits;
    std::string tail;
    bool found = false;
    for (;;) {
        const Traits::int_type c = buffer->sbumpc();
        if (Traits::eq_int_type(c, Traits::eof()))
            return found;
        if (c == '\n') {
            if (found)
                return true;
            tail.clear();
            continue;
        }
        if (found)
            continue;
        tail.push_back(Traits::to_char_type(c));
        if (tail.size() > marker.size())
            tail.erase(0, 1);
        found = tail == marker;
    }
}

// The unit count that follows the line containing marker: 0 when there is
// no such line, and 0 with a diagnostic when the count cannot be read or is
// outside 0 .. kMaxUnitCount.
int readUnitCount(std::istream& in, const std::string& marker, const std::string& wfmName)
{
    if (!skipPastLineContaining(in.rdbuf(), marker))
        return 0;
    long long count = 0;
    if (!(in >> count)) {
        std::printf("getAuSuFromWfm(): no unit count after %s in %s; no units used.\n", marker.c_str(),
                    wfmName.c_str());
        return 0;
    }
    if (count < 0 || count > ModelConfiguration::kMaxUnitCount) {
        std::printf("getAuSuFromWfm(): unit count %lld after %s in %s is out of range (0 to %d); no units used.\n",
                    count, marker.c_str(), wfmName.c_str(), ModelConfiguration::kMaxUnitCount);
        return 0;
    }
    return static_cast<int>(count);
}

}  // namespace

ModelConfiguration::ModelConfiguration(const char* path)
    : auCount(0),
      suCount(0),
      auUse(nullptr),
      suUse(nullptr),
      poseSensitivity(nullptr),
      auSensitivity(nullptr),
      suSensitivity(nullptr),
      rotationLimit(nullptr),
      translationLimit(nullptr),
      auLimit(nullptr)
{
    if (path != nullptr)
        loadConfigurationFile(path);
}

ModelConfiguration::ModelConfiguration(const ModelConfiguration& other)
    : folder(other.folder),
      modelFilename(other.modelFilename),
      fdpFilename(other.fdpFilename),
      auCount(other.auCount),
      suCount(other.suCount),
      auUse(cloneOrNull(other.auUse)),
      suUse(cloneOrNull(other.suUse)),
      poseSensitivity(cloneOrNull(other.poseSensitivity)),
      auSensitivity(cloneOrNull(other.auSensitivity)),
      suSensitivity(cloneOrNull(other.suSensitivity)),
      rotationLimit(cloneOrNull(other.rotationLimit)),
      translationLimit(cloneOrNull(other.translationLimit)),
      auLimit(cloneOrNull(other.auLimit)),
      auNames(other.auNames)
{
}

ModelConfiguration& ModelConfiguration::operator=(ModelConfiguration other)
{
    swap(*this, other);
    return *this;
}

ModelConfiguration::~ModelConfiguration()
{
    clean();
}

void ModelConfiguration::swap(ModelConfiguration& a, ModelConfiguration& b)
{
    using std::swap;
    swap(a.folder, b.folder);
    swap(a.modelFilename, b.modelFilename);
    swap(a.fdpFilename, b.fdpFilename);
    swap(a.auCount, b.auCount);
    swap(a.suCount, b.suCount);
    swap(a.auUse, b.auUse);
    swap(a.suUse, b.suUse);
    swap(a.poseSensitivity, b.poseSensitivity);
    swap(a.auSensitivity, b.auSensitivity);
    swap(a.suSensitivity, b.suSensitivity);
    swap(a.rotationLimit, b.rotationLimit);
    swap(a.translationLimit, b.translationLimit);
    swap(a.auLimit, b.auLimit);
    swap(a.auNames, b.auNames);
}

void ModelConfiguration::clean()
{
    releaseAndClear(auUse);
    releaseAndClear(suUse);
    releaseAndClear(poseSensitivity);
    releaseAndClear(auSensitivity);
    releaseAndClear(suSensitivity);
    releaseAndClear(rotationLimit);
    releaseAndClear(translationLimit);
    releaseAndClear(auLimit);
    auNames.clear();
    // The counts and names go with the matrices, so that a failed reload
    // never leaves counts that promise matrices which are gone.
    auCount = 0;
    suCount = 0;
    folder.clear();
    modelFilename.clear();
    fdpFilename.clear();
}

bool ModelConfiguration::loadConfigurationFile(const char* path)
{
    if (path == nullptr)
        return false;
    clean();

    char directory[Common::kPathBufferSize];
    Common::setCfgDirPath(path, directory);
    // The folder is a prefix of path; the file name is the rest.
    const std::string fileName(path + std::strlen(directory));

    const std::string text = FileIO::read_file(fileName, directory, false);
    if (text.empty())
        return false;

    folder = directory;
    FileIO::read_setting(text, "model_filename", modelFilename);
    FileIO::read_setting(text, "fdp_filename", fdpFilename);

    rotationLimit = createZeros(6, CV_32FC1);
    translationLimit = createZeros(6, CV_32FC1);
    poseSensitivity = createZeros(6, CV_32FC1);
    FileIO::read_settings_list_f32(text, "rotation_limit", rotationLimit);
    FileIO::read_settings_list_f32(text, "translation_limit", translationLimit);
    FileIO::read_settings_list_f32(text, "pose_sensitivity", poseSensitivity);

    // A mesh file that cannot be opened is reported by getAuSuFromWfm and
    // leaves the model without units; the configuration still loads.
    int counts[2] = {0, 0};
    if (!modelFilename.empty())
        getAuSuFromWfm(modelFilename, folder.c_str(), counts);
    auCount = counts[0];
    suCount = counts[1];

    if (auCount > 0) {
        auUse = createZeros(auCount, CV_32SC1);
        auSensitivity = createZeros(auCount, CV_32FC1);
        auLimit = createZeros(2 * auCount, CV_32FC1);
        auNames.assign(static_cast<size_t>(auCount), std::string());
        FileIO::read_settings_list_iu32(text, "au_use", auUse);
        FileIO::read_settings_list_f32(text, "au_sensitivity", auSensitivity);
        FileIO::read_settings_list_f32(text, "action_unit_limit", auLimit);
        FileIO::read_settings_list_string(text, "au_names", auCount, auNames.data());
    }
    if (suCount > 0) {
        suUse = createZeros(suCount, CV_32SC1);
        suSensitivity = createZeros(suCount, CV_32FC1);
        FileIO::read_settings_list_iu32(text, "su_use", suUse);
        FileIO::read_settings_list_f32(text, "su_sensitivity", suSensitivity);
    }
    return true;
}

bool ModelConfiguration::getAuSuFromWfm(const std::string& wfmName, const char* folder, int* counts)
{
    const std::string path = std::string(folder != nullptr ? folder : "") + wfmName;
    std::ifstream in(path.c_str());
    if (!in.is_open()) {
        char workingDirectory[501];
        if (getcwd(workingDirectory, sizeof(workingDirectory)) == nullptr)
            workingDirectory[0] = '\0';
        std::printf("getAuSuFromWfm(): Error opening file %s.\nWorking directory: %s\n", wfmName.c_str(),
                    workingDirectory);
        return false;
    }
    if (counts == nullptr)
        return true;
    in.imbue(std::locale::classic());

    counts[0] = readUnitCount(in, "ANIMATION UNITS LIST", wfmName);
    in.clear();
    in.seekg(0);
    counts[1] = readUnitCount(in, "SHAPE UNITS LIST", wfmName);
    return true;
}

OxCfgArr<int> ModelConfiguration::getAuUse() const
{
    return copyColumn<int>(auUse);
}

OxCfgArr<int> ModelConfiguration::getSuUse() const
{
    return copyColumn<int>(suUse);
}

OxCfgArr<float> ModelConfiguration::getPoseSensitivity() const
{
    return copyColumn<float>(poseSensitivity);
}

OxCfgArr<float> ModelConfiguration::getAuSensitivity() const
{
    return copyColumn<float>(auSensitivity);
}

OxCfgArr<float> ModelConfiguration::getSuSensitivity() const
{
    return copyColumn<float>(suSensitivity);
}

OxCfgArr<float> ModelConfiguration::getRotationLimit() const
{
    return copyColumn<float>(rotationLimit);
}

OxCfgArr<float> ModelConfiguration::getTranslationLimit() const
{
    return copyColumn<float>(translationLimit);
}

OxCfgArr<float> ModelConfiguration::getAuLimit() const
{
    return copyColumn<float>(auLimit);
}

OxCfgArr<std::string> ModelConfiguration::getAuNames() const
{
    return OxCfgArr<std::string>(auNames.data(), static_cast<int>(auNames.size()));
}

}  // namespace OrvixSDK
