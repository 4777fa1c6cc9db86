#ifndef ORVIX_ONN_INIT_H
#define ORVIX_ONN_INIT_H

#include "OrvixSDK/Export.h"

#include <string>

namespace ONN
{
class Config;
}

namespace OrvixSDK
{

// Reads "NeuralNet.cfg" from folder (which ends in a separator) into the
// process-wide network configuration. Only the first call in the process does
// anything; later calls return at once, whatever folder they pass.
ORVIX_API void ONNInit(std::string folder);

// Folder of the backend plug-ins handed to the plug-in manager.
std::string getVisionPath();

// Whether ONNInit has run in this process.
bool isONNConfigRead();

// The work of ONNInit on the given state: when configRead is clear, reads
// folder + "NeuralNet.cfg" into config (or prints that it is missing), sets
// the plug-ins folder and sets configRead. ONNInit calls it under its lock
// with the process-wide state.
void ONNInitOnce(const std::string& folder, bool& configRead, ONN::Config& config);

} // namespace OrvixSDK

#endif
