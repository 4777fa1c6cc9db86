#ifndef ORVIX_TESTS_ONN_FAKEBACKEND_H
#define ORVIX_TESTS_ONN_FAKEBACKEND_H

// An in-process model and runner standing in for a backend plug-in.

#include <memory>
#include <string>
#include <vector>

#include "onn/NNInterfaces.h"

namespace OnnTest {

// Shared record of what the fake objects saw.
struct FakeLog {
    std::vector<std::string> events;
    // Per Forward: the data pointer and the bytes of the input given.
    std::vector<const void*> forwardData;
    std::vector<std::vector<unsigned char>> forwardBytes;
    std::vector<int> forwardSizes; // channels * width * height
};

class FakeRunner : public ONN::INNRunner {
public:
    FakeRunner(std::shared_ptr<FakeLog> log_, std::string name_, long ownBufferBytes)
        : log(std::move(log_)), name(std::move(name_)), buffer(static_cast<size_t>(ownBufferBytes), 0)
    {
    }
    ~FakeRunner() override { log->events.push_back("delete " + name); }

    float* Forward(const ONN::NNData& input) override
    {
        log->forwardData.push_back(input.data);
        const unsigned char* bytes = static_cast<const unsigned char*>(input.data);
        log->forwardBytes.emplace_back(bytes, bytes + (bytes != nullptr ? input.ByteCount() : 0));
        log->forwardSizes.push_back(input.channels * input.width * input.height);
        output = static_cast<float>(log->forwardData.size());
        return &output;
    }
    bool IsInitialized() const override { return true; }
    void* GetInputBuffer() override { return buffer.empty() ? nullptr : buffer.data(); }

    std::vector<unsigned char>& Buffer() { return buffer; }

private:
    std::shared_ptr<FakeLog> log;
    std::string name;
    std::vector<unsigned char> buffer;
    float output = 0.0f;
};

class FakeModel : public ONN::INNModel {
public:
    FakeModel(std::shared_ptr<FakeLog> log_, ONN::EDataType type_, ONN::ImageUtils::ELayoutType layout_,
              long ownBufferBytes = 0, bool loaded_ = true)
        : log(std::move(log_)), type(type_), layout(layout_), bufferBytes(ownBufferBytes), loaded(loaded_)
    {
    }
    ~FakeModel() override { log->events.push_back("delete model"); }

    ONN::INNRunner* CreateRunner() override
    {
        lastRunner = new FakeRunner(log, "runner " + std::to_string(++runnerCount), bufferBytes);
        return lastRunner;
    }
    bool IsLoaded() const override { return loaded; }
    int GetOutputSize() override { return 42; }
    ONN::EDataType GetDataType() override { return type; }
    ONN::ImageUtils::ELayoutType GetLayoutType() override { return layout; }

    FakeRunner* lastRunner = nullptr;

private:
    std::shared_ptr<FakeLog> log;
    ONN::EDataType type;
    ONN::ImageUtils::ELayoutType layout;
    long bufferBytes;
    bool loaded;
    int runnerCount = 0;
};

}  // namespace OnnTest

#endif
