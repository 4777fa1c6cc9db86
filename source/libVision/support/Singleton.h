#ifndef ORVIX_SUPPORT_SINGLETON_H
#define ORVIX_SUPPORT_SINGLETON_H

#include "OrvixSDK/Export.h"

namespace OrvixSDK {

// Holder of the one registered instance of T.  The base class only keeps the
// pointer: T itself decides how an instance is created, registered in inst and
// deleted.  inst is null until an instance is registered.
template <class T>
class ORVIX_API Singleton {
public:
    static T* inst;

    // The registered instance, or null.
    static T* getInstance() { return inst; }

    Singleton(const Singleton&) = delete;
    Singleton& operator=(const Singleton&) = delete;

protected:
    Singleton() = default;
    virtual ~Singleton() = default;
};

template <class T>
T* Singleton<T>::inst = nullptr;

}  // namespace OrvixSDK

#endif
