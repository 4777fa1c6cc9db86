#ifndef ORVIX_FILTERING_SMOOTHING_FILTER_H
#define ORVIX_FILTERING_SMOOTHING_FILTER_H

#include <cstddef>
#include <vector>

namespace OrvixSDK
{

// A bank of independent smoothing channels.  Each channel keeps a ring of the
// last N values of one scalar with their time stamps.  A frame's values go to
// consecutive channels in call order: startFrame() rewinds to channel 0, and
// every smoothing call hands its values to the next channels.
//
// All operations smooth their values in place.  Values that do not fit in the
// remaining channels of the frame are left untouched.  A value that is not a
// finite number passes through unchanged and is not stored, so it cannot
// disturb later results of its channel; it still uses up its channel, so the
// channels of the values after it stay where they were.
class SmoothingFilter
{
public:
    // Largest number of values that the integer forms convert in one go;
    // longer calls are handled in pieces of this size.
    static constexpr int intChunkSize = 500;

    // channels below 0 count as 0 (the filter then smooths nothing); a history
    // length below 1 counts as 1.
    SmoothingFilter(int channels, int historyLength);
    ~SmoothingFilter();

    SmoothingFilter(const SmoothingFilter&) = delete;
    SmoothingFilter& operator=(const SmoothingFilter&) = delete;

    // Every channel forgets its past (write position 0, not warmed up, all
    // time stamps far in the past); frameCount 0; enabled.  The channel of
    // the next value and the stored values stay.
    void reset();
    // Channel of the next value 0; frameCount + 1.
    void startFrame();
    void enable();
    void disable();

    // Moving average over the last n values (1 <= n <= history length).
    void smooth(float* values, int count, int n);
    void smooth(int* values, int count, int n);

    // Exponential average over the last n values whose weights fall faster
    // the more the channel changed recently.
    void smooth_w(float* values, int count, int n);

    // Exponential average over the values of the last `window` milliseconds
    // (at most 1000, at least the history length), adapting its decay to the
    // recent change of the channel relative to running bounds.
    void smooth_w_time(float* values, int count, long time, int window, float factor,
                       float lowFloor, float highCap, float highStart, float scale);
    void smooth_w_time(int* values, int count, long time, int window, float factor,
                       float lowFloor, float highCap, float highStart, float scale);

    // Blend of polynomial fits (degrees 0, 1 and 4) over the values of the
    // last `window` milliseconds, each fit weighted by how well it explains
    // the channel's recent motion and by the value's factor.  A value whose
    // factor is negative (or not a number) is left alone and uses no channel.
    void smooth_w_time_SG(float** values, int count, long time, int window,
                          const float* factors);

    int getChannelCount() const { return channelCount; }
    int getHistoryLength() const { return historyLength; }
    bool isEnabled() const { return enabled; }
    int getCurrentChannel() const { return currentChannel; }
    int getFrameCount() const { return frameCount; }
    // Per-channel state; channel must lie in 0 .. getChannelCount() - 1.
    bool isWarmedUp(int channel) const { return warmedUp[channel] != 0; }
    int getWriteIndex(int channel) const { return writeIndex[channel]; }
    // The N stored values and time stamps of a channel, in ring order.
    const float* getHistory(int channel) const { return &history[slot(channel, 0)]; }
    const int* getTimestamps(int channel) const { return &timestamps[slot(channel, 0)]; }

private:
    // Index into history/timestamps of ring position pos of channel ch.
    std::size_t slot(int ch, int pos) const;
    // Ring position of the value s steps back (s = 0 is the value just
    // stored at writeIndex).
    int stepsBack(int ch, int s) const;
    float valueBack(int ch, int s) const;
    void store(int ch, float value, int time);
    void advance(int ch);
    // The channel's start bounds for the adaptive average.
    void startChangeBounds(int ch, float highStart);
    // The two moving forms: checks, warm-up after n frames and storing are
    // shared; combine(ch, x) gives the smoothed value of a warmed-up channel.
    template <typename Combine>
    void smoothMoving(float* values, int count, int n, Combine combine);
    // The integer forms: the values go through smoothFloats(floats, part) in
    // chunks of intChunkSize and come back truncated toward zero.
    template <typename SmoothFloats>
    static void smoothIntegers(int* values, int count, SmoothFloats smoothFloats);

    int channelCount;
    int historyLength;
    bool enabled;
    int currentChannel;
    int frameCount;
    std::vector<float> history;       // channelCount x historyLength
    std::vector<int> timestamps;      // channelCount x historyLength, ms
    std::vector<int> writeIndex;
    std::vector<unsigned char> warmedUp;
    std::vector<float> highChange;
    std::vector<float> lowChange;
    // Whether the change bounds were started since the last reset; a channel
    // whose first call after a reset already lies beyond the window starts
    // them then instead of carrying over values from an earlier run.
    std::vector<unsigned char> changeBoundsSet;
};

} // namespace OrvixSDK

#endif
