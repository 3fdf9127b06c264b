// System information over clock_gettime, rand, _exit and uname.
#include "kes/kes_system.h"

#include <sys/utsname.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>

extern "C" {
char osName[KES_OS_INFO_SIZE];
char osArch[KES_OS_INFO_SIZE];
char osVersion[KES_OS_INFO_SIZE];
}

namespace {

enum class Field { Name, Machine, Release };

// Fills `buffer` from uname when it is still empty. The lock keeps two threads
// from writing one buffer at the same time.
const char *fillOnce(char *buffer, Field field) {
    static std::mutex guard;
    std::lock_guard<std::mutex> hold(guard);
    if (buffer[0] == '\0') {
        struct utsname names {};
        if (::uname(&names) == 0) {
            const char *text = field == Field::Name      ? names.sysname
                               : field == Field::Machine ? names.machine
                                                         : names.release;
            std::strncpy(buffer, text, KES_OS_INFO_SIZE - 1);
            buffer[KES_OS_INFO_SIZE - 1] = '\0';
        }
    }
    return buffer;
}

}  // namespace

extern "C" {

int64_t KesSystemGetMilliSeconds(void) {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

void KesSystemSeedRandom(unsigned int seed) {
    std::srand(seed);
}

int KesSystemRandom(void) {
    return std::rand();
}

void KesSystemExit(int status) {
    ::_exit(status);
}

int KesSystemHas64BitInt(void) {
    return 1;
}

const char *KesSystemGetOS(void) {
    return fillOnce(osName, Field::Name);
}

const char *KesSystemGetOSArch(void) {
    return fillOnce(osArch, Field::Machine);
}

const char *KesSystemGetOSVersion(void) {
    return fillOnce(osVersion, Field::Release);
}
}
