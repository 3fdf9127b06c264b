// korvo receive --from cds end to end: 4 packages of 64 MiB from the test
// suite's HTTP server on 127.0.0.1, the program started afresh each
// iteration with an empty client cache, an empty output folder and no
// progress record, so that every package is downloaded into the cache
// (which the client syncs) and then handed to its output. Beside it, in the
// same iteration, the curl program fetches the same packages from the same
// server into files of the same file system (one process, one connection),
// and those files are then synced as the client syncs its cache. The two
// take turns at going first.
//
// Arg 0 is the receive as it runs (each package copied from the cache into
// its output in the kernel); arg 1 the same receive with --limit-rate 1T,
// which reads every package back in 16 KiB pieces and writes them again.
// Reported: wall time of the receive (manual time), its CPU time (cpu_s)
// and curl's (curl_cpu_s), x_curl (the receive's time over curl's) and
// x_curl_sync (over curl's and the sync's).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/bench_cds_packages.hpp"
#include "bench/bench_programs.hpp"
#include "bench/bench_scratch.hpp"
#include "properties/korvo_properties.h"
#include "properties/property_files.h"
#include "tests/cds_stream/cds_distribution.hpp"
#include "tests/http/http_test_server.hpp"

namespace {

using korvo::bench::cdsPackageBytes;
using korvo::bench::kCdsPackageBytes;
using korvo::bench::kCdsPackages;

void write_text(const std::string &path, const std::string &text) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0 || ::write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size()))
        std::abort();
    ::close(fd);
}

// The server with the packages; the client installed in a home that a
// registry file names, as a user sets it up; the TOC file; a folder for
// curl's files; all in a scratch directory that is the work directory.
class Setting {
  public:
    Setting() : server_(std::chrono::seconds(3600)) {
        korvo_init();
        std::vector<cds_stream_test::Package> packages;
        for (int i = 0; i < kCdsPackages; ++i) {
            packages.push_back(
                {korvo::bench::cdsPackageId(i), cdsPackageBytes(kCdsPackageBytes, i + 1)});
            server_.put_package(packages.back().id, packages.back().bytes);
            ids_.push_back(packages.back().id);
        }
        const std::string client = scratch_ / "client";
        std::filesystem::create_directories(client + "/cds");
        std::filesystem::create_directories(client + "/lib");
        std::filesystem::create_directories(fetched());
        std::filesystem::copy_file(KORVO_CDS_CLIENT_LIBRARY, client + "/cds/libCDSClient.so");
        write_text(client + "/cds.cfg", "ClassPath = " + client + "/lib/CacheMgr.jar\n");
        write_text(scratch_ / "registry.ini",
                   "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\CDSClient]\n"
                   "cds_home = " +
                       client + "\n");
        ::setenv("KORVO_REGISTRY_FILE", (scratch_ / "registry.ini").c_str(), 1);
        ::setenv("KORVO_GATEWAY", "", 1);
        ::setenv("CDSCLIENT_HOME", cache().c_str(), 1);

        cds_stream_test::Distribution toc(packages, server_.address());
        Properties file{};
        properties_put_properties_list_dup(&file, JOB_TOC_KEY, &toc);
        properties_save(&file, this->toc().c_str());
        properties_delete(&file);
    }
    std::string toc() const { return scratch_ / "dist.toc"; }
    std::string out() const { return scratch_ / "out"; }
    std::string cache() const { return scratch_ / "cache"; }
    std::string fetched() const { return scratch_ / "curl"; }
    void curl() const { korvo::bench::curlPackages(server_.url(), fetched()); }
    void sync_fetched() const { korvo::bench::syncCdsPackages(fetched()); }
    // Forgets what the last iteration received and downloaded.
    void clear() const {
        std::filesystem::remove_all(out());
        std::filesystem::remove_all(cache());
        std::filesystem::create_directory(cache());
        for (const std::string &id : ids_)
            std::filesystem::remove(fetched() + "/" + id);
    }

  private:
    korvo::bench::Scratch scratch_;
    korvo::test::HttpTestServer server_;
    std::vector<std::string> ids_;
};

using Clock = std::chrono::steady_clock;

double seconds_between(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

void BM_ReceiveFromCdsAgainstCurl(benchmark::State &state) {
    const bool reads = state.range(0) != 0;
    static const Setting setting;
    double receive = 0, curl = 0, sync = 0, receive_cpu = 0, curl_cpu = 0;
    int round = 0;
    for (auto _ : state) {
        setting.clear();
        std::vector<std::string> args{
            "-q",          "receive", "bench-" + std::to_string(round + 1),
            "--from",      "cds",     "--toc",
            setting.toc(), "-o",      setting.out()};
        if (reads) {
            args.push_back("--limit-rate");
            args.push_back("1T");
        }
        // The receive and curl take turns at going first, so that neither
        // always meets the file system busy with what the other left.
        double seconds = 0;
        const auto time_receive = [&] {
            const double cpu_before = korvo::bench::childrenCpuSeconds();
            const auto start = Clock::now();
            if (korvo::bench::runProgram(KORVO_PROGRAM, args) != 0)
                state.SkipWithError("korvo receive failed");
            seconds = seconds_between(start, Clock::now());
            receive += seconds;
            receive_cpu += korvo::bench::childrenCpuSeconds() - cpu_before;
        };
        const auto time_curl = [&] {
            const double cpu_before = korvo::bench::childrenCpuSeconds();
            const auto start = Clock::now();
            setting.curl();
            const auto fetched = Clock::now();
            setting.sync_fetched();
            curl += seconds_between(start, fetched);
            sync += seconds_between(fetched, Clock::now());
            curl_cpu += korvo::bench::childrenCpuSeconds() - cpu_before;
        };
        if (++round % 2 == 0) {
            time_receive();
            time_curl();
        } else {
            time_curl();
            time_receive();
        }
        state.SetIterationTime(seconds);
    }
    setting.clear();
    state.SetBytesProcessed(state.iterations() * kCdsPackages *
                            static_cast<int64_t>(kCdsPackageBytes));
    state.counters["cpu_s"] = benchmark::Counter(receive_cpu, benchmark::Counter::kAvgIterations);
    state.counters["curl_cpu_s"] = benchmark::Counter(curl_cpu, benchmark::Counter::kAvgIterations);
    if (curl > 0) {
        state.counters["x_curl"] = receive / curl;
        state.counters["x_curl_sync"] = receive / (curl + sync);
    }
    state.SetLabel(reads ? "read back in 16 KiB pieces" : "copied in the kernel");
}
BENCHMARK(BM_ReceiveFromCdsAgainstCurl)
    ->Arg(0)
    ->Arg(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
