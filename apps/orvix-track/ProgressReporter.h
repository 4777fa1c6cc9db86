// Progress of a tracking run on standard error: on a terminal one line
// redrawn in place (bar, percent, frames per second, time left); otherwise a
// plain line every 5 % (every 100 frames when the total is not known).

#ifndef ORVIX_TRACK_PROGRESSREPORTER_H
#define ORVIX_TRACK_PROGRESSREPORTER_H

#include <chrono>
#include <cstdio>
#include <string>

namespace OrvixTrack {

class ProgressReporter
{
public:
    // total <= 0: not known.  A disabled reporter prints nothing.
    ProgressReporter(std::FILE* out, long long total, bool enabled, bool terminal);

    // Called after each frame with the number of frames done so far.
    void update(long long done);
    // Ends the in-place line.
    void finish(long long done);

    // "1:05", "1:02:03"; "--:--" for a negative or absurd value.
    static std::string formatDuration(double seconds);

private:
    using Clock = std::chrono::steady_clock;

    void drawTerminal(long long done, bool last);
    void printLine(long long done);
    double elapsedSeconds() const;

    std::FILE* out;
    long long total;
    bool enabled;
    bool terminal;
    Clock::time_point start;
    Clock::time_point lastDraw;
    long long nextReport;   // plain mode: frame count of the next line
    size_t lastWidth = 0;
    long long drawnDone = -1;   // terminal mode: frame count on the screen
};

}  // namespace OrvixTrack

#endif
