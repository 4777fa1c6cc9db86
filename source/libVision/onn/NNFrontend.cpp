#include "onn/NNFrontend.h"

namespace ONN
{

NNFrontend::NNFrontend(std::unique_ptr<INNModel> model_) : model(new DataPreparedModel(std::move(model_)))
{
}

NNFrontend::~NNFrontend()
{
    for (INNRunner* runner : runners)
        delete runner;
    runners.clear();
    model.reset();
}

INNModel* NNFrontend::GetModel()
{
    return model.get();
}

INNRunner* NNFrontend::CreateRunner()
{
    INNRunner* runner = model->CreateRunner();
    if (runner != nullptr)
        runners.push_back(runner);
    return runner;
}

} // namespace ONN
