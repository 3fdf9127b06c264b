// The depot at 1 000 to 50 000 entries, next to the system calls it cannot
// do without, measured in the same run.
//
// The depots live in KORVO_TMPDIR (default: the temporary directory): run
// once with /dev/shm (tmpfs: the system calls alone) and once on a disk.
// Every directory the program makes is its own (mkdtemp) and it removes
// only those.
//
// Ids are "<i>.segment" (Spread: the varying digits come first, so the
// segments spread over the 251 buckets) or "segment-<i>" (Shared: the hash
// reads the first half of id and version, so 50 000 of them fall into 3
// buckets). The version is "1".
//
// BM_AddComplete/<kind>/<n>: add and complete 1 000 segments in a depot of
// n entries, segment by segment next to the bare calls of the same work:
// create, write and close a temporary file and rename it over the entry
// file (twice: the add and the completion), and create and close the data
// file, in a directory of n entries too; cpu_x_limit is the same ratio of
// the thread's processor time, which a busy machine disturbs less. The
// handle has looked into every
// bucket once before (a process's first lookup in a bucket reads the
// bucket's files once).
//
// BM_Lookup/<found><kind>/<n>: DepotGetEntry of an entry the handle holds,
// of one present but not held (released again, as a stream's close does),
// and of a missing one. Limit: reading the entry file (open, fstat, read,
// close), or for a miss one stat of the directory.
//
// BM_Walk/<kind>/<n>: enumerate every entry, then free every object of the
// walk; BM_Purge: a forced purge. Per entry, next to reading every entry
// file (walk) or reading it and unlinking both files (purge).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "depot/depot.h"
#include "kes/kes_memory.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

// The calling thread's processor time (user and system) in seconds: unlike
// the wall clock, it leaves out the time other programs of a busy machine
// held the processor.
double ThreadSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

const std::string &lockSpace() {
    static const std::string space = "bench" + std::to_string(getpid());
    return space;
}

// The directories this program made, removed at its end.
std::vector<std::string> &ownDirectories() {
    static std::vector<std::string> made;
    return made;
}

std::string scratchDir(const std::string &label) {
    const char *base = std::getenv("KORVO_TMPDIR");
    const std::filesystem::path root = base != nullptr && *base != '\0'
                                           ? std::filesystem::path(base)
                                           : std::filesystem::temp_directory_path();
    std::string pattern = (root / ("depot-bench-" + label + "-XXXXXX")).string();
    if (mkdtemp(pattern.data()) == nullptr)
        std::abort();
    ownDirectories().push_back(pattern);
    return pattern;
}

void removeDir(const std::string &dir) {
    std::erase(ownDirectories(), dir);
    std::filesystem::remove_all(dir);
}

enum class Ids { kSpread, kShared };

std::string segmentId(Ids kind, int i) {
    char id[32];
    if (kind == Ids::kSpread)
        std::snprintf(id, sizeof id, "%05d.segment", i);
    else
        std::snprintf(id, sizeof id, "segment-%d", i);
    return id;
}

const std::string kRecord(217, 'r');  // the size of a typical entry record

void writeFile(const std::string &path, const std::string &bytes) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0 || ::write(fd, bytes.data(), bytes.size()) < 0)
        std::abort();
    close(fd);
}

// What add+complete must do for one segment, with bare system calls.
void floorSegment(const std::string &dir, int i) {
    const std::string stem = dir + "/" + std::to_string(i);
    const std::string entry = stem + ".xml";
    for (int write = 0; write < 2; ++write) {
        const std::string temporary = entry + ".tmp";
        const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0 || ::write(fd, kRecord.data(), kRecord.size()) < 0)
            std::abort();
        close(fd);
        rename(temporary.c_str(), entry.c_str());
        if (write == 0)
            close(open((stem + ".dat").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600));
    }
}

