// Property files and progress records at work, each timed next to the bare
// system calls that write (and read) the same bytes, in the same iteration
// (counter x_limit):
//   - mstat_save of a typical progress record (msid, t_len, c_len, err,
//     paused, close), which rewrites the same-sized record in place through
//     the descriptor the record keeps, against open+write+close of the same
//     bytes in place, against open+write+close+rename, and against a bare
//     pwrite through an open descriptor; and mstat_save of records whose
//     size changes at every save, which replace the file through a
//     temporary file and a rename;
//   - the same bytes saved in place by properties_save_without_len;
//   - the floor of a replace that also flushes the file (fsync), to show
//     what a flush on every save would cost;
//   - save and load of a 1 000-segment TOC in each layout, against writing
//     and reading the same file bytes, and the bare layout's save and load
//     apart.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "bench/bench_scratch.hpp"
#include "bench/bench_toc.hpp"
#include "bench/kes_bench_timing.hpp"
#include "properties/korvo_properties.h"
#include "properties/property_files.h"
#include "runtime/cpl.h"
#include "runtime/mg_memory.h"
#include "stream/mstat.h"

namespace {

using korvo::bench::Scratch;

void write_file(const std::string &path, const std::vector<uint8_t> &bytes, bool flush = false) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0 || ::write(fd, bytes.data(), bytes.size()) != ssize_t(bytes.size()) ||
        (flush && ::fsync(fd) != 0))
        std::abort();
    ::close(fd);
}

void read_file(const std::string &path, std::vector<uint8_t> &bytes) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || ::read(fd, bytes.data(), bytes.size()) != ssize_t(bytes.size()))
        std::abort();
    ::close(fd);
}

std::vector<uint8_t> file_bytes(const std::string &path) {
    std::vector<uint8_t> bytes(std::filesystem::file_size(path));
    read_file(path, bytes);
    return bytes;
}

// The record the stream keeps: the keys it puts when it opens, then the
// totals of a transfer under way.
mstat *typical_record() {
    korvo_init();
    mstat *record = mstat_new("1289442517.42", 0);
    Properties *list = mstat_get_properties(record);
    properties_put_string_dup(list, "msid", "1289442517.42");
    properties_put_boolean_dup(list, "err", 0);
    properties_put_boolean_dup(list, "close", 0);
    properties_put_boolean_dup(list, "paused", 0);
    properties_put_string_dup(list, "t_len", "734003200");
    properties_put_string_dup(list, "c_len", "183500800");
    return record;
}

enum class Floor { InPlace, Rename, RenameFlushed, Pwrite };

