#ifndef ORVIX_DETECTION_ONNFACEFINDERDATA_H
#define ORVIX_DETECTION_ONNFACEFINDERDATA_H

#include <string>

namespace ONN {
class INNFrontend;
class INNModel;
class INNRunner;
}  // namespace ONN

namespace OrvixSDK {

// The face-finder network, opened once per detector and shared read-only by
// every finder made from it.
class ONNFaceFinderData
{
public:
    // Opens modelPath (the backend adds its model suffix) with the model key.
    // A network that cannot be opened is reported with the frontend's message
    // and leaves the data without a frontend and not loaded.
    explicit ONNFaceFinderData(const std::string& modelPath);
    // Wraps a frontend that is already open (taken over; may be null): the
    // data is loaded when its model reports so.
    explicit ONNFaceFinderData(ONN::INNFrontend* openFrontend);
    ~ONNFaceFinderData();

    ONNFaceFinderData(const ONNFaceFinderData&) = delete;
    ONNFaceFinderData& operator=(const ONNFaceFinderData&) = delete;

    bool isLoaded() const { return loaded; }
    // Null without a frontend.
    ONN::INNModel* getModel();
    // A new runner owned by the frontend (freed with it); null without one.
    ONN::INNRunner* createRunner();

    bool loaded;
    ONN::INNFrontend* frontend;
};

}  // namespace OrvixSDK

#endif
