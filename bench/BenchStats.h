#ifndef ORVIX_BENCH_BENCHSTATS_H
#define ORVIX_BENCH_BENCHSTATS_H

// Order statistics shared by the benchmarks: they report medians with the
// 10th and 90th percentiles, never means, because the machines they run on
// are shared and noisy.

#include <algorithm>
#include <cstddef>
#include <vector>

namespace OrvixBench
{

// The q-quantile (0..1) of the samples, nearest rank; 0 for no samples.
inline double percentile(std::vector<double> values, double q)
{
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const size_t k = std::min(values.size() - 1, static_cast<size_t>(q * static_cast<double>(values.size() - 1) + 0.5));
    return values[k];
}

struct Summary
{
    double median, low, high;  // 50th, 10th and 90th percentile
};

inline Summary summarise(const std::vector<double>& samples)
{
    return {percentile(samples, 0.5), percentile(samples, 0.1), percentile(samples, 0.9)};
}

}  // namespace OrvixBench

#endif
