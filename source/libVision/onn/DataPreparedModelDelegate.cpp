#include "onn/DataPreparedModelDelegate.h"

#include "onn/DataPreparedRunnerDelegate.h"

namespace ONN
{

DataPreparedModel::DataPreparedModel(std::unique_ptr<INNModel> model_) : model(std::move(model_))
{
}

DataPreparedModel::~DataPreparedModel() = default;

INNRunner* DataPreparedModel::CreateRunner()
{
    if (!model)
        return nullptr;
    INNRunner* inner = model->CreateRunner();
    if (inner == nullptr)
        return nullptr;
    return new DataPreparedRunner(inner, model.get());
}

bool DataPreparedModel::IsLoaded() const
{
    return model && model->IsLoaded();
}

int DataPreparedModel::GetOutputSize()
{
    return model ? model->GetOutputSize() : 0;
}

EDataType DataPreparedModel::GetDataType()
{
    return model ? model->GetDataType() : FP32;
}

ImageUtils::ELayoutType DataPreparedModel::GetLayoutType()
{
    return model ? model->GetLayoutType() : ImageUtils::NCHW;
}

} // namespace ONN
