#include "VinoContainer.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <memory>

namespace OVPlugin
{

namespace
{

void PutU16(unsigned char* at, unsigned value)
{
    at[0] = static_cast<unsigned char>(value & 0xff);
    at[1] = static_cast<unsigned char>((value >> 8) & 0xff);
}

void PutU32(unsigned char* at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        at[i] = static_cast<unsigned char>((value >> (8 * i)) & 0xff);
}

unsigned GetU16(const unsigned char* at)
{
    return static_cast<unsigned>(at[0]) | (static_cast<unsigned>(at[1]) << 8);
}

uint32_t GetU32(const unsigned char* at)
{
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = (value << 8) | at[i];
    return value;
}

bool KeyUsable(const unsigned char* key, int keyLength)
{
    return key != nullptr && keyLength == static_cast<int>(VINO_KEY_SIZE);
}

struct CipherContextDeleter
{
    void operator()(EVP_CIPHER_CTX* context) const { EVP_CIPHER_CTX_free(context); }
};

} // namespace

bool InputDeclaration::IsValid() const
{
    if (dataType != ONN::UINT8 && dataType != ONN::FP32)
        return false;
    if (layout != ONN::ImageUtils::NCHW && layout != ONN::ImageUtils::NHWC)
        return false;
    if (channels < 1 || height < 1 || width < 1)
        return false;
    if (channels > VINO_MAX_DIMENSION || height > VINO_MAX_DIMENSION || width > VINO_MAX_DIMENSION)
        return false;
    return ElementCount() <= VINO_MAX_ELEMENTS;
}

const char* VinoStatusText(VinoStatus status)
{
    switch (status)
    {
    case VinoStatus::OK:
        return "ok";
    case VinoStatus::CANNOT_OPEN:
        return "cannot open the file (missing, unreadable or not a regular file)";
    case VinoStatus::TOO_LARGE:
        return "file larger than 512 MB";
    case VinoStatus::TRUNCATED:
        return "file truncated";
    case VinoStatus::BAD_MAGIC:
        return "not a .vino model container";
    case VinoStatus::BAD_VERSION:
        return "unsupported container version";
    case VinoStatus::BAD_HEADER:
        return "malformed container header";
    case VinoStatus::SIZE_MISMATCH:
        return "file size does not match its header";
    case VinoStatus::BAD_KEY:
        return "missing key or key length other than 16";
    case VinoStatus::CIPHER_FAILED:
        return "cipher operation failed";
    case VinoStatus::BAD_PADDING:
        return "bad padding after decryption (wrong key or damaged file)";
    case VinoStatus::DIGEST_MISMATCH:
        return "checksum mismatch after decryption (wrong key or damaged file)";
    case VinoStatus::WRITE_FAILED:
        return "cannot write the file";
    case VinoStatus::BAD_ARGUMENT:
        return "invalid argument";
    }
    return "unknown status";
}

std::vector<unsigned char> EncodeHeader(const VinoHeader& header)
{
    std::vector<unsigned char> out(VINO_HEADER_SIZE, 0);
    std::memcpy(out.data(), VINO_MAGIC, sizeof(VINO_MAGIC));
    PutU16(&out[8], header.version);
    out[10] = static_cast<unsigned char>(header.input.dataType);
    out[11] = static_cast<unsigned char>(header.input.layout);
    PutU32(&out[12], static_cast<uint32_t>(header.input.channels));
    PutU32(&out[16], static_cast<uint32_t>(header.input.height));
    PutU32(&out[20], static_cast<uint32_t>(header.input.width));
    PutU32(&out[24], header.payloadLength);
    PutU32(&out[28], 0);
    std::memcpy(&out[32], header.digest, VINO_DIGEST_SIZE);
    return out;
}

VinoStatus DecodeHeader(const unsigned char* data, size_t size, VinoHeader& header)
{
    if (size == 0)
        return VinoStatus::TRUNCATED;
    if (data == nullptr)
        return VinoStatus::BAD_ARGUMENT;
    // Judge the magic on whatever is there, so that a short foreign file is
    // reported as foreign rather than as truncated.
    const size_t magicBytes = size < sizeof(VINO_MAGIC) ? size : sizeof(VINO_MAGIC);
    if (std::memcmp(data, VINO_MAGIC, magicBytes) != 0)
        return VinoStatus::BAD_MAGIC;
    if (size < VINO_PAYLOAD_OFFSET)
        return VinoStatus::TRUNCATED;

    VinoHeader parsed;
    parsed.version = GetU16(data + 8);
    if (parsed.version != VINO_VERSION)
        return VinoStatus::BAD_VERSION;

    const uint32_t channels = GetU32(data + 12);
    const uint32_t height = GetU32(data + 16);
    const uint32_t width = GetU32(data + 20);
    if (data[10] > 1 || data[11] > 1 || channels > static_cast<uint32_t>(VINO_MAX_DIMENSION)
        || height > static_cast<uint32_t>(VINO_MAX_DIMENSION) || width > static_cast<uint32_t>(VINO_MAX_DIMENSION))
        return VinoStatus::BAD_HEADER;
    parsed.input.dataType = static_cast<ONN::EDataType>(data[10]);
    parsed.input.layout = static_cast<ONN::ImageUtils::ELayoutType>(data[11]);
    parsed.input.channels = static_cast<int>(channels);
    parsed.input.height = static_cast<int>(height);
    parsed.input.width = static_cast<int>(width);
    if (!parsed.input.IsValid())
        return VinoStatus::BAD_HEADER;

    parsed.payloadLength = GetU32(data + 24);
    if (parsed.payloadLength == 0 || parsed.payloadLength % VINO_BLOCK_SIZE != 0 || GetU32(data + 28) != 0)
        return VinoStatus::BAD_HEADER;
    std::memcpy(parsed.digest, data + 32, VINO_DIGEST_SIZE);
    std::memcpy(parsed.iv, data + VINO_HEADER_SIZE, VINO_IV_SIZE);
    header = parsed;
    return VinoStatus::OK;
}

bool AesCbc(bool encrypt, const unsigned char* in, size_t size, const unsigned char* key,
            const unsigned char* iv, std::vector<unsigned char>& out)
{
    out.clear();
    if (in == nullptr || key == nullptr || iv == nullptr || size % VINO_BLOCK_SIZE != 0
        || size > static_cast<size_t>(VINO_MAX_FILE_SIZE))
        return false;
    std::unique_ptr<EVP_CIPHER_CTX, CipherContextDeleter> context(EVP_CIPHER_CTX_new());
    if (!context)
        return false;
    if (EVP_CipherInit_ex(context.get(), EVP_aes_128_cbc(), nullptr, key, iv, encrypt ? 1 : 0) != 1)
        return false;
    if (EVP_CIPHER_CTX_set_padding(context.get(), 0) != 1)
        return false;
    // With padding off the output never exceeds the input; one spare block
    // keeps the cipher's contract about output room.
    out.resize(size + VINO_BLOCK_SIZE);
    int written = 0;
    int finalWritten = 0;
    const bool ok = EVP_CipherUpdate(context.get(), out.data(), &written, in, static_cast<int>(size)) == 1
                    && EVP_CipherFinal_ex(context.get(), out.data() + written, &finalWritten) == 1;
    if (!ok)
    {
        WipeBuffer(out);
        return false;
    }
    out.resize(static_cast<size_t>(written) + static_cast<size_t>(finalWritten));
    return true;
}

void AddPadding(std::vector<unsigned char>& text)
{
    const size_t pad = VINO_BLOCK_SIZE - text.size() % VINO_BLOCK_SIZE;
    text.insert(text.end(), pad, static_cast<unsigned char>(pad));
}

bool StripPadding(std::vector<unsigned char>& text)
{
    if (text.empty() || text.size() % VINO_BLOCK_SIZE != 0)
        return false;
    const size_t pad = text.back();
    if (pad < 1 || pad > VINO_BLOCK_SIZE)
        return false;
    for (size_t i = text.size() - pad; i < text.size(); ++i)
        if (text[i] != pad)
            return false;
    text.resize(text.size() - pad);
    return true;
}

bool Sha256(const unsigned char* data, size_t size, unsigned char digest[VINO_DIGEST_SIZE])
{
    unsigned int length = 0;
    static const unsigned char empty = 0;
    if (data == nullptr)
        data = &empty;
    return EVP_Digest(data, size, digest, &length, EVP_sha256(), nullptr) == 1 && length == VINO_DIGEST_SIZE;
}

VinoStatus PackModel(const unsigned char* onnx, size_t size, const InputDeclaration& input,
                     const unsigned char* key, int keyLength, std::vector<unsigned char>& container,
                     const unsigned char* iv)
{
    container.clear();
    if (!KeyUsable(key, keyLength))
        return VinoStatus::BAD_KEY;
    if (onnx == nullptr || size == 0 || !input.IsValid())
        return VinoStatus::BAD_ARGUMENT;
    // The padded text and the whole file must stay under the reader's cap.
    if (size >= VINO_MAX_FILE_SIZE - VINO_PAYLOAD_OFFSET - VINO_BLOCK_SIZE)
        return VinoStatus::TOO_LARGE;

    VinoHeader header;
    header.input = input;
    if (!Sha256(onnx, size, header.digest))
        return VinoStatus::CIPHER_FAILED;
    if (iv != nullptr)
        std::memcpy(header.iv, iv, VINO_IV_SIZE);
    else if (RAND_bytes(header.iv, static_cast<int>(VINO_IV_SIZE)) != 1)
        return VinoStatus::CIPHER_FAILED;

    std::vector<unsigned char> padded(onnx, onnx + size);
    AddPadding(padded);
    std::vector<unsigned char> cipher;
    const bool encrypted = AesCbc(true, padded.data(), padded.size(), key, header.iv, cipher);
    WipeBuffer(padded);
    if (!encrypted)
        return VinoStatus::CIPHER_FAILED;
    header.payloadLength = static_cast<uint32_t>(cipher.size());

    container = EncodeHeader(header);
    container.insert(container.end(), header.iv, header.iv + VINO_IV_SIZE);
    container.insert(container.end(), cipher.begin(), cipher.end());
    return VinoStatus::OK;
}

VinoStatus UnpackModel(const unsigned char* data, size_t size, const unsigned char* key, int keyLength,
                       VinoHeader& header, std::vector<unsigned char>& plain)
{
    WipeBuffer(plain);
    if (!KeyUsable(key, keyLength))
        return VinoStatus::BAD_KEY;
    if (size > VINO_MAX_FILE_SIZE)
        return VinoStatus::TOO_LARGE;
    VinoStatus status = DecodeHeader(data, size, header);
    if (status != VinoStatus::OK)
        return status;
    const size_t available = size - VINO_PAYLOAD_OFFSET;
    if (available < header.payloadLength)
        return VinoStatus::TRUNCATED;
    if (available > header.payloadLength)
        return VinoStatus::SIZE_MISMATCH;

    std::vector<unsigned char> text;
    if (!AesCbc(false, data + VINO_PAYLOAD_OFFSET, header.payloadLength, key, header.iv, text))
        return VinoStatus::CIPHER_FAILED;
    if (!StripPadding(text))
    {
        WipeBuffer(text);
        return VinoStatus::BAD_PADDING;
    }
    unsigned char digest[VINO_DIGEST_SIZE];
    if (!Sha256(text.data(), text.size(), digest))
    {
        WipeBuffer(text);
        return VinoStatus::CIPHER_FAILED;
    }
    if (CRYPTO_memcmp(digest, header.digest, VINO_DIGEST_SIZE) != 0)
    {
        WipeBuffer(text);
        return VinoStatus::DIGEST_MISMATCH;
    }
    plain.swap(text);
    return VinoStatus::OK;
}

VinoStatus ReadWholeFile(const char* path, std::vector<unsigned char>& bytes, uint64_t maxSize)
{
    bytes.clear();
    if (path == nullptr)
        return VinoStatus::BAD_ARGUMENT;
    struct stat info;
    if (stat(path, &info) != 0 || !S_ISREG(info.st_mode))
        return VinoStatus::CANNOT_OPEN;
    if (info.st_size < 0 || static_cast<uint64_t>(info.st_size) > maxSize)
        return VinoStatus::TOO_LARGE;

    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path, "rb"), &std::fclose);
    if (!file)
        return VinoStatus::CANNOT_OPEN;
    const size_t expected = static_cast<size_t>(info.st_size);
    bytes.resize(expected);
    const size_t got = expected ? std::fread(bytes.data(), 1, expected, file.get()) : 0;
    if (got != expected)
    {
        // The file shrank between stat and read.
        bytes.clear();
        return VinoStatus::TRUNCATED;
    }
    // One more byte means it grew meanwhile; judge only what fits the cap.
    if (std::fgetc(file.get()) != EOF)
    {
        bytes.clear();
        return VinoStatus::SIZE_MISMATCH;
    }
    return VinoStatus::OK;
}

