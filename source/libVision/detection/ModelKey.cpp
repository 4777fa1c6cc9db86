#include "detection/ModelKey.h"

namespace OrvixSDK
{
namespace Key
{

const unsigned char encKey[MODEL_KEY_LENGTH] = {
    0xc1, 0xcd, 0x35, 0xdb, 0xab, 0x91, 0x14, 0x1d,
    0x24, 0xf1, 0x77, 0x4a, 0xfd, 0xa6, 0x0b, 0xd2};

const unsigned char encXORKey[MODEL_KEY_LENGTH] = {
    0x62, 0x46, 0x6a, 0xbf, 0xa9, 0x0c, 0x0c, 0x84,
    0x15, 0xbe, 0x6a, 0x47, 0x83, 0xda, 0x50, 0xb8};

std::vector<unsigned char> buildModelKey()
{
    std::vector<unsigned char> key(MODEL_KEY_LENGTH);
    for (int i = 0; i < MODEL_KEY_LENGTH; ++i)
        key[i] = static_cast<unsigned char>(encKey[i] ^ encXORKey[i]);
    return key;
}

} // namespace Key
} // namespace OrvixSDK
