// The built data pack (<build>/data/, made by the "datapack" target) opened the
// way the SDK opens it: through the chooser and the OV_CPU plug-in under the
// model key. Skipped when no pack has been built.

#include "OrvixSDK/FDP.h"
#include "OrvixSDK/OrvixConfiguration.h"
#include "DataPackSupport.h"
#include "detection/ModelKey.h"
#include "onn/Config.h"
#include "onn/ONNIEChooser.h"

#include <gtest/gtest.h>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace
{

namespace fs = std::filesystem;

const std::string PACK = OrvixTest::packDir();
const std::string WORK = OrvixTest::packWorkDir();

// The contents of "aux_file.bin": little-endian int32 and float32 items.
struct AuxFile
{
    int count = 0;
    std::vector<std::pair<int, int>> points;
    int dimension = 0;
    std::vector<float> meanShape;
    float shapeScale = 0;
};

bool ReadAux(const std::string& path, AuxFile& aux, std::string& why)
{
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    size_t at = 0;
    auto item = [&](void* out) {
        if (at + 4 > bytes.size())
            return false;
        std::memcpy(out, bytes.data() + at, 4);
        at += 4;
        return true;
    };
    int32_t n = 0;
    if (!item(&n) || n <= 0 || n > 10000)
        return why = "bad landmark count", false;
    aux.count = n;
    for (int k = 0; k < n; ++k)
    {
        int32_t group = 0, index = 0;
        if (!item(&group) || !item(&index))
            return why = "truncated point list", false;
        aux.points.emplace_back(group, index);
    }
    int32_t dimension = 0;
    if (!item(&dimension))
        return why = "truncated before the dimension", false;
    aux.dimension = dimension;
    aux.meanShape.resize(2 * static_cast<size_t>(n));
    for (float& v : aux.meanShape)
        if (!item(&v))
            return why = "truncated mean shape", false;
    if (!item(&aux.shapeScale))
        return why = "truncated before the shape scale", false;
    if (at != bytes.size())
        return why = "trailing bytes", false;
    return true;
}

// The face finder's 256x256 letterbox of a grey image: content centred, zero fill.
struct Letterbox
{
    cv::Mat input;
    int x0 = 0, y0 = 0;
    double scale = 1;
};

Letterbox MakeLetterbox(const cv::Mat& image)
{
    Letterbox box;
    box.input = cv::Mat::zeros(256, 256, CV_8UC1);
    const double aspect = double(image.cols) / image.rows;
    int w = 256, h = 256;
    if (aspect > 1)
    {
        h = static_cast<int>(std::nearbyint(256 / aspect));
        box.y0 = (256 - h) / 2;
        box.scale = image.cols / 256.0;
    }
    else
    {
        w = static_cast<int>(std::nearbyint(256 * aspect));
        box.x0 = (256 - w) / 2;
        box.scale = image.rows / 256.0;
    }
    cv::Mat content = box.input(cv::Rect(box.x0, box.y0, w, h));
    cv::resize(image, content, content.size(), 0, 0, cv::INTER_LINEAR);
    return box;
}

// Prior boxes (cx, cy, w, h normalised to the input): maps with steps 8, 16,
// 32, 64; rows, columns, then sizes.
std::vector<cv::Vec4f> Priors()
{
    const std::vector<std::pair<int, std::vector<int>>> maps = {
        {8, {10, 16, 24}}, {16, {32, 48}}, {32, {64, 96}}, {64, {128, 192, 256}}};
    std::vector<cv::Vec4f> priors;
    for (const auto& map : maps)
    {
        const int cells = (256 + map.first - 1) / map.first;
        for (int j = 0; j < cells; ++j)
            for (int k = 0; k < cells; ++k)
                for (int a : map.second)
                    priors.emplace_back((k + 0.5f) * map.first / 256, (j + 0.5f) * map.first / 256, a / 256.0f,
                                        a / 256.0f);
    }
    return priors;
}

const size_t PRIOR_COUNT = 3760;

struct Box
{
    float x1, y1, x2, y2, confidence;
};

// Candidates above the threshold, decoded from the three output blocks, in
// input pixels, highest confidence first, overlapping ones (IoU >= 0.25)
// suppressed.
std::vector<Box> DecodeFaces(const float* out, float threshold)
{
    const std::vector<cv::Vec4f> priors = Priors();
    const size_t n = priors.size();
    std::vector<Box> boxes;
    for (size_t i = 0; i < n; ++i)
    {
        const float score = out[4 * n + 2 * i + 1];
        if (!(score > threshold))
            continue;
        const cv::Vec4f& p = priors[i];
        const float* d = out + 4 * i;
        const float cx = p[0] + 0.1f * d[0] * p[2], cy = p[1] + 0.1f * d[1] * p[3];
        const float w = p[2] * std::exp(0.2f * d[2]), h = p[3] * std::exp(0.2f * d[3]);
        boxes.push_back({std::max(0.0f, (cx - w / 2) * 256), std::max(0.0f, (cy - h / 2) * 256),
                         std::min(256.0f, (cx + w / 2) * 256), std::min(256.0f, (cy + h / 2) * 256), score});
    }
    std::sort(boxes.begin(), boxes.end(), [](const Box& a, const Box& b) { return a.confidence > b.confidence; });
    auto area = [](const Box& b) { return (b.x2 - b.x1 + 1) * (b.y2 - b.y1 + 1); };
    std::vector<Box> kept;
    for (const Box& b : boxes)
    {
        bool overlaps = false;
        for (const Box& k : kept)
        {
            const float iw = std::min(b.x2, k.x2) - std::max(b.x1, k.x1) + 1;
            const float ih = std::min(b.y2, k.y2) - std::max(b.y1, k.y1) + 1;
            const float inter = std::max(iw, 0.0f) * std::max(ih, 0.0f);
            overlaps = overlaps || inter / (area(b) + area(k) - inter) >= 0.25f;
        }
        if (!overlaps)
            kept.push_back(b);
    }
    return kept;
}

class DataPackTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!OrvixTest::packPresent())
            GTEST_SKIP() << "no data pack in " << PACK << " (build the datapack target)";
    }

    // A frontend for a network of the pack, opened like the SDK opens it.
    std::unique_ptr<ONN::NNFrontend> Open(const std::string& stem)
    {
        ONN::Config config;
        config.SetBackend(ONN::OV_CPU);
        config.SetThreadCount(1);
        ONN::ONNIEChooser chooser(config);
        std::vector<unsigned char> key = OrvixSDK::Key::buildModelKey();
        std::unique_ptr<ONN::NNFrontend> frontend(
            chooser.Create((PACK + stem).c_str(), key.data(), static_cast<int>(key.size())));
        EXPECT_NE(frontend, nullptr) << stem << ": chooser status " << chooser.GetCodeStatus();
        if (frontend)
        {
            EXPECT_TRUE(frontend->GetModel()->IsLoaded()) << stem;
        }
        return frontend;
    }

    // One forward pass on a 1-channel uint8 image; null when the run fails.
    static const float* Run(ONN::NNFrontend& frontend, cv::Mat& image)
    {
        ONN::INNRunner* runner = frontend.CreateRunner();
        if (runner == nullptr)
            return nullptr;
        ONN::NNData data(image.data, 1, image.cols, image.rows, ONN::ImageUtils::NHWC, ONN::UINT8, true);
        return runner->Forward(data);
    }
};

