#ifndef ONN_NN_FRONTEND_H
#define ONN_NN_FRONTEND_H

#include "onn/DataPreparedModelDelegate.h"
#include "onn/NNInterfaces.h"

#include <memory>
#include <vector>

namespace ONN
{

// A loaded model with the runners made from it. Owns the plug-in's model
// (wrapped so that inputs are converted automatically) and every runner that
// CreateRunner made.
class NNFrontend : public INNFrontend
{
public:
    explicit NNFrontend(std::unique_ptr<INNModel> model);
    // Deletes the runners in creation order, then the model.
    ~NNFrontend() override;

    NNFrontend(const NNFrontend&) = delete;
    NNFrontend& operator=(const NNFrontend&) = delete;

    INNModel* GetModel() override;
    // A further runner, kept and deleted by the frontend; null when the
    // plug-in makes none.
    INNRunner* CreateRunner() override;

private:
    std::unique_ptr<DataPreparedModel> model;
    std::vector<INNRunner*> runners;
};

} // namespace ONN

#endif
