// The OV_CPU plug-in through its two entry points, opened the way the
// library opens it: dlopen by bare name, resolved through the run path.

#include "OVPluginTestSupport.h"
#include "onn/NNInterfaces.h"

#include <gtest/gtest.h>

#include <opencv2/core/utility.hpp>

#include <dlfcn.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <thread>

using namespace OVPlugin;
using namespace OVPluginTest;

namespace
{

// The plug-in library, opened once for the whole test program; it stays
// loaded until the process ends, as in the SDK.
struct PluginEntryPoints
{
    void* handle = nullptr;
    ONN::InitializeMethod initialize = nullptr;
    ONN::CreateMethod create = nullptr;
    std::string error;
};

const PluginEntryPoints& Plugin()
{
    static const PluginEntryPoints entry = [] {
        PluginEntryPoints e;
        e.handle = dlopen("libOVPlugin.so", RTLD_NOW | RTLD_LOCAL);
        if (e.handle == nullptr)
        {
            const char* error = dlerror();
            e.error = error ? error : "dlopen failed";
            return e;
        }
        e.initialize = reinterpret_cast<ONN::InitializeMethod>(dlsym(e.handle, "Initialize"));
        e.create = reinterpret_cast<ONN::CreateMethod>(dlsym(e.handle, "Create"));
        if (e.initialize)
            e.initialize();
        return e;
    }();
    return entry;
}

std::unique_ptr<ONN::INNModel> CreateModel(const std::string& path, const unsigned char* key, int keyLength,
                                           int threads = 1)
{
    ONN::ModelParams params;
    params.modelPath = path.c_str();
    params.key.keyData = const_cast<unsigned char*>(key);
    params.key.keyLength = keyLength;
    params.config.SetBackend(ONN::OV_CPU);
    params.config.SetThreadCount(threads);
    return std::unique_ptr<ONN::INNModel>(Plugin().create(params));
}

std::unique_ptr<ONN::INNModel> CreateModel(const std::string& path)
{
    const std::vector<unsigned char> key = OrvixSDK::Key::buildModelKey();
    return CreateModel(path, key.data(), static_cast<int>(key.size()));
}

// Every output value against the expected ones.
void ExpectOutput(const float* out, const std::vector<float>& expected)
{
    ASSERT_NE(out, nullptr);
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_FLOAT_EQ(out[i], expected[i]) << "at " << i;
}

class OVPluginTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_NE(Plugin().handle, nullptr) << Plugin().error;
        ASSERT_NE(Plugin().create, nullptr);
        ASSERT_NE(Plugin().initialize, nullptr);
    }

    std::string Write(const std::string& name, const std::vector<unsigned char>& bytes)
    {
        return dir.write(name, AsString(bytes));
    }

    OrvixTest::TempDir dir;
};

} // namespace

TEST_F(OVPluginTest, OpensByBareNameFromTheBuildLibraryFolder)
{
    link_map* map = nullptr;
    ASSERT_EQ(dlinfo(Plugin().handle, RTLD_DI_LINKMAP, &map), 0);
    // The build's own plug-in, not one installed elsewhere on the machine.
    EXPECT_EQ(std::string(map->l_name), std::string(ORVIX_PLUGIN_DIR) + "/libOVPlugin.so");
}

TEST_F(OVPluginTest, GreyModelGivesTheHandComputedOutput)
{
    const std::string path = Write("grey.vino", PackFixture("grey_conv.onnx", GreyDeclaration()));
    std::unique_ptr<ONN::INNModel> model = CreateModel(path);
    ASSERT_TRUE(model->IsLoaded());
    EXPECT_EQ(model->GetOutputSize(), GREY_SIZE * GREY_SIZE);
    EXPECT_EQ(model->GetDataType(), ONN::UINT8);
    EXPECT_EQ(model->GetLayoutType(), ONN::ImageUtils::NHWC);

    std::unique_ptr<ONN::INNRunner> runner(model->CreateRunner());
    ASSERT_TRUE(runner->IsInitialized());
    EXPECT_EQ(runner->GetInputBuffer(), nullptr);
    // Several inputs through one runner: nothing of an earlier run remains.
    for (unsigned seed = 0; seed < 3; ++seed)
    {
        SCOPED_TRACE(seed);
        std::vector<unsigned char> pixels = GreyPixels(seed);
        ONN::NNData input(pixels.data(), 1, GREY_SIZE, GREY_SIZE, ONN::ImageUtils::NHWC, ONN::UINT8, true);
        ExpectOutput(runner->Forward(input), GreyExpected(pixels));
    }
}