// Entry and data files of `count` complete segments written directly, as
// a depot that has been in use holds them.
std::string filledDepot(Ids kind, int count, const std::string &label) {
    const std::string dir = scratchDir(label);
    std::map<std::string, int> numbers;
    for (int i = 0; i < count; ++i) {
        const std::string id = segmentId(kind, i);
        char *bucket = DepotFindBucket(id.c_str(), "1");
        const std::string stem = dir + "/" + bucket + "." + std::to_string(numbers[bucket]++);
        KesMemoryFree(bucket);
        writeFile(stem + ".xml",
                  "<<id>" + id +
                      "</id><version>1</version><reference_count>1</reference_count><state>1</"
                      "state><checksum>0</checksum><deadline>0</deadline><location>" +
                      stem + ".dat</location><properties>cA==</properties>>" +
                      std::string(1, '\0'));
        writeFile(stem + ".dat", "");
    }
    return dir;
}

// A directory of `count` files of each kind, for the bare calls.
std::string filledFloor(int count) {
    const std::string dir = scratchDir("floor");
    for (int i = 0; i < count; ++i) {
        writeFile(dir + "/f" + std::to_string(i) + ".xml", kRecord);
        writeFile(dir + "/f" + std::to_string(i) + ".dat", "");
    }
    return dir;
}

Depot *openDepot(const std::string &dir) {
    KesStatus status;
    Depot *depot = nullptr;
    DepotNew(&status, &depot, dir.c_str(), 0);
    if (status.code != 0)
        std::abort();
    return depot;
}

void freeDepot(Depot *depot) {
    KesStatus status;
    DepotFree(&status, depot);
}

void addComplete(Depot *depot, const std::string &id) {
    DepotEntry *entry = DepotAddEntry(depot, id.c_str(), "1", DepotPropertyBlock{"p", 1});
    if (entry == nullptr)
        std::abort();
    KesStatus status;
    DepotCompleteEntry(&status, depot, entry, 0);
}

void reportPer(benchmark::State &state, const char *name, double seconds, double floorSeconds,
               double items) {
    state.counters[name] = seconds / items * 1e6;
    state.counters["floor_us"] = floorSeconds / items * 1e6;
    state.counters["x_limit"] = seconds / floorSeconds;
}

constexpr int kAdded = 1000;

void BM_AddComplete(benchmark::State &state, Ids kind) {
    const int count = static_cast<int>(state.range(0));
    double depotSeconds = 0, floorSeconds = 0, depotCpu = 0, floorCpu = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const std::string dir = filledDepot(kind, count, "add");
        const std::string bare = filledFloor(count);
        Depot *depot = openDepot(dir);
        std::vector<std::string> ids;
        for (int i = 0; i < kAdded; ++i) {
            ids.push_back(segmentId(kind, count + i));
            DepotGetEntry(depot, ids.back().c_str(), "1");  // the process knows the bucket
        }
        state.ResumeTiming();
        double seconds = 0;
        for (int i = 0; i < kAdded; ++i) {
            const double cpuStart = ThreadSeconds();
            const auto start = Clock::now();
            addComplete(depot, ids[i]);
            const auto middle = Clock::now();
            const double cpuMiddle = ThreadSeconds();
            floorSegment(bare, count + i);
            const auto end = Clock::now();
            const double cpuEnd = ThreadSeconds();
            seconds += Seconds(start, middle);
            floorSeconds += Seconds(middle, end);
            depotCpu += cpuMiddle - cpuStart;
            floorCpu += cpuEnd - cpuMiddle;
        }
        state.PauseTiming();
        freeDepot(depot);
        removeDir(dir);
        removeDir(bare);
        depotSeconds += seconds;
        state.SetIterationTime(seconds);
        state.ResumeTiming();
    }
    reportPer(state, "us_per_segment", depotSeconds, floorSeconds,
              static_cast<double>(state.iterations()) * kAdded);
    state.counters["cpu_x_limit"] = depotCpu / floorCpu;
}