void BM_MstatSave(benchmark::State &state) {
    const Scratch scratch;
    mstat *record = typical_record();
    mstat_save(record);
    const std::vector<uint8_t> bytes = file_bytes(record->path);
    const std::string floor = scratch / "floor", temporary = scratch / ".floor.tmp";
    const auto kind = static_cast<Floor>(state.range(0));
    const int held = ::open(floor.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    korvo::bench::timeAgainstLimit(
        state, [&] { mstat_save(record); },
        [&] {
            if (kind == Floor::InPlace) {
                write_file(floor, bytes);
                return;
            }
            if (kind == Floor::Pwrite) {
                if (::pwrite(held, bytes.data(), bytes.size(), 0) != ssize_t(bytes.size()))
                    std::abort();
                return;
            }
            write_file(temporary, bytes, kind == Floor::RenameFlushed);
            if (::rename(temporary.c_str(), floor.c_str()) != 0)
                std::abort();
        });
    state.counters["bytes"] = double(bytes.size());
    ::close(held);
    mstat_free(record);
}
// A fixed count: the clock counts mstat_save alone, which is far shorter
// than the flushed floor beside it.
BENCHMARK(BM_MstatSave)
    ->ArgName("floor_inplace0_rename1_fsync2_pwrite3")
    ->DenseRange(0, 3)
    ->Iterations(4000)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

// Saves whose record changes size every time (a "c_len" of 9 digits, then
// 10), so that each replaces the file, against the rename floor.
void BM_MstatSaveResized(benchmark::State &state) {
    const Scratch scratch;
    mstat *record = typical_record();
    mstat_save(record);
    const std::vector<uint8_t> bytes = file_bytes(record->path);
    const std::string floor = scratch / "floor", temporary = scratch / ".floor.tmp";
    Properties *list = mstat_get_properties(record);
    bool longer = false;
    korvo::bench::timeAgainstLimit(
        state, [&] { mstat_save(record); },
        [&] {
            write_file(temporary, bytes);
            if (::rename(temporary.c_str(), floor.c_str()) != 0)
                std::abort();
        },
        [&] {
            longer = !longer;
            properties_put_string_dup(list, "c_len", longer ? "1835008000" : "183500800");
        });
    mstat_free(record);
}
BENCHMARK(BM_MstatSaveResized)->Iterations(4000)->UseManualTime()->Unit(benchmark::kMicrosecond);

void BM_SaveInPlace(benchmark::State &state) {
    const Scratch scratch;
    mstat *record = typical_record();
    const std::string path = scratch / "inplace", floor = scratch / "floor";
    properties_save_without_len(mstat_get_properties(record), path.c_str());
    const std::vector<uint8_t> bytes = file_bytes(path);
    korvo::bench::timeAgainstLimit(
        state, [&] { properties_save_without_len(mstat_get_properties(record), path.c_str()); },
        [&] { write_file(floor, bytes); });
    mstat_free(record);
}
BENCHMARK(BM_SaveInPlace)->UseManualTime()->Unit(benchmark::kMicrosecond);

// A 1 000-segment TOC under one key, as segment description files hold
// their segments.
Properties make_toc_file() {
    PropertiesList toc = korvo::bench::makeToc(1000);
    Properties file{};
    properties_put_properties_list_dup(&file, "segment", &toc);
    properties_list_delete(&toc);
    return file;
}

using Save = void (*)(const Properties *, const char *);
using Load = void (*)(Properties *, const char *);
constexpr Save kSaves[] = {properties_save, properties_save_improved, properties_save_without_len};
constexpr Load kLoads[] = {properties_load, properties_load_improved, properties_load_without_len};

void BM_TocSaveLoad(benchmark::State &state) {
    const Scratch scratch;
    Properties toc = make_toc_file();
    const std::string path = scratch / "toc", floor = scratch / "floor";
    const Save save = kSaves[state.range(0)];
    const Load load = kLoads[state.range(0)];
    save(&toc, path.c_str());
    std::vector<uint8_t> bytes = file_bytes(path), back(bytes.size());
    korvo::bench::timeAgainstLimit(
        state,
        [&] {
            save(&toc, path.c_str());
            Properties loaded{};
            load(&loaded, path.c_str());
            properties_delete(&loaded);
        },
        [&] {
            write_file(floor, bytes);
            read_file(floor, back);
        });
    state.counters["bytes"] = double(bytes.size());
    properties_delete(&toc);
}
BENCHMARK(BM_TocSaveLoad)
    ->ArgName("plain0_marked1_bare2")
    ->DenseRange(0, 2)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

// The two halves of the bare layout's save and load, each against its own
// system calls, to show where the time goes.
void BM_TocHalves(benchmark::State &state) {
    const Scratch scratch;
    Properties toc = make_toc_file();
    const std::string path = scratch / "toc", floor = scratch / "floor";
    properties_save_without_len(&toc, path.c_str());
    std::vector<uint8_t> bytes = file_bytes(path), back(bytes.size());
    if (state.range(0) == 0) {
        korvo::bench::timeAgainstLimit(
            state, [&] { properties_save_without_len(&toc, path.c_str()); },
            [&] { write_file(floor, bytes); });
    } else {
        write_file(floor, bytes);
        korvo::bench::timeAgainstLimit(
            state,
            [&] {
                Properties loaded{};
                properties_load_without_len(&loaded, path.c_str());
                properties_delete(&loaded);
            },
            [&] { read_file(floor, back); });
    }
    properties_delete(&toc);
}
BENCHMARK(BM_TocHalves)
    ->ArgName("save0_load1")
    ->DenseRange(0, 1)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
