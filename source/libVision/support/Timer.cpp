#include "support/Timer.h"

#include <cinttypes>
#include <cstdio>
#include <ctime>

namespace OrvixSDK {

Timer::Timer() : startTick(0), stopped(true)
{
}

Timer::~Timer() = default;

void Timer::start()
{
    startTick = getTickCount();
    stopped = false;
}

void Timer::stop()
{
    stopped = true;
}

bool Timer::isRunning() const
{
    return !stopped;
}

void Timer::reset()
{
    startTick = 0;
    if (isRunning())
        start();
}

uint64_t Timer::getTickCount() const
{
    timespec now{};
    if (clock_gettime(CLOCK_MONOTONIC, &now) != 0)
        return 1;
    const uint64_t ms = static_cast<uint64_t>(now.tv_sec) * 1000u
                      + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
    // 0 marks a timer that was never started; a real reading never equals it.
    return ms != 0 ? ms : 1;
}

void Timer::getTime(uint64_t& hours, uint64_t& minutes, uint64_t& seconds,
                    uint64_t& milliseconds) const
{
    hours = minutes = seconds = milliseconds = 0;
    if (startTick == 0)
        return;
    const uint64_t now = getTickCount();
    // A clock that reads earlier than the start counts as no time elapsed.
    const uint64_t e = now > startTick ? now - startTick : 0;
    hours = e / 3600000u;
    minutes = (e / 60000u) % 60u;
    seconds = (e / 1000u) % 3600u - 60u * minutes;
    milliseconds = e % 3600000u - 1000u * ((e / 1000u) % 3600u);
}

std::string Timer::getTimeStr() const
{
    uint64_t hours;
    uint64_t minutes;
    uint64_t seconds;
    uint64_t milliseconds;
    getTime(hours, minutes, seconds, milliseconds);
    char text[96];
    std::snprintf(text, sizeof(text), "%" PRIu64 ":%" PRIu64 ":%" PRIu64 ".%" PRIu64,
                  hours, minutes, seconds, milliseconds);
    return text;
}

}  // namespace OrvixSDK
