#ifndef ORVIX_SUPPORT_TIMER_H
#define ORVIX_SUPPORT_TIMER_H

#include <cstdint>
#include <string>

#include "OrvixSDK/Export.h"

namespace OrvixSDK {

// Millisecond stopwatch over a monotonic clock.
//
// startTick 0 means "not started": the elapsed time then reads 0.  stop()
// only marks the timer as not running (so that reset() does not restart it);
// the elapsed time is still measured from startTick.
class ORVIX_API Timer {
public:
    Timer();
    virtual ~Timer();

    // startTick <- current tick; running.
    void start();
    // Not running; startTick stays unchanged.
    void stop();
    bool isRunning() const;
    // startTick <- 0; when running, start again.
    void reset();

    // Current value of the tick source in milliseconds: the monotonic clock,
    // never 0 (0 is reserved for "not started").  Virtual so that a test can
    // drive the timer with a clock of its own.
    virtual uint64_t getTickCount() const;

    // Elapsed time since start split into hours, minutes (0-59), seconds
    // (0-59) and milliseconds (0-999); all 0 when not started.
    void getTime(uint64_t& hours, uint64_t& minutes, uint64_t& seconds,
                 uint64_t& milliseconds) const;

    // "h:m:s.ms", each part a plain decimal without leading zeros, for
    // example "1:2:3.456".
    std::string getTimeStr() const;

    uint64_t startTick;
    bool stopped;
};

}  // namespace OrvixSDK

#endif
