#ifndef ORVIX_CONFIG_MODELCONFIGURATION_H
#define ORVIX_CONFIG_MODELCONFIGURATION_H

#include <string>
#include <vector>

#include <opencv2/core/types_c.h>

#include "OrvixSDK/Export.h"
#include "OrvixSDK/OxCfgArr.h"

namespace OrvixSDK {

// One fitting-model configuration file: which Candide-3 mesh file and which
// feature-point link file make up a face model, which of the mesh's action
// units (AU) and shape units (SU) are fitted, and with which sensitivities and
// limits.  The unit counts are not in this file; they come from the mesh file.
//
// Keys (settings syntax of FileIO; lists hold as many values as their size):
//   "model_filename" word, "fdp_filename" word,
//   "rotation_limit", "translation_limit", "pose_sensitivity"  6 floats each,
//   "au_use" auCount unsigned, "au_sensitivity" auCount floats,
//   "action_unit_limit" 2 x auCount floats, "au_names" auCount words,
//   "su_use" suCount unsigned, "su_sensitivity" suCount floats.
// Missing keys give zeros or empty words.  The AU matrices and names exist
// only when auCount > 0, the SU matrices only when suCount > 0.
class ORVIX_API ModelConfiguration {
public:
    // Largest unit count accepted from a mesh file.  The counts size the
    // unit matrices; a count outside 0 .. kMaxUnitCount (or one that cannot
    // be read) is taken as 0 units with a one-line diagnostic, so that a
    // damaged mesh file never makes the loader allocate huge or negative
    // matrices.
    static constexpr int kMaxUnitCount = 1000;

    // Empty configuration, then loadConfigurationFile(path) when path is
    // not null.
    explicit ModelConfiguration(const char* path = nullptr);
    ModelConfiguration(const ModelConfiguration& other);
    ModelConfiguration& operator=(ModelConfiguration other);
    ~ModelConfiguration();

    static void swap(ModelConfiguration& a, ModelConfiguration& b);

    // Reads the configuration file at path, replacing the whole content.
    // Returns false for a null path and for a file that cannot be opened or
    // is empty; the configuration is then empty.
    bool loadConfigurationFile(const char* path);

    // counts[0] <- the number of action units and counts[1] <- the number of
    // shape units of the mesh file folder + wfmName: the integer that follows
    // the line containing "ANIMATION UNITS LIST" ("SHAPE UNITS LIST"), 0 when
    // there is no such line.  Returns false, leaving counts alone, when the
    // file cannot be opened.
    static bool getAuSuFromWfm(const std::string& wfmName, const char* folder, int* counts);

    int getAuCount() const { return auCount; }
    int getSuCount() const { return suCount; }
    std::string getModelFilename() const { return modelFilename; }
    std::string getFdpFilename() const { return fdpFilename; }
    // Folder of the configuration file, with its trailing separator; the
    // mesh and link files are relative to it.
    std::string getFolder() const { return folder; }

    // Copies; an array whose matrix does not exist is empty.
    OxCfgArr<int> getAuUse() const;
    OxCfgArr<int> getSuUse() const;
    OxCfgArr<float> getPoseSensitivity() const;
    OxCfgArr<float> getAuSensitivity() const;
    OxCfgArr<float> getSuSensitivity() const;
    OxCfgArr<float> getRotationLimit() const;
    OxCfgArr<float> getTranslationLimit() const;
    OxCfgArr<float> getAuLimit() const;
    OxCfgArr<std::string> getAuNames() const;

private:
    // Releases every matrix and the names and leaves an empty configuration.
    void clean();

    std::string folder;
    std::string modelFilename;
    std::string fdpFilename;
    int auCount;
    int suCount;
    CvMat* auUse;
    CvMat* suUse;
    CvMat* poseSensitivity;
    CvMat* auSensitivity;
    CvMat* suSensitivity;
    CvMat* rotationLimit;
    CvMat* translationLimit;
    CvMat* auLimit;
    std::vector<std::string> auNames;
};

}  // namespace OrvixSDK

#endif
