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
#include <stdlib.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "bench/bench_cds_packages.hpp"
#include "bench/bench_scratch.hpp"
#include "bench/kes_bench_timing.hpp"
#include "cds/client/cds_client.h"
#include "properties/korvo_keys.h"
#include "properties/korvo_properties.h"
#include "stream/net_stream.h"
#include "tests/http/http_test_server.hpp"

namespace {

using korvo::bench::cdsPackageBytes;
using korvo::bench::cdsPackageId;
using korvo::bench::kCdsPackageBytes;
using korvo::bench::kCdsPackages;

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
    for (int i = 0; i < kCdsPackages; ++i) {
        {
            std::lock_guard lock(done_mutex);
            done_count = 0;
        }
        uint32_t handle = 0;
        if (DownloadFile(server.c_str(), cdsPackageId(i).c_str(), nullptr, nullptr, nullptr,
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

// The server with the packages, a client home and a directory for curl's
// files, in a scratch directory that is also the work directory.
class Setting {
  public:
    Setting() : server_(std::chrono::seconds(3600)) {
        for (int i = 0; i < kCdsPackages; ++i)
            server_.put_package(cdsPackageId(i), cdsPackageBytes(kCdsPackageBytes, i + 1));
        std::filesystem::create_directories(home());
        std::filesystem::create_directories(fetched());
        setenv("CDSCLIENT_HOME", home().c_str(), 1);
    }
    const korvo::test::HttpTestServer &server() const { return server_; }
    std::string home() const { return scratch_ / "home"; }
    std::string fetched() const { return scratch_ / "curl"; }
    void curl() const {
        korvo::bench::curlPackages(server_.url(), fetched());
        korvo::bench::syncCdsPackages(fetched());
    }
    // Forgets what the last iteration downloaded.
    void clear() const {
        if (!getenv("KEEP"))
            std::filesystem::remove_all(home() + "/servers");
        for (int i = 0; i < kCdsPackages; ++i)
            std::filesystem::remove(fetched() + "/" + cdsPackageId(i));
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
    state.SetBytesProcessed(state.iterations() * kCdsPackages *
                            static_cast<int64_t>(kCdsPackageBytes));
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
    for (int segment = 0; segment < kCdsPackages; ++segment) {
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
    if (bytes != kCdsPackages * kCdsPackageBytes)
        std::abort();
}

void BM_CdsStreamReadsAgainstCurl(benchmark::State &state) {
    const bool progress = state.range(0) != 0;
    const Setting setting;
    korvo_init();
    PropertiesList toc{};
    for (int i = 0; i < kCdsPackages; ++i) {
        Properties segment{};
        properties_put_string_dup(&segment, SEGMENT_ID_KEY, cdsPackageId(i).c_str());
        properties_put_string_dup(&segment, SEGMENT_VERSION_KEY, "1");
        properties_put_long_dup(&segment, SEGMENT_SIZE_KEY, static_cast<int32_t>(kCdsPackageBytes));
        properties_put_long_dup(&segment, SEGMENT_OFFSET_KEY, 0);
        properties_put_string_dup(&segment, SEGMENT_CDS_MANAGER,
                                  setting.server().address().c_str());
        properties_put_string_dup(&segment, SEGMENT_CDS_PACKAGEID, cdsPackageId(i).c_str());
        seq_add(&toc, &segment, sizeof segment);
    }
    korvo::bench::timeAgainstLimit(
        state, [&] { read_stream(&toc, progress); }, [&] { setting.curl(); },
        [&] { setting.clear(); });
    state.SetBytesProcessed(state.iterations() * kCdsPackages *
                            static_cast<int64_t>(kCdsPackageBytes));
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
