#include "detection/ONNFaceFinder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/core/core_c.h>

#include "DataPackSupport.h"
#include "detection/ONNFaceFinderData.h"
#include "libVision/detection/FakeNetwork.h"
#include "onn/Config.h"
#include "onn/NNInterfaces.h"
#include "onn/ONNIEChooser.h"

using namespace OrvixSDK;
using Detection = ONNFaceFinder::Detection;
using OrvixTest::FakeFrontend;
using OrvixTest::FakeNetwork;

namespace {

const int kPriorCount = 3760;
const int kOutputSize = kPriorCount * 16;

// Index of a prior: feature map (0..3), row, column and size slot.
int priorIndex(int map, int row, int column, int slot)
{
    const int cells[] = {32, 16, 8, 4};
    const int sizes[] = {3, 2, 2, 3};
    int offset = 0;
    for (int m = 0; m < map; ++m)
        offset += cells[m] * cells[m] * sizes[m];
    return offset + (row * cells[map] + column) * sizes[map] + slot;
}

void setPrior(std::vector<float>& output, int index, float score, float dx = 0, float dy = 0, float dw = 0,
              float dh = 0)
{
    float* location = output.data() + 4 * index;
    location[0] = dx;
    location[1] = dy;
    location[2] = dw;
    location[3] = dh;
    output[4 * kPriorCount + 2 * index] = 1.0f - score;
    output[4 * kPriorCount + 2 * index + 1] = score;
}

// A grey image of the given size whose rows are padded; content is filled
// with value, the padding with 255.
struct GreyImage
{
    GreyImage(int width, int height, unsigned char value, int padding = 0)
        : bytes(static_cast<size_t>(width + padding) * height, 255)
    {
        image = cvCreateImageHeader(cvSize(width, height), IPL_DEPTH_8U, 1);
        cvSetData(image, bytes.data(), width + padding);
        for (int y = 0; y < height; ++y)
            std::fill_n(bytes.data() + static_cast<size_t>(y) * (width + padding), width, value);
    }
    ~GreyImage() { cvReleaseImageHeader(&image); }
    GreyImage(const GreyImage&) = delete;
    GreyImage& operator=(const GreyImage&) = delete;

    unsigned char& at(int x, int y) { return bytes[static_cast<size_t>(y) * image->widthStep + x]; }

    std::vector<unsigned char> bytes;
    IplImage* image = nullptr;
};

class FinderTest : public ::testing::Test
{
protected:
    void SetUp() override { rebuild(); }

    void rebuild()
    {
        finder.reset();
        data.reset(new ONNFaceFinderData(new FakeFrontend(net)));
        finder.reset(new ONNFaceFinder(data.get()));
    }

    std::vector<Detection> find(int width, int height, float sensitivity = 0.75f, float minScale = 0.0f,
                                float maxScale = 1.0f, const CvRect* region = nullptr)
    {
        GreyImage frame(width, height, 128);
        std::vector<Detection> faces(3);  // stale content must go
        const int count = finder->findFaces(frame.image, faces, sensitivity, minScale, maxScale, region);
        EXPECT_EQ(count, static_cast<int>(faces.size()));
        return faces;
    }

