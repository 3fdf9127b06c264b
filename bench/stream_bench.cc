// Streams at work, each timed next to the bare system calls that move the
// same bytes, in the same iteration, on the wall clock and on a CPU clock,
// the reading thread's unless said (counters <name>_ms and <name>_cpu_ms per
// iteration; x_<name> the stream's CPU time over the contender's,
// x_<name>_wall the same on the wall clock):
//   - BM_FileStream: a file-list stream (type 4) reading 256 MiB from 16
//     files of 16 MiB in the page cache, with and without its progress
//     record (a checkpoint at every 16384-byte read). Floor: a loop of
//     16384-byte read() calls over the same files, with progress plus one
//     pwrite() of a record-sized block over an open file after each read;
//     "mapped" (with progress): the same reads, each followed by the count's
//     digits stored into a record file mapped into memory. The files lie in
//     the temporary directory (KORVO_TMPDIR), so run it once on tmpfs and
//     once on the disk;
//   - BM_NetworkStream: a network stream (type 2) reading the same 256 MiB
//     through the gateway channel from a sender thread that passes stream
//     packets of 16384 data bytes, with and without progress; its CPU
//     clock is the whole process's, sender included. Floor: the
//     same sender passing the same packets over a SOCK_SEQPACKET socket pair
//     to a loop of recv() calls, with progress plus the record's pwrite()
//     after each packet;
//   - BM_FileList: a file-list stream over n segments of 64 KiB (n names of
//     one file, so that the page cache holds it once), from 1 to 10 000,
//     with and without progress; counters per segment. The record's file is
//     made by a leading segment outside the clock (below). Floor: open,
//     16384-byte reads and close of each name, with progress plus the
//     record's pwrite() after each read;
//   - durable checkpoints (BM_DurableCheckpoints, below).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_scratch.hpp"
#include "bench/kes_bench_timing.hpp"
#include "properties/korvo_properties.h"
#include "runtime/cpl.h"
#include "runtime/gateway.h"
#include "runtime/mg_memory.h"
#include "stream/net_stream.h"

