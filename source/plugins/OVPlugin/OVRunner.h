#ifndef OVPLUGIN_OVRUNNER_H
#define OVPLUGIN_OVRUNNER_H

#include "VinoContainer.h"
#include "onn/NNInterfaces.h"

#include <opencv2/core.hpp>
#include <opencv2/dnn.hpp>

#include <vector>

namespace OVPlugin
{

// Runs one network on the CPU with OpenCV's own dnn backend. Every runner
// reads its own cv::dnn::Net from the model's decrypted bytes, so runners of
// one model share no mutable state and may run on different threads at once.
//
// Input: Forward accepts an NNData of exactly the declared channels, height
// and width, in either element type and layout (normally the declared ones,
// which the SDK's data preparation produces). It is converted into the planar
// float blob (1 x C x H x W) that OpenCV's dnn wants; element values are
// carried over unscaled, so a UINT8 input reaches the network as floats in
// 0..255 and an FP32 input as given.
//
// GetInputBuffer returns null: the runner takes its input from the NNData
// given to Forward and checks its dimensions there. Handing out its own
// memory would let a caller whose image is larger than the declared shape
// write past that memory during data preparation.
class OVRunner : public ONN::INNRunner
{
public:
    // outputSize 0 accepts any output size (used while probing a model).
    OVRunner(const std::vector<unsigned char>& onnx, const InputDeclaration& input, long outputSize);
    ~OVRunner() override;

    OVRunner(const OVRunner&) = delete;
    OVRunner& operator=(const OVRunner&) = delete;

    // Returns the flattened first output (outputSize floats) owned by the
    // runner and valid until the next Forward, or null when the runner is
    // not initialised, the input does not match the declared shape or the
    // network fails.
    float* Forward(const ONN::NNData& input) override;
    bool IsInitialized() const override;
    void* GetInputBuffer() override;

    // Number of floats of the last successful Forward.
    long GetLastOutputCount() const;

private:
    bool FillBlob(const ONN::NNData& data);

    InputDeclaration input;
    long outputSize;
    cv::dnn::Net net;
    cv::Mat blob;
    cv::Mat output;
    bool initialized = false;
    bool mismatchReported = false;
};

} // namespace OVPlugin

#endif
