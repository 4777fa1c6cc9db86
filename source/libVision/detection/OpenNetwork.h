#ifndef ORVIX_DETECTION_OPENNETWORK_H
#define ORVIX_DETECTION_OPENNETWORK_H

#include <string>

namespace ONN
{
class INNFrontend;
}

namespace OrvixSDK
{

// A frontend for the network at path (without the backend's suffix), opened
// under the model key and owned by the caller. A network that cannot be
// opened is reported with the frontend's message and null is returned; the
// process goes on.
ONN::INNFrontend* openNetwork(const std::string& path);

} // namespace OrvixSDK

#endif