TEST_F(DataPackTest, EveryNetworkLoadsWithTheOutputSizeItsReaderExpects)
{
    AuxFile aux;
    std::string why;
    ASSERT_TRUE(ReadAux(PACK + "nn/alignment/aux_file.bin", aux, why)) << why;

    const struct
    {
        const char* stem;
        int side;
        int outputs;
    } networks[] = {{"nn/face-detector/ff", 256, static_cast<int>(PRIOR_COUNT) * 16},
                    {"nn/alignment/d1qy", 96, 3 * aux.count},
                    {"nn/pupils/pr", 32, 3}};
    for (const auto& net : networks)
    {
        SCOPED_TRACE(net.stem);
        std::unique_ptr<ONN::NNFrontend> frontend = Open(net.stem);
        ASSERT_NE(frontend, nullptr);
        EXPECT_EQ(frontend->GetModel()->GetOutputSize(), net.outputs);
        EXPECT_EQ(frontend->GetModel()->GetDataType(), ONN::UINT8);
        EXPECT_EQ(frontend->GetModel()->GetLayoutType(), ONN::ImageUtils::NHWC);
        cv::Mat image(net.side, net.side, CV_8UC1);
        cv::randu(image, 0, 256);
        const float* out = Run(*frontend, image);
        ASSERT_NE(out, nullptr);
        EXPECT_TRUE(std::all_of(out, out + net.outputs, [](float v) { return std::isfinite(v); }));
    }
}

TEST_F(DataPackTest, AlignmentFileNamesDistinctFeaturePointsAndA2dMeanShape)
{
    AuxFile aux;
    std::string why;
    ASSERT_TRUE(ReadAux(PACK + "nn/alignment/aux_file.bin", aux, why)) << why;
    EXPECT_EQ(aux.dimension, 2);
    EXPECT_GT(aux.shapeScale, 0.0f);
    EXPECT_TRUE(std::isfinite(aux.shapeScale));
    std::set<std::pair<int, int>> seen;
    for (const auto& point : aux.points)
    {
        EXPECT_TRUE(OrvixSDK::FDP::FPIsValid(point.first, point.second)) << point.first << "." << point.second;
        EXPECT_TRUE(seen.insert(point).second) << "repeated " << point.first << "." << point.second;
    }
    float lowX = 1e30f, highX = -1e30f, lowY = 1e30f, highY = -1e30f;
    for (int k = 0; k < aux.count; ++k)
    {
        const float x = aux.meanShape[2 * k], y = aux.meanShape[2 * k + 1];
        ASSERT_TRUE(std::isfinite(x) && std::isfinite(y));
        lowX = std::min(lowX, x), highX = std::max(highX, x), lowY = std::min(lowY, y), highY = std::max(highY, y);
    }
    // The mean shape must have an extent: it is scaled by its larger side.
    EXPECT_GT(std::max(highX - lowX, highY - lowY), 0.0f);
}

