#ifndef OVPLUGIN_VINOCONTAINER_H
#define OVPLUGIN_VINOCONTAINER_H

// The ".vino" model container: an ONNX network encrypted with AES-128-CBC,
// preceded by a small clear header that declares the network's input.
// Shared by the plug-in (reading) and the packing tool (writing, checking).
//
// Byte layout, integers little-endian:
//
//   offset  size  field
//        0     8  magic "ORVXVINO"
//        8     2  format version, 1
//       10     1  input element type: 0 UINT8, 1 FP32 (ONN::EDataType)
//       11     1  input layout: 0 NCHW, 1 NHWC (ONN::ImageUtils::ELayoutType)
//       12     4  input channels C
//       16     4  input height H
//       20     4  input width W
//       24     4  ciphertext length N (a positive multiple of 16)
//       28     4  reserved, 0
//       32    32  SHA-256 of the plain ONNX bytes
//       64    16  AES-CBC initialisation vector
//       80     N  ciphertext: the ONNX bytes with PKCS#7 padding
//
// The file is exactly 80 + N bytes long. C, H and W are each 1..65535 and
// C*H*W is at most 2^26 elements; the batch size is always 1.

#include "onn/ImageTransformation.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace OVPlugin
{

const char VINO_MAGIC[8] = {'O', 'R', 'V', 'X', 'V', 'I', 'N', 'O'};
const unsigned VINO_VERSION = 1;
const size_t VINO_HEADER_SIZE = 64;
const size_t VINO_IV_SIZE = 16;
const size_t VINO_PAYLOAD_OFFSET = VINO_HEADER_SIZE + VINO_IV_SIZE;
const size_t VINO_KEY_SIZE = 16;
const size_t VINO_DIGEST_SIZE = 32;
const size_t VINO_BLOCK_SIZE = 16;
// Model files larger than this are refused before anything is read.
const uint64_t VINO_MAX_FILE_SIZE = 512ull * 1024 * 1024;
const int VINO_MAX_DIMENSION = 65535;
const long VINO_MAX_ELEMENTS = 1L << 26;

// The input a packed network wants: element type, layout and shape (batch 1).
struct InputDeclaration
{
    ONN::EDataType dataType = ONN::UINT8;
    ONN::ImageUtils::ELayoutType layout = ONN::ImageUtils::NHWC;
    int channels = 0;
    int height = 0;
    int width = 0;

    long ElementCount() const { return static_cast<long>(channels) * height * width; }
    // Type, layout and every dimension in range.
    bool IsValid() const;
};

struct VinoHeader
{
    unsigned version = VINO_VERSION;
    InputDeclaration input;
    uint32_t payloadLength = 0;
    unsigned char digest[VINO_DIGEST_SIZE] = {};
    unsigned char iv[VINO_IV_SIZE] = {};
};

enum class VinoStatus
{
    OK = 0,
    CANNOT_OPEN,      // missing, unreadable or not a regular file
    TOO_LARGE,        // above VINO_MAX_FILE_SIZE
    TRUNCATED,        // shorter than its header says
    BAD_MAGIC,        // not a container at all
    BAD_VERSION,      // a container of another format version
    BAD_HEADER,       // impossible type, layout, shape or length
    SIZE_MISMATCH,    // bytes beyond the declared ciphertext
    BAD_KEY,          // missing key or a length other than 16
    CIPHER_FAILED,    // the crypto library refused an operation
    BAD_PADDING,      // decrypted text does not end in valid PKCS#7 padding
    DIGEST_MISMATCH,  // wrong key or damaged ciphertext
    WRITE_FAILED,
    BAD_ARGUMENT
};

// A short English description of a status, for messages.
const char* VinoStatusText(VinoStatus status);

// Header to its 64 bytes and back. DecodeHeader checks magic, version and
// every field; it needs at least VINO_PAYLOAD_OFFSET bytes (header and IV).
std::vector<unsigned char> EncodeHeader(const VinoHeader& header);
VinoStatus DecodeHeader(const unsigned char* data, size_t size, VinoHeader& header);

// Raw AES-128-CBC over whole blocks, the cipher's own padding switched off.
// size must be a multiple of 16. Returns false on any cipher failure.
bool AesCbc(bool encrypt, const unsigned char* in, size_t size, const unsigned char* key,
            const unsigned char* iv, std::vector<unsigned char>& out);

// PKCS#7 over 16-byte blocks. StripPadding checks every pad byte and
// shortens text; it leaves text alone and returns false when the padding
// is not valid.
void AddPadding(std::vector<unsigned char>& text);
bool StripPadding(std::vector<unsigned char>& text);

// SHA-256 of size bytes at data.
bool Sha256(const unsigned char* data, size_t size, unsigned char digest[VINO_DIGEST_SIZE]);

// Builds a whole container for the ONNX bytes. A fresh random IV is drawn
// unless iv is given.
VinoStatus PackModel(const unsigned char* onnx, size_t size, const InputDeclaration& input,
                     const unsigned char* key, int keyLength, std::vector<unsigned char>& container,
                     const unsigned char* iv = nullptr);

// Decrypts a whole container held in memory: header checks, decryption,
// padding and digest. On success plain holds the ONNX bytes.
VinoStatus UnpackModel(const unsigned char* data, size_t size, const unsigned char* key, int keyLength,
                       VinoHeader& header, std::vector<unsigned char>& plain);

// Reads a container file (refusing non-regular files and files above the
// size cap) and unpacks it in memory; nothing decrypted touches the disk.
VinoStatus ReadModelFile(const char* path, const unsigned char* key, int keyLength, VinoHeader& header,
                         std::vector<unsigned char>& plain);

// Whole-file helpers for the tool. ReadWholeFile applies the size cap.
VinoStatus ReadWholeFile(const char* path, std::vector<unsigned char>& bytes, uint64_t maxSize);
VinoStatus WriteWholeFile(const char* path, const std::vector<unsigned char>& bytes);

// Overwrites the bytes before the memory is released (decrypted networks).
void WipeBuffer(std::vector<unsigned char>& bytes);

} // namespace OVPlugin

#endif