VinoStatus WriteWholeFile(const char* path, const std::vector<unsigned char>& bytes)
{
    if (path == nullptr)
        return VinoStatus::BAD_ARGUMENT;
    FILE* file = std::fopen(path, "wb");
    if (file == nullptr)
        return VinoStatus::WRITE_FAILED;
    const bool written = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    const bool closed = std::fclose(file) == 0;
    return written && closed ? VinoStatus::OK : VinoStatus::WRITE_FAILED;
}

VinoStatus ReadModelFile(const char* path, const unsigned char* key, int keyLength, VinoHeader& header,
                         std::vector<unsigned char>& plain)
{
    WipeBuffer(plain);
    if (!KeyUsable(key, keyLength))
        return VinoStatus::BAD_KEY;
    std::vector<unsigned char> bytes;
    const VinoStatus status = ReadWholeFile(path, bytes, VINO_MAX_FILE_SIZE);
    if (status != VinoStatus::OK)
        return status;
    return UnpackModel(bytes.data(), bytes.size(), key, keyLength, header, plain);
}

void WipeBuffer(std::vector<unsigned char>& bytes)
{
    if (!bytes.empty())
        OPENSSL_cleanse(bytes.data(), bytes.size());
    bytes.clear();
}

} // namespace OVPlugin
