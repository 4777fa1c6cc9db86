#include "detection/ONNFaceFinderData.h"

#include "detection/OpenNetwork.h"
#include "onn/NNFrontend.h"
#include "onn/NNInterfaces.h"

namespace OrvixSDK {

namespace {

bool modelLoaded(ONN::INNFrontend* frontend)
{
    if (frontend == nullptr)
        return false;
    ONN::INNModel* model = frontend->GetModel();
    return model != nullptr && model->IsLoaded();
}

}  // namespace

// A network that cannot be opened is reported and leaves the data inactive
// (no frontend, not loaded); the owner sees that through isLoaded.
ONNFaceFinderData::ONNFaceFinderData(const std::string& modelPath) : loaded(false), frontend(nullptr)
{
    frontend = openNetwork(modelPath);
    loaded = modelLoaded(frontend);
}

ONNFaceFinderData::ONNFaceFinderData(ONN::INNFrontend* openFrontend)
    : loaded(modelLoaded(openFrontend)), frontend(openFrontend)
{
}

ONNFaceFinderData::~ONNFaceFinderData()
{
    delete frontend;
}

ONN::INNModel* ONNFaceFinderData::getModel()
{
    return frontend != nullptr ? frontend->GetModel() : nullptr;
}

ONN::INNRunner* ONNFaceFinderData::createRunner()
{
    return frontend != nullptr ? frontend->CreateRunner() : nullptr;
}

}  // namespace OrvixSDK
