#ifndef ORVIXSDK_EXPORT_H
#define ORVIXSDK_EXPORT_H

// The library is built with hidden visibility; only declarations marked with
// ORVIX_API are part of its binary interface.
#if defined(__GNUC__)
#define ORVIX_API __attribute__((visibility("default")))
#else
#define ORVIX_API
#endif

#endif
