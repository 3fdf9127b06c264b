// What tests look at on Windows: the process's handle count, the working
// set, named kernel objects in place of shared memory files, folders made
// under the caller's base, PATH as the loader's search path, and a watchdog
// thread. What has no meaning here (inotify watches, tmpfs, a file system
// without access lists, the listing of shared memory objects) is answered
// so that callers skip.
#include <windows.h>
// psapi.h after windows.h: it needs its types.
#include <lmcons.h>
#include <psapi.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <system_error>
#include <thread>

#include "tests/support/test_host.hpp"

namespace korvo::test {
namespace {

// Named objects live in one of the two namespaces of the object manager; a
// test looks in both, as it does not know which the library chose.
constexpr const char *kNamespaces[] = {"Global\\", "Local\\"};

// The mappings makeSharedMemoryObject made: a named object lives only as
// long as a handle to it, so the handle is kept until the object is removed.
std::mutex madeLock;
std::map<std::string, HANDLE> &madeObjects() {
    static std::map<std::string, HANDLE> made;
    return made;
}

bool namedObjectExists(const std::string &fullName) {
    // An object that exists but is not ours to open still exists.
    if (HANDLE mutex = ::OpenMutexA(SYNCHRONIZE, FALSE, fullName.c_str())) {
        ::CloseHandle(mutex);
        return true;
    }
    if (::GetLastError() == ERROR_ACCESS_DENIED)
        return true;
    if (HANDLE mapping = ::OpenFileMappingA(FILE_MAP_READ, FALSE, fullName.c_str())) {
        ::CloseHandle(mapping);
        return true;
    }
    return ::GetLastError() == ERROR_ACCESS_DENIED;
}

// Makes the mapping `fullName` of `size` bytes and keeps it under `name`
// until removeSharedMemoryObject; false when it exists or cannot be made.
bool keepNewMapping(const std::string &name, const std::string &fullName, std::size_t size) {
    const std::uint64_t bytes = size;
    const HANDLE mapping = ::CreateFileMappingA(
        INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, static_cast<DWORD>(bytes >> 32),
        static_cast<DWORD>(bytes & 0xffffffffu), fullName.c_str());
    if (mapping == nullptr)
        return false;
    if (::GetLastError() == ERROR_ALREADY_EXISTS) {
        ::CloseHandle(mapping);
        return false;
    }
    const std::lock_guard<std::mutex> hold(madeLock);
    madeObjects()[name] = mapping;
    return true;
}

}  // namespace

int openDescriptorCount() {
    DWORD count = 0;
    if (::GetProcessHandleCount(::GetCurrentProcess(), &count) && count > 0)
        return static_cast<int>(count);
    // Wine answers 0: count the handle values that name an open handle.
    // Handles take the lowest free value (a multiple of 4), so the scan
    // stops after a long run of free values past the last open one.
    int open = 0;
    for (std::uintptr_t value = 4, free = 0; free < 1024; value += 4) {
        DWORD flags = 0;
        if (::GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags))
            ++open, free = 0;
        else
            ++free;
    }
    return open;
}

std::string makeScratchDirectory(const std::filesystem::path &base, const std::string &prefix) {
    static std::atomic<unsigned> made{0};
    std::mt19937_64 random(
        static_cast<std::uint64_t>(::GetCurrentProcessId()) << 32 ^
        static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
        made++);
    for (int attempt = 0; attempt < 100; ++attempt) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, "%06llx",
                      static_cast<unsigned long long>(random() & 0xffffff));
        const std::string path = (base / (prefix + suffix)).string();
        if (::CreateDirectoryA(path.c_str(), nullptr))
            return path;
        if (::GetLastError() != ERROR_ALREADY_EXISTS)
            return std::string();
    }
    return std::string();
}

bool sharedMemoryObjectsListable() {
    return false;
}

std::vector<std::string> sharedMemoryObjects(const std::string &) {
    return {};
}

bool sharedMemoryObjectExists(const std::string &name) {
    for (const char *space : kNamespaces)
        if (namedObjectExists(space + name))
            return true;
    return false;
}

void removeSharedMemoryObject(const std::string &name) {
    const std::lock_guard<std::mutex> hold(madeLock);
    const auto found = madeObjects().find(name);
    if (found != madeObjects().end()) {
        ::CloseHandle(found->second);
        madeObjects().erase(found);
    }
}

bool makeSharedMemoryObject(const std::string &name, std::size_t size) {
    return keepNewMapping(name, "Local\\" + name, size);
}

bool makeBrokenLock(const std::string &name) {
    // The locks are mutexes in the machine-wide namespace.
    return keepNewMapping(name, "Global\\" + name, 3);
}

std::string sharedMemoryObjectFile(const std::string &) {
    return std::string();
}

std::int64_t residentBytes() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (!::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters))
        return -1;
    return static_cast<std::int64_t>(counters.WorkingSetSize);
}

int watchedDirectoryCount() {
    return -1;
}

std::filesystem::path memoryFileSystemDirectory() {
    return {};
}

std::string fileWithoutExtendedAttributes() {
    return std::string();
}

std::string currentAccountName() {
    char name[UNLEN + 1];
    DWORD size = sizeof name;
    return ::GetUserNameA(name, &size) ? std::string(name) : std::string();
}

