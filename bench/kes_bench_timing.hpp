// Timing of an operation next to its physical limit in the same benchmark:
// each iteration times the operation and then the limit (a memcpy of the same
// bytes, or the bare system calls), reports the operation's time as the
// iteration's, and the ratio of the totals as the counter "x_limit"; work
// that must stay out of both clocks (freeing what the operation made) runs
// after them. Also the usual limit itself, a memcpy the compiler must carry
// out, alone or as a benchmark of its own.
//
// The clock is wall-clock time, or with ThreadCpuClock the CPU time of the
// calling thread, which a machine shared with other work does not inflate
// (time spent waiting for the processor is not counted). Reading it costs
// some 0.25 microseconds, so it suits operations of microseconds and more.
#pragma once

#include <benchmark/benchmark.h>

#include <time.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace korvo::bench {

// The CPU time that clock `Id` counts, as a clock.
template <clockid_t Id>
struct CpuClock {
    using duration = std::chrono::nanoseconds;
    using rep = duration::rep;
    using period = duration::period;
    using time_point = std::chrono::time_point<CpuClock>;
    static constexpr bool is_steady = true;
    static time_point now() {
        timespec spent{};
        clock_gettime(Id, &spent);
        return time_point(std::chrono::seconds(spent.tv_sec) +
                          std::chrono::nanoseconds(spent.tv_nsec));
    }
};
// The calling thread's CPU time, which a shared machine does not inflate.
using ThreadCpuClock = CpuClock<CLOCK_THREAD_CPUTIME_ID>;
// The whole process's, for work shared with threads of its own.
using ProcessCpuClock = CpuClock<CLOCK_PROCESS_CPUTIME_ID>;

template <typename Clock = std::chrono::steady_clock, typename Operation, typename Limit,
          typename Untimed>
void timeAgainstLimit(benchmark::State &state, Operation operation, Limit limit, Untimed untimed) {
    double operationSeconds = 0, limitSeconds = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        operation();
        const auto middle = Clock::now();
        limit();
        const auto end = Clock::now();
        untimed();
        const double seconds = std::chrono::duration<double>(middle - start).count();
        operationSeconds += seconds;
        limitSeconds += std::chrono::duration<double>(end - middle).count();
        state.SetIterationTime(seconds);
    }
    if (limitSeconds > 0)
        state.counters["x_limit"] = operationSeconds / limitSeconds;
}

template <typename Clock = std::chrono::steady_clock, typename Operation, typename Limit>
void timeAgainstLimit(benchmark::State &state, Operation operation, Limit limit) {
    timeAgainstLimit<Clock>(state, operation, limit, [] {});
}

// A memcpy of `size` bytes that is neither dropped nor moved out of its
// timed part.
inline void copyBytes(void *target, const void *source, size_t size) {
    std::memcpy(target, source, size);
    benchmark::DoNotOptimize(target);
    benchmark::ClobberMemory();
}

// The limit as a benchmark of its own: a copy of `bytes` each iteration,
// reported as bytes processed.
template <typename Bytes>
void timeCopies(benchmark::State &state, const Bytes &bytes) {
    Bytes target(bytes.size());
    for (auto _ : state)
        copyBytes(target.data(), bytes.data(), bytes.size());
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes.size()));
}

}  // namespace korvo::bench