// The runner turns the declared input into OpenCV's planar float blob:
// interleaved bytes are de-interleaved, planar floats pass as given. rgb_mix
// weighs its channels 1, 10, 100, so a swapped channel or axis shows.
TEST_F(OVPluginTest, ThreeChannelInputReachesTheNetworkInChannelOrder)
{
    const std::vector<unsigned char> interleaved = RgbInterleaved();
    const int plane = RGB_HEIGHT * RGB_WIDTH;
    std::vector<float> planar(3 * plane);
    for (int p = 0; p < plane; ++p)
        for (int c = 0; c < 3; ++c)
            planar[c * plane + p] = interleaved[3 * p + c] / 4.0f;

    struct Case
    {
        const char* label;
        InputDeclaration declared;
        void* data;
        float scale;
    };
    const Case cases[] = {
        {"uint8 nhwc", Declare(ONN::UINT8, ONN::ImageUtils::NHWC, 3, RGB_HEIGHT, RGB_WIDTH),
         const_cast<unsigned char*>(interleaved.data()), 1.0f},
        {"fp32 nchw", Declare(ONN::FP32, ONN::ImageUtils::NCHW, 3, RGB_HEIGHT, RGB_WIDTH), planar.data(), 0.25f},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.label);
        const std::string path = Write("rgb.vino", PackFixture("rgb_mix.onnx", c.declared));
        std::unique_ptr<ONN::INNModel> model = CreateModel(path);
        ASSERT_TRUE(model->IsLoaded());
        EXPECT_EQ(model->GetOutputSize(), plane);
        EXPECT_EQ(model->GetDataType(), c.declared.dataType);
        EXPECT_EQ(model->GetLayoutType(), c.declared.layout);
        std::unique_ptr<ONN::INNRunner> runner(model->CreateRunner());
        ONN::NNData input(c.data, 3, RGB_WIDTH, RGB_HEIGHT, c.declared.layout, c.declared.dataType, true);
        ExpectOutput(runner->Forward(input), RgbExpected(interleaved, c.scale));
    }
}

TEST_F(OVPluginTest, InputOfAnotherShapeIsRefusedWithoutHarm)
{
    const std::string path = Write("grey.vino", PackFixture("grey_conv.onnx", GreyDeclaration()));
    std::unique_ptr<ONN::INNModel> model = CreateModel(path);
    ASSERT_TRUE(model->IsLoaded());
    std::unique_ptr<ONN::INNRunner> runner(model->CreateRunner());

    std::vector<unsigned char> large(16 * 16, 7);
    const struct
    {
        const char* label;
        int channels, width, height;
        void* data;
    } cases[] = {
        {"larger image", 1, 16, 16, large.data()},
        {"smaller image", 1, 4, 4, large.data()},
        {"width and height swapped in count", 3, 8, 8, large.data()},
        {"no data", 1, 8, 8, nullptr},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.label);
        ONN::NNData input(c.data, c.channels, c.width, c.height, ONN::ImageUtils::NHWC, ONN::UINT8, true);
        EXPECT_EQ(runner->Forward(input), nullptr);
    }
    // The runner still works afterwards.
    std::vector<unsigned char> pixels = GreyPixels(5);
    ONN::NNData input(pixels.data(), 1, GREY_SIZE, GREY_SIZE, ONN::ImageUtils::NHWC, ONN::UINT8, true);
    ExpectOutput(runner->Forward(input), GreyExpected(pixels));
}

