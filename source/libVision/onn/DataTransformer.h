#ifndef ONN_DATA_TRANSFORMER_H
#define ONN_DATA_TRANSFORMER_H

#include "onn/ImageTransformation.h"

namespace ONN
{

class DataTransformer
{
public:
    // Converts in into out's element type and layout, with in's width, height
    // and channel count. A source that is not FP32 is read as UINT8; a
    // destination of another type is left untouched. Returns out.
    static NNData* processData(const NNData* in, NNData* out);
};

} // namespace ONN

#endif