namespace {

constexpr int kFiles = 16;
constexpr std::size_t kFileSize = 16u << 20;
constexpr std::size_t kChunk = 16384;
constexpr std::size_t kTotal = kFiles * kFileSize;

// The distribution: 16 files in a scratch directory that is also the work
// directory (progress records go under it), made once per process.
class Distribution {
  public:
    Distribution() {
        std::vector<char> bytes(kFileSize);
        for (std::size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = static_cast<char>(i * 131);
        for (int i = 0; i < kFiles; ++i) {
            files_.push_back(scratch_ / ("segment" + std::to_string(i)));
            const int fd = ::open(files_.back().c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            if (fd < 0 || ::write(fd, bytes.data(), bytes.size()) != ssize_t(bytes.size()))
                std::abort();
            ::close(fd);
        }
        korvo_init();
        for (const std::string &file : files_) {
            Properties segment{};
            properties_put_string_dup(&segment, "id",
                                      file.substr(scratch_.path().size() + 1).c_str());
            properties_put_string_dup(&segment, "version", "1");
            properties_put_long_dup(&segment, "size", static_cast<int32_t>(kFileSize));
            properties_put_long_dup(&segment, "offset", 0);
            properties_put_string_dup(&segment, "data_path", file.c_str());
            seq_add(&toc_, &segment, sizeof segment);
        }
    }
    ~Distribution() { properties_list_delete(&toc_); }
    const std::vector<std::string> &files() const { return files_; }
    const PropertiesList *toc() const { return &toc_; }
    // A path in the distribution's directory (the work directory).
    std::string place(const std::string &name) const { return scratch_ / name; }

  private:
    korvo::bench::Scratch scratch_;
    std::vector<std::string> files_;
    PropertiesList toc_{};
};

Distribution &distribution() {
    static Distribution instance;
    return instance;
}

// Time a contender spends on work that is not its own (set up for it in
// the same run), on both clocks; it is taken off its times.
struct Untimed {
    double wall = 0, cpu = 0;
};

// Measures a part of a run, on both clocks, into `untimed`.
template <typename Work>
void untimed_part(Untimed &untimed, Work work) {
    const auto wallStart = std::chrono::steady_clock::now();
    const auto cpuStart = korvo::bench::ThreadCpuClock::now();
    work();
    untimed.cpu +=
        std::chrono::duration<double>(korvo::bench::ThreadCpuClock::now() - cpuStart).count();
    untimed.wall +=
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
}

// The network stream's sender is a thread of this process: its CPU time is
// the whole process's.
using korvo::bench::ProcessCpuClock;

// A contender of a side-by-side run: its name in the counters and one
// whole run of its work, which may leave a part of itself untimed.
struct Contender {
    std::string name;
    std::function<void(Untimed &)> run;
};

// Runs the contenders one after the other in each iteration, each timed on
// the wall clock and on a CPU clock (the calling thread's unless told).
// The first is the operation: its wall time is the iteration's. Counters per iteration:
// <name>_ms and <name>_cpu_ms; for every other contender x_<name> (the
// operation's CPU time over its) and x_<name>_wall.
template <typename CpuClock = korvo::bench::ThreadCpuClock>
void time_side_by_side(benchmark::State &state, const std::vector<Contender> &contenders) {
    std::vector<double> wall(contenders.size()), cpu(contenders.size());
    for (auto _ : state) {
        for (std::size_t i = 0; i < contenders.size(); ++i) {
            Untimed untimed;
            const auto wallStart = std::chrono::steady_clock::now();
            const auto cpuStart = CpuClock::now();
            contenders[i].run(untimed);
            const double seconds =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart)
                    .count() -
                untimed.wall;
            cpu[i] +=
                std::chrono::duration<double>(CpuClock::now() - cpuStart).count() - untimed.cpu;
            wall[i] += seconds;
            if (i == 0)
                state.SetIterationTime(seconds);
        }
    }
    const double iterations = static_cast<double>(state.iterations());
    for (std::size_t i = 0; i < contenders.size(); ++i) {
        const std::string &name = contenders[i].name;
        state.counters[name + "_ms"] = wall[i] * 1e3 / iterations;
        state.counters[name + "_cpu_ms"] = cpu[i] * 1e3 / iterations;
        if (i > 0 && cpu[i] > 0 && wall[i] > 0) {
            state.counters["x_" + name] = cpu[0] / cpu[i];
            state.counters["x_" + name + "_wall"] = wall[0] / wall[i];
        }
    }
}

// What a checkpoint must write at the least: a record of the size of the
// stream's (165 bytes) over a file held open beside it, in one pwrite().
class RecordWrite {
  public:
    RecordWrite() {
        const std::string path = distribution().place("floor-record");
        fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd_ < 0 || ::pwrite(fd_, record_, sizeof record_, 0) != ssize_t(sizeof record_))
            std::abort();
    }
    ~RecordWrite() { ::close(fd_); }
    void operator()() {
        if (::pwrite(fd_, record_, sizeof record_, 0) != ssize_t(sizeof record_))
            std::abort();
    }

  private:
    int fd_;
    char record_[165] = {};
};

RecordWrite &record_write() {
    static RecordWrite instance;
    return instance;
}

// The record as a file mapped into memory: a checkpoint stores the count's
// digits into the mapping, and the page cache has them without a system
// call.
class MappedRecord {
  public:
    MappedRecord() {
        const std::string path = distribution().place("mapped-record");
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0 || ::ftruncate(fd, 165) != 0)
            std::abort();
        void *map = ::mmap(nullptr, 165, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        ::close(fd);
        if (map == MAP_FAILED)
            std::abort();
        bytes_ = static_cast<char *>(map);
    }
    ~MappedRecord() { ::munmap(bytes_, 165); }
    void operator()(uint64_t count) {
        std::to_chars(bytes_ + 150, bytes_ + 165, count);
        benchmark::ClobberMemory();
    }

