#ifndef ORVIX_SUPPORT_TRACKERINTERNALINTERFACE_H
#define ORVIX_SUPPORT_TRACKERINTERNALINTERFACE_H

#include "OrvixSDK/Export.h"

namespace OrvixSDK {

// Message sink through which the tracker reports fatal set-up problems.
// The default implementation writes the text to standard error; a subclass
// can override displayMessage to show or capture the messages elsewhere.
class ORVIX_API TrackerInternalInterface {
public:
    TrackerInternalInterface() = default;

    // Reports text; caption and flags describe how a windowed front end would
    // present it and are not used by the default implementation.
    virtual void displayMessage(const char* text, const char* caption, int flags);

    virtual ~TrackerInternalInterface();

    // Writes text (or a generic notice when text is null) to standard error
    // and flushes it.  The process is not ended here: the library never ends
    // its host process, so the caller leaves its object inactive and reports
    // the failure through its return value.
    static void errorAndExit(const char* text, const char* caption, int flags);

    // The text written when errorAndExit gets no text.
    static const char* const kDefaultMessage;
};

}  // namespace OrvixSDK

#endif
