// Locating segments, next to the bare system calls of the same work measured
// in the same run (KORVO_TMPDIR chooses the file system: /dev/shm for the
// system calls alone, a disk directory for a disk).
//
// BM_DescriptionSearch/<n>: net_stream_save_modified_toc of a directory
// stream (type 9) whose TOC of n segments is described by n description
// files ("*.toc", bare layout) in its directory, each beside its data file:
// the TOC copied, the directory listed, every description loaded and
// matched, every data file examined, the file list made. Floor: listing the
// directory, opening, sizing, reading and closing every description file,
// and one stat of every data file.
//
// BM_DepotCheck/<n>: net_stream_save_modified_toc of a network stream whose
// TOC holds n of the 10 000 complete entries of the endpoint's depot: the
// depot opened, every entry looked up and claimed (its entry file written
// in one step), every data file examined, the stream turned into a depot
// stream. The stream's close (which gives the entries back) and the
// completion that restores their holders run outside the clock. With warm
// 0 nothing else in the process uses the depot, as in a method process that
// reads one distribution: the depot's index of the directory is made anew
// and each bucket's entry files are read at its first lookup. With warm 1
// the program keeps a depot handle open, as a long-lived process would, and
// lookups find the index made. Floor, per
// segment, on copies of the same files in a directory of their own: reading
// the entry file (open, fstat, read, close), writing it in one step
// (temporary file, write, close, rename) and one stat of the data file;
// with warm 0 also the first lookups' work: listing the directory once and
// reading every entry file of each bucket the segments fall into.
//
// Counters: us_per_segment and floor_us (per segment), x_limit (the first
// over the second). Every directory the program makes is its own (mkdtemp)
// and goes at its end; the depot's locks live in a namespace of its own.
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_scratch.hpp"
#include "depot/depot.h"
#include "kes/kes_memory.h"
#include "properties/korvo_properties.h"
#include "properties/property_files.h"
#include "runtime/log.h"
#include "runtime/seq.h"
#include "stream/net_stream.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

korvo::bench::Scratch &scratch() {
    static korvo::bench::Scratch made;
    static const bool registered = korvo_init() == 1;  // the library's types, to encode
    if (!registered)
        std::abort();
    log_set_level(LOG_LEVEL_SURVIVED);  // the depot check's notices, once per stream
    return made;
}

// The depot's locks in a namespace of this run, removed at its end.
struct LockSpace {
    std::string name = "locatebench" + std::to_string(getpid());
    LockSpace() { setenv("KORVO_LOCK_NAMESPACE", name.c_str(), 1); }
    ~LockSpace() {
        for (const char *lock : {"DEPOT", "ENTRY", "ENUM"})
            shm_unlink(("/korvo." + name + "." + lock).c_str());
    }
};
LockSpace &lockSpace() {
    static LockSpace space;
    return space;
}

std::string segmentId(int i) {
    char id[32];
    std::snprintf(id, sizeof id, "%05d.segment", i);  // spread over the buckets
    return id;
}