  private:
    char *bytes_;
};

MappedRecord &mapped_record() {
    static MappedRecord instance;
    return instance;
}

// Reads every file with 16384-byte read() calls into one buffer; after each
// read `checkpoint` gets the bytes read so far.
template <typename Checkpoint>
std::size_t bare_reads(const std::vector<std::string> &files, Checkpoint checkpoint) {
    static std::vector<char> buffer(kChunk);
    std::size_t total = 0;
    for (const std::string &file : files) {
        const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
        ssize_t n;
        while ((n = ::read(fd, buffer.data(), buffer.size())) > 0) {
            total += static_cast<std::size_t>(n);
            checkpoint(total);
        }
        ::close(fd);
    }
    benchmark::DoNotOptimize(buffer.data());
    return total;
}

void bare_reads(const std::vector<std::string> &files) {
    if (bare_reads(files, [](std::size_t) {}) != kTotal)
        std::abort();
}

// Reads the stream to its end, releasing each buffer.
void drain(NetStream *stream, int segments) {
    std::size_t total = 0;
    for (int ended = 0; ended < segments;) {
        char *data = nullptr;
        const int32_t n = net_stream_read(stream, &data);
        if (n < 0) {
            std::fprintf(stderr, "read %d after %zu bytes\n", n, total);
            std::abort();
        }
        if (n == 0)
            ++ended;
        total += static_cast<std::size_t>(n);
        net_stream_free_buffer(stream, data);
    }
    if (total != kTotal) {
        std::fprintf(stderr, "read %zu bytes of %zu\n", total, kTotal);
        std::abort();
    }
}

// The stream packets of the distribution, as the gateway sends them: per
// file, packets of a code byte and 16384 data bytes, then an empty packet.
// `header` writes a packet's 12 header bytes for a payload length.
void send_packets(int fd, bool end_of_stream) {
    static std::vector<uint8_t> data = [] {
        std::vector<uint8_t> bytes(12 + 1 + kChunk);
        for (std::size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = static_cast<uint8_t>(i * 131);
        return bytes;
    }();
    const auto header = [](uint8_t *out, uint8_t kind, uint32_t length) {
        const uint8_t bytes[12] = {kind,
                                   0,
                                   1,
                                   0,
                                   0,
                                   0,
                                   0,
                                   0,
                                   uint8_t(length >> 24),
                                   uint8_t(length >> 16),
                                   uint8_t(length >> 8),
                                   uint8_t(length)};
        std::memcpy(out, bytes, 12);
    };
    header(data.data(), GATEWAY_KIND_STREAM, 1 + kChunk);
    data[12] = 1;
    uint8_t empty[12];
    header(empty, GATEWAY_KIND_STREAM, 0);
    for (int file = 0; file < kFiles; ++file) {
        for (std::size_t sent = 0; sent < kFileSize; sent += kChunk)
            if (::send(fd, data.data(), data.size(), MSG_NOSIGNAL) != ssize_t(data.size()))
                return;
        ::send(fd, empty, sizeof empty, MSG_NOSIGNAL);
    }
    if (end_of_stream) {
        header(empty, GATEWAY_KIND_END_OF_STREAM, 0);
        ::send(fd, empty, sizeof empty, MSG_NOSIGNAL);
    }
}

// The gateway of the process's channel: a thread that serves the
// distribution each time a stream hands a TOC over.
class Gateway {
  public:
    Gateway() {
        int ends[2];
        if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0)
            std::abort();
        fd_ = ends[0];
        const std::string channel = "fd:" + std::to_string(ends[1]);
        ::setenv("KORVO_GATEWAY", channel.c_str(), 1);
        thread_ = std::thread([this] {
            std::vector<uint8_t> packet(12 + 65536);
            for (;;) {
                const ssize_t n = ::recv(fd_, packet.data(), packet.size(), 0);
                if (n <= 0)
                    return;
                if (packet[0] == GATEWAY_KIND_TOC && (packet[1] & 1) == 0)
                    send_packets(fd_, true);
            }
        });
    }
    ~Gateway() {
        ::shutdown(fd_, SHUT_RDWR);
        thread_.join();
        ::close(fd_);
    }

  private:
    int fd_;
    std::thread thread_;
};

// The bare limit of the network stream: the same packets over a socket pair,
// received with recv() into one buffer.
template <typename Checkpoint>
void bare_packets(Checkpoint checkpoint) {
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0)
        std::abort();
    std::thread sender([&] { send_packets(ends[0], false); });
    static std::vector<uint8_t> buffer(12 + 65536);
    std::size_t total = 0;
    for (int ended = 0; ended < kFiles;) {
        const ssize_t n = ::recv(ends[1], buffer.data(), buffer.size(), 0);
        if (n <= 0)
            std::abort();
        if (n == 12) {
            ++ended;
        } else {
            total += static_cast<std::size_t>(n) - 13;
            checkpoint(total);
        }
    }
    sender.join();
    ::close(ends[0]);
    ::close(ends[1]);
    if (total != kTotal)
        std::abort();
}

