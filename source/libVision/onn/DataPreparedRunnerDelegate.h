#ifndef ONN_DATA_PREPARED_RUNNER_DELEGATE_H
#define ONN_DATA_PREPARED_RUNNER_DELEGATE_H

#include "onn/NNInterfaces.h"

namespace ONN
{

// Wraps a plug-in runner: Forward first converts the caller's input into the
// element type and layout the model wants, into the backend's own input
// memory when it offers some, else into a buffer of this runner.
class DataPreparedRunner : public INNRunner
{
public:
    // Takes ownership of runner; model is asked once for its input type and
    // layout.
    DataPreparedRunner(INNRunner* runner, INNModel* model);
    ~DataPreparedRunner() override;

    DataPreparedRunner(const DataPreparedRunner&) = delete;
    DataPreparedRunner& operator=(const DataPreparedRunner&) = delete;

    // Converts in and returns the backend's output, or null when the runner
    // is missing or in does not fit the backend's input memory.
    float* Forward(const NNData& in) override;
    bool IsInitialized() const override;
    void* GetInputBuffer() override;

    // Converts in into the input record (made on the first call and reused)
    // and returns it. The record follows a later input of other dimensions:
    // an own buffer grows when the input needs more room; the backend's
    // memory, whose size is that of the first input, refuses a larger input
    // (null, with one line on standard error).
    NNData* PrepareInputBuffer(const NNData& in);

private:
    INNRunner* runner;
    NNData* input = nullptr;
    EDataType dataType;
    ImageUtils::ELayoutType layout;
    // Elements the input record's buffer holds.
    long capacity = 0;
};

} // namespace ONN

#endif
