#include "onn/Crypto.h"

#include <cstdio>
#include <memory>

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/sha.h>

namespace ONN
{
namespace Crypto
{

namespace
{

// Prints the crypto library's error queue on standard error.
void handleErrors()
{
    std::fprintf(stderr, "ONNIE: Decryption failed.\n");
    ERR_print_errors_fp(stderr);
}

struct CipherContextDeleter
{
    void operator()(EVP_CIPHER_CTX* context) const { EVP_CIPHER_CTX_free(context); }
};

} // namespace

std::vector<unsigned char> hashBuffer(unsigned char* data, int length)
{
    std::vector<unsigned char> digest(SHA256_DIGEST_LENGTH);
    static unsigned char empty = 0;
    const unsigned char* input = (data != nullptr && length > 0) ? data : &empty;
    const size_t count = (data != nullptr && length > 0) ? static_cast<size_t>(length) : 0;
    unsigned int digestLength = 0;
    if (EVP_Digest(input, count, digest.data(), &digestLength, EVP_sha256(), nullptr) != 1 ||
        digestLength != SHA256_DIGEST_LENGTH)
    {
        ERR_print_errors_fp(stderr);
        digest.assign(SHA256_DIGEST_LENGTH, 0);
    }
    return digest;
}

std::vector<unsigned char> decryptBuffer(unsigned char* data, int length, unsigned char* iv, int /*ivLength*/,
                                         unsigned char* key, int /*keyLength*/)
{
    if (data == nullptr || iv == nullptr || key == nullptr)
    {
        std::fprintf(stderr, "ONNIE: Cannot decrypt: missing data, key or initialisation vector.\n");
        return std::vector<unsigned char>();
    }
    if (length <= 0 || length % 16 != 0)
    {
        std::fprintf(stderr, "ONNIE: Cannot decrypt %d bytes: not a positive multiple of 16.\n", length);
        return std::vector<unsigned char>();
    }

    std::vector<unsigned char> result(static_cast<size_t>(length));
    std::unique_ptr<EVP_CIPHER_CTX, CipherContextDeleter> context(EVP_CIPHER_CTX_new());
    int written = 0;
    int finalWritten = 0;
    if (!context || EVP_DecryptInit_ex(context.get(), EVP_aes_128_cbc(), nullptr, key, iv) != 1 ||
        EVP_CIPHER_CTX_set_padding(context.get(), 0) != 1 ||
        EVP_DecryptUpdate(context.get(), result.data(), &written, data, length) != 1 ||
        written < 0 || written > length ||
        EVP_DecryptFinal_ex(context.get(), result.data() + written, &finalWritten) != 1 ||
        finalWritten < 0 || written + finalWritten != length)
    {
        handleErrors();
        return std::vector<unsigned char>();
    }

    // The last byte counts the padding bytes to drop; the pad bytes
    // themselves are not checked.
    const unsigned pad = result.back();
    if (pad == 0 || pad > result.size())
    {
        std::fprintf(stderr, "ONNIE: Cannot decrypt: bad padding length %u for %d bytes.\n", pad, length);
        return std::vector<unsigned char>();
    }
    result.resize(result.size() - pad);
    return result;
}

} // namespace Crypto
} // namespace ONN
