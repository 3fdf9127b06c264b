// Timing of an operation next to its physical limit in the same benchmark:
// each iteration times the operation and then the limit (a memcpy of the same
// bytes, or the bare system calls), reports the operation's time as the
// iteration's, and the ratio of the totals as the counter "x_limit".
#pragma once

#include <benchmark/benchmark.h>

#include <chrono>

namespace korvo::bench {

template <typename Operation, typename Limit>
void timeAgainstLimit(benchmark::State &state, Operation operation, Limit limit) {
    using Clock = std::chrono::steady_clock;
    double operationSeconds = 0, limitSeconds = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        operation();
        const auto middle = Clock::now();
        limit();
        const auto end = Clock::now();
        const double seconds = std::chrono::duration<double>(middle - start).count();
        operationSeconds += seconds;
        limitSeconds += std::chrono::duration<double>(end - middle).count();
        state.SetIterationTime(seconds);
    }
    if (limitSeconds > 0)
        state.counters["x_limit"] = operationSeconds / limitSeconds;
}

}  // namespace korvo::bench
