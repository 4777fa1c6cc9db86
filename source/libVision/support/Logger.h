#ifndef ORVIX_SUPPORT_LOGGER_H
#define ORVIX_SUPPORT_LOGGER_H

#include <cstdio>

#include "OrvixSDK/Export.h"
#include "support/Singleton.h"
#include "support/Timer.h"

namespace OrvixSDK {

class ORVIX_API Logger;

// The registration slot lives in the library, so that every user of the
// library sees the same instance.
extern template class Singleton<Logger>;

// Plain-text log file "osdk.log" in the working directory.  Each line holds
// the time since the logger was created, a tab and the message.
//
// Nothing in the library registers a logger: an application that wants one
// calls Logger::create() and, when done, Logger::destroy().  write() takes no
// lock; lines written from several threads at once may interleave.
class ORVIX_API Logger : public Singleton<Logger> {
public:
    // Opens "osdk.log" in the working directory for writing (truncating it)
    // and starts the timer.  When the file cannot be opened the logger stays
    // usable and write() does nothing.
    Logger();

    // Closes the file; unregisters the logger when it is the registered one.
    ~Logger() override;

    Logger(const Logger&) = delete;
    Logger& operator=(const Logger&) = delete;

    // Writes the elapsed time, a tab, the printf-formatted text and a line
    // end, then flushes.  Does nothing when the file is not open.
    void write(const char* format, ...) __attribute__((format(printf, 2, 3)));

    // True when the log file is open.
    bool isOpen() const;

    // Registers a new logger in Singleton<Logger>::inst unless one is
    // registered already; returns the registered logger.
    static Logger* create();

    // Deletes the registered logger, if any, and clears the registration.
    static void destroy();

    Timer timer;
    std::FILE* file;
};

}  // namespace OrvixSDK

#endif