// A stream key of `type` for the distribution "bench" (progress when asked),
// followed by the file list for type 4.
std::vector<uint8_t> key_bytes(uint8_t type, bool progress) {
    std::string text = "bench";
    if (type == NET_STREAM_FILES)
        for (const std::string &file : distribution().files())
            text += "," + file;
    std::vector<uint8_t> bytes(3 + text.size() + 1, 0);
    bytes[0] = type;
    bytes[2] = progress ? 1 : 2;
    std::memcpy(bytes.data() + 3, text.data(), text.size());
    return bytes;
}

// Times reading the whole distribution through a stream of `type` against
// `limit`, the bare loop over the same bytes.
// Reads the whole distribution through a stream of `type`.
void read_distribution(uint8_t type, bool progress) {
    std::vector<uint8_t> bytes = key_bytes(type, progress);
    StreamKey key{uint32_t(bytes.size()), uint32_t(bytes.size()), bytes.data()};
    NetStream *stream = net_stream_open(&key);
    net_stream_save_modified_toc(stream, distribution().toc());
    drain(stream, kFiles);
    char *data = nullptr;
    if (net_stream_read(stream, &data) != 0)  // the end of the stream
        std::abort();
    net_stream_close(stream);
}

void BM_FileStream(benchmark::State &state) {
    const bool progress = state.range(0) != 0;
    const std::vector<std::string> &files = distribution().files();
    bare_reads(files);  // the files are in the page cache
    std::vector<Contender> contenders = {
        {"korvo", [&](Untimed &) { read_distribution(NET_STREAM_FILES, progress); }}};
    if (progress) {
        contenders.push_back({"floor", [&](Untimed &) {
                                  bare_reads(files, [](std::size_t) { record_write()(); });
                              }});
        contenders.push_back({"mapped", [&](Untimed &) {
                                  bare_reads(files, [](std::size_t n) { mapped_record()(n); });
                              }});
    } else {
        contenders.push_back({"floor", [&](Untimed &) { bare_reads(files); }});
    }
    time_side_by_side(state, contenders);
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(kTotal));
}
BENCHMARK(BM_FileStream)
    ->ArgName("progress")
    ->Arg(0)
    ->Arg(1)
    ->Iterations(8)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

void BM_NetworkStream(benchmark::State &state) {
    static Gateway gateway;
    const bool progress = state.range(0) != 0;
    std::vector<Contender> contenders = {
        {"korvo", [&](Untimed &) { read_distribution(NET_STREAM_NETWORK, progress); }}};
    if (progress)
        contenders.push_back(
            {"floor", [](Untimed &) { bare_packets([](std::size_t) { record_write()(); }); }});
    else
        contenders.push_back({"floor", [](Untimed &) { bare_packets([](std::size_t) {}); }});
    // The sender's work counts too: whichever thread waits for the other
    // pays the wake-ups, and on a shared machine that changes from run to
    // run.
    time_side_by_side<ProcessCpuClock>(state, contenders);
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(kTotal));
}
BENCHMARK(BM_NetworkStream)
    ->ArgName("progress")
    ->Arg(0)
    ->Arg(1)
    ->Iterations(8)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// The file list of BM_FileList: up to 10 000 names of one file of 64 KiB,