    std::shared_ptr<FakeNetwork> net = std::make_shared<FakeNetwork>(std::vector<float>(kOutputSize, 0.0f));
    std::unique_ptr<ONNFaceFinderData> data;
    std::unique_ptr<ONNFaceFinder> finder;  // after data: destroyed first
};

void expectSquare(const Detection& d, float x1, float y1, float x2, float y2)
{
    EXPECT_FLOAT_EQ(d.x1, x1);
    EXPECT_FLOAT_EQ(d.y1, y1);
    EXPECT_FLOAT_EQ(d.x2, x2);
    EXPECT_FLOAT_EQ(d.y2, y2);
}

TEST(ONNFaceFinderDetectionTest, IouCountsPixelsInclusively)
{
    const Detection a(0, 0, 9, 9, 1);
    struct Case
    {
        Detection b;
        float iou;
    };
    const Case cases[] = {
        {Detection(0, 0, 9, 9, 1), 1.0f},
        {Detection(6, 0, 15, 9, 1), 40.0f / 160.0f},  // 4 shared columns of 10
        {Detection(9, 9, 18, 18, 1), 1.0f / 199.0f},  // one shared pixel
        {Detection(10, 0, 19, 9, 1), 0.0f},           // touching, nothing shared
        {Detection(30, 30, 40, 40, 1), 0.0f},
    };
    for (const Case& c : cases) {
        EXPECT_FLOAT_EQ(a.iou(c.b), c.iou) << c.b.x1 << "," << c.b.y1;
        EXPECT_FLOAT_EQ(c.b.iou(a), c.iou);
    }
}

TEST(ONNFaceFinderDetectionTest, RectConversionsAndOrderings)
{
    const Detection fromRect(cvRect(3, 4, 10, 20));
    expectSquare(fromRect, 3, 4, 13, 24);
    const CvRect r = Detection(1.9f, 2.5f, 11.2f, 7.9f, 0).rect();
    EXPECT_EQ(r.x, 1);
    EXPECT_EQ(r.y, 2);
    EXPECT_EQ(r.width, 9);   // 9.3 truncated
    EXPECT_EQ(r.height, 5);  // 5.4 truncated

    const Detection wide(0, 0, 20, 5, 0.1f), tall(0, 0, 10, 50, 0.9f);
    EXPECT_TRUE(Detection::greaterSize(wide, tall));  // width only
    EXPECT_FALSE(Detection::greaterSize(tall, wide));
    EXPECT_FALSE(Detection::greaterSize(wide, wide));
    EXPECT_TRUE(Detection::greaterConfidence(tall, wide));
    EXPECT_FALSE(Detection::greaterConfidence(wide, wide));
}

TEST(ONNFaceFinderNmsTest, EarlierBoxesWinAndKeptIndicesPointIntoTheInput)
{
    struct Case
    {
        const char* name;
        std::vector<Detection> boxes;
        std::vector<int> kept;
    };
    const Case cases[] = {
        {"IoU exactly at the threshold removes the later box",
         {Detection(0, 0, 9, 9, 0.9f), Detection(6, 0, 15, 9, 0.8f)},
         {0}},
        {"IoU below the threshold keeps both",
         {Detection(0, 0, 9, 9, 0.9f), Detection(7, 0, 16, 9, 0.8f)},
         {0, 1}},
        {"the box moving into a freed place is compared too",
         {Detection(0, 0, 9, 9, 0.9f), Detection(1, 0, 10, 9, 0.8f), Detection(0, 1, 9, 10, 0.7f),
          Detection(50, 50, 60, 60, 0.6f)},
         {0, 3}},
        {"a removed box suppresses nothing",
         {Detection(0, 0, 9, 9, 0.9f), Detection(5, 0, 14, 9, 0.8f), Detection(10, 0, 19, 9, 0.7f)},
         {0, 2}},
        {"order decides, not confidence",
         {Detection(0, 0, 9, 9, 0.1f), Detection(0, 0, 9, 9, 0.9f)},
         {0}},
        {"empty list", {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<Detection> boxes = c.boxes;
        std::vector<int> kept = {99};
        ONNFaceFinder::nonMaximumSupression(boxes, 0.25f, &kept);
        EXPECT_EQ(kept, c.kept);
        ASSERT_EQ(boxes.size(), c.kept.size());
        for (size_t i = 0; i < boxes.size(); ++i)
            EXPECT_FLOAT_EQ(boxes[i].confidence, c.boxes[static_cast<size_t>(c.kept[i])].confidence);
        std::vector<Detection> again = c.boxes;
        ONNFaceFinder::nonMaximumSupression(again, 0.25f, nullptr);
        EXPECT_EQ(again.size(), c.kept.size());
    }
}

TEST(ONNFaceFinderPriorsTest, FourMapsInNetworkOrder)
{
    const std::vector<ONNFaceFinder::CenteredBox> priors = ONNFaceFinder::makePriors();
    ASSERT_EQ(priors.size(), static_cast<size_t>(kPriorCount));
    struct Case
    {
        int index;
        float cx, cy, size;  // input pixels
    };
    const Case cases[] = {
        {priorIndex(0, 0, 0, 0), 4, 4, 10},       {priorIndex(0, 0, 0, 2), 4, 4, 24},
        {priorIndex(0, 0, 1, 0), 12, 4, 10},      {priorIndex(0, 1, 0, 1), 4, 12, 16},
        {priorIndex(1, 0, 0, 0), 8, 8, 32},       {priorIndex(2, 7, 7, 1), 240, 240, 96},
        {priorIndex(3, 0, 0, 0), 32, 32, 128},    {kPriorCount - 1, 224, 224, 256},
    };
    EXPECT_EQ(priorIndex(1, 0, 0, 0), 3072);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.index);
        const ONNFaceFinder::CenteredBox& p = priors[static_cast<size_t>(c.index)];
        EXPECT_FLOAT_EQ(p.cx * 256, c.cx);
        EXPECT_FLOAT_EQ(p.cy * 256, c.cy);
        EXPECT_FLOAT_EQ(p.w * 256, c.size);
        EXPECT_FLOAT_EQ(p.h * 256, c.size);
    }
}

TEST_F(FinderTest, LetterboxPlacesTheContentAndZeroesTheRest)
{
    struct Case
    {
        int width, height;
        int x0, y0, contentWidth, contentHeight;
    };
    const Case cases[] = {
        {640, 480, 0, 32, 256, 192}, {480, 640, 32, 0, 192, 256}, {300, 300, 0, 0, 256, 256},
        {512, 301, 0, 53, 256, 150},  // 150.5 rounds to even
        {512, 303, 0, 52, 256, 152},  // 151.5 rounds to even
        {1, 1, 0, 0, 256, 256},       {37, 23, 0, 48, 256, 159},
        {1, 2000, 127, 0, 1, 256},    // below one column: one column is kept
        {2000, 1, 0, 127, 256, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
        net->inputs.clear();
        EXPECT_TRUE(find(c.width, c.height).empty());
        ASSERT_EQ(net->inputs.size(), 1u);
        const std::vector<unsigned char>& input = net->inputs[0].bytes;
        ASSERT_EQ(input.size(), 256u * 256u);
        int wrong = 0;
        for (int y = 0; y < 256; ++y)
            for (int x = 0; x < 256; ++x) {
                const bool inside = x >= c.x0 && x < c.x0 + c.contentWidth && y >= c.y0 && y < c.y0 + c.contentHeight;
                wrong += input[static_cast<size_t>(y) * 256 + x] != (inside ? 128 : 0);
            }
        EXPECT_EQ(wrong, 0);
    }
}

TEST_F(FinderTest, RowPaddingIsNotPartOfTheImage)
{
    GreyImage frame(256, 256, 0, 13);
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x)
            frame.at(x, y) = static_cast<unsigned char>((x * 7 + y * 3) & 0xff);
    std::vector<Detection> faces;
    EXPECT_EQ(finder->findFaces(frame.image, faces, 0.75f, 0, 1, nullptr), 0);
    ASSERT_EQ(net->inputs.size(), 1u);
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x)
            ASSERT_EQ(net->inputs[0].bytes[static_cast<size_t>(y) * 256 + x], frame.at(x, y)) << x << "," << y;
}