// Filled depots for the lookups, made once per kind and size.
const std::string &lookupDepot(Ids kind, int count) {
    static std::map<std::tuple<Ids, int>, std::string> made;
    auto found = made.find({kind, count});
    if (found == made.end())
        found =
            made.emplace(std::make_tuple(kind, count), filledDepot(kind, count, "lookup")).first;
    return found->second;
}

enum class Found { kHeld, kPresent, kMissing };

void readWhole(const std::string &path) {
    char buffer[4096];
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat info;
    fstat(fd, &info);
    if (::read(fd, buffer, sizeof buffer) < 0)
        std::abort();
    close(fd);
}

void BM_Lookup(benchmark::State &state, Found found, Ids kind) {
    const int count = static_cast<int>(state.range(0));
    const std::string &dir = lookupDepot(kind, count);
    Depot *depot = openDepot(dir);
    constexpr int kRounds = 64;
    std::vector<std::string> ids, files;
    for (int r = 0; r < kRounds; ++r) {
        const int i = (r * 7919) % count;
        ids.push_back(found == Found::kMissing ? segmentId(kind, count + i) : segmentId(kind, i));
        // The first lookup of a bucket reads it; the rounds come after.
        DepotEntry *entry = DepotGetEntry(depot, ids.back().c_str(), "1");
        files.push_back(entry != nullptr ? entry->entryFile : dir);
        if (found == Found::kPresent) {
            KesStatus status;
            DepotFreeEntry(&status, depot, entry);
        }
    }
    double depotSeconds = 0, floorSeconds = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        for (int r = 0; r < kRounds; ++r) {
            DepotEntry *entry = DepotGetEntry(depot, ids[r].c_str(), "1");
            if ((entry == nullptr) != (found == Found::kMissing))
                std::abort();
            if (found == Found::kPresent) {
                KesStatus status;
                DepotFreeEntry(&status, depot, entry);
            }
        }
        const auto middle = Clock::now();
        for (int r = 0; r < kRounds; ++r) {
            if (found == Found::kMissing) {
                struct stat info;
                stat(files[r].c_str(), &info);
            } else {
                readWhole(files[r]);
            }
        }
        const auto end = Clock::now();
        depotSeconds += Seconds(start, middle);
        floorSeconds += Seconds(middle, end);
        state.SetIterationTime(Seconds(start, middle));
    }
    reportPer(state, "us_per_lookup", depotSeconds, floorSeconds,
              static_cast<double>(state.iterations()) * kRounds);
    freeDepot(depot);
}

// Reads every entry file of `dir` with bare calls; with `unlinkToo`, also
// removes it and its data file.
void floorWalk(const std::string &dir, bool unlinkToo) {
    for (const auto &entry : std::filesystem::directory_iterator(dir)) {
        const std::string path = entry.path().string();
        if (path.size() < 4 || path.compare(path.size() - 4, 4, ".xml") != 0)
            continue;
        readWhole(path);
        if (unlinkToo) {
            unlink(path.c_str());
            unlink((path.substr(0, path.size() - 4) + ".dat").c_str());
        }
    }
}

void BM_Walk(benchmark::State &state, Ids kind) {
    const int count = static_cast<int>(state.range(0));
    const std::string &dir = lookupDepot(kind, count);
    double walkSeconds = 0, freeSeconds = 0, floorSeconds = 0;
    for (auto _ : state) {
        Depot *depot = openDepot(dir);
        KesStatus status;
        const auto start = Clock::now();
        DepotEntryEnum *walk = nullptr;
        DepotEnumNew(&status, depot, &walk);
        std::vector<DepotEntry *> entries;
        while (DepotEntry *entry = DepotEntryEnumNextElement(walk))
            entries.push_back(entry);
        DepotEntryEnumDelete(&status, walk);
        const auto walked = Clock::now();
        for (DepotEntry *entry : entries)
            DepotFreeEntry(&status, depot, entry);
        const auto freed = Clock::now();
        floorWalk(dir, false);
        const auto end = Clock::now();
        if (static_cast<int>(entries.size()) != count)
            std::abort();
        freeDepot(depot);
        walkSeconds += Seconds(start, walked);
        freeSeconds += Seconds(walked, freed);
        floorSeconds += Seconds(freed, end);
        state.SetIterationTime(Seconds(start, freed));
    }
    const double items = static_cast<double>(state.iterations()) * count;
    reportPer(state, "us_per_entry", walkSeconds, floorSeconds, items);
    state.counters["free_us_per_entry"] = freeSeconds / items * 1e6;
}

