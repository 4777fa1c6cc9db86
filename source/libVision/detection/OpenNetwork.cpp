#include "detection/OpenNetwork.h"

#include <algorithm>
#include <vector>

#include "detection/ModelKey.h"
#include "onn/ONNIEChooser.h"
#include "support/Common.h"

namespace OrvixSDK
{

ONN::INNFrontend* openNetwork(const std::string& path)
{
    std::vector<unsigned char> key = Key::buildModelKey();
    ONN::ONNIEChooser chooser;
    ONN::INNFrontend* frontend = chooser.Create(path.c_str(), key.data(), static_cast<int>(key.size()));
    // The key is only needed while the model loads.
    std::fill(key.begin(), key.end(), 0);
    if (frontend == nullptr)
        Common::displayErrorMessageAndExit(&chooser, path);
    return frontend;
}

} // namespace OrvixSDK
