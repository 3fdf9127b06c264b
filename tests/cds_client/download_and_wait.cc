// A process that starts one download through the CDS client and then waits
// to be killed: the tests use it to leave a download behind the way a
// killed method does. Usage: cds_download_and_wait <manager> <package id>.
// Prints "started <handle>" once DownloadFile returned CDS_OK; exits 1 when
// it did not, and by itself after 120 seconds at the latest.
#include <chrono>
#include <cstdio>
#include <thread>

#include "cds/client/cds_client.h"

namespace {
void ignore(uint32_t, int32_t) {}
}  // namespace

int main(int argc, char **argv) {
    if (argc != 3)
        return 2;
    uint32_t handle = 0;
    if (DownloadFile(argv[1], argv[2], nullptr, nullptr, nullptr, &ignore, &handle) != CDS_OK)
        return 1;
    std::printf("started %u\n", handle);
    std::fflush(stdout);
    std::this_thread::sleep_for(std::chrono::seconds(120));
    return 0;
}
