// A program for the loader's tests, run as a child process so that each run
// finds the CDS client afresh: it calls cds_init from N threads released at
// the same moment, then prints what the process looks like afterwards:
//   PATH=<the PATH variable, or "(unset)">
//   CLIENT=<the file of every loaded CDS client library>
// (cds_probe_modules_posix.cc / _win32.cc list the loaded libraries).
// The library's own lines go to standard error as usual. Built twice: as
// cds_probe, and linked with the client as cds_probe_linked (the client is
// then part of the running program).
//   cds_probe [threads]
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "cds/cds.h"
#if defined(CDS_PROBE_LINKED)
#include "cds/client/cds_client.h"
#endif

// Prints "CLIENT=<file>" for every loaded CDS client library.
void print_clients();

int main(int argc, char **argv) {
#if defined(CDS_PROBE_LINKED)
    // Keeps the client among the program's libraries.
    volatile CdsDownloadFileFn linked = &DownloadFile;
    static_cast<void>(linked);
#endif
    const int count = argc > 1 ? std::atoi(argv[1]) : 1;
    if (count < 1 || count > 64)
        return 2;
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int i = 0; i < count; ++i)
        threads.emplace_back([&] {
            while (!go.load())
                std::this_thread::yield();
            cds_init();
        });
    go = true;
    for (std::thread &thread : threads)
        thread.join();
    const char *path = std::getenv("PATH");
    std::printf("PATH=%s\n", path != nullptr ? path : "(unset)");
    print_clients();
    return 0;
}
