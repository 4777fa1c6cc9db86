// The ".vino" container: byte layout, encryption round trip, padding and
// header checks.

#include "OVPluginTestSupport.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace OVPlugin;
using namespace OVPluginTest;

namespace
{

std::vector<unsigned char> Key()
{
    return OrvixSDK::Key::buildModelKey();
}

} // namespace

TEST(ModelKey, IsTheXorOfTheTwoTables)
{
    const std::vector<unsigned char> key = OrvixSDK::Key::buildModelKey();
    ASSERT_EQ(key.size(), 16u);
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(key[i], OrvixSDK::Key::encKey[i] ^ OrvixSDK::Key::encXORKey[i]) << i;
    // Neither table is the key itself.
    EXPECT_NE(0, std::memcmp(key.data(), OrvixSDK::Key::encKey, 16));
    EXPECT_NE(0, std::memcmp(key.data(), OrvixSDK::Key::encXORKey, 16));
}

TEST(VinoContainer, RoundTripKeepsNetworkAndDeclaration)
{
    const std::vector<unsigned char> onnx = ReadFixture("grey_conv.onnx");
    ASSERT_FALSE(onnx.empty());
    const std::vector<unsigned char> key = Key();
    const InputDeclaration declared = Declare(ONN::FP32, ONN::ImageUtils::NCHW, 3, 4, 5);

    std::vector<unsigned char> first, second;
    ASSERT_EQ(PackModel(onnx.data(), onnx.size(), declared, key.data(), 16, first), VinoStatus::OK);
    ASSERT_EQ(PackModel(onnx.data(), onnx.size(), declared, key.data(), 16, second), VinoStatus::OK);
    // A fresh IV each time: the same network never gives the same file.
    EXPECT_NE(first, second);

    for (const std::vector<unsigned char>* container : {&first, &second})
    {
        VinoHeader header;
        std::vector<unsigned char> plain;
        ASSERT_EQ(UnpackModel(container->data(), container->size(), key.data(), 16, header, plain), VinoStatus::OK);
        EXPECT_EQ(plain, onnx);
        EXPECT_EQ(header.version, 1u);
        EXPECT_EQ(header.input.dataType, ONN::FP32);
        EXPECT_EQ(header.input.layout, ONN::ImageUtils::NCHW);
        EXPECT_EQ(header.input.channels, 3);
        EXPECT_EQ(header.input.height, 4);
        EXPECT_EQ(header.input.width, 5);
    }
}

// The documented byte layout, read without the container code: header
// fields at their offsets, IV at 64, and AES-128-CBC of the PKCS#7-padded
// network from 80 on.
TEST(VinoContainer, ByteLayoutIsTheDocumentedOne)
{
    const std::vector<unsigned char> onnx = ReadFixture("rgb_mix.onnx");
    ASSERT_FALSE(onnx.empty());
    const std::vector<unsigned char> key = Key();
    unsigned char iv[16];
    for (int i = 0; i < 16; ++i)
        iv[i] = static_cast<unsigned char>(0xA0 + i);
    std::vector<unsigned char> file;
    ASSERT_EQ(PackModel(onnx.data(), onnx.size(), Declare(ONN::UINT8, ONN::ImageUtils::NHWC, 3, 4, 5), key.data(),
                        16, file, iv),
              VinoStatus::OK);

    const size_t padded = (onnx.size() / 16 + 1) * 16;
    ASSERT_EQ(file.size(), 80 + padded);
    EXPECT_EQ(0, std::memcmp(file.data(), "ORVXVINO", 8));
    const unsigned char fields[] = {1, 0, /*type*/ 0, /*layout*/ 1, 3, 0, 0, 0, 4, 0, 0, 0, 5, 0, 0, 0};
    EXPECT_EQ(0, std::memcmp(file.data() + 8, fields, sizeof(fields)));
    const uint32_t length = file[24] | file[25] << 8 | file[26] << 16 | static_cast<uint32_t>(file[27]) << 24;
    EXPECT_EQ(length, padded);
    EXPECT_EQ(0, std::memcmp(file.data() + 28, "\0\0\0\0", 4));
    unsigned char digest[32];
    ASSERT_TRUE(Sha256(onnx.data(), onnx.size(), digest));
    EXPECT_EQ(0, std::memcmp(file.data() + 32, digest, 32));
    EXPECT_EQ(0, std::memcmp(file.data() + 64, iv, 16));

    std::vector<unsigned char> text;
    ASSERT_TRUE(AesCbc(false, file.data() + 80, padded, key.data(), iv, text));
    ASSERT_EQ(text.size(), padded);
    EXPECT_TRUE(std::equal(onnx.begin(), onnx.end(), text.begin()));
    const unsigned char pad = static_cast<unsigned char>(padded - onnx.size());
    for (size_t i = onnx.size(); i < padded; ++i)
        EXPECT_EQ(text[i], pad);
}

