#ifndef ONN_CRYPTO_H
#define ONN_CRYPTO_H

#include "OrvixSDK/Export.h"

#include <vector>

namespace ONN
{
namespace Crypto
{

// SHA-256 digest (32 bytes) of length bytes at data. A null pointer or a
// negative length hashes nothing.
std::vector<unsigned char> hashBuffer(unsigned char* data, int length);

// AES-128-CBC decryption of length bytes at data with the 16-byte key and
// 16-byte initialisation vector (the two length arguments are not consulted),
// cipher padding off; then as many bytes as the last decrypted byte's value
// are dropped from the end. Returns an empty vector, with one line on
// standard error, for null pointers, a length that is not a positive
// multiple of 16 and a last byte of 0 or larger than the data; a cipher
// failure prints the crypto library's error queue and returns an empty
// vector too. Exported for backend plug-ins.
ORVIX_API std::vector<unsigned char> decryptBuffer(unsigned char* data, int length, unsigned char* iv,
                                                   int ivLength, unsigned char* key, int keyLength);

} // namespace Crypto
} // namespace ONN

#endif
