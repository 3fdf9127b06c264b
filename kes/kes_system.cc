// System information over the wall clock, rand, _Exit and the host's own
// facts (host_system.hpp).
#include "kes/kes_system.h"

#include <chrono>
#include <cstdlib>
#include <mutex>

#include "kes/host_system.hpp"

extern "C" {
char osName[KES_OS_INFO_SIZE];
char osArch[KES_OS_INFO_SIZE];
char osVersion[KES_OS_INFO_SIZE];
}

namespace {

using korvo::host::SystemFact;

// Fills `buffer` from the host when it is still empty. The lock keeps two
// threads from writing one buffer at the same time.
const char *fillOnce(char *buffer, SystemFact fact) {
    static std::mutex guard;
    std::lock_guard<std::mutex> hold(guard);
    if (buffer[0] == '\0')
        korvo::host::SystemFactText(fact, buffer, KES_OS_INFO_SIZE);
    return buffer;
}

}  // namespace

extern "C" {

int64_t KesSystemGetMilliSeconds(void) {
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    return std::chrono::floor<std::chrono::milliseconds>(now).count();
}

void KesSystemSeedRandom(unsigned int seed) {
    std::srand(seed);
}

int KesSystemRandom(void) {
    return std::rand();
}

void KesSystemExit(int status) {
    // No exit handlers, no flushing: the process ends here.
    korvo::host::EndProcessNow(status);
}

int KesSystemHas64BitInt(void) {
    return 1;
}

const char *KesSystemGetOS(void) {
    return fillOnce(osName, SystemFact::kName);
}

const char *KesSystemGetOSArch(void) {
    return fillOnce(osArch, SystemFact::kArchitecture);
}

const char *KesSystemGetOSVersion(void) {
    return fillOnce(osVersion, SystemFact::kVersion);
}
}
