// The packages the CDS benchmarks serve and what they time beside korvo:
// 4 packages of 64 MiB of seeded bytes, and the curl program fetching them
// from the same server into a folder (one process, one connection), each
// file then synced as the CDS client syncs the packages it keeps. Returns
// plain values; one thread at a time.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/bench_programs.hpp"

namespace korvo::bench {

constexpr int kCdsPackages = 4;
constexpr size_t kCdsPackageBytes = 64u << 20;

inline std::string cdsPackageId(int i) {
    return "bench-" + std::to_string(i);
}

// Bytes of one package, the same for the same seed.
inline std::string cdsPackageBytes(size_t size, uint64_t seed) {
    std::string bytes(size, '\0');
    uint64_t state = seed * 0x9e3779b97f4a7c15ull + 1;
    for (size_t i = 0; i + 8 <= size; i += 8) {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        __builtin_memcpy(&bytes[i], &state, 8);
    }
    return bytes;
}

// curl fetching every package of `url` into `directory`; aborts the
// benchmark when it fails.
inline void curlPackages(const std::string &url, const std::string &directory) {
    std::vector<std::string> args{"-s", "-S", "-f"};
    for (int i = 0; i < kCdsPackages; ++i) {
        args.push_back("-o");
        args.push_back(directory + "/" + cdsPackageId(i));
        args.push_back(url + "/packages/" + cdsPackageId(i));
    }
    if (runProgram("curl", args) != 0)
        std::abort();
}

// Each fetched file synced, as the client syncs a package before it enters
// its cache.
inline void syncCdsPackages(const std::string &directory) {
    for (int i = 0; i < kCdsPackages; ++i) {
        const int fd = ::open((directory + "/" + cdsPackageId(i)).c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0 || ::fsync(fd) != 0)
            std::abort();
        ::close(fd);
    }
}

}  // namespace korvo::bench