void BM_Purge(benchmark::State &state, Ids kind) {
    const int count = static_cast<int>(state.range(0));
    double purgeSeconds = 0, floorSeconds = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const std::string dir = filledDepot(kind, count, "purge");
        const std::string bare = filledDepot(kind, count, "floor");
        Depot *depot = openDepot(dir);
        state.ResumeTiming();
        KesStatus status;
        const auto start = Clock::now();
        DepotPurge(&status, depot, 1);
        const auto middle = Clock::now();
        floorWalk(bare, true);
        const auto end = Clock::now();
        state.PauseTiming();
        if (status.code != 0 || !std::filesystem::is_empty(dir))
            std::abort();
        freeDepot(depot);
        removeDir(dir);
        removeDir(bare);
        purgeSeconds += Seconds(start, middle);
        floorSeconds += Seconds(middle, end);
        state.SetIterationTime(Seconds(start, middle));
        state.ResumeTiming();
    }
    reportPer(state, "us_per_entry", purgeSeconds, floorSeconds,
              static_cast<double>(state.iterations()) * count);
}

void sizes(benchmark::internal::Benchmark *b) {
    b->Arg(1000)->Arg(10000)->Arg(50000)->UseManualTime()->Iterations(1)->Unit(
        benchmark::kMillisecond);
}

BENCHMARK_CAPTURE(BM_AddComplete, Spread, Ids::kSpread)->Apply(sizes);
BENCHMARK_CAPTURE(BM_AddComplete, Shared, Ids::kShared)->Apply(sizes);
BENCHMARK_CAPTURE(BM_Lookup, HeldSpread, Found::kHeld, Ids::kSpread)
    ->Arg(100)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(50000)
    ->UseManualTime();
BENCHMARK_CAPTURE(BM_Lookup, PresentSpread, Found::kPresent, Ids::kSpread)
    ->Arg(100)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(50000)
    ->UseManualTime();
BENCHMARK_CAPTURE(BM_Lookup, MissingSpread, Found::kMissing, Ids::kSpread)
    ->Arg(100)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(50000)
    ->UseManualTime();
BENCHMARK_CAPTURE(BM_Lookup, HeldShared, Found::kHeld, Ids::kShared)->Arg(50000)->UseManualTime();
BENCHMARK_CAPTURE(BM_Lookup, PresentShared, Found::kPresent, Ids::kShared)
    ->Arg(50000)
    ->UseManualTime();
BENCHMARK_CAPTURE(BM_Lookup, MissingShared, Found::kMissing, Ids::kShared)
    ->Arg(50000)
    ->UseManualTime();
BENCHMARK_CAPTURE(BM_Walk, Spread, Ids::kSpread)->Apply(sizes);
BENCHMARK_CAPTURE(BM_Walk, Shared, Ids::kShared)
    ->Arg(50000)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Purge, Spread, Ids::kSpread)->Apply(sizes);
BENCHMARK_CAPTURE(BM_Purge, Shared, Ids::kShared)
    ->Arg(50000)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char **argv) {
    setenv("KORVO_LOCK_NAMESPACE", lockSpace().c_str(), 1);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    for (const std::string &dir : std::vector<std::string>(ownDirectories()))
        removeDir(dir);
    for (const char *lock : {"DEPOT", "ENTRY", "ENUM"})
        shm_unlink(("/korvo." + lockSpace() + "." + lock).c_str());
    return 0;
}