// Every unusable file gives a model that is not loaded, whose runners are not
// initialised and return null: never a crash, never an exception.
TEST_F(OVPluginTest, UnusableFilesGiveModelsThatAreNotLoaded)
{
    const std::vector<unsigned char> good = PackFixture("grey_conv.onnx", GreyDeclaration());
    ASSERT_FALSE(good.empty());
    const std::vector<unsigned char> key = OrvixSDK::Key::buildModelKey();

    auto cut = [&](size_t size) { return std::vector<unsigned char>(good.begin(), good.begin() + size); };
    auto flip = [&](size_t offset, unsigned char mask) {
        std::vector<unsigned char> bytes = good;
        bytes[offset] ^= mask;
        return bytes;
    };
    auto extended = [&]() {
        std::vector<unsigned char> bytes = good;
        bytes.push_back(0);
        return bytes;
    };
    auto patch = [&](size_t offset, std::vector<unsigned char> with) {
        std::vector<unsigned char> bytes = good;
        std::copy(with.begin(), with.end(), bytes.begin() + offset);
        return bytes;
    };
    // A container whose text, decrypted with the right key, ends in a pad
    // byte that does not match the bytes before it.
    auto badPadding = [&]() {
        std::vector<unsigned char> text = ReadFixture("grey_conv.onnx");
        AddPadding(text);
        text[text.size() - 2] ^= 0x40;
        VinoHeader header;
        header.input = GreyDeclaration();
        std::vector<unsigned char> cipher;
        AesCbc(true, text.data(), text.size(), key.data(), header.iv, cipher);
        header.payloadLength = static_cast<uint32_t>(cipher.size());
        std::vector<unsigned char> bytes = EncodeHeader(header);
        bytes.insert(bytes.end(), header.iv, header.iv + 16);
        bytes.insert(bytes.end(), cipher.begin(), cipher.end());
        return bytes;
    };
    const std::string noise = OrvixTest::randomBytes(4096, 17);
    std::vector<unsigned char> notANetwork;
    ASSERT_EQ(PackModel(reinterpret_cast<const unsigned char*>(noise.data()), noise.size(), GreyDeclaration(),
                        key.data(), 16, notANetwork),
              VinoStatus::OK);
    // The penultimate block's last byte steers the last plain byte (the pad
    // count, 3 for this network).
    const size_t padCountByte = good.size() - 17;

    const struct
    {
        const char* label;
        std::vector<unsigned char> bytes;
        VinoStatus status; // OK: the container is sound but the network is not usable
    } cases[] = {
        {"empty file", {}, VinoStatus::TRUNCATED},
        {"magic only", cut(8), VinoStatus::TRUNCATED},
        {"header without IV", cut(64), VinoStatus::TRUNCATED},
        {"last block missing", cut(good.size() - 16), VinoStatus::TRUNCATED},
        {"one byte short", cut(good.size() - 1), VinoStatus::TRUNCATED},
        {"a byte too many", extended(), VinoStatus::SIZE_MISMATCH},
        {"random bytes", std::vector<unsigned char>(noise.begin(), noise.end()), VinoStatus::BAD_MAGIC},
        {"plain ONNX file", ReadFixture("grey_conv.onnx"), VinoStatus::BAD_MAGIC},
        {"version 2", patch(8, {2, 0}), VinoStatus::BAD_VERSION},
        {"zero width", patch(20, {0, 0, 0, 0}), VinoStatus::BAD_HEADER},
        {"pad count changed", flip(padCountByte, 0x01), VinoStatus::BAD_PADDING},
        {"pad bytes inconsistent", badPadding(), VinoStatus::BAD_PADDING},
        {"first block damaged", flip(80, 0x80), VinoStatus::DIGEST_MISMATCH},
        {"IV damaged", flip(64, 0x01), VinoStatus::DIGEST_MISMATCH},
        {"checksum damaged", flip(40, 0x01), VinoStatus::DIGEST_MISMATCH},
        {"not a network", notANetwork, VinoStatus::OK},
        {"declared shape the network refuses",
         PackFixture("grey_conv.onnx", Declare(ONN::UINT8, ONN::ImageUtils::NHWC, 3, 8, 8)), VinoStatus::OK},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.label);
        const std::string path = Write("case.vino", c.bytes);

        VinoHeader header;
        std::vector<unsigned char> plain;
        EXPECT_EQ(ReadModelFile(path.c_str(), key.data(), 16, header, plain), c.status);

        std::unique_ptr<ONN::INNModel> model = CreateModel(path);
        ASSERT_NE(model, nullptr);
        EXPECT_FALSE(model->IsLoaded());
        EXPECT_EQ(model->GetOutputSize(), 0);
        std::unique_ptr<ONN::INNRunner> runner(model->CreateRunner());
        ASSERT_NE(runner, nullptr);
        EXPECT_FALSE(runner->IsInitialized());
        std::vector<unsigned char> pixels = GreyPixels(0);
        ONN::NNData input(pixels.data(), 1, GREY_SIZE, GREY_SIZE, ONN::ImageUtils::NHWC, ONN::UINT8, true);
        EXPECT_EQ(runner->Forward(input), nullptr);
    }
}

TEST_F(OVPluginTest, MissingOversizedAndOddPathsAreRefusedBeforeReading)
{
    const std::string huge = dir.path() + "huge.vino";
    {
        // Sparse: one byte over the cap without using the space.
        const std::vector<unsigned char> good = PackFixture("grey_conv.onnx", GreyDeclaration());
        Write("huge.vino", good);
        ASSERT_EQ(truncate(huge.c_str(), static_cast<off_t>(VINO_MAX_FILE_SIZE) + 1), 0);
    }
    ASSERT_EQ(mkdir((dir.path() + "folder.vino").c_str(), 0700), 0);
    const std::vector<unsigned char> key = OrvixSDK::Key::buildModelKey();
    const struct
    {
        const char* label;
        std::string path;
        VinoStatus status;
    } cases[] = {
        {"missing file", dir.path() + "missing.vino", VinoStatus::CANNOT_OPEN},
        {"folder", dir.path() + "folder.vino", VinoStatus::CANNOT_OPEN},
        {"above 512 MB", huge, VinoStatus::TOO_LARGE},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.label);
        VinoHeader header;
        std::vector<unsigned char> plain;
        EXPECT_EQ(ReadModelFile(c.path.c_str(), key.data(), 16, header, plain), c.status);
        EXPECT_FALSE(CreateModel(c.path)->IsLoaded());
    }

    ONN::ModelParams noPath;
    noPath.key.keyData = const_cast<unsigned char*>(key.data());
    noPath.key.keyLength = 16;
    std::unique_ptr<ONN::INNModel> model(Plugin().create(noPath));
    ASSERT_NE(model, nullptr);
    EXPECT_FALSE(model->IsLoaded());
}

