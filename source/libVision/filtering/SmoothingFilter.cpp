#include "filtering/SmoothingFilter.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <exception>

#include <opencv2/core.hpp>

namespace OrvixSDK
{

namespace
{

// Time stamp that puts an entry outside every window.
const int kLongAgo = -10000000;
// The longest window of the timed forms, in milliseconds.
const int kMaxWindow = 1000;
// Start of the running lower bound of the scaled change.
const float kLowStart = 1000000.0f;
// Largest factor of the polynomial blend.
const float kMaxBlendFactor = 10.0f;
// Time unit of the polynomial fits, in milliseconds.
const float kFitTimeUnit = 30.0f;
// Fewest samples inside the window for the polynomial blend to act.
const int kMinBlendSamples = 5;

int clampToInt(long value)
{
    if (value > INT_MAX)
        return INT_MAX;
    if (value < INT_MIN)
        return INT_MIN;
    return static_cast<int>(value);
}

// Window of the timed forms: window capped at 1000 ms, but never shorter
// than the history.
int effectiveWindow(int window, int historyLength)
{
    return std::max(historyLength, std::min(window, kMaxWindow));
}

// Whether a stored time lies inside the window that ends at now.
bool insideWindow(int stored, int now, int window)
{
    return static_cast<long long>(now) - stored < window;
}

// Result of an integer form: truncated toward zero, kept inside the range of
// int.  A value that the float form left alone keeps its exact integer (the
// float copy may have rounded it).
int backToInt(float result, float copy, int original)
{
    if (result == copy || std::isnan(result))
        return original;
    if (result >= 2147483648.0f)
        return INT_MAX;
    if (result <= -2147483648.0f)
        return INT_MIN;
    return static_cast<int>(result);
}

float power(float base, int exponent)
{
    float result = 1.0f;
    for (int i = 0; i < exponent; ++i)
        result *= base;
    return result;
}

} // namespace

SmoothingFilter::SmoothingFilter(int channels, int historyLength_)
    : channelCount(std::max(0, channels)),
      historyLength(std::max(1, historyLength_)),
      enabled(true),
      currentChannel(0),
      frameCount(0)
{
    try {
        const std::size_t cells = static_cast<std::size_t>(channelCount) * historyLength;
        history.assign(cells, 0.0f);
        timestamps.assign(cells, kLongAgo);
        writeIndex.assign(channelCount, 0);
        warmedUp.assign(channelCount, 0);
        highChange.assign(channelCount, 0.0f);
        lowChange.assign(channelCount, kLowStart);
        changeBoundsSet.assign(channelCount, 0);
    } catch (const std::exception&) {
        // Without memory the filter has no channels and smooths nothing.
        channelCount = 0;
        history.clear();
        timestamps.clear();
        writeIndex.clear();
        warmedUp.clear();
        highChange.clear();
        lowChange.clear();
        changeBoundsSet.clear();
    }
    reset();
}

SmoothingFilter::~SmoothingFilter() = default;

void SmoothingFilter::reset()
{
    std::fill(writeIndex.begin(), writeIndex.end(), 0);
    std::fill(warmedUp.begin(), warmedUp.end(), 0);
    std::fill(timestamps.begin(), timestamps.end(), kLongAgo);
    std::fill(changeBoundsSet.begin(), changeBoundsSet.end(), 0);
    frameCount = 0;
    enabled = true;
}

void SmoothingFilter::startFrame()
{
    currentChannel = 0;
    if (frameCount < INT_MAX)
        ++frameCount;
}

void SmoothingFilter::enable()
{
    enabled = true;
}

void SmoothingFilter::disable()
{
    enabled = false;
}

std::size_t SmoothingFilter::slot(int ch, int pos) const
{
    return static_cast<std::size_t>(ch) * historyLength + pos;
}

int SmoothingFilter::stepsBack(int ch, int s) const
{
    return (writeIndex[ch] + historyLength - s) % historyLength;
}

float SmoothingFilter::valueBack(int ch, int s) const
{
    return history[slot(ch, stepsBack(ch, s))];
}

void SmoothingFilter::store(int ch, float value, int time)
{
    history[slot(ch, writeIndex[ch])] = value;
    timestamps[slot(ch, writeIndex[ch])] = time;
}

void SmoothingFilter::advance(int ch)
{
    writeIndex[ch] = (writeIndex[ch] + 1) % historyLength;
    ++currentChannel;
}

void SmoothingFilter::startChangeBounds(int ch, float highStart)
{
    highChange[ch] = highStart;
    lowChange[ch] = kLowStart;
    changeBoundsSet[ch] = 1;
}

// ---------------------------------------------------------------------------
// Moving forms

template <typename Combine>
void SmoothingFilter::smoothMoving(float* values, int count, int n, Combine combine)
{
    if (!enabled || values == nullptr || n < 1 || n > historyLength || currentChannel < 0)
        return;
    for (int i = 0; i < count && currentChannel < channelCount; ++i) {
        const int ch = currentChannel;
        const float x = values[i];
        if (!std::isfinite(x)) {
            ++currentChannel;
            continue;
        }
        if (!warmedUp[ch] && frameCount > n)
            warmedUp[ch] = 1;
        history[slot(ch, writeIndex[ch])] = x;
        if (warmedUp[ch])
            values[i] = combine(ch, x);
        advance(ch);
    }
}

template <typename SmoothFloats>
void SmoothingFilter::smoothIntegers(int* values, int count, SmoothFloats smoothFloats)
{
    if (values == nullptr)
        return;
    float copy[intChunkSize];
    float result[intChunkSize];
    for (int start = 0; start < count; start += intChunkSize) {
        const int part = std::min(intChunkSize, count - start);
        for (int i = 0; i < part; ++i)
            copy[i] = static_cast<float>(values[start + i]);
        std::copy(copy, copy + part, result);
        smoothFloats(result, part);
        for (int i = 0; i < part; ++i)
            values[start + i] = backToInt(result[i], copy[i], values[start + i]);
    }
}

// Moving average of the last n values.
void SmoothingFilter::smooth(float* values, int count, int n)
{
    smoothMoving(values, count, n, [this, n](int ch, float) {
        double sum = 0.0;
        for (int s = 0; s < n; ++s)
            sum += valueBack(ch, s);
        return static_cast<float>(sum / n);
    });
}

void SmoothingFilter::smooth(int* values, int count, int n)
{
    smoothIntegers(values, count, [this, n](float* floats, int part) { smooth(floats, part, n); });
}

// Change-adaptive average: the larger the recent change, the faster the
// weights of older values fall.
void SmoothingFilter::smooth_w(float* values, int count, int n)
{
    smoothMoving(values, count, n, [this, n](int ch, float x) {
        double change = 0.0;
        for (int s = 1; s < n; ++s)
            change = std::max(change, static_cast<double>(std::fabs(x - valueBack(ch, s))));
        double sum = x;
        double weights = 1.0;
        for (int s = 1; s < n; ++s) {
            const double w = std::exp(-20.0 * change * s);
            sum += w * valueBack(ch, s);
            weights += w;
        }
        return static_cast<float>(sum / weights);
    });
}

// ---------------------------------------------------------------------------
// Time-windowed adaptive average

void SmoothingFilter::smooth_w_time(float* values, int count, long time, int window,
                                    float factor, float lowFloor, float highCap,
                                    float highStart, float scale)
{
    if (!enabled || values == nullptr || !(factor >= 0.0f) || currentChannel < 0)
        return;
    const int w = effectiveWindow(window, historyLength);
    const float f = std::max(0.1f, factor);
    const int now = clampToInt(time);
    for (int i = 0; i < count && currentChannel < channelCount; ++i) {
        const int ch = currentChannel;
        const float x = values[i];
        if (!std::isfinite(x)) {
            ++currentChannel;
            continue;
        }
        if (!warmedUp[ch]) {
            if (time > w)
                warmedUp[ch] = 1;
            else
                startChangeBounds(ch, highStart);
        }
        if (warmedUp[ch] && !changeBoundsSet[ch]) {
            // First call of this run already beyond the window: start the
            // bounds here rather than reuse those of an earlier run.
            startChangeBounds(ch, highStart);
        }
        store(ch, x, now);

        int j = 0;
        if (warmedUp[ch]) {
            for (int s = 0; s < historyLength; ++s) {
                if (insideWindow(timestamps[slot(ch, stepsBack(ch, s))], now, w))
                    ++j;
            }
        }
        if (j > 0) {
            float largest = 0.0f;
            for (int s = 1; s < j; ++s) {
                const float u = std::fabs(x - valueBack(ch, s)) * scale;
                if (lowChange[ch] > u)
                    lowChange[ch] = std::max(lowFloor, u);
                if (u > highChange[ch])
                    highChange[ch] = std::min(highCap, u);
                if (u > largest)
                    largest = u;
            }
            const float low = lowChange[ch];
            const float high = highChange[ch];
            float v = std::min(largest * f, high);
            v = std::max(v, low);
            float range = high - low;
            if (range == 0.0f) {
                range = 2.0f * std::fabs(v - low);
                if (range == 0.0f)
                    range = 1.0f;
            }
            const float ratio = (v - low) / range;
            const float rate = 2.0f * ratio + 0.2f;
            // Mean spacing of the samples in the window, in frames of 30 ms.
            const int spacing = w / j;
            const float step = 30.0f / (1000.0f / static_cast<float>(spacing));
            double sum = 0.0;
            double weights = 0.0;
            for (int l = 1 - j; l <= 0; ++l) {
                const double e = std::exp(static_cast<double>(l) * step * rate);
                sum += e * valueBack(ch, -l);
                weights += e;
            }
            values[i] = static_cast<float>(sum / weights);
        }
        advance(ch);
    }
}

void SmoothingFilter::smooth_w_time(int* values, int count, long time, int window,
                                    float factor, float lowFloor, float highCap,
                                    float highStart, float scale)
{
    smoothIntegers(values, count, [&](float* floats, int part) {
        smooth_w_time(floats, part, time, window, factor, lowFloor, highCap, highStart, scale);
    });
}

// ---------------------------------------------------------------------------
// Polynomial blend

void SmoothingFilter::smooth_w_time_SG(float** values, int count, long time, int window,
                                       const float* factors)
{
    if (!enabled || values == nullptr || factors == nullptr || count <= 0 || currentChannel < 0)
        return;

    try {
        struct Kept
        {
            float* value;
            int channel;
            float factor;
            bool stored;
            std::vector<int> collected;   // ring positions in the window, oldest first
        };
        std::vector<Kept> kept;
        kept.reserve(std::min(count, channelCount));
        for (int i = 0; i < count; ++i) {
            const float factor = factors[i];
            if (!(factor >= 0.0f))
                continue;
            if (currentChannel >= channelCount)
                break;
            kept.push_back(Kept{values[i], currentChannel, std::min(factor, kMaxBlendFactor),
                                false, std::vector<int>()});
            ++currentChannel;
        }
        const int keptCount = static_cast<int>(kept.size());
        if (keptCount == 0)
            return;

        const int w = effectiveWindow(window, historyLength);
        const int now = clampToInt(time);

        // Store every kept value and collect its channel's samples inside the
        // window.  The first stored value sets the sample count and times.
        const Kept* reference = nullptr;
        for (Kept& item : kept) {
            const int ch = item.channel;
            if (item.value == nullptr || !std::isfinite(*item.value))
                continue;
            store(ch, *item.value, now);
            item.stored = true;
            for (int s = historyLength - 1; s >= 0; --s) {
                const int pos = stepsBack(ch, s);
                if (insideWindow(timestamps[slot(ch, pos)], now, w))
                    item.collected.push_back(pos);
            }
            writeIndex[ch] = (writeIndex[ch] + 1) % historyLength;
            if (reference == nullptr)
                reference = &item;
        }
        if (reference == nullptr)
            return;
        const int k = static_cast<int>(reference->collected.size());
        if (k < kMinBlendSamples)
            return;

        // Sample times relative to the oldest sample, in units of 30 ms.
        std::vector<float> tau(k);
        const int refChannel = reference->channel;
        const long long oldest = timestamps[slot(refChannel, reference->collected[0])];
        for (int r = 0; r < k; ++r) {
            const long long t = timestamps[slot(refChannel, reference->collected[r])];
            tau[r] = static_cast<float>(static_cast<double>(t - oldest) / kFitTimeUnit);
        }

        // Values whose channel holds fewer samples in the window than the
        // reference (it was skipped in earlier frames) have no value for the
        // older rows; they are left as they are until their history fills.
        std::vector<const Kept*> columns;
        for (const Kept& item : kept) {
            if (item.stored && static_cast<int>(item.collected.size()) >= k)
                columns.push_back(&item);
        }
        const int columnCount = static_cast<int>(columns.size());

        cv::Mat Y(k, columnCount, CV_32F);
        for (int c = 0; c < columnCount; ++c) {
            const Kept& item = *columns[c];
            const int skip = static_cast<int>(item.collected.size()) - k;
            for (int r = 0; r < k; ++r)
                Y.at<float>(r, c) = history[slot(item.channel, item.collected[skip + r])];
        }

        std::vector<float> blended(columnCount, 0.0f);
        std::vector<float> weightSum(columnCount, 0.0f);
        struct Fit
        {
            int degree;
            float exponent;
        };
        const Fit fits[] = {{0, 0.0f}, {1, -1.0f}, {4, -2.0f}};
        for (const Fit& fit : fits) {
            const int terms = fit.degree + 1;
            // V over the sample positions -(k-1) .. 0: the first row of its
            // pseudo-inverse gives the fitted polynomial's value at the newest
            // sample.  A over the real sample times, highest power first.
            cv::Mat V(k, terms, CV_32F);
            cv::Mat A(k, terms, CV_32F);
            for (int r = 0; r < k; ++r) {
                const float position = static_cast<float>(r - (k - 1));
                for (int p = 0; p < terms; ++p) {
                    V.at<float>(r, p) = power(position, p);
                    A.at<float>(r, fit.degree - p) = power(tau[r], p);
                }
            }
            cv::Mat pseudoInverse;
            cv::invert(V, pseudoInverse, cv::DECOMP_SVD);
            const cv::Mat estimate = pseudoInverse.row(0) * Y;

            cv::Mat B;
            cv::solve(A, Y, B, cv::DECOMP_SVD);
            const cv::Mat residual = A * B - Y;
            cv::Mat error;
            cv::reduce(residual.mul(residual), error, 0, cv::REDUCE_SUM);

            for (int c = 0; c < columnCount; ++c) {
                const float weight = std::exp(fit.exponent * columns[c]->factor) /
                                     (error.at<float>(0, c) * keptCount + 1e-8f);
                blended[c] += weight * estimate.at<float>(0, c);
                weightSum[c] += weight;
            }
        }

        for (int c = 0; c < columnCount; ++c) {
            const float result = blended[c] / (weightSum[c] + 1e-8f);
            if (std::isfinite(result))
                *columns[c]->value = result;
        }
    } catch (const std::exception&) {
        // Out of memory or a failed matrix operation: the values stay as they are.
    }
}

} // namespace OrvixSDK
