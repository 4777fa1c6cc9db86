#include "support/TrackerInternalInterface.h"

#include <cstdio>

namespace OrvixSDK {

const char* const TrackerInternalInterface::kDefaultMessage =
    "The OrvixTracker has encountered error and must close.";

void TrackerInternalInterface::displayMessage(const char* text, const char* caption, int flags)
{
    errorAndExit(text, caption, flags);
}

TrackerInternalInterface::~TrackerInternalInterface() = default;

void TrackerInternalInterface::errorAndExit(const char* text, const char* /*caption*/, int /*flags*/)
{
    std::fputs(text != nullptr ? text : kDefaultMessage, stderr);
    std::fflush(stderr);
}

}  // namespace OrvixSDK
