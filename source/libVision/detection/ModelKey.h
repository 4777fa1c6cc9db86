#ifndef ORVIX_DETECTION_MODELKEY_H
#define ORVIX_DETECTION_MODELKEY_H

#include <vector>

namespace OrvixSDK
{
namespace Key
{

// Every network file is encrypted under one 16-byte key. The key is never
// stored whole: it is rebuilt at run time, each time a model is loaded, from
// two stored tables (byte i = encKey[i] XOR encXORKey[i]).
const int MODEL_KEY_LENGTH = 16;

extern const unsigned char encKey[MODEL_KEY_LENGTH];
extern const unsigned char encXORKey[MODEL_KEY_LENGTH];

// The model key, MODEL_KEY_LENGTH bytes, handed with its length to
// ONNIEChooser::Create. Callers keep the vector alive while the model loads.
std::vector<unsigned char> buildModelKey();

} // namespace Key
} // namespace OrvixSDK

#endif
