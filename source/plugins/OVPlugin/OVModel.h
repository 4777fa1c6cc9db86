#ifndef OVPLUGIN_OVMODEL_H
#define OVPLUGIN_OVMODEL_H

#include "VinoContainer.h"
#include "onn/NNInterfaces.h"

#include <vector>

namespace OVPlugin
{

// A network read from a ".vino" container. Construction never throws: any
// failure (missing, truncated or foreign file, wrong key, bad padding,
// network OpenCV cannot read or run at the declared shape) leaves a model
// whose IsLoaded() is false.
//
// The decrypted ONNX bytes stay in memory only, for the runners to build
// their own networks from; they are overwritten when the model goes away.
//
// Threads: OpenCV's thread count is process-wide. A model that loads sets it
// to the configured "ThreadCount" when that is 1 or more (a value of 0 or
// below leaves OpenCV's setting alone). Every model reads the same
// process-wide configuration, so they agree on the value.
class OVModel : public ONN::INNModel
{
public:
    explicit OVModel(const ONN::ModelParams& params);
    ~OVModel() override;

    OVModel(const OVModel&) = delete;
    OVModel& operator=(const OVModel&) = delete;

    // Never null; a runner of a model that is not loaded is not initialised.
    ONN::INNRunner* CreateRunner() override;
    bool IsLoaded() const override;
    // Number of floats of the network's first output.
    int GetOutputSize() override;
    ONN::EDataType GetDataType() override;
    ONN::ImageUtils::ELayoutType GetLayoutType() override;

    const InputDeclaration& GetInputDeclaration() const { return input; }

private:
    bool Load(const ONN::ModelParams& params);

    std::vector<unsigned char> onnx;
    InputDeclaration input;
    long outputSize = 0;
    bool loaded = false;
};

} // namespace OVPlugin

#endif
