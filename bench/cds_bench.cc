// CDS downloads: 4 packages of 64 MiB each from the test suite's HTTP server
// on 127.0.0.1, into a fresh cache each iteration,
//   - through the client alone (DownloadFile and its completion callback);
//   - through a CDS stream (type 11) read to its end in 16384-byte reads, as
//     a method reads it: each read that finds its file read to the end
//     downloads the next package, then reads it; with and without the
//     progress record (a checkpoint at every read).
// The limit, timed in the same iterations, is the curl program fetching the
// same 4 packages from the same server into files of the same file system
// (one process, one connection), each file then synced as the client syncs
// its packages. x_limit is the operation's time over
// curl's.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "bench/bench_scratch.hpp"
#include "bench/kes_bench_timing.hpp"
#include "cds/client/cds_client.h"
#include "properties/korvo_keys.h"
#include "properties/korvo_properties.h"
#include "stream/net_stream.h"
#include "tests/http/http_test_server.hpp"

extern char **environ;

namespace {

constexpr int kPackages = 4;
constexpr size_t kPackageBytes = 64u << 20;

std::string package_bytes(size_t size, uint64_t seed) {
    std::string bytes(size, '\0');
    uint64_t state = seed * 0x9e3779b97f4a7c15ull + 1;
    for (size_t i = 0; i + 8 <= size; i += 8) {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        __builtin_memcpy(&bytes[i], &state, 8);
    }
    return bytes;
}

std::string package_id(int i) {
    return "bench-" + std::to_string(i);
}

// Completions of the client's downloads.
std::mutex done_mutex;
std::condition_variable done_signal;
int done_count = 0;
int failures = 0;

void completed(uint32_t, int32_t status) {
    std::lock_guard lock(done_mutex);
    ++done_count;
    failures += status != CDS_OK;
    done_signal.notify_all();
}

// Downloads every package, one after the other, as the CDS stream does.
void download_all(const std::string &server) {
    for (int i = 0; i < kPackages; ++i) {
        {
            std::lock_guard lock(done_mutex);
            done_count = 0;
        }
        uint32_t handle = 0;
        if (DownloadFile(server.c_str(), package_id(i).c_str(), nullptr, nullptr, nullptr,
                         &completed, &handle) != CDS_OK)
            std::abort();
        std::unique_lock lock(done_mutex);
        done_signal.wait(lock, [] { return done_count == 1; });
        lock.unlock();
        ReleaseFile(handle);
    }
    if (failures != 0)
        std::abort();
}

void curl_all(const std::string &url, const std::string &directory) {
    std::vector<std::string> arguments{"curl", "-s", "-S", "-f"};
    for (int i = 0; i < kPackages; ++i) {
        arguments.push_back("-o");
        arguments.push_back(directory + "/" + package_id(i));
        arguments.push_back(url + "/packages/" + package_id(i));
    }
    std::vector<char *> argv;
    for (std::string &argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    int status = 0;
    if (posix_spawnp(&pid, "curl", nullptr, nullptr, argv.data(), environ) != 0 ||
        waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        std::abort();
    // The client syncs each package before it enters the cache, so the
    // limit makes curl's files as durable.
    for (int i = 0; i < kPackages; ++i) {
        const int fd = ::open((directory + "/" + package_id(i)).c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0 || ::fsync(fd) != 0)
            std::abort();
        ::close(fd);
    }
}

// The server with the packages, a client home and a directory for curl's
// files, in a scratch directory that is also the work directory.
class Setting {
  public:
    Setting() : server_(std::chrono::seconds(3600)) {
        for (int i = 0; i < kPackages; ++i)
            server_.put_package(package_id(i), package_bytes(kPackageBytes, i + 1));
        std::filesystem::create_directories(home());
        std::filesystem::create_directories(fetched());
        setenv("CDSCLIENT_HOME", home().c_str(), 1);
    }
    const korvo::test::HttpTestServer &server() const { return server_; }
    std::string home() const { return scratch_ / "home"; }
    std::string fetched() const { return scratch_ / "curl"; }
    void curl() const { curl_all(server_.url(), fetched()); }
    // Forgets what the last iteration downloaded.
    void clear() const {
        if (!getenv("KEEP"))
            std::filesystem::remove_all(home() + "/servers");
        for (int i = 0; i < kPackages; ++i)
            std::filesystem::remove(fetched() + "/" + package_id(i));
    }

  private:
    korvo::bench::Scratch scratch_;
    korvo::test::HttpTestServer server_;
};

void BM_ClientDownloadsAgainstCurl(benchmark::State &state) {
    const Setting setting;
    korvo::bench::timeAgainstLimit(
        state, [&] { download_all(setting.server().address()); }, [&] { setting.curl(); },
        [&] { setting.clear(); });
    state.SetBytesProcessed(state.iterations() * kPackages * static_cast<int64_t>(kPackageBytes));
}
BENCHMARK(BM_ClientDownloadsAgainstCurl)->UseManualTime()->Unit(benchmark::kMillisecond);

// Opens a CDS stream over the packages and reads it to its end.
void read_stream(const PropertiesList *toc, bool progress) {
    uint8_t key_bytes[] = {
        NET_STREAM_CDS, 0, static_cast<uint8_t>(progress ? 1 : 2), 'b', 'e', 'n', 'c', 'h', 0};
    StreamKey key{sizeof key_bytes, sizeof key_bytes, key_bytes};
    NetStream *stream = net_stream_open(&key);
    if (stream == nullptr)
        std::abort();
    net_stream_save_modified_toc(stream, toc);
    size_t bytes = 0;
    for (int segment = 0; segment < kPackages; ++segment) {
        char *data = nullptr;
        int32_t n = 0;
        while ((n = net_stream_read(stream, &data)) > 0) {
            bytes += static_cast<size_t>(n);
            net_stream_free_buffer(stream, data);
        }
        if (n < 0)
            std::abort();
    }
    net_stream_close(stream);
    if (bytes != kPackages * kPackageBytes)
        std::abort();
}

void BM_CdsStreamReadsAgainstCurl(benchmark::State &state) {
    const bool progress = state.range(0) != 0;
    const Setting setting;
    korvo_init();
    PropertiesList toc{};
    for (int i = 0; i < kPackages; ++i) {
        Properties segment{};
        properties_put_string_dup(&segment, SEGMENT_ID_KEY, package_id(i).c_str());
        properties_put_string_dup(&segment, SEGMENT_VERSION_KEY, "1");
        properties_put_long_dup(&segment, SEGMENT_SIZE_KEY, static_cast<int32_t>(kPackageBytes));
        properties_put_long_dup(&segment, SEGMENT_OFFSET_KEY, 0);
        properties_put_string_dup(&segment, SEGMENT_CDS_MANAGER,
                                  setting.server().address().c_str());
        properties_put_string_dup(&segment, SEGMENT_CDS_PACKAGEID, package_id(i).c_str());
        seq_add(&toc, &segment, sizeof segment);
    }
    korvo::bench::timeAgainstLimit(
        state, [&] { read_stream(&toc, progress); }, [&] { setting.curl(); },
        [&] { setting.clear(); });
    state.SetBytesProcessed(state.iterations() * kPackages * static_cast<int64_t>(kPackageBytes));
    state.SetLabel(progress ? "progress kept" : "no progress");
    properties_list_delete(&toc);
}
BENCHMARK(BM_CdsStreamReadsAgainstCurl)
    ->Arg(0)
    ->Arg(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
