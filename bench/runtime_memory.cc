// What a method gets back after freeing a large decoded value: decodes a
// TOC of 100 000 segments (ten properties each), frees it, and reports the
// process's resident set before the decode, with the TOC decoded (the peak)
// and after the free, as counters in MB, with "after_over_before" their
// ratio. The decode and the free are timed together (CPU and wall time).
// The limit beside it is a memcpy of the encoded bytes.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>

#include "bench/bench_sample_toc.hpp"
#include "bench/kes_bench_timing.hpp"
#include "runtime/generic.h"
#include "runtime/marshal.h"

namespace {

constexpr int kSegments = 100000;

// The resident set of this process in bytes, from /proc/self/statm.
double resident_bytes() {
    std::FILE *statm = std::fopen("/proc/self/statm", "r");
    if (statm == nullptr)
        return 0;
    long pages = 0, resident = 0;
    const int read = std::fscanf(statm, "%ld %ld", &pages, &resident);
    std::fclose(statm);
    return read == 2 ? static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE))
                     : 0;
}

const sample::Bytes &encoded_toc() {
    static const sample::Bytes bytes = korvo::bench::encodedSampleToc(kSegments);
    return bytes;
}

void BM_MemcpyOfTheEncodedLargeToc(benchmark::State &state) {
    korvo::bench::timeCopies(state, encoded_toc());
}
BENCHMARK(BM_MemcpyOfTheEncodedLargeToc)->Unit(benchmark::kMillisecond);

void BM_DecodeAndFreeLargeToc(benchmark::State &state) {
    const sample::Bytes &bytes = encoded_toc();
    constexpr double kMB = 1e6;
    // Before the first decode of the program: later runs of the benchmark
    // start with whatever the earlier ones left behind.
    static const double before = resident_bytes();
    double peak = 0, after = 0;
    for (auto _ : state) {
        sample::PropertiesList toc;
        korvo::bench::decodeSampleToc(bytes, toc);
        benchmark::DoNotOptimize(toc.buffer);
        state.PauseTiming();
        const double decoded = resident_bytes();
        peak = decoded > peak ? decoded : peak;
        state.ResumeTiming();
        vem_free_generic(&toc, sample::TC_PropertiesList);
        state.PauseTiming();
        after = resident_bytes();
        state.ResumeTiming();
    }
    state.counters["rss_before_MB"] = before / kMB;
    state.counters["rss_peak_MB"] = peak / kMB;
    state.counters["rss_after_MB"] = after / kMB;
    state.counters["after_over_before"] = before > 0 ? after / before : 0;
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes.size()));
}
BENCHMARK(BM_DecodeAndFreeLargeToc)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
