// The depot next to the system calls it cannot do without.
//
// BM_AddComplete: add and complete 10 000 segments in an empty depot. Its
// limit, timed in the same iteration, is a plain loop of what those
// operations must do per segment: create, write and close a temporary file
// and rename it over the entry file (twice: the add and the completion),
// and create and close the data file. x_limit is the ratio of the two.
// WatchedInMemory does the same in /dev/shm (tmpfs), without the disk file
// system's costs; Listed lists the directory for every lookup.
//
// BM_Lookup*: DepotGetEntry in depots of 100, 1 000 and 10 000 complete
// entries, of an entry the handle holds, of one present but not held (the
// object is released again, as a stream's close does), and of a missing
// one. Their limit is reading the entry files the lookup must read: the
// entry's own file, or every file of the bucket for a miss. read_calls is
// the number of read system calls per lookup (from /proc/self/io). The
// *Listed variants run with KORVO_DEPOT_WATCH=0, listing the directory for
// every lookup.
//
// Segment ids are "00000.segment" to "09999.segment", version "1": the hash
// reads the first half of id and version, so the varying digits come first
// and the segments spread over the 251 buckets (10 000 of them 40 to a
// bucket). Ids that agree in their first half would share one bucket.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "depot/depot.h"
#include "kes/kes_memory.h"

namespace {

using Clock = std::chrono::steady_clock;

const std::string &lockSpace() {
    static const std::string space = "bench" + std::to_string(getpid());
    return space;
}

std::string scratchDir(const std::string &label, const char *base = nullptr) {
    const std::filesystem::path root =
        base != nullptr ? std::filesystem::path(base) : std::filesystem::temp_directory_path();
    std::string pattern = (root / ("depot-bench-" + label + "-XXXXXX")).string();
    if (mkdtemp(pattern.data()) == nullptr)
        std::abort();
    return pattern;
}

class WatchSetting {
  public:
    explicit WatchSetting(bool watched) {
        if (!watched)
            setenv("KORVO_DEPOT_WATCH", "0", 1);
    }
    ~WatchSetting() { unsetenv("KORVO_DEPOT_WATCH"); }
};

std::string segmentId(int i) {
    char id[32];
    std::snprintf(id, sizeof id, "%05d.segment", i);
    return id;
}

const std::string kRecord(217, 'r');  // the size of a typical entry record

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

Depot *openDepot(const std::string &dir) {
    KesStatus status;
    Depot *depot = nullptr;
    DepotNew(&status, &depot, dir.c_str(), 0);
    if (status.code != 0)
        std::abort();
    return depot;
}

void addComplete(Depot *depot, int i) {
    const std::string id = segmentId(i);
    DepotEntry *entry = DepotAddEntry(depot, id.c_str(), "1", DepotPropertyBlock{"p", 1});
    if (entry == nullptr)
        std::abort();
    KesStatus status;
    DepotCompleteEntry(&status, depot, entry, 0);
}

// Segment by segment, the depot's add and complete and then the bare calls
// of the same work, so that both meet the file system in the same state
// (ext4 slows down the creation of files while many were deleted in the
// last half minute, as the removal of the previous iteration's do).
void BM_AddComplete(benchmark::State &state, bool watched, const char *base) {
    const WatchSetting setting(watched);
    const int count = static_cast<int>(state.range(0));
    double depotSeconds = 0, floorSeconds = 0;
    for (auto _ : state) {
        const std::string dir = scratchDir("add", base);
        const std::string bare = scratchDir("floor", base);
        Depot *depot = openDepot(dir);
        double seconds = 0;
        for (int i = 0; i < count; ++i) {
            const auto start = Clock::now();
            addComplete(depot, i);
            const auto middle = Clock::now();
            floorSegment(bare, i);
            const auto end = Clock::now();
            seconds += std::chrono::duration<double>(middle - start).count();
            floorSeconds += std::chrono::duration<double>(end - middle).count();
        }
        KesStatus status;
        DepotFree(&status, depot);
        std::filesystem::remove_all(dir);
        std::filesystem::remove_all(bare);
        depotSeconds += seconds;
        state.SetIterationTime(seconds);
    }
    state.SetItemsProcessed(state.iterations() * count);
    state.counters["us_per_segment"] = depotSeconds / state.iterations() / count * 1e6;
    state.counters["floor_us"] = floorSeconds / state.iterations() / count * 1e6;
    state.counters["x_limit"] = depotSeconds / floorSeconds;
}

// Depots of complete entries, made once per size and kept for the run.
std::map<int, std::string> &filledDepots() {
    static std::map<int, std::string> made;
    return made;
}

const std::string &filledDepot(int count) {
    std::map<int, std::string> &made = filledDepots();
    auto found = made.find(count);
    if (found == made.end()) {
        const std::string dir = scratchDir("lookup" + std::to_string(count));
        Depot *depot = openDepot(dir);
        for (int i = 0; i < count; ++i)
            addComplete(depot, i);
        KesStatus status;
        DepotFree(&status, depot);
        found = made.emplace(count, dir).first;
    }
    return found->second;
}

void removeFilledDepots() {
    for (const auto &entry :
         std::filesystem::directory_iterator(std::filesystem::temp_directory_path()))
        if (entry.path().filename().string().rfind("depot-bench-", 0) == 0)
            std::filesystem::remove_all(entry.path());
}

// Read system calls of this process so far.
long readCalls() {
    std::ifstream io("/proc/self/io");
    std::string key;
    long value = 0;
    while (io >> key >> value)
        if (key == "syscr:")
            return value;
    return 0;
}

// Reads the files whole, as a lookup must.
void readFiles(const std::vector<std::string> &paths) {
    char buffer[4096];
    for (const std::string &path : paths) {
        const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        struct stat info;
        fstat(fd, &info);
        if (::read(fd, buffer, sizeof buffer) < 0)
            std::abort();
        close(fd);
    }
}

// The entry files of `id`'s bucket.
std::vector<std::string> bucketFiles(const std::string &dir, const std::string &id) {
    char *bucket = DepotFindBucket(id.c_str(), "1");
    std::vector<std::string> paths;
    for (const auto &entry : std::filesystem::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(bucket, 0) == 0 && name.size() > 4 && name.substr(name.size() - 4) == ".xml")
            paths.push_back(entry.path().string());
    }
    KesMemoryFree(bucket);
    return paths;
}