TEST(VinoContainer, PaddingIsCheckedByteForByte)
{
    struct Case
    {
        const char* label;
        std::vector<unsigned char> text;
        bool valid;
        size_t strippedSize;
    };
    std::vector<unsigned char> fullBlock(32, 16);
    std::vector<unsigned char> oneByte(16, 0x55);
    oneByte[15] = 1;
    std::vector<unsigned char> three(16, 0x55);
    three[13] = three[14] = three[15] = 3;
    std::vector<unsigned char> inconsistent = three;
    inconsistent[13] = 4;
    std::vector<unsigned char> zero(16, 0x55);
    zero[15] = 0;
    std::vector<unsigned char> seventeen(32, 17);
    const Case cases[] = {
        {"one pad byte", oneByte, true, 15},
        {"three pad bytes", three, true, 13},
        {"whole pad block", fullBlock, true, 16},
        {"one pad byte differs", inconsistent, false, 16},
        {"pad value 0", zero, false, 16},
        {"pad value above the block size", seventeen, false, 32},
        {"not whole blocks", std::vector<unsigned char>(15, 1), false, 15},
        {"empty", {}, false, 0},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.label);
        std::vector<unsigned char> text = c.text;
        EXPECT_EQ(StripPadding(text), c.valid);
        EXPECT_EQ(text.size(), c.strippedSize);
    }

    // AddPadding always adds 1..16 bytes and StripPadding undoes it.
    for (size_t length = 0; length <= 33; ++length)
    {
        std::vector<unsigned char> text(length, 0x10);
        AddPadding(text);
        EXPECT_EQ(text.size() % 16, 0u);
        EXPECT_GT(text.size(), length);
        ASSERT_TRUE(StripPadding(text));
        EXPECT_EQ(text.size(), length);
    }
}

TEST(VinoContainer, HeaderRefusesImpossibleFields)
{
    const std::vector<unsigned char> good = PackFixture("grey_conv.onnx", GreyDeclaration());
    ASSERT_FALSE(good.empty());
    VinoHeader header;
    ASSERT_EQ(DecodeHeader(good.data(), good.size(), header), VinoStatus::OK);

    struct Case
    {
        const char* label;
        size_t offset;
        std::vector<unsigned char> bytes;
        VinoStatus expected;
    };
    const Case cases[] = {
        {"other magic", 0, {'X'}, VinoStatus::BAD_MAGIC},
        {"version 2", 8, {2, 0}, VinoStatus::BAD_VERSION},
        {"version 0", 8, {0, 0}, VinoStatus::BAD_VERSION},
        {"element type 2", 10, {2}, VinoStatus::BAD_HEADER},
        {"layout 9", 11, {9}, VinoStatus::BAD_HEADER},
        {"no channels", 12, {0, 0, 0, 0}, VinoStatus::BAD_HEADER},
        {"height above 65535", 16, {0, 0, 1, 0}, VinoStatus::BAD_HEADER},
        {"negative width", 20, {0xff, 0xff, 0xff, 0xff}, VinoStatus::BAD_HEADER},
        {"too many elements", 12, {0xff, 0xff, 0, 0, 0xff, 0xff, 0, 0, 0xff, 0xff, 0, 0}, VinoStatus::BAD_HEADER},
        {"empty ciphertext", 24, {0, 0, 0, 0}, VinoStatus::BAD_HEADER},
        {"ciphertext not whole blocks", 24, {17, 1, 0, 0}, VinoStatus::BAD_HEADER},
        {"reserved field set", 28, {1}, VinoStatus::BAD_HEADER},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.label);
        std::vector<unsigned char> damaged = good;
        std::copy(c.bytes.begin(), c.bytes.end(), damaged.begin() + c.offset);
        EXPECT_EQ(DecodeHeader(damaged.data(), damaged.size(), header), c.expected);
    }

    // Largest accepted shape: 2^26 elements.
    std::vector<unsigned char> largest = good;
    const unsigned char shape[] = {1, 0, 0, 0, 0, 0x40, 0, 0, 0, 0x10, 0, 0}; // 1 x 16384 x 4096
    std::copy(shape, shape + sizeof(shape), largest.begin() + 12);
    EXPECT_EQ(DecodeHeader(largest.data(), largest.size(), header), VinoStatus::OK);
    largest[12] = 2;
    EXPECT_EQ(DecodeHeader(largest.data(), largest.size(), header), VinoStatus::BAD_HEADER);
}

TEST(VinoContainer, PackRefusesBadArguments)
{
    const std::vector<unsigned char> onnx = ReadFixture("grey_conv.onnx");
    const std::vector<unsigned char> key = Key();
    const std::vector<unsigned char> longKey(32, 1);
    std::vector<unsigned char> out;
    EXPECT_EQ(PackModel(onnx.data(), onnx.size(), GreyDeclaration(), key.data(), 15, out), VinoStatus::BAD_KEY);
    EXPECT_EQ(PackModel(onnx.data(), onnx.size(), GreyDeclaration(), longKey.data(), 32, out), VinoStatus::BAD_KEY);
    EXPECT_EQ(PackModel(onnx.data(), onnx.size(), GreyDeclaration(), nullptr, 16, out), VinoStatus::BAD_KEY);
    EXPECT_EQ(PackModel(onnx.data(), 0, GreyDeclaration(), key.data(), 16, out), VinoStatus::BAD_ARGUMENT);
    EXPECT_EQ(PackModel(onnx.data(), onnx.size(), Declare(ONN::UINT8, ONN::ImageUtils::NHWC, 1, 0, 8), key.data(), 16,
                        out),
              VinoStatus::BAD_ARGUMENT);
    EXPECT_TRUE(out.empty());
}