TEST_F(FinderTest, BoxesMapBackToSquaresInImagePixelsRoundingHalvesToEven)
{
    struct Case
    {
        const char* name;
        int width, height;
        int prior;
        float x1, y1, x2, y2;
    };
    // Prior 10 at input (164, 84): box 159..169 x 79..89.
    const int small = priorIndex(0, 10, 20, 0);
    const Case cases[] = {
        // x 397.5..422.5, y 117.5..142.5: g = round(12.5) = 12, centre (410, 130).
        {"landscape 640x480: y0 32, scale 2.5", 640, 480, small, 398, 118, 422, 142},
        // x 317.5..342.5, y 197.5..222.5: centre (330, 210).
        {"portrait 480x640: x0 32, scale 2.5", 480, 640, small, 318, 198, 342, 222},
        // Prior 24 at input (20, 12): box 8..32 x 0..24, scale 1/8: x 1..4,
        // y 0..3; g = round(1.5) = 2, centre (round(2.5), round(1.5)) = (2, 2).
        {"32x32: halves of centre and size", 32, 32, priorIndex(0, 1, 2, 2), 0, 0, 4, 4},
        // Prior 256 at (32, 32) is clipped to 0..160: x, y 0..250 on a
        // 400x400 frame; g = round(125) = 125.
        {"clipped at the input border", 400, 400, priorIndex(3, 0, 0, 2), 0, 0, 250, 250},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::fill(net->output.begin(), net->output.end(), 0.0f);
        setPrior(net->output, c.prior, 0.9f);
        const std::vector<Detection> faces = find(c.width, c.height);
        ASSERT_EQ(faces.size(), 1u);
        expectSquare(faces[0], c.x1, c.y1, c.x2, c.y2);
        EXPECT_FLOAT_EQ(faces[0].confidence, 0.9f);
    }
}

