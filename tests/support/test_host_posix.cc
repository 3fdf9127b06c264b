// What tests look at on POSIX hosts: /proc/self/fd, fdinfo and statm, the
// objects of /dev/shm, mkdtemp, procfs, the loader's LD_LIBRARY_PATH and
// alarm.
#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <system_error>

#include "tests/support/test_host.hpp"

namespace korvo::test {

int openDescriptorCount() {
    int count = 0;
    for ([[maybe_unused]] const auto &entry : std::filesystem::directory_iterator("/proc/self/fd"))
        ++count;
    return count;
}

std::string makeScratchDirectory(const std::filesystem::path &base, const std::string &prefix) {
    std::string pattern = (base / (prefix + "XXXXXX")).string();
    return ::mkdtemp(pattern.data()) != nullptr ? pattern : std::string();
}

bool sharedMemoryObjectsListable() {
    return true;
}

std::vector<std::string> sharedMemoryObjects(const std::string &prefix) {
    std::vector<std::string> found;
    for (const auto &entry : std::filesystem::directory_iterator("/dev/shm")) {
        const std::string name = entry.path().filename().string();
        if (name.starts_with(prefix))
            found.push_back(name);
    }
    return found;
}

bool sharedMemoryObjectExists(const std::string &name) {
    std::error_code ignored;
    return std::filesystem::exists("/dev/shm/" + name, ignored);
}

void removeSharedMemoryObject(const std::string &name) {
    ::shm_unlink(("/" + name).c_str());
}

bool makeSharedMemoryObject(const std::string &name, std::size_t size) {
    const int fd = ::shm_open(("/" + name).c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    const bool sized = ::ftruncate(fd, static_cast<off_t>(size)) == 0;
    ::close(fd);
    return sized;
}

bool makeBrokenLock(const std::string &name) {
    return makeSharedMemoryObject(name, 3);
}

std::string sharedMemoryObjectFile(const std::string &name) {
    return "/dev/shm/" + name;
}

std::int64_t residentBytes() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0, residentPages = 0;
    statm >> pages >> residentPages;
    return residentPages * ::sysconf(_SC_PAGESIZE);
}

// From the kernel's description of the inotify descriptor: one line a watch.
int watchedDirectoryCount() {
    for (const auto &fd : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        if (std::filesystem::read_symlink(fd.path(), error).string() != "anon_inode:inotify")
            continue;
        std::ifstream info("/proc/self/fdinfo/" + fd.path().filename().string());
        int watches = 0;
        for (std::string line; std::getline(info, line);)
            watches += line.starts_with("inotify wd:") ? 1 : 0;
        return watches;
    }
    return 0;
}

std::filesystem::path memoryFileSystemDirectory() {
    return "/dev/shm";
}

std::string fileWithoutExtendedAttributes() {
    return "/proc/self/comm";  // procfs
}

std::string currentAccountName() {
    const passwd *me = ::getpwuid(::geteuid());
    return me != nullptr ? me->pw_name : std::string();
}

bool makeSymbolicLink(const std::string &target, const std::string &link) {
    return ::symlink(target.c_str(), link.c_str()) == 0;
}

bool runningUnderWine() {
    return false;
}

std::optional<HostNames> hostNames() {
    utsname names{};
    if (::uname(&names) != 0)
        return std::nullopt;
    return HostNames{names.sysname, names.machine, names.release};
}

void setEnvironmentVariable(const std::string &name, const char *value) {
    if (value != nullptr)
        ::setenv(name.c_str(), value, 1);
    else
        ::unsetenv(name.c_str());
}

const char *librarySearchPathVariable() {
    return "LD_LIBRARY_PATH";
}

bool limitOwnFileSize(std::uint64_t bytes) {
    const rlimit size{bytes, bytes}, core{0, 0};
    return ::setrlimit(RLIMIT_FSIZE, &size) == 0 && ::setrlimit(RLIMIT_CORE, &core) == 0;
}

int fileSizeExceededStatus() {
    return 128 + SIGXFSZ;
}

GuardedPages::GuardedPages(std::size_t pages) {
    const std::size_t page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    void *mapped = ::mmap(nullptr, (pages + 1) * page, PROT_READ | PROT_WRITE,
                          MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED)
        return;
    base_ = static_cast<char *>(mapped);
    readable_ = pages * page;
    ::mprotect(base_ + readable_, page, PROT_NONE);
}

GuardedPages::~GuardedPages() {
    if (base_ != nullptr)
        ::munmap(base_, readable_ + static_cast<std::size_t>(::sysconf(_SC_PAGESIZE)));
}

Watchdog::Watchdog(unsigned seconds) {
    ::alarm(seconds);
}

Watchdog::~Watchdog() {
    ::alarm(0);
}

bool replaceFile(const std::string &from, const std::string &to) {
    return ::rename(from.c_str(), to.c_str()) == 0;
}

bool setModificationTime(const std::string &path, std::int64_t seconds, std::int32_t nanoseconds) {
    const struct timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(seconds), nanoseconds}};
    return ::utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

std::string fileIdentity(const std::string &path) {
    struct stat status;
    if (::stat(path.c_str(), &status) != 0)
        return std::string();
    return std::to_string(status.st_dev) + ":" + std::to_string(status.st_ino);
}

}  // namespace korvo::test
