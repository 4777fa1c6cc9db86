// A scripted stand-in for a network of the inference layer, for the tests of
// the code that runs networks (face finder, alignment, pupil refiner): it
// answers every run with floats the test chose, records every input it was
// given, and can be told to fail (no answer, no runner).
//
// One FakeNetwork holds the script and the record; the model, runners and
// frontend made from it share it, so a test keeps a pointer to it after
// handing the model or frontend to the code under test.
#ifndef ORVIX_TESTS_DETECTION_FAKENETWORK_H
#define ORVIX_TESTS_DETECTION_FAKENETWORK_H

#include <cstddef>
#include <memory>
#include <utility>
#include <vector>

#include "onn/NNInterfaces.h"

namespace OrvixTest
{

struct FakeNetwork
{
    // One run as the network saw it.
    struct Input
    {
        int channels, width, height;
        ONN::ImageUtils::ELayoutType layout;
        ONN::EDataType dataType;
        std::vector<unsigned char> bytes;
    };

    explicit FakeNetwork(std::vector<float> output_ = {}) : output(std::move(output_)) {}

    // The script.  Every run answers output; the model reports its size as
    // the output size.
    std::vector<float> output;
    bool answerNull = false;   // true: runs give no output
    bool makeRunners = true;   // false: no runner can be created
    ONN::EDataType dataType = ONN::UINT8;
    ONN::ImageUtils::ELayoutType layout = ONN::ImageUtils::NHWC;

    // The record: every run's input, in order.
    std::vector<Input> inputs;
};

class FakeRunner : public ONN::INNRunner
{
public:
    explicit FakeRunner(std::shared_ptr<FakeNetwork> net_) : net(std::move(net_)) {}

    float* Forward(const ONN::NNData& input) override
    {
        ++calls;
        const unsigned char* bytes = static_cast<const unsigned char*>(input.data);
        const std::size_t count = bytes != nullptr ? static_cast<std::size_t>(input.ByteCount()) : 0;
        net->inputs.push_back({input.channels, input.width, input.height, input.layout, input.dataType,
                               std::vector<unsigned char>(bytes, bytes + count)});
        return net->answerNull ? nullptr : net->output.data();
    }
    bool IsInitialized() const override { return true; }
    void* GetInputBuffer() override { return nullptr; }

    int calls = 0;  // runs of this runner alone

private:
    std::shared_ptr<FakeNetwork> net;
};

// Its runners belong to the caller, as a model's do.
class FakeModel : public ONN::INNModel
{
public:
    explicit FakeModel(std::shared_ptr<FakeNetwork> net_) : net(std::move(net_)) {}

    ONN::INNRunner* CreateRunner() override { return net->makeRunners ? new FakeRunner(net) : nullptr; }
    bool IsLoaded() const override { return true; }
    int GetOutputSize() override { return static_cast<int>(net->output.size()); }
    ONN::EDataType GetDataType() override { return net->dataType; }
    ONN::ImageUtils::ELayoutType GetLayoutType() override { return net->layout; }

private:
    std::shared_ptr<FakeNetwork> net;
};

// Owns its runners, as the real frontend does; runner(i) is the i-th one
// made, or null.
class FakeFrontend : public ONN::INNFrontend
{
public:
    explicit FakeFrontend(std::shared_ptr<FakeNetwork> net) : model(std::move(net)) {}

    ONN::INNModel* GetModel() override { return &model; }
    ONN::INNRunner* CreateRunner() override
    {
        FakeRunner* runner = static_cast<FakeRunner*>(model.CreateRunner());
        if (runner != nullptr)
            runners.emplace_back(runner);
        return runner;
    }

    FakeRunner* runner(std::size_t i = 0) { return i < runners.size() ? runners[i].get() : nullptr; }
    std::size_t runnerCount() const { return runners.size(); }

private:
    FakeModel model;
    std::vector<std::unique_ptr<FakeRunner>> runners;
};

}  // namespace OrvixTest

#endif