bool makeSymbolicLink(const std::string &target, const std::string &link) {
    // Wine takes the call and makes nothing: the link counts only once its
    // reparse point is there.
    constexpr DWORD kWithoutPrivilege = 0x2;  // SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE
    const std::wstring wideTarget = std::filesystem::path(target).make_preferred().wstring();
    const std::wstring wideLink = std::filesystem::path(link).make_preferred().wstring();
    if (!::CreateSymbolicLinkW(wideLink.c_str(), wideTarget.c_str(), kWithoutPrivilege))
        return false;
    const DWORD attributes = ::GetFileAttributesW(wideLink.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool runningUnderWine() {
    const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

std::optional<HostNames> hostNames() {
    return std::nullopt;
}

void setEnvironmentVariable(const std::string &name, const char *value) {
    // The C runtime keeps a copy of the environment of its own: both change.
    ::_putenv_s(name.c_str(), value != nullptr ? value : "");
    ::SetEnvironmentVariableA(name.c_str(), value);
}

const char *librarySearchPathVariable() {
    return "PATH";
}

// A job object limits memory and time, not the size of files.
bool limitOwnFileSize(std::uint64_t) {
    return false;
}

int fileSizeExceededStatus() {
    return -1;
}

GuardedPages::GuardedPages(std::size_t pages) {
    SYSTEM_INFO system;
    ::GetSystemInfo(&system);
    const std::size_t page = system.dwPageSize;
    void *reserved =
        ::VirtualAlloc(nullptr, (pages + 1) * page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    if (reserved == nullptr)
        return;
    base_ = static_cast<char *>(reserved);
    readable_ = pages * page;
    DWORD previous = 0;
    ::VirtualProtect(base_ + readable_, page, PAGE_NOACCESS, &previous);
}

GuardedPages::~GuardedPages() {
    if (base_ != nullptr)
        ::VirtualFree(base_, 0, MEM_RELEASE);
}

// One thread waits for the watchdog's end or its time, whichever comes
// first; only one watchdog is armed at a time, as on POSIX hosts.
namespace {
struct WatchdogState {
    std::mutex lock;
    std::condition_variable changed;
    bool ended = false;
    std::thread waiter;
};
std::unique_ptr<WatchdogState> armed;
}  // namespace

Watchdog::Watchdog(unsigned seconds) {
    armed = std::make_unique<WatchdogState>();
    WatchdogState *state = armed.get();
    state->waiter = std::thread([state, seconds] {
        std::unique_lock<std::mutex> hold(state->lock);
        if (!state->changed.wait_for(hold, std::chrono::seconds(seconds),
                                     [state] { return state->ended; })) {
            std::fprintf(stderr, "watchdog: the test did not finish within %u seconds\n", seconds);
            std::fflush(nullptr);
            ::TerminateProcess(::GetCurrentProcess(), 128 + 14);
        }
    });
}

Watchdog::~Watchdog() {
    {
        const std::lock_guard<std::mutex> hold(armed->lock);
        armed->ended = true;
    }
    armed->changed.notify_all();
    armed->waiter.join();
    armed.reset();
}

bool replaceFile(const std::string &from, const std::string &to) {
    if (::MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING))
        return true;
    if (::GetLastError() != ERROR_ACCESS_DENIED)
        return false;
    // A target that someone holds open is moved aside, as korvo's own
    // replacement does, and goes with its last handle.
    static std::atomic<unsigned> moved{0};
    const std::string aside =
        to + ".replaced-" + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(moved++);
    if (!::MoveFileExA(to.c_str(), aside.c_str(), 0))
        return false;
    if (!::MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        ::MoveFileExA(aside.c_str(), to.c_str(), 0);
        return false;
    }
    const HANDLE old =
        ::CreateFileA(aside.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, 0, nullptr);
    if (old != INVALID_HANDLE_VALUE) {
        FILE_DISPOSITION_INFO gone{TRUE};
        ::SetFileInformationByHandle(old, FileDispositionInfo, &gone, sizeof gone);
        ::CloseHandle(old);
    }
    return true;
}

bool setModificationTime(const std::string &path, std::int64_t seconds, std::int32_t nanoseconds) {
    // Directories open only with backup semantics.
    const HANDLE file = ::CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    // 100-nanosecond intervals since 1601.
    const std::int64_t ticks = seconds * 10000000 + nanoseconds / 100 + 116444736000000000LL;
    FILETIME at;
    at.dwLowDateTime = static_cast<DWORD>(static_cast<std::uint64_t>(ticks));
    at.dwHighDateTime = static_cast<DWORD>(static_cast<std::uint64_t>(ticks) >> 32);
    const bool set = ::SetFileTime(file, nullptr, nullptr, &at) != 0;
    ::CloseHandle(file);
    return set;
}

std::string fileIdentity(const std::string &path) {
    const HANDLE file =
        ::CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return std::string();
    BY_HANDLE_FILE_INFORMATION info;
    const bool known = ::GetFileInformationByHandle(file, &info) != 0;
    ::CloseHandle(file);
    if (!known)
        return std::string();
    const std::uint64_t index =
        static_cast<std::uint64_t>(info.nFileIndexHigh) << 32 | info.nFileIndexLow;
    return std::to_string(info.dwVolumeSerialNumber) + ":" + std::to_string(index);
}

}  // namespace korvo::test