TEST_F(DataPackTest, ConfigurationFilesNameThePackFolders)
{
    ONN::Config config;
    ASSERT_TRUE(config.Read((PACK + "NeuralNet.cfg").c_str()));
    EXPECT_EQ(config.GetBackend(), ONN::OV_CPU);
    EXPECT_EQ(config.GetThreadCount(), 1);

    testing::internal::CaptureStdout();
    OrvixSDK::OrvixConfiguration tracker((PACK + "orvix-tracker.cfg").c_str());
    testing::internal::GetCapturedStdout();
    EXPECT_TRUE(fs::is_regular_file(tracker.getOfdDataPath() + "/ff.vino")) << tracker.getOfdDataPath();
    EXPECT_TRUE(fs::is_regular_file(tracker.getOftDataPath() + "/d1qy.vino")) << tracker.getOftDataPath();
    EXPECT_TRUE(fs::is_regular_file(tracker.getOftDataPath() + "/aux_file.bin"));
    EXPECT_TRUE(fs::is_regular_file(tracker.getPrDataPath() + "/pr.vino")) << tracker.getPrDataPath();
    // The network configuration sits two levels above the face-detector folder.
    EXPECT_TRUE(fs::equivalent(tracker.getOfdDataPath() + "/../../NeuralNet.cfg", PACK + "NeuralNet.cfg"));
    // No face models in the pack: no fitting, no refinement stage, no ears.
    EXPECT_EQ(tracker.getFittingAlgorithm(), "none");
    EXPECT_EQ(tracker.getPoseFittingModelConfiguration(), "");
    EXPECT_EQ(tracker.getRefineLandmarks(), 0u);
    EXPECT_EQ(tracker.getRefineEars(), 0u);
    EXPECT_EQ(tracker.getProcessEyes(), 3u);
    EXPECT_FLOAT_EQ(tracker.getFaceDetectorSensitivity(), 0.5f);
    EXPECT_FLOAT_EQ(tracker.getMinFaceScale(), 0.15f);
}

TEST_F(DataPackTest, FaceFinderSeesNothingInAnEmptyFrameAndAFaceInEveryDemoPhoto)
{
    std::unique_ptr<ONN::NNFrontend> frontend = Open("nn/face-detector/ff");
    ASSERT_NE(frontend, nullptr);
    // Sensitivity 0.5 gives the score threshold 0.5.
    const float threshold = 0.5f;

    cv::Mat empty = cv::Mat::zeros(256, 256, CV_8UC1);
    const float* out = Run(*frontend, empty);
    ASSERT_NE(out, nullptr);
    float highest = 0;
    for (size_t i = 0; i < PRIOR_COUNT; ++i)
        highest = std::max(highest, out[4 * PRIOR_COUNT + 2 * i + 1]);
    EXPECT_LE(highest, threshold);

    std::vector<std::string> photos;
    const std::string demo = WORK + "demo";
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(demo, error))
        if (entry.path().extension() == ".pgm")
            photos.push_back(entry.path().string());
    std::sort(photos.begin(), photos.end());
    if (photos.empty())
        GTEST_SKIP() << "no demo photos in " << demo;
    for (const std::string& path : photos)
    {
        SCOPED_TRACE(path);
        cv::Mat photo = OrvixTest::readPgm(path);
        ASSERT_FALSE(photo.empty());
        Letterbox box = MakeLetterbox(photo);
        const float* result = Run(*frontend, box.input);
        ASSERT_NE(result, nullptr);
        const std::vector<Box> faces = DecodeFaces(result, threshold);
        EXPECT_GE(faces.size(), 1u);
        for (const Box& face : faces)
        {
            // Every face lies on the photo's content and is a sensible size.
            const double cx = ((face.x1 + face.x2) / 2 - box.x0) * box.scale;
            const double cy = ((face.y1 + face.y2) / 2 - box.y0) * box.scale;
            const double side = (face.x2 - face.x1) * box.scale;
            EXPECT_TRUE(cx > 0 && cx < photo.cols && cy > 0 && cy < photo.rows) << cx << ", " << cy;
            EXPECT_GT(side, 10.0);
            EXPECT_LT(side, std::max(photo.cols, photo.rows));
            EXPECT_LE(face.confidence, 1.0f);
        }
    }
}

} // namespace
