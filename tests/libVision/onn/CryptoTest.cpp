#include <string>
#include <vector>

#include <openssl/evp.h>

#include <gtest/gtest.h>

#include "onn/Crypto.h"

using Bytes = std::vector<unsigned char>;

namespace {

Bytes fromHex(const std::string& hex)
{
    Bytes bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(static_cast<unsigned char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

TEST(Crypto, Sha256KnownDigests)
{
    unsigned char abc[] = {'a', 'b', 'c'};
    EXPECT_EQ(ONN::Crypto::hashBuffer(abc, 3),
              fromHex("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"));
    const Bytes empty = fromHex("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(ONN::Crypto::hashBuffer(abc, 0), empty);
    EXPECT_EQ(ONN::Crypto::hashBuffer(nullptr, 5), empty);
    EXPECT_EQ(ONN::Crypto::hashBuffer(abc, -1), empty);
}

// CBC-AES128.Decrypt of the NIST block-cipher modes examples.
const Bytes kKey = fromHex("2b7e151628aed2a6abf7158809cf4f3c");
const Bytes kIv = fromHex("000102030405060708090a0b0c0d0e0f");
const Bytes kCipher = fromHex("7649abac8119b246cee98e9b12e9197d"
                              "5086cb9b507219ee95db113a917678b2"
                              "73bed6b8e3c1743b7116e69e22229516"
                              "3ff1caa1681fac09120eca307586e1a7");
const Bytes kPlain = fromHex("6bc1bee22e409f96e93d7e117393172a"
                             "ae2d8a571e03ac9c9eb76fac45af8e51"
                             "30c81c46a35ce411e5fbc1191a0a52ef"
                             "f69f2445df4f9b17ad2b417be66c3710");

Bytes decrypt(Bytes data, Bytes iv, Bytes key)
{
    return ONN::Crypto::decryptBuffer(data.data(), static_cast<int>(data.size()), iv.data(),
                                      static_cast<int>(iv.size()), key.data(), static_cast<int>(key.size()));
}

// AES-128-CBC without padding, for test inputs with chosen last bytes.
Bytes encrypt(const Bytes& plain)
{
    Bytes out(plain.size() + 16);
    EVP_CIPHER_CTX* context = EVP_CIPHER_CTX_new();
    int written = 0;
    int last = 0;
    EVP_EncryptInit_ex(context, EVP_aes_128_cbc(), nullptr, kKey.data(), kIv.data());
    EVP_CIPHER_CTX_set_padding(context, 0);
    EVP_EncryptUpdate(context, out.data(), &written, plain.data(), static_cast<int>(plain.size()));
    EVP_EncryptFinal_ex(context, out.data() + written, &last);
    EVP_CIPHER_CTX_free(context);
    out.resize(static_cast<size_t>(written + last));
    return out;
}

TEST(Crypto, DecryptsTheNistVectorAndStripsItsLastByteAsPadding)
{
    // The last plain byte is 0x10: the whole last block counts as padding.
    ::testing::internal::CaptureStderr();
    const Bytes plain = decrypt(kCipher, kIv, kKey);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(plain, Bytes(kPlain.begin(), kPlain.begin() + 48));

    // The last block alone, chained from the previous cipher block: only
    // padding, so nothing is left.
    const Bytes lastBlock(kCipher.begin() + 48, kCipher.end());
    const Bytes chain(kCipher.begin() + 32, kCipher.begin() + 48);
    EXPECT_TRUE(decrypt(lastBlock, chain, kKey).empty());
}

TEST(Crypto, PaddingLengths)
{
    struct Case {
        size_t length;
        unsigned char last;
        size_t kept; // bytes returned
        bool reported;
    };
    const Case cases[] = {
        {16, 1, 15, false}, {16, 16, 0, false}, {32, 17, 15, false}, {32, 32, 0, false},
        {16, 0, 0, true},   {16, 17, 0, true},  {32, 33, 0, true},   {16, 255, 0, true},
    };
    for (const Case& c : cases) {
        Bytes plain(c.length);
        for (size_t i = 0; i < plain.size(); ++i)
            plain[i] = static_cast<unsigned char>(i * 7 + 1);
        plain.back() = c.last;
        ::testing::internal::CaptureStderr();
        const Bytes result = decrypt(encrypt(plain), kIv, kKey);
        const std::string errors = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(result, Bytes(plain.begin(), plain.begin() + static_cast<long>(c.kept)))
            << c.length << " bytes ending in " << int(c.last);
        EXPECT_EQ(errors.empty(), !c.reported) << errors;
        if (c.reported) {
            EXPECT_EQ(errors.find('\n'), errors.size() - 1) << "one line: " << errors;
        }
    }
}

TEST(Crypto, RefusesBadLengthsAndMissingBuffers)
{
    Bytes data = kCipher;
    Bytes iv = kIv;
    Bytes key = kKey;
    struct Case {
        const char* label;
        unsigned char* data;
        int length;
        unsigned char* iv;
        unsigned char* key;
    };
    const Case cases[] = {
        {"empty", data.data(), 0, iv.data(), key.data()},
        {"negative", data.data(), -16, iv.data(), key.data()},
        {"part of a block", data.data(), 15, iv.data(), key.data()},
        {"block and a byte", data.data(), 17, iv.data(), key.data()},
        {"no data", nullptr, 16, iv.data(), key.data()},
        {"no vector", data.data(), 16, nullptr, key.data()},
        {"no key", data.data(), 16, iv.data(), nullptr},
    };
    for (const Case& c : cases) {
        ::testing::internal::CaptureStderr();
        const Bytes result = ONN::Crypto::decryptBuffer(c.data, c.length, c.iv, 16, c.key, 16);
        const std::string errors = ::testing::internal::GetCapturedStderr();
        EXPECT_TRUE(result.empty()) << c.label;
        EXPECT_FALSE(errors.empty()) << c.label;
        EXPECT_EQ(errors.find('\n'), errors.size() - 1) << c.label << ": " << errors;
    }
}

}  // namespace
