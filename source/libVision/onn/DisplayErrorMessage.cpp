// Common::displayErrorMessageAndExit lives with the inference layer it
// reports on, so that the support code needs nothing of it.
#include "support/Common.h"

#include "onn/ONNIEChooser.h"
#include "support/TrackerInternalInterface.h"

#include <string>

namespace OrvixSDK {

void Common::displayErrorMessageAndExit(ONN::ONNIEChooser* chooser, const std::string& modelPath)
{
    if (chooser == nullptr)
        return;
    const int status = chooser->GetCodeStatus();
    std::string text;
    if (status == -7)
    {
        text = "orvix|SDK: Integrity check failed. Please be sure that the all dynamic libraries are from the same "
               "SDK version.\n";
    }
    else if (status == -6)
    {
        const ONN::Plugin* plugin = chooser->GetPredefinedPlugin(chooser->GetBackend());
        text = "orvix|SDK: Missing model on the path " + modelPath +
               (plugin != nullptr ? plugin->GetModelSuffix() : "") + " .\n";
    }
    else if (status >= -5 && status <= -1)
    {
        text = "orvix|SDK: Missing library. Please be sure that all dynamic libraries are present 0x0000000" +
               std::to_string(-status) + ".\n";
    }

    // The message is shown and the process goes on: the caller leaves its
    // object inactive and reports the failure by its return value.
    TrackerInternalInterface sink;
    sink.displayMessage(text.c_str(), "Runner initialisation failed", 16);
}

} // namespace OrvixSDK