// and for a count n a TOC of the first n with their stream key's bytes.
constexpr int kMaxSegments = 10000;
constexpr int32_t kSegmentSize = 64 << 10;

const std::vector<std::string> &segment_names() {
    static const std::vector<std::string> names = [] {
        const std::string first = distribution().place("list0");
        std::vector<char> bytes(kSegmentSize);
        for (std::size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = static_cast<char>(i * 7);
        const int fd = ::open(first.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (fd < 0 || ::write(fd, bytes.data(), bytes.size()) != ssize_t(bytes.size()))
            std::abort();
        ::close(fd);
        std::vector<std::string> all = {first};
        for (int i = 1; i < kMaxSegments; ++i) {
            all.push_back(distribution().place("list" + std::to_string(i)));
            if (::link(first.c_str(), all.back().c_str()) != 0)
                std::abort();
        }
        return all;
    }();
    return names;
}

// Reads one segment of a file-list stream to its end; the bytes.
std::size_t read_segment(NetStream *stream) {
    std::size_t read = 0;
    for (;;) {
        char *data = nullptr;
        const int32_t n = net_stream_read(stream, &data);
        if (n < 0)
            std::abort();
        if (n == 0)
            return read;
        read += static_cast<std::size_t>(n);
        net_stream_free_buffer(stream, data);
    }
}

// The stream first reads a leading segment of its own: the last 32768
// bytes of a sparse file of 10^9 + 32768 bytes. Its first checkpoint makes
// the record's file with a count of 10 digits, which it keeps to the end
// whatever n (a count that gains a digit replaces the file, at most once
// for each digit of a stream's size); its second is the first write in
// place, which on ext4 waits for the writes the replacement started. Its
// reads are left untimed; everything else (open, the TOC, the n segments,
// the close) is timed.
constexpr int32_t kLeadOffset = 1'000'000'000;
constexpr int32_t kLeadSize = kLeadOffset + 32768;

const std::string &lead_segment() {
    static const std::string path = [] {
        const std::string lead = distribution().place("list-lead");
        const int fd = ::open(lead.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (fd < 0 || ::ftruncate(fd, kLeadSize) != 0)
            std::abort();
        ::close(fd);
        return lead;
    }();
    return path;
}

void BM_FileList(benchmark::State &state) {
    const int segments = static_cast<int>(state.range(0));
    const bool progress = state.range(1) != 0;
    const std::vector<std::string> &all = segment_names();
    const std::vector<std::string> names(all.begin(), all.begin() + segments);
    PropertiesList toc{};
    std::string text = "list";
    for (int i = -1; i < segments; ++i) {
        const std::string &path = i < 0 ? lead_segment() : names[std::size_t(i)];
        Properties segment{};
        properties_put_string_dup(&segment, "id", ("list" + std::to_string(i)).c_str());
        properties_put_string_dup(&segment, "version", "1");
        properties_put_long_dup(&segment, "size", i < 0 ? kLeadSize : kSegmentSize);
        properties_put_long_dup(&segment, "offset", i < 0 ? kLeadOffset : 0);
        properties_put_string_dup(&segment, "data_path", path.c_str());
        seq_add(&toc, &segment, sizeof segment);
        text += "," + path;
    }
    bare_reads(names, [](std::size_t) {});  // in the page cache
    const std::size_t total = std::size_t(segments) * kSegmentSize;
    std::vector<Contender> contenders = {
        {"korvo",
         [&](Untimed &untimed) {
             std::vector<uint8_t> bytes(3 + text.size() + 1, 0);
             bytes[0] = NET_STREAM_FILES;
             bytes[2] = progress ? 1 : 2;
             std::memcpy(bytes.data() + 3, text.data(), text.size());
             StreamKey key{uint32_t(bytes.size()), uint32_t(bytes.size()), bytes.data()};
             NetStream *stream = net_stream_open(&key);
             net_stream_save_modified_toc(stream, &toc);
             untimed_part(untimed, [&] {
                 if (read_segment(stream) != std::size_t(kLeadSize - kLeadOffset))
                     std::abort();
             });
             std::size_t read = 0;
             for (int i = 0; i < segments; ++i)
                 read += read_segment(stream);
             net_stream_close(stream);
             if (read != total)
                 std::abort();
         }},
        {"floor", [&](Untimed &) {
             const std::size_t read = progress
                                          ? bare_reads(names, [](std::size_t) { record_write()(); })
                                          : bare_reads(names, [](std::size_t) {});
             if (read != total)
                 std::abort();
         }}};
    time_side_by_side(state, contenders);
    properties_list_delete(&toc);
    const double perSegment = 1e3 / segments;
    for (const char *name : {"korvo", "floor"}) {
        state.counters[std::string(name) + "_us_per_segment"] =
            state.counters[std::string(name) + "_ms"] * perSegment;
        state.counters[std::string(name) + "_cpu_us_per_segment"] =
            state.counters[std::string(name) + "_cpu_ms"] * perSegment;
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(total));
}
BENCHMARK(BM_FileList)
    ->ArgNames({"segments", "progress"})
    ->ArgsProduct({{1, 10, 100, 1000, 10000}, {0, 1}})
    ->UseManualTime()
    ->MinTime(0.5)
    ->Unit(benchmark::kMillisecond);

// Durable checkpoints: a file-list stream with its progress record reads
// the first 1 MiB of one file (64 reads of 16384 bytes, a checkpoint at
// each), with net_stream_set_durable off and on, against 64 writes of a
// record-sized block each followed by fsync on a file beside the record: the
// disk flushes a durable stream cannot do without. The file system is the
// one under KORVO_TMPDIR.
constexpr int32_t kDurableBytes = 1 << 20;

void sync_floor() {
    static const std::string path = [] {
        const char *work = std::getenv("KORVO_WORK_DIR");
        return std::string(work != nullptr ? work : "/tmp") + "/sync-floor";
    }();
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        std::abort();
    char record[165] = {};
    for (int32_t i = 0; i < kDurableBytes / int32_t(kChunk); ++i)
        if (::pwrite(fd, record, sizeof record, 0) != ssize_t(sizeof record) || ::fsync(fd) != 0)
            std::abort();
    ::close(fd);
}

void BM_DurableCheckpoints(benchmark::State &state) {
    const Distribution &dist = distribution();
    const std::string &file = dist.files()[0];
    Properties segment{};
    properties_put_string_dup(&segment, "id", "durable");
    properties_put_string_dup(&segment, "version", "1");
    properties_put_long_dup(&segment, "size", kDurableBytes);
    properties_put_long_dup(&segment, "offset", 0);
    properties_put_string_dup(&segment, "data_path", file.c_str());
    PropertiesList toc{};
    seq_add(&toc, &segment, sizeof segment);
    const std::string text = "durable," + file;
    korvo::bench::timeAgainstLimit(
        state,
        [&] {
            std::vector<uint8_t> bytes(3 + text.size() + 1, 0);
            bytes[0] = NET_STREAM_FILES;
            bytes[2] = 1;
            std::memcpy(bytes.data() + 3, text.data(), text.size());
            StreamKey key{uint32_t(bytes.size()), uint32_t(bytes.size()), bytes.data()};
            NetStream *stream = net_stream_open(&key);
            net_stream_save_modified_toc(stream, &toc);
            net_stream_set_durable(stream, static_cast<int32_t>(state.range(0)));
            std::size_t total = 0;
            for (;;) {
                char *data = nullptr;
                const int32_t n = net_stream_read(stream, &data);
                if (n <= 0)
                    break;
                total += static_cast<std::size_t>(n);
                net_stream_free_buffer(stream, data);
            }
            if (total != std::size_t(kDurableBytes))
                std::abort();
            net_stream_close(stream);
        },
        [] { sync_floor(); });
    properties_list_delete(&toc);
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(kDurableBytes));
}
BENCHMARK(BM_DurableCheckpoints)
    ->ArgName("durable")
    ->Arg(0)
    ->Arg(1)
    ->Iterations(4)
    ->UseManualTime()
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