void writeFile(const std::string &path, const std::string &bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string readFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// A TOC of segments first to first + count - 1.
struct TocList : PropertiesList {
    TocList(int first, int count) : PropertiesList{} {
        for (int i = first; i < first + count; ++i) {
            Properties segment{};
            properties_put_string_dup(&segment, "id", segmentId(i).c_str());
            properties_put_string_dup(&segment, "version", "1");
            properties_put_long_dup(&segment, "size", 64);
            properties_put_long_dup(&segment, "offset", 0);
            seq_add(this, &segment, sizeof segment);
        }
    }
    ~TocList() { properties_list_delete(this); }
};

struct Key {
    std::vector<uint8_t> bytes;
    StreamKey key{};
    Key(uint8_t type, const std::string &text) : bytes(3 + text.size() + 1, 0) {
        bytes[0] = type;
        bytes[2] = 2;  // no progress record
        std::copy(text.begin(), text.end(), bytes.begin() + 3);
        key = StreamKey{static_cast<uint32_t>(bytes.size()), static_cast<uint32_t>(bytes.size()),
                        bytes.data()};
    }
};

void report(benchmark::State &state, int segments, double operation, double floor) {
    const double per = static_cast<double>(state.iterations()) * segments;
    state.counters["us_per_segment"] = operation / per * 1e6;
    state.counters["floor_us"] = floor / per * 1e6;
    state.counters["x_limit"] = operation / floor;
}

// --- Description files ---------------------------------------------------

// A directory of `count` segments: each one's description and data file.
const std::string &describedDirectory(int count) {
    static std::map<int, std::string> made;
    std::string &dir = made[count];
    if (!dir.empty())
        return dir;
    dir = scratch() / ("described-" + std::to_string(count));
    std::filesystem::create_directory(dir);
    for (int i = 0; i < count; ++i) {
        const std::string id = segmentId(i);
        Properties segment{};
        properties_put_string_dup(&segment, "id", id.c_str());
        properties_put_string_dup(&segment, "version", "1");
        properties_put_string_dup(&segment, "location", ("/cd/" + id + ".dat").c_str());
        Properties file{};
        properties_put_properties_dup(&file, "segment", &segment);
        properties_save_without_len(&file, (dir + "/" + id + ".toc").c_str());
        properties_delete(&file);
        properties_delete(&segment);
        writeFile(dir + "/" + id + ".dat", std::string(64, 'd'));
    }
    return dir;
}

// The bare calls: list, read every description, stat every data file.
void floorDescriptions(const std::string &dir) {
    DIR *listing = opendir(dir.c_str());
    std::vector<std::string> names;
    while (const dirent *entry = readdir(listing))
        names.emplace_back(entry->d_name);
    closedir(listing);
    char buffer[4096];
    for (const std::string &name : names) {
        if (!name.ends_with(".toc"))
            continue;
        const std::string path = dir + "/" + name;
        const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        struct stat status;
        fstat(fd, &status);
        benchmark::DoNotOptimize(read(fd, buffer, sizeof buffer));
        close(fd);
        stat((path.substr(0, path.size() - 4) + ".dat").c_str(), &status);
    }
}

void BM_DescriptionSearch(benchmark::State &state) {
    const int count = static_cast<int>(state.range(0));
    const std::string &dir = describedDirectory(count);
    const TocList toc(0, count);
    double operation = 0, floor = 0;
    for (auto _ : state) {
        Key key(NET_STREAM_DIRECTORY, "dist," + dir);
        NetStream *stream = net_stream_open(&key.key);
        const auto start = Clock::now();
        net_stream_save_modified_toc(stream, &toc);
        const auto middle = Clock::now();
        floorDescriptions(dir);
        const auto end = Clock::now();
        if (stream->type != NET_STREAM_DIRECTORY || stream->source == &key.key)
            state.SkipWithError("the segments were not located");
        net_stream_close(stream);
        operation += seconds(start, middle);
        floor += seconds(middle, end);
        state.SetIterationTime(seconds(start, middle));
    }
    report(state, count, operation, floor);
}
BENCHMARK(BM_DescriptionSearch)
    ->Arg(100)
    ->Arg(1000)
    ->Arg(10000)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// --- The local depot -----------------------------------------------------

constexpr int kDepotEntries = 10000;

// The depot of kDepotEntries complete entries, each held by two
// distributions (so that a stream's close leaves it in place), and copies
// of its files for the floor.
struct FilledDepot {
    std::string dir, copies;
    std::vector<std::string> bucketOf;                      // by segment
    std::map<std::string, std::vector<int>> bucketMembers;  // segments by bucket
    FilledDepot() {
        lockSpace();
        dir = scratch() / "depot";
        copies = scratch() / "depot-copies";
        std::filesystem::create_directory(copies);
        KesStatus status{};
        Depot *depot = nullptr;
        DepotNew(&status, &depot, dir.c_str(), 0);
        const std::string bytes(64, 'd');
        for (int i = 0; i < kDepotEntries; ++i) {
            const std::string id = segmentId(i);
            DepotEntry *entry = DepotAddEntry(depot, id.c_str(), "1", DepotPropertyBlock{"p", 1});
            KesFile file = nullptr;
            if (entry == nullptr || DepotFileOpenForWrite(&status, depot, entry, &file, 1)->code)
                std::abort();
            KesFileWrite(&status, file, bytes.data(), bytes.size(), nullptr);
            KesFileClose(&status, file);
            const std::string location = entry->location, entryFile = entry->entryFile;
            DepotCompleteEntry(&status, depot, entry, 0);
            DepotCompleteEntry(&status, depot, DepotAddEntry(depot, id.c_str(), "1", {"p", 1}), 0);
            const std::string stem = copies + "/" + std::to_string(i);
            writeFile(stem + ".xml", readFile(entryFile));
            writeFile(stem + ".dat", bytes);
            char *bucket = DepotFindBucket(id.c_str(), "1");
            bucketOf.emplace_back(bucket);
            bucketMembers[bucket].push_back(i);
            KesMemoryFree(bucket);
        }
        DepotFree(&status, depot);
        writeFile(scratch() / "endpoint.cfg", "depot_dir=" + dir + "\n");
        setenv("KORVO_CONFIG_FILE", (scratch() / "endpoint.cfg").c_str(), 1);
    }
};
const FilledDepot &filledDepot() {
    static FilledDepot made;
    return made;
}

// The bare calls for segment copies first to first + count - 1; when
// `cold`, first those of a process's first lookups: listing the directory
// once and reading every entry file of each bucket the segments fall into.
void floorDepot(const FilledDepot &depot, int first, int count, bool cold) {
    const std::string &copies = depot.copies;
    char buffer[4096];
    if (cold) {
        DIR *listing = opendir(copies.c_str());
        std::size_t names = 0;
        while (readdir(listing) != nullptr)
            ++names;
        closedir(listing);
        benchmark::DoNotOptimize(names);
        std::map<std::string, bool> done;
        for (int i = first; i < first + count; ++i) {
            const std::string &bucket = depot.bucketOf[static_cast<std::size_t>(i)];
            if (done[bucket])
                continue;
            done[bucket] = true;
            for (const int member : depot.bucketMembers.at(bucket)) {
                const int fd = open((copies + "/" + std::to_string(member) + ".xml").c_str(),
                                    O_RDONLY | O_CLOEXEC);
                struct stat status;
                fstat(fd, &status);
                benchmark::DoNotOptimize(read(fd, buffer, sizeof buffer));
                close(fd);
            }
        }
    }
    for (int i = first; i < first + count; ++i) {
        const std::string stem = copies + "/" + std::to_string(i);
        const std::string entry = stem + ".xml", temporary = entry + ".tmp";
        int fd = open(entry.c_str(), O_RDONLY | O_CLOEXEC);
        struct stat status;
        fstat(fd, &status);
        const ssize_t length = read(fd, buffer, sizeof buffer);
        close(fd);
        fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        benchmark::DoNotOptimize(write(fd, buffer, static_cast<size_t>(length)));
        close(fd);
        rename(temporary.c_str(), entry.c_str());
        stat((stem + ".dat").c_str(), &status);
    }
}

// Gives the stream's segments their second holder back after its close.
void restoreHolders(int first, int count) {
    KesStatus status{};
    Depot *depot = nullptr;
    DepotNew(&status, &depot, filledDepot().dir.c_str(), 0);
    for (int i = first; i < first + count; ++i)
        DepotCompleteEntry(&status, depot, DepotGetEntry(depot, segmentId(i).c_str(), "1"), 0);
    DepotFree(&status, depot);
}

void BM_DepotCheck(benchmark::State &state) {
    const int count = static_cast<int>(state.range(0));
    const FilledDepot &depot = filledDepot();
    KesStatus status{};
    Depot *keeper = nullptr;
    if (state.range(1) != 0) {
        // A handle takes part in the directory's index from its first lookup.
        DepotNew(&status, &keeper, depot.dir.c_str(), 0);
        DepotGetEntry(keeper, segmentId(0).c_str(), "1");
    }
    // The TOC's segments lie in the middle of the depot.
    const int first = (kDepotEntries - count) / 2;
    const TocList toc(first, count);
    double operation = 0, floor = 0;
    for (auto _ : state) {
        Key key(NET_STREAM_NETWORK, "dist");
        NetStream *stream = net_stream_open(&key.key);
        const auto start = Clock::now();
        net_stream_save_modified_toc(stream, &toc);
        const auto middle = Clock::now();
        floorDepot(depot, first, count, keeper == nullptr);
        const auto end = Clock::now();
        if (stream->type != NET_STREAM_DEPOT)
            state.SkipWithError("the stream did not become a depot stream");
        net_stream_close(stream);
        restoreHolders(first, count);
        operation += seconds(start, middle);
        floor += seconds(middle, end);
        state.SetIterationTime(seconds(start, middle));
    }
    if (keeper != nullptr)
        DepotFree(&status, keeper);
    report(state, count, operation, floor);
}
BENCHMARK(BM_DepotCheck)
    ->ArgsProduct({{10, 100, 1000, 10000}, {0, 1}})
    ->ArgNames({"segments", "warm"})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
