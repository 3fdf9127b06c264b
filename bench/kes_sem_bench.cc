// Kes locks: an uncontended take and release of a named lock, and a
// ping-pong of two processes through one, each next to the bare pthread calls
// on a mutex of the same kind (counter x_limit: times slower than those; the
// bare ping-pong runs first and the named one is compared with it).
#include <benchmark/benchmark.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "bench/kes_bench_timing.hpp"
#include "kes/kes_sem.h"

namespace {

// A lock namespace of this run; its objects are removed at the end.
const std::string &lockSpace() {
    static const std::string space = "bench" + std::to_string(getpid());
    return space;
}

void removeLocks() {
    const std::string prefix = "korvo." + lockSpace() + ".";
    for (const auto &entry : std::filesystem::directory_iterator("/dev/shm")) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(prefix, 0) == 0)
            shm_unlink(("/" + name).c_str());
    }
}

// A robust, recursive, process-shared mutex in memory shared with children.
struct BareMutex {
    pthread_mutex_t mutex;
};

BareMutex *newBareMutex() {
    void *memory =
        mmap(nullptr, sizeof(BareMutex), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    auto *bare = static_cast<BareMutex *>(memory);
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutexattr_setpshared(&attributes, PTHREAD_PROCESS_SHARED);
    pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST);
    pthread_mutex_init(&bare->mutex, &attributes);
    pthread_mutexattr_destroy(&attributes);
    return bare;
}

constexpr int kPairsPerIteration = 1000;

void BM_NamedLockTakeRelease(benchmark::State &state) {
    KesStatus status;
    KesSem sem = nullptr;
    KesInitSem(&status, &sem, "BENCH");
    KesPostSem(&status, &sem);
    BareMutex *bare = newBareMutex();
    korvo::bench::timeAgainstLimit(
        state,
        [&] {
            for (int i = 0; i < kPairsPerIteration; ++i) {
                KesWaitSem(&status, &sem);
                KesPostSem(&status, &sem);
            }
        },
        [&] {
            for (int i = 0; i < kPairsPerIteration; ++i) {
                pthread_mutex_lock(&bare->mutex);
                pthread_mutex_unlock(&bare->mutex);
            }
        });
    state.SetItemsProcessed(state.iterations() * kPairsPerIteration);
    KesDestSem(&status, &sem);
    munmap(bare, sizeof(BareMutex));
}

// Ping-pong: the turn passes between the two processes. A side waits for its
// turn, takes the lock, hands the turn over and releases the lock, so every
// take finds the lock last held by the other process.
struct Court {
    std::atomic<int> turn{0};
    std::atomic<int> stop{0};
};

template <typename Take, typename Release>
void playUntilStopped(Court &court, int me, Take take, Release release) {
    while (court.stop.load(std::memory_order_relaxed) == 0) {
        if (court.turn.load(std::memory_order_acquire) != me) {
            sched_yield();
            continue;
        }
        take();
        court.turn.store(1 - me, std::memory_order_release);
        release();
    }
}

template <typename Take, typename Release>
void hitOnce(Court &court, Take take, Release release) {
    while (court.turn.load(std::memory_order_acquire) != 0)
        sched_yield();
    take();
    court.turn.store(1, std::memory_order_release);
    release();
}

// Round trips against a partner process that plays the other side; returns
// the seconds per round trip.
template <typename Take, typename Release>
double playAgainstPartner(benchmark::State &state, Take take, Release release) {
    auto *court = new (mmap(nullptr, sizeof(Court), PROT_READ | PROT_WRITE,
                            MAP_SHARED | MAP_ANONYMOUS, -1, 0)) Court;
    const pid_t partner = fork();
    if (partner == 0) {
        alarm(600);
        playUntilStopped(*court, 1, take, release);
        _exit(0);
    }
    double seconds = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < kPairsPerIteration; ++i)
            hitOnce(*court, take, release);
        const double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.SetIterationTime(elapsed);
        seconds += elapsed;
    }
    court->stop.store(1);
    waitpid(partner, nullptr, 0);
    munmap(court, sizeof(Court));
    // One item is a round trip: the turn goes to the partner and comes back.
    state.SetItemsProcessed(state.iterations() * kPairsPerIteration);
    return seconds / static_cast<double>(state.iterations() * kPairsPerIteration);
}

// Seconds per round trip of the bare mutex, measured first in the run.
double bareRoundTrip = 0;

void BM_PingPongBareMutex(benchmark::State &state) {
    BareMutex *bare = newBareMutex();
    bareRoundTrip = playAgainstPartner(
        state, [&] { pthread_mutex_lock(&bare->mutex); },
        [&] { pthread_mutex_unlock(&bare->mutex); });
    munmap(bare, sizeof(BareMutex));
}

void BM_PingPongNamedLock(benchmark::State &state) {
    KesStatus status;
    KesSem sem = nullptr;
    KesInitSem(&status, &sem, "PINGPONG");
    KesPostSem(&status, &sem);
    const double roundTrip = playAgainstPartner(
        state, [&] { KesWaitSem(&status, &sem); }, [&] { KesPostSem(&status, &sem); });
    if (bareRoundTrip > 0)
        state.counters["x_limit"] = roundTrip / bareRoundTrip;
    KesDestSem(&status, &sem);
}

BENCHMARK(BM_NamedLockTakeRelease)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PingPongBareMutex)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PingPongNamedLock)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char **argv) {
    setenv("KORVO_LOCK_NAMESPACE", lockSpace().c_str(), 1);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    removeLocks();
    return 0;
}