TEST_F(FinderTest, RegressionShiftsAndScalesThePrior)
{
    // Prior 32 at input (72, 72); dx 10 moves it by one width, dw
    // 5 ln 2 doubles the width.
    setPrior(net->output, priorIndex(1, 4, 4, 0), 0.9f, 10.0f, -10.0f, 5.0f * std::log(2.0f), 0.0f);
    const std::vector<Detection> faces = find(256, 256);
    ASSERT_EQ(faces.size(), 1u);
    // Box x 104-32..104+32 = 72..136, y 40-16..40+16 = 24..56:
    // g = round((64 + 32) / 4) = 24, centre (104, 40).
    expectSquare(faces[0], 80, 16, 128, 64);
}

TEST_F(FinderTest, ScoreThresholdFollowsSensitivity)
{
    struct Case
    {
        float sensitivity, score;
        bool found;
    };
    const Case cases[] = {
        {0.75f, 0.25f, false}, {0.75f, 0.2501f, true}, {0.95f, 0.05f, false}, {0.95f, 0.06f, true},
        {1.0f, 0.02f, false},  {1.0f, 0.0201f, true},  {2.0f, 0.0201f, true}, {0.0f, 1.0f, false},
        {-1.0f, 1.0f, false},  {0.0f, 0.999f, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.sensitivity) + " / " + std::to_string(c.score));
        setPrior(net->output, priorIndex(0, 10, 20, 0), c.score);
        EXPECT_EQ(find(640, 480, c.sensitivity).size(), c.found ? 1u : 0u);
    }
}

TEST_F(FinderTest, SizeRangeIsStrictOnBothEnds)
{
    // On a 400x400 frame prior 192 at (96, 96) becomes the square
    // (0, 0)..(300, 300): side 300 of a shorter side of 400.
    setPrior(net->output, priorIndex(3, 1, 1, 1), 0.9f);
    struct Case
    {
        float minScale, maxScale;
        bool found;
    };
    const Case cases[] = {
        {0.0f, 1.0f, true},     {0.5f, 1.0f, true},    {0.75f, 1.0f, false},  // 300 is not above 300
        {0.0f, 0.75f, false},                                                 // nor below 300
        {0.74f, 0.76f, true},   {0.5f, 0.3f, false},   // both ends 200: nothing fits
        {-1.0f, 0.3f, false},   {-1.0f, 2.0f, true},   // maximum taken as 1
        {0.8f, 0.9f, false},    {2.0f, 3.0f, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.minScale) + ".." + std::to_string(c.maxScale));
        const std::vector<Detection> faces = find(400, 400, 0.75f, c.minScale, c.maxScale);
        ASSERT_EQ(faces.size(), c.found ? 1u : 0u);
        if (c.found)
            expectSquare(faces[0], 0, 0, 300, 300);
    }
}

TEST_F(FinderTest, RegionKeepsOnlyCentresStrictlyInside)
{
    // The face of a 640x480 frame centred at (410, 130).
    setPrior(net->output, priorIndex(0, 10, 20, 0), 0.9f);
    struct Case
    {
        CvRect region;
        bool found;
    };
    const Case cases[] = {
        {cvRect(400, 120, 20, 20), true}, {cvRect(0, 0, 640, 480), true},
        {cvRect(410, 120, 20, 20), false},  // left border through the centre
        {cvRect(390, 120, 20, 20), false},  // right border through the centre
        {cvRect(400, 130, 20, 20), false},  // top border
        {cvRect(400, 110, 20, 20), false},  // bottom border
        {cvRect(0, 0, 0, 0), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.region.x) + "," + std::to_string(c.region.y));
        EXPECT_EQ(find(640, 480, 0.75f, 0, 1, &c.region).size(), c.found ? 1u : 0u);
    }
}

TEST_F(FinderTest, ConfidentBoxesSuppressOthersAndTheWidestComesFirst)
{
    // Two concentric boxes at (72, 72), sides 32 and 48 (IoU 0.45): the more
    // confident one stays although it is listed later.  A separate box of
    // side 128 at (160, 160) is the widest and comes first.
    setPrior(net->output, priorIndex(1, 4, 4, 0), 0.6f);
    setPrior(net->output, priorIndex(1, 4, 4, 1), 0.9f);
    setPrior(net->output, priorIndex(3, 2, 2, 0), 0.5f);
    const std::vector<Detection> faces = find(256, 256);
    ASSERT_EQ(faces.size(), 2u);
    expectSquare(faces[0], 96, 96, 224, 224);
    EXPECT_FLOAT_EQ(faces[0].confidence, 0.5f);
    expectSquare(faces[1], 48, 48, 96, 96);
    EXPECT_FLOAT_EQ(faces[1].confidence, 0.9f);
}

