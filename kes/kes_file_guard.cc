// Guarded opens and reads, advisory file locks, shared directories and the
// cached process id (see kes_file_guard.hpp).
#include "kes/kes_file_guard.hpp"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "kes/kes_fd.hpp"
#include "kes/kes_file_cell.hpp"
#include "kes/kes_host_path.hpp"
#include "kes/kes_status.hpp"

namespace korvo::kes {
namespace {

// KesFileOpen's flags, without truncation (which waits for the check of
// the file's type), never following a link at the last component and never
// waiting for a FIFO's other end.
// -1 for flags that name no access mode.
int HostFlags(int32_t flags) {
    const int host = HostOpenFlags(flags);
    return host == -1 ? -1 : (host & ~O_TRUNC) | O_NOFOLLOW | O_NONBLOCK;
}

std::atomic<pid_t> cachedProcessId{0};

void ForgetProcessId() {
    cachedProcessId.store(0, std::memory_order_relaxed);
}

}  // namespace

KesStatus *OpenRegularFile(KesStatus *status, KesFile *file, const char *path, int32_t flags,
                           int64_t *size) {
    if (file != nullptr)
        *file = nullptr;
    if (file == nullptr || path == nullptr)
        return FillStatus(status, KES_INVALID, 0, 1);
    const HostPath host(path, HostPath::Foreign::kRefuse);
    if (!host.usable())
        return FillStatus(status, KES_INVALID, 0, 2);
    // Truncation waits until the file is known to be regular: O_TRUNC on a
    // FIFO or device would act before the check.
    const int hostFlags = HostFlags(flags);
    if (hostFlags == -1)
        return FillStatus(status, KES_SYSTEM_ERROR, EINVAL, 3);
    UniqueFd fd(RetryInterrupted(
        [&] { return ::open(host.c_str(), hostFlags, static_cast<mode_t>(kSharedFileMode)); }));
    if (!fd)
        return SystemError(status, 3);
    // A file this open created is regular; anything else is looked at. The
    // flag that kept the open from waiting means nothing for a regular file.
    const bool created = (flags & KES_FILE_CREATE) != 0 && (flags & KES_FILE_EXCLUSIVE) != 0;
    struct stat info {};
    if (!created && ::fstat(fd.get(), &info) != 0)
        return SystemError(status, 3);
    if (!created && !S_ISREG(info.st_mode))
        return FillStatus(status, KES_SYSTEM_ERROR, S_ISDIR(info.st_mode) ? EISDIR : ENXIO, 3);
    if (size != nullptr)
        *size = created ? 0 : info.st_size;
    if ((flags & KES_FILE_TRUNCATE) != 0 &&
        RetryInterrupted([&] { return ::ftruncate(fd.get(), 0); }) != 0)
        return SystemError(status, 3);
    KesFile cell = NewFileCell(fd.get());
    if (cell == nullptr)
        return FillStatus(status, KES_NO_MEMORY, 0, 3);
    static_cast<void>(fd.release());
    *file = cell;
    return FillStatus(status, KES_OK, 0, 0);
}

ReadStep ReadRegularFile(const char *path, size_t limit, std::string *text, KesStatus *status) {
    KesFile file = nullptr;
    int64_t size = 0;
    if (OpenRegularFile(status, &file, path, KES_FILE_READ, &size)->code != KES_OK)
        return ReadStep::kOpen;
    UniqueFd fd(file->descriptor);
    KesMemoryFree(file);
    if (size < 0 || static_cast<uint64_t>(size) > limit) {
        FillStatus(status, KES_SYSTEM_ERROR, EFBIG, 2);
        return ReadStep::kSize;
    }
    try {
        text->resize(static_cast<size_t>(size));
    } catch (const std::exception &) {
        FillStatus(status, KES_NO_MEMORY, 0, 0);
        return ReadStep::kMemory;
    }
    size_t total = 0;
    while (total < text->size()) {
        const ssize_t got = RetryInterrupted(
            [&] { return ::read(fd.get(), text->data() + total, text->size() - total); });
        if (got < 0) {
            SystemError(status, 2);
            return ReadStep::kRead;
        }
        if (got == 0)
            break;
        total += static_cast<size_t>(got);
    }
    text->resize(total);
    FillStatus(status, KES_OK, 0, 0);
    return ReadStep::kNone;
}

bool TryLockFile(KesFile file) {
    return file != nullptr &&
           RetryInterrupted([&] { return ::flock(file->descriptor, LOCK_EX | LOCK_NB); }) == 0;
}

void UnlockFile(KesFile file) {
    if (file != nullptr)
        ::flock(file->descriptor, LOCK_UN);
}

bool PathExists(const char *path) {
    struct stat info {};
    const HostPath host(path, HostPath::Foreign::kRefuse);
    return host.usable() && ::lstat(host.c_str(), &info) == 0;
}

bool IdentityOf(const char *path, FileIdentity *identity) {
    struct stat info {};
    const HostPath host(path, HostPath::Foreign::kPassUnchanged);
    if (!host.usable() || ::stat(host.c_str(), &info) != 0)
        return false;
    *identity = FileIdentity{info.st_dev, info.st_ino};
    return true;
}

KesStatus *CreateSharedDirectory(KesStatus *status, const char *path) {
    const HostPath host(path, HostPath::Foreign::kPassUnchanged);
    if (!host.usable())
        return FillStatus(status, KES_INVALID, 0, 0);
    if (::mkdir(host.c_str(), static_cast<mode_t>(kSharedDirectoryMode)) != 0)
        return SystemError(status, 1);
    return FillStatus(status, KES_OK, 0, 0);
}

pid_t ProcessId() {
    pid_t pid = cachedProcessId.load(std::memory_order_relaxed);
    if (pid == 0) {
        static const int registered = ::pthread_atfork(nullptr, nullptr, ForgetProcessId);
        static_cast<void>(registered);
        pid = ::getpid();
        cachedProcessId.store(pid, std::memory_order_relaxed);
    }
    return pid;
}

bool ProcessEnded(pid_t pid) {
    return ::kill(pid, 0) != 0 && errno == ESRCH;
}

}  // namespace korvo::kes
