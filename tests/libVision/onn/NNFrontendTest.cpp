#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "FakeBackend.h"
#include "onn/NNFrontend.h"

using OnnTest::FakeLog;
using OnnTest::FakeModel;

namespace {

TEST(NNFrontend, OwnsItsRunnersAndDeletesThemBeforeTheModel)
{
    auto log = std::make_shared<FakeLog>();
    {
        ONN::NNFrontend frontend(std::unique_ptr<ONN::INNModel>(
            new FakeModel(log, ONN::FP32, ONN::ImageUtils::NCHW)));
        ONN::INNModel* model = frontend.GetModel();
        ASSERT_NE(model, nullptr);
        EXPECT_TRUE(model->IsLoaded());
        EXPECT_EQ(model->GetOutputSize(), 42);

        ONN::INNRunner* first = frontend.CreateRunner();
        ONN::INNRunner* second = frontend.CreateRunner();
        ASSERT_NE(first, nullptr);
        ASSERT_NE(second, nullptr);
        EXPECT_NE(first, second);

        // A runner made through the model belongs to its maker.
        std::unique_ptr<ONN::INNRunner> own(model->CreateRunner());
        ASSERT_NE(own, nullptr);
        own.reset();
        EXPECT_EQ(log->events, (std::vector<std::string>{"delete runner 3"}));
    }
    EXPECT_EQ(log->events,
              (std::vector<std::string>{"delete runner 3", "delete runner 1", "delete runner 2", "delete model"}));
}

}  // namespace
