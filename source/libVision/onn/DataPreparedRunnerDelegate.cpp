#include "onn/DataPreparedRunnerDelegate.h"

#include "onn/DataTransformer.h"

#include <cstdio>

namespace ONN
{

DataPreparedRunner::DataPreparedRunner(INNRunner* runner_, INNModel* model)
    : runner(runner_), dataType(model != nullptr ? model->GetDataType() : FP32),
      layout(model != nullptr ? model->GetLayoutType() : ImageUtils::NCHW)
{
}

DataPreparedRunner::~DataPreparedRunner()
{
    delete runner;
    delete input;
}

bool DataPreparedRunner::IsInitialized() const
{
    return runner != nullptr && runner->IsInitialized();
}

void* DataPreparedRunner::GetInputBuffer()
{
    return runner != nullptr ? runner->GetInputBuffer() : nullptr;
}

NNData* DataPreparedRunner::PrepareInputBuffer(const NNData& in)
{
    void* buffer = GetInputBuffer();
    const long needed = in.ElementCount();

    if (input == nullptr)
    {
        input = new NNData(buffer, in.channels, in.width, in.height, layout, dataType, buffer != nullptr);
        capacity = needed;
    }
    else if (needed > capacity)
    {
        if (input->shared)
        {
            std::fprintf(stderr, "ONNIE: Input of %d x %d x %d does not fit the backend's input buffer.\n",
                         in.width, in.height, in.channels);
            return nullptr;
        }
        // A larger input than before: a buffer of our own grows with it.
        delete input;
        input = new NNData(nullptr, in.channels, in.width, in.height, layout, dataType, false);
        capacity = needed;
    }
    else
    {
        input->channels = in.channels;
        input->width = in.width;
        input->height = in.height;
        if (input->shared && buffer != nullptr)
            input->data = buffer;
    }

    DataTransformer::processData(&in, input);
    return input;
}

float* DataPreparedRunner::Forward(const NNData& in)
{
    if (runner == nullptr)
        return nullptr;
    NNData* prepared = PrepareInputBuffer(in);
    if (prepared == nullptr)
        return nullptr;
    return runner->Forward(*prepared);
}

} // namespace ONN
