#include "ProgressReporter.h"

#include <algorithm>
#include <cmath>

namespace OrvixTrack {

namespace {

long long reportStep(long long total)
{
    return total > 0 ? std::max(1LL, (total + 19) / 20) : 100;
}

}  // namespace

ProgressReporter::ProgressReporter(std::FILE* out, long long total, bool enabled, bool terminal)
    : out(out),
      total(total > 0 ? total : 0),
      enabled(enabled && out != nullptr),
      terminal(terminal),
      start(Clock::now()),
      lastDraw(start),
      nextReport(reportStep(total > 0 ? total : 0))
{
}

std::string ProgressReporter::formatDuration(double seconds)
{
    if (!std::isfinite(seconds) || seconds < 0.0 || seconds > 360000.0)
        return "--:--";
    const long long s = std::llround(seconds);
    char buffer[32];
    if (s >= 3600)
        std::snprintf(buffer, sizeof buffer, "%lld:%02lld:%02lld", s / 3600, (s / 60) % 60, s % 60);
    else
        std::snprintf(buffer, sizeof buffer, "%lld:%02lld", s / 60, s % 60);
    return buffer;
}

double ProgressReporter::elapsedSeconds() const
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void ProgressReporter::update(long long done)
{
    if (!enabled)
        return;
    if (terminal) {
        const Clock::time_point now = Clock::now();
        if (now - lastDraw >= std::chrono::milliseconds(100) || (total > 0 && done >= total)) {
            lastDraw = now;
            drawTerminal(done, false);
        }
        return;
    }
    if (done >= nextReport) {
        printLine(done);
        const long long step = reportStep(total);
        while (nextReport <= done)
            nextReport += step;
    }
}

void ProgressReporter::finish(long long done)
{
    if (!enabled)
        return;
    if (terminal) {
        if (done != drawnDone)
            drawTerminal(done, true);
        std::fputc('\n', out);
        std::fflush(out);
    }
}

void ProgressReporter::drawTerminal(long long done, bool last)
{
    const double elapsed = elapsedSeconds();
    const double fps = elapsed > 0.0 ? static_cast<double>(done) / elapsed : 0.0;
    char line[160];
    if (total > 0) {
        const long long shown = std::min(done, total);
        const double fraction = static_cast<double>(shown) / static_cast<double>(total);
        const int barWidth = 30;
        const int filled = static_cast<int>(fraction * barWidth);
        std::string bar(static_cast<size_t>(filled), '#');
        bar.append(static_cast<size_t>(barWidth - filled), '.');
        const double left = (last || fps <= 0.0) ? 0.0 : static_cast<double>(total - shown) / fps;
        std::snprintf(line, sizeof line, "[%s] %3d %%  %lld/%lld frames  %.1f fps  %s left", bar.c_str(),
                      static_cast<int>(fraction * 100.0), shown, total, fps,
                      (fps > 0.0 || last) ? formatDuration(left).c_str() : "--:--");
    } else {
        std::snprintf(line, sizeof line, "%lld frames  %.1f fps  %s elapsed", done, fps,
                      formatDuration(elapsed).c_str());
    }
    // Carriage return, the line, then blanks over what a longer earlier line
    // left behind.
    const size_t width = std::char_traits<char>::length(line);
    std::fprintf(out, "\r%s", line);
    if (lastWidth > width)
        std::fprintf(out, "%*s", static_cast<int>(lastWidth - width), "");
    lastWidth = width;
    drawnDone = done;
    std::fflush(out);
}

void ProgressReporter::printLine(long long done)
{
    const double elapsed = elapsedSeconds();
    const double fps = elapsed > 0.0 ? static_cast<double>(done) / elapsed : 0.0;
    if (total > 0) {
        const long long shown = std::min(done, total);
        const double left = fps > 0.0 ? static_cast<double>(total - shown) / fps : -1.0;
        std::fprintf(out, "orvix-track: %3d %% (%lld/%lld frames, %.1f fps, %s left)\n",
                     static_cast<int>(100.0 * static_cast<double>(shown) / static_cast<double>(total)), shown,
                     total, fps, formatDuration(left).c_str());
    } else {
        std::fprintf(out, "orvix-track: %lld frames (%.1f fps)\n", done, fps);
    }
    std::fflush(out);
}

}  // namespace OrvixTrack
