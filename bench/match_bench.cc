// The wildcard matcher: typical patterns over file names, and adversarial
// ones that would take exponential time with naive star retries. Every case
// runs with korvo's match and with the C library's fnmatch (what a user
// would pick instead; the patterns mean the same to both) in the same
// program. The physical limit beside them is memcpy of the same name bytes:
// a match must at least read each name byte once.
#include <benchmark/benchmark.h>
#include <fnmatch.h>

#include <cstring>
#include <string>
#include <vector>

#include "properties/helpers/match.h"

namespace {

const std::vector<std::string> &FileNames() {
    static const std::vector<std::string> names = {
        "SEG00001.TOC", "seg00002.dat", "README",  "A.TOC",
        "0001.TOC",     "x.TOCX",       "CD1.ITC", "distribution_manifest.TOC",
    };
    return names;
}

// Both matchers answer "fits" the same way (0), so the benchmarks can check
// that they agree.
int Korvo(const char *pattern, const char *name) {
    return match(pattern, name);
}
int Fnmatch(const char *pattern, const char *name) {
    return fnmatch(pattern, name, 0) == 0 ? 0 : 1;
}
using Matcher = int (*)(const char *, const char *);

void RunOverFileNames(benchmark::State &state, Matcher matcher, const char *pattern) {
    const auto &names = FileNames();
    size_t bytes = 0;
    int fits = 0;
    for (const auto &name : names) {
        bytes += name.size();
        fits += matcher(pattern, name.c_str()) == 0;
    }
    for (auto _ : state) {
        for (const auto &name : names)
            benchmark::DoNotOptimize(matcher(pattern, name.c_str()));
    }
    state.counters["fits"] = fits;
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(names.size()));
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes));
}

const char *const kSuffix = "*.TOC";
const char *const kSets = "[A-Za-z][^.]*[0-9].[DT][AO][TC]";

void BM_TocSuffix(benchmark::State &state) {
    RunOverFileNames(state, Korvo, kSuffix);
}
void BM_TocSuffixFnmatch(benchmark::State &state) {
    RunOverFileNames(state, Fnmatch, kSuffix);
}
void BM_SetsAndRanges(benchmark::State &state) {
    RunOverFileNames(state, Korvo, kSets);
}
void BM_SetsAndRangesFnmatch(benchmark::State &state) {
    RunOverFileNames(state, Fnmatch, kSets);
}

void BM_MemcpyFileNames(benchmark::State &state) {
    const auto &names = FileNames();
    char buffer[64];
    size_t bytes = 0;
    for (const auto &name : names)
        bytes += name.size();
    for (auto _ : state) {
        for (const auto &name : names) {
            std::memcpy(buffer, name.data(), name.size());
            benchmark::DoNotOptimize(buffer);
        }
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(names.size()));
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes));
}

std::string Repeat(const std::string &piece, int times) {
    std::string text;
    for (int i = 0; i < times; ++i)
        text += piece;
    return text;
}

void RunOnLongName(benchmark::State &state, Matcher matcher, const std::string &pattern) {
    const std::string name(10000, 'a');
    state.counters["fits"] = matcher(pattern.c_str(), name.c_str()) == 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(matcher(pattern.c_str(), name.c_str()));
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(name.size()));
}

// 30 stars, each followed by an 'a', against 10 000 a's: a match, then a
// final 'b' that makes the last star try every remaining start.
void BM_ThirtyStarsMatch(benchmark::State &state, Matcher matcher) {
    RunOnLongName(state, matcher, Repeat("*a", 30));
}
void BM_ThirtyStarsNoMatch(benchmark::State &state, Matcher matcher) {
    RunOnLongName(state, matcher, Repeat("*a", 30) + "b");
}
// The costliest shape for retrying the latest star: every try walks a long
// run of the pattern before it fails.
void BM_StarThenLongRun(benchmark::State &state, Matcher matcher) {
    RunOnLongName(state, matcher,
                  "*" + std::string(static_cast<size_t>(state.range(0)), 'a') + "b");
}

void BM_MemcpyLongName(benchmark::State &state) {
    const std::string name(10000, 'a');
    std::string copy(name.size(), '\0');
    for (auto _ : state) {
        std::memcpy(copy.data(), name.data(), name.size());
        benchmark::DoNotOptimize(copy.data());
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(name.size()));
}

}  // namespace

BENCHMARK(BM_TocSuffix);
BENCHMARK(BM_TocSuffixFnmatch);
BENCHMARK(BM_SetsAndRanges);
BENCHMARK(BM_SetsAndRangesFnmatch);
BENCHMARK(BM_MemcpyFileNames);
BENCHMARK_CAPTURE(BM_ThirtyStarsMatch, korvo, Korvo);
BENCHMARK_CAPTURE(BM_ThirtyStarsMatch, fnmatch, Fnmatch);
BENCHMARK_CAPTURE(BM_ThirtyStarsNoMatch, korvo, Korvo);
BENCHMARK_CAPTURE(BM_ThirtyStarsNoMatch, fnmatch, Fnmatch);
BENCHMARK_CAPTURE(BM_StarThenLongRun, korvo, Korvo)->Arg(8)->Arg(64);
BENCHMARK_CAPTURE(BM_StarThenLongRun, fnmatch, Fnmatch)->Arg(8)->Arg(64);
BENCHMARK(BM_MemcpyLongName);

BENCHMARK_MAIN();