TEST_F(OVPluginTest, OnlyTheRightSixteenByteKeyLoads)
{
    const std::string path = Write("grey.vino", PackFixture("grey_conv.onnx", GreyDeclaration()));
    const std::vector<unsigned char> key = OrvixSDK::Key::buildModelKey();
    std::vector<unsigned char> wrong = key;
    wrong[7] ^= 0x01;
    std::vector<unsigned char> longer = key;
    longer.push_back(0);

    EXPECT_TRUE(CreateModel(path, key.data(), 16)->IsLoaded());
    EXPECT_FALSE(CreateModel(path, wrong.data(), 16)->IsLoaded());
    EXPECT_FALSE(CreateModel(path, key.data(), 15)->IsLoaded());
    EXPECT_FALSE(CreateModel(path, longer.data(), 17)->IsLoaded());
    EXPECT_FALSE(CreateModel(path, nullptr, 16)->IsLoaded());

    VinoHeader header;
    std::vector<unsigned char> plain;
    const VinoStatus status = ReadModelFile(path.c_str(), wrong.data(), 16, header, plain);
    EXPECT_TRUE(status == VinoStatus::BAD_PADDING || status == VinoStatus::DIGEST_MISMATCH) << VinoStatusText(status);
    EXPECT_TRUE(plain.empty());
}

// Runners of one model have their own networks: two threads forwarding at
// once each get their own, correct results.
TEST_F(OVPluginTest, RunnersOfOneModelRunOnTwoThreadsAtOnce)
{
    const std::string path = Write("grey.vino", PackFixture("grey_conv.onnx", GreyDeclaration()));
    std::unique_ptr<ONN::INNModel> model = CreateModel(path);
    ASSERT_TRUE(model->IsLoaded());
    std::unique_ptr<ONN::INNRunner> runners[2] = {std::unique_ptr<ONN::INNRunner>(model->CreateRunner()),
                                                  std::unique_ptr<ONN::INNRunner>(model->CreateRunner())};
    std::atomic<int> wrong(0);
    std::atomic<int> ready(0);
    auto work = [&](int index) {
        ready.fetch_add(1);
        while (ready.load() < 2)
            std::this_thread::yield();
        for (unsigned round = 0; round < 200; ++round)
        {
            std::vector<unsigned char> pixels = GreyPixels(round * 2 + index);
            const std::vector<float> expected = GreyExpected(pixels);
            ONN::NNData input(pixels.data(), 1, GREY_SIZE, GREY_SIZE, ONN::ImageUtils::NHWC, ONN::UINT8, true);
            const float* out = runners[index]->Forward(input);
            if (out == nullptr || !std::equal(expected.begin(), expected.end(), out))
                wrong.fetch_add(1);
        }
    };
    std::thread first(work, 0);
    std::thread second(work, 1);
    first.join();
    second.join();
    EXPECT_EQ(wrong.load(), 0);
}

// OpenCV's thread count is process-wide: a model that loads applies the
// configured count; one that fails changes nothing.
TEST_F(OVPluginTest, ThreadCountOfTheConfigurationIsApplied)
{
    const int before = cv::getNumThreads();
    const std::string path = Write("grey.vino", PackFixture("grey_conv.onnx", GreyDeclaration()));
    const std::vector<unsigned char> key = OrvixSDK::Key::buildModelKey();
    const std::vector<unsigned char> wrong(16, 0);

    EXPECT_TRUE(CreateModel(path, key.data(), 16, 2)->IsLoaded());
    EXPECT_EQ(cv::getNumThreads(), 2);
    EXPECT_TRUE(CreateModel(path, key.data(), 16, 1)->IsLoaded());
    EXPECT_EQ(cv::getNumThreads(), 1);
    EXPECT_FALSE(CreateModel(path, wrong.data(), 16, 2)->IsLoaded());
    EXPECT_EQ(cv::getNumThreads(), 1);

    cv::setNumThreads(before);
}
