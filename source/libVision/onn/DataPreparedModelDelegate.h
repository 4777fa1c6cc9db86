#ifndef ONN_DATA_PREPARED_MODEL_DELEGATE_H
#define ONN_DATA_PREPARED_MODEL_DELEGATE_H

#include "onn/NNInterfaces.h"

#include <memory>

namespace ONN
{

// Wraps a plug-in model so that its runners convert their input to what the
// model wants (see DataPreparedRunner).
class DataPreparedModel : public INNModel
{
public:
    explicit DataPreparedModel(std::unique_ptr<INNModel> model);
    ~DataPreparedModel() override;

    // A new DataPreparedRunner around the plug-in's runner (the caller owns
    // it), or null when the plug-in makes none.
    INNRunner* CreateRunner() override;
    bool IsLoaded() const override;
    int GetOutputSize() override;
    EDataType GetDataType() override;
    ImageUtils::ELayoutType GetLayoutType() override;

    // The wrapped plug-in model.
    INNModel* GetInnerModel() const { return model.get(); }

private:
    std::unique_ptr<INNModel> model;
};

} // namespace ONN

#endif