TEST_F(FinderTest, RegressionsThatAreNotNumbersGiveNoFace)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    setPrior(net->output, priorIndex(0, 10, 20, 0), 0.9f, nan, 0, 0, 0);
    setPrior(net->output, priorIndex(0, 20, 10, 0), 0.9f, inf, 0, inf, 0);
    setPrior(net->output, priorIndex(0, 25, 25, 0), nan);
    // An infinite width is clipped to the input: x 0..256, y 80..144 around
    // prior 64 at (112, 112).
    setPrior(net->output, priorIndex(2, 3, 3, 0), 0.9f, 0, 0, 1e30f, 0);
    const std::vector<Detection> faces = find(256, 256);
    ASSERT_EQ(faces.size(), 1u);
    expectSquare(faces[0], 48, 32, 208, 192);
}

TEST_F(FinderTest, UnusableInputsAndNetworksFindNothing)
{
    setPrior(net->output, priorIndex(0, 10, 20, 0), 0.9f);
    std::vector<Detection> faces(2);
    EXPECT_EQ(finder->findFaces(nullptr, faces, 0.75f, 0, 1, nullptr), 0);
    EXPECT_TRUE(faces.empty());

    IplImage* colour = cvCreateImage(cvSize(64, 48), IPL_DEPTH_8U, 3);
    IplImage* deep = cvCreateImage(cvSize(64, 48), IPL_DEPTH_16U, 1);
    IplImage* empty = cvCreateImageHeader(cvSize(64, 48), IPL_DEPTH_8U, 1);
    IplImage* narrow = cvCreateImage(cvSize(64, 48), IPL_DEPTH_8U, 1);
    cvSetZero(colour);
    cvSetZero(deep);
    cvSetZero(narrow);
    IplImage noWidth = *narrow;
    noWidth.width = 0;
    IplImage noHeight = *narrow;
    noHeight.height = -3;
    const IplImage* unusable[] = {colour, deep, empty, &noWidth, &noHeight};
    for (const IplImage* image : unusable)
        EXPECT_EQ(finder->findFaces(image, faces, 0.75f, 0, 1, nullptr), 0);
    EXPECT_TRUE(net->inputs.empty());
    cvReleaseImage(&colour);
    cvReleaseImage(&deep);
    cvReleaseImageHeader(&empty);

    // The same frame works once the network answers.
    EXPECT_EQ(finder->findFaces(narrow, faces, 0.75f, 0, 1, nullptr), 1);

    // No answer from the network.
    net->answerNull = true;
    EXPECT_EQ(finder->findFaces(narrow, faces, 0.75f, 0, 1, nullptr), 0);
    net->answerNull = false;

    // An output too short for the three blocks is not run, let alone read.
    net->output.resize(static_cast<size_t>(kOutputSize - 1));
    const size_t runs = net->inputs.size();
    EXPECT_EQ(finder->findFaces(narrow, faces, 0.75f, 0, 1, nullptr), 0);
    EXPECT_EQ(net->inputs.size(), runs);

    // No runner.
    net->makeRunners = false;
    rebuild();
    EXPECT_EQ(finder->findFaces(narrow, faces, 0.75f, 0, 1, nullptr), 0);

    // No frontend at all.
    finder.reset();
    data.reset(new ONNFaceFinderData(static_cast<ONN::INNFrontend*>(nullptr)));
    EXPECT_FALSE(data->isLoaded());
    EXPECT_EQ(data->getModel(), nullptr);
    EXPECT_EQ(data->createRunner(), nullptr);
    finder.reset(new ONNFaceFinder(data.get()));
    EXPECT_EQ(finder->findFaces(narrow, faces, 0.75f, 0, 1, nullptr), 0);
    cvReleaseImage(&narrow);
}

// ---------------------------------------------------------------------------
// The real network of the data pack.

class RealFinderTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!OrvixTest::packPresent())
            GTEST_SKIP() << "no data pack in " << OrvixTest::packDir();
        ONN::Config config;
        config.SetBackend(ONN::OV_CPU);
        config.SetThreadCount(1);
        ONN::ONNIEChooser::SetGlobalConfig(config);
        data.reset(new ONNFaceFinderData(OrvixTest::packDir() + "nn/face-detector/ff"));
        ASSERT_TRUE(data->isLoaded());
        finder.reset(new ONNFaceFinder(data.get()));
    }

    int find(const cv::Mat& image, std::vector<Detection>& faces, float sensitivity = 0.75f,
             float minScale = 0.15f)
    {
        IplImage header = cvIplImage(image);
        return finder->findFaces(&header, faces, sensitivity, minScale, 1.0f, nullptr);
    }

    void TearDown() override { ONN::ONNIEChooser::SetGlobalConfig(savedConfig); }

    ONN::Config savedConfig = ONN::ONNIEChooser::GetGlobalConfig();
    std::unique_ptr<ONNFaceFinderData> data;
    std::unique_ptr<ONNFaceFinder> finder;
};

TEST_F(RealFinderTest, FindsSeparateFacesInEveryDemoPhoto)
{
    // Real faces per photo; the faces are 150 to 250 pixels wide in photos
    // 1920 pixels wide, so the wide search goes down to 5 % of the shorter
    // side.
    const size_t realFaces[] = {3, 3, 3, 4, 5, 4};
    int photos = 0;
    for (int n = 1; n <= 6; ++n) {
        const std::string path = OrvixTest::packWorkDir() + "demo/sample" + std::to_string(n) + ".pgm";
        const cv::Mat photo = OrvixTest::readPgm(path);
        if (photo.empty())
            continue;
        SCOPED_TRACE(path);
        ++photos;
        std::vector<Detection> faces;
        const int count = find(photo, faces, 0.75f, 0.05f);
        ASSERT_EQ(count, static_cast<int>(faces.size()));
        EXPECT_GE(faces.size(), realFaces[n - 1]);
        EXPECT_LE(faces.size(), realFaces[n - 1] + 1);
        for (size_t i = 0; i < faces.size(); ++i) {
            const Detection& f = faces[i];
            const float side = f.x2 - f.x1;
            EXPECT_FLOAT_EQ(f.y2 - f.y1, side);
            EXPECT_TRUE(f.x1 >= 0 && f.y1 >= 0 && f.x2 <= photo.cols && f.y2 <= photo.rows)
                << f.x1 << "," << f.y1 << " " << f.x2 << "," << f.y2;
            EXPECT_GT(f.confidence, 0.25f);
            if (i > 0) {
                EXPECT_GE(faces[i - 1].x2 - faces[i - 1].x1, side);
            }
            for (size_t j = 0; j < i; ++j)
                EXPECT_LE(f.iou(faces[j]), 0.25f) << i << " and " << j;
        }

        // The default range keeps exactly the wide search's faces above 15 %.
        const float smallest = 0.15f * std::min(photo.cols, photo.rows);
        std::vector<Detection> large;
        find(photo, large);
        size_t expected = 0;
        for (const Detection& f : faces)
            expected += f.x2 - f.x1 > smallest;
        EXPECT_EQ(large.size(), expected);
        for (const Detection& f : large)
            EXPECT_GT(f.x2 - f.x1, smallest);
    }
    if (photos == 0)
        GTEST_SKIP() << "no demo photos in " << OrvixTest::packWorkDir();
}

TEST_F(RealFinderTest, BlankAndOddFramesFindNoFaceAndDoNotCrash)
{
    std::vector<Detection> faces;
    EXPECT_EQ(find(cv::Mat(480, 640, CV_8UC1, cv::Scalar(0)), faces), 0);
    EXPECT_EQ(find(cv::Mat(480, 640, CV_8UC1, cv::Scalar(128)), faces), 0);

    const cv::Size sizes[] = {{1, 1}, {3, 7}, {37, 23}, {1, 2000}, {2000, 1}, {641, 479}};
    for (const cv::Size& size : sizes) {
        cv::Mat noise(size, CV_8UC1);
        cv::randu(noise, 0, 256);
        find(noise, faces, 1.0f);
        EXPECT_EQ(find(noise, faces, 0.0f), 0);
    }
    // Padded rows: a view into a wider frame.
    cv::Mat wide(300, 500, CV_8UC1);
    cv::randu(wide, 0, 256);
    find(wide(cv::Rect(10, 10, 321, 211)), faces, 1.0f);
}

}  // namespace
