#ifndef ORVIXSDK_OXCFGARR_H
#define ORVIXSDK_OXCFGARR_H

#include <utility>

#include "OrvixSDK/Export.h"

namespace OrvixSDK {

// A small owning array through which array settings (smoothing factors,
// unit flags, sensitivities, names) cross the public interface.  It is used
// with short, int, float, double and std::string.
//
// `data` holds `size` elements, or is null when `size` is 0.  Copies are
// deep; a moved-from array is left empty (size 0, data null).
template <typename T>
class ORVIX_API OxCfgArr
{
public:
    int size;
    T* data;

    OxCfgArr()
        : size(0), data(nullptr)
    {
    }

    // count elements, zero (numbers) or empty (strings).  A count of 0 or
    // less gives an empty array.
    explicit OxCfgArr(int count)
        : size(0), data(nullptr)
    {
        if (count > 0) {
            data = new T[count]();
            size = count;
        }
    }

    // Copies count elements from source.  A null source or a count of 0 or
    // less gives an empty array.
    OxCfgArr(const T* source, int count)
        : size(0), data(nullptr)
    {
        if (source == nullptr || count <= 0)
            return;
        T* copy = new T[count];
        try {
            for (int i = 0; i < count; ++i)
                copy[i] = source[i];
        } catch (...) {
            delete[] copy;
            throw;
        }
        data = copy;
        size = count;
    }

    OxCfgArr(const OxCfgArr& other)
        : OxCfgArr(other.data, other.size)
    {
    }

    OxCfgArr(OxCfgArr&& other) noexcept
        : size(other.size), data(other.data)
    {
        other.size = 0;
        other.data = nullptr;
    }

    // Deep copy.  The copy is made before the old elements are freed, so
    // assigning an array to itself leaves it unchanged.
    OxCfgArr& operator=(const OxCfgArr& other)
    {
        if (this != &other) {
            OxCfgArr copy(other);
            std::swap(size, copy.size);
            std::swap(data, copy.data);
        }
        return *this;
    }

    OxCfgArr& operator=(OxCfgArr&& other) noexcept
    {
        if (this != &other) {
            delete[] data;
            size = other.size;
            data = other.data;
            other.size = 0;
            other.data = nullptr;
        }
        return *this;
    }

    ~OxCfgArr()
    {
        delete[] data;
    }

    // Element i; no range test.
    T& operator[](int i)
    {
        return data[i];
    }

    const T& operator[](int i) const
    {
        return data[i];
    }
};

}  // namespace OrvixSDK

#endif
