// Streams at work, each timed next to the bare system calls that move the
// same bytes, in the same iteration (counter x_limit):
//   - a file-list stream (type 4) reading 256 MiB from 16 files of 16 MiB in
//     the page cache, with and without its progress record (a checkpoint at
//     every 16384-byte read), against a loop of 16384-byte read() calls over
//     the same files; the files lie in the temporary directory
//     (KORVO_TMPDIR), so run it once on tmpfs and once on the disk;
//   - a network stream (type 2) reading the same 256 MiB through the gateway
//     channel from a sender thread that passes stream packets of 16384 data
//     bytes, with and without progress, against the same sender passing the
//     same packets over a SOCK_SEQPACKET socket pair to a loop of recv()
//     calls;
//   - durable checkpoints (BM_DurableCheckpoints, below).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
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

  private:
    korvo::bench::Scratch scratch_;
    std::vector<std::string> files_;
    PropertiesList toc_{};
};

Distribution &distribution() {
    static Distribution instance;
    return instance;
}

// Reads every file with 16384-byte read() calls into one buffer.
void bare_reads(const std::vector<std::string> &files) {
    static std::vector<char> buffer(kChunk);
    std::size_t total = 0;
    for (const std::string &file : files) {
        const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
        ssize_t n;
        while ((n = ::read(fd, buffer.data(), buffer.size())) > 0)
            total += static_cast<std::size_t>(n);
        ::close(fd);
    }
    if (total != kTotal)
        std::abort();
    benchmark::DoNotOptimize(buffer.data());
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
void bare_packets() {
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
        if (n == 12)
            ++ended;
        else
            total += static_cast<std::size_t>(n) - 13;
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
template <typename Limit>
void time_stream(benchmark::State &state, uint8_t type, Limit limit) {
    const Distribution &dist = distribution();
    const bool progress = state.range(0) != 0;
    korvo::bench::timeAgainstLimit(
        state,
        [&] {
            std::vector<uint8_t> bytes = key_bytes(type, progress);
            StreamKey key{uint32_t(bytes.size()), uint32_t(bytes.size()), bytes.data()};
            NetStream *stream = net_stream_open(&key);
            net_stream_save_modified_toc(stream, dist.toc());
            drain(stream, kFiles);
            char *data = nullptr;
            if (net_stream_read(stream, &data) != 0)  // the end of the stream
                std::abort();
            net_stream_close(stream);
        },
        limit);
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(kTotal));
}

void BM_FileStream(benchmark::State &state) {
    bare_reads(distribution().files());  // the files are in the page cache
    time_stream(state, NET_STREAM_FILES, [] { bare_reads(distribution().files()); });
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
    time_stream(state, NET_STREAM_NETWORK, [] { bare_packets(); });
}
BENCHMARK(BM_NetworkStream)
    ->ArgName("progress")
    ->Arg(0)
    ->Arg(1)
    ->Iterations(8)
    ->UseManualTime()
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