enum class Kind { kHeld, kPresent, kMissing };

void BM_Lookup(benchmark::State &state, Kind kind, bool watched) {
    const int count = static_cast<int>(state.range(0));
    const std::string &dir = filledDepot(count);
    const WatchSetting setting(watched);
    Depot *depot = openDepot(dir);
    constexpr int kRounds = 64;
    std::vector<std::string> ids;
    std::vector<std::vector<std::string>> limitFiles;
    for (int r = 0; r < kRounds; ++r) {
        const int i = (r * 7919) % count;
        ids.push_back(kind == Kind::kMissing ? segmentId(i) + "-absent" : segmentId(i));
        DepotEntry *entry = nullptr;
        if (kind != Kind::kMissing && (entry = DepotGetEntry(depot, ids.back().c_str(), "1")))
            limitFiles.push_back({entry->entryFile});
        else
            limitFiles.push_back(bucketFiles(dir, ids.back()));
        if (kind == Kind::kPresent) {
            KesStatus status;
            DepotFreeEntry(&status, depot, entry);
        }
    }
    double depotSeconds = 0, floorSeconds = 0;
    long calls = 0;
    for (auto _ : state) {
        const long before = readCalls();
        const auto start = Clock::now();
        for (int r = 0; r < kRounds; ++r) {
            DepotEntry *entry = DepotGetEntry(depot, ids[r].c_str(), "1");
            if ((entry == nullptr) != (kind == Kind::kMissing))
                std::abort();
            if (kind == Kind::kPresent) {
                KesStatus status;
                DepotFreeEntry(&status, depot, entry);
            }
        }
        const auto middle = Clock::now();
        calls += readCalls() - before - 1;  // the reading of /proc/self/io
        for (int r = 0; r < kRounds; ++r)
            readFiles(limitFiles[r]);
        const auto end = Clock::now();
        const double seconds = std::chrono::duration<double>(middle - start).count();
        depotSeconds += seconds;
        floorSeconds += std::chrono::duration<double>(end - middle).count();
        state.SetIterationTime(seconds);
    }
    state.SetItemsProcessed(state.iterations() * kRounds);
    state.counters["us_per_lookup"] = depotSeconds / state.iterations() / kRounds * 1e6;
    state.counters["floor_us"] = floorSeconds / state.iterations() / kRounds * 1e6;
    state.counters["x_limit"] = depotSeconds / floorSeconds;
    state.counters["read_calls"] = static_cast<double>(calls) / state.iterations() / kRounds;
    KesStatus status;
    DepotFree(&status, depot);
}

BENCHMARK_CAPTURE(BM_AddComplete, Watched, true, nullptr)
    ->Arg(10000)
    ->UseManualTime()
    ->Iterations(2)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_AddComplete, WatchedInMemory, true, "/dev/shm")
    ->Arg(10000)
    ->UseManualTime()
    ->Iterations(2)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_AddComplete, Listed, false, nullptr)
    ->Arg(1000)
    ->Arg(3000)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Lookup, Held, Kind::kHeld, true)
    ->Arg(100)
    ->Arg(1000)
    ->Arg(10000)
    ->UseManualTime();
BENCHMARK_CAPTURE(BM_Lookup, Present, Kind::kPresent, true)
    ->Arg(100)
    ->Arg(1000)
    ->Arg(10000)
    ->UseManualTime();
BENCHMARK_CAPTURE(BM_Lookup, Missing, Kind::kMissing, true)
    ->Arg(100)
    ->Arg(1000)
    ->Arg(10000)
    ->UseManualTime();
BENCHMARK_CAPTURE(BM_Lookup, PresentListed, Kind::kPresent, false)
    ->Arg(100)
    ->Arg(1000)
    ->Arg(10000)
    ->UseManualTime();
BENCHMARK_CAPTURE(BM_Lookup, MissingListed, Kind::kMissing, false)
    ->Arg(100)
    ->Arg(1000)
    ->Arg(10000)
    ->UseManualTime();

}  // namespace

int main(int argc, char **argv) {
    setenv("KORVO_LOCK_NAMESPACE", lockSpace().c_str(), 1);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    removeFilledDepots();
    for (const char *lock : {"DEPOT", "ENTRY", "ENUM"})
        shm_unlink(("/korvo." + lockSpace() + "." + lock).c_str());
    return 0;
}
