// The CDS client's download throughput: 4 packages of 64 MiB each from the
// test suite's HTTP server on 127.0.0.1, through DownloadFile and its
// completion callback, into a fresh cache each iteration. The limit, timed in
// the same iterations, is the curl program fetching the same 4 packages from
// the same server into files of the same file system (one process, one
// connection). x_limit is the client's time over curl's.
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "bench/kes_bench_timing.hpp"
#include "cds/client/cds_client.h"
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
}

void BM_ClientDownloadsAgainstCurl(benchmark::State &state) {
    korvo::test::HttpTestServer server(std::chrono::seconds(3600));
    for (int i = 0; i < kPackages; ++i)
        server.put_package(package_id(i), package_bytes(kPackageBytes, i + 1));
    std::string scratch = (std::filesystem::temp_directory_path() / "cds-bench-XXXXXX").string();
    if (mkdtemp(scratch.data()) == nullptr)
        std::abort();
    const std::string home = scratch + "/home";
    const std::string fetched = scratch + "/curl";
    std::filesystem::create_directories(home);
    std::filesystem::create_directories(fetched);
    setenv("CDSCLIENT_HOME", home.c_str(), 1);

    korvo::bench::timeAgainstLimit(
        state, [&] { download_all(server.address()); }, [&] { curl_all(server.url(), fetched); },
        [&] {
            std::filesystem::remove_all(home + "/cache");
            for (int i = 0; i < kPackages; ++i)
                std::filesystem::remove(fetched + "/" + package_id(i));
        });
    state.SetBytesProcessed(state.iterations() * kPackages * static_cast<int64_t>(kPackageBytes));
    std::filesystem::remove_all(scratch);
}
BENCHMARK(BM_ClientDownloadsAgainstCurl)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
