// Files through a POSIX host: open(2) and its flags, pread/pwrite, stat with
// 64-bit sizes (checked below), statx for the cheap check, and unlink(2),
// which leaves open descriptors working (renames: host_replace_posix.cc).
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>

#include "kes/host_file.hpp"

namespace korvo::host {

namespace {

static_assert(sizeof(off_t) == 8, "files are addressed with 64-bit offsets");

template <typename Call>
auto Retry(Call call) {
    for (;;) {
        auto result = call();
        if (result != -1 || errno != EINTR)
            return result;
    }
}

std::size_t Clamp(std::size_t count) {
    return count > SSIZE_MAX ? SSIZE_MAX : count;
}

FileKind KindOfMode(mode_t mode) {
    if (S_ISREG(mode))
        return FileKind::kRegular;
    if (S_ISDIR(mode))
        return FileKind::kDirectory;
    if (S_ISLNK(mode))
        return FileKind::kSymlink;
    return FileKind::kOther;
}

bool Fill(const struct stat &status, FileInfo *info) {
    info->kind = KindOfMode(status.st_mode);
    info->size = static_cast<int64_t>(status.st_size);
    info->links = static_cast<uint64_t>(status.st_nlink);
    info->modified_seconds = static_cast<int64_t>(status.st_mtim.tv_sec);
    info->modified_nanoseconds = static_cast<int32_t>(status.st_mtim.tv_nsec);
    info->owned_by_self = status.st_uid == ::geteuid();
    info->device = static_cast<uint64_t>(status.st_dev);
    info->inode = static_cast<uint64_t>(status.st_ino);
    return true;
}

}  // namespace

int HostOpenFlags(unsigned flags) noexcept {
    int host = 0;
    if ((flags & kOpenReadWrite) != 0)
        host |= O_RDWR;
    else if ((flags & kOpenWrite) != 0)
        host |= O_WRONLY;
    else
        host |= O_RDONLY;
    if ((flags & kOpenCreate) != 0)
        host |= O_CREAT;
    if ((flags & kOpenExclusive) != 0)
        host |= O_EXCL;
    if ((flags & kOpenTruncate) != 0)
        host |= O_TRUNC;
    if ((flags & kOpenAppend) != 0)
        host |= O_APPEND;
    if ((flags & kOpenNoFollow) != 0)
        host |= O_NOFOLLOW;
    if ((flags & kOpenNonBlock) != 0)
        host |= O_NONBLOCK;
    if ((flags & kOpenDirectory) != 0)
        host |= O_DIRECTORY;
    if ((flags & kOpenNoTerminal) != 0)
        host |= O_NOCTTY;
    return host;
}

int OpenFile(const char *path, unsigned flags, unsigned mode) noexcept {
    if (path == nullptr) {
        errno = EFAULT;
        return -1;
    }
    return Retry(
        [&] { return ::open(path, HostOpenFlags(flags) | O_CLOEXEC, static_cast<mode_t>(mode)); });
}

int OpenFileHostFlags(const char *path, int host_flags, unsigned mode) noexcept {
    if (path == nullptr) {
        errno = EFAULT;
        return -1;
    }
    return Retry([&] { return ::open(path, host_flags | O_CLOEXEC, static_cast<mode_t>(mode)); });
}

std::FILE *StreamOfFile(int fd, const char *mode) noexcept {
    return ::fdopen(fd, mode);
}

bool CloseFile(int fd) noexcept {
    // Linux releases the descriptor even when close reports EINTR: never
    // close it a second time.
    return ::close(fd) == 0;
}

int64_t ReadFile(int fd, void *buffer, std::size_t count) noexcept {
    return Retry([&] { return ::read(fd, buffer, Clamp(count)); });
}

int64_t WriteFile(int fd, const void *buffer, std::size_t count) noexcept {
    return Retry([&] { return ::write(fd, buffer, Clamp(count)); });
}

int64_t ReadFileAt(int fd, void *buffer, std::size_t count, int64_t offset) noexcept {
    return Retry([&] { return ::pread(fd, buffer, Clamp(count), static_cast<off_t>(offset)); });
}

int64_t WriteFileAt(int fd, const void *buffer, std::size_t count, int64_t offset) noexcept {
    return Retry([&] { return ::pwrite(fd, buffer, Clamp(count), static_cast<off_t>(offset)); });
}

int64_t SeekFile(int fd, int64_t offset) noexcept {
    return ::lseek(fd, static_cast<off_t>(offset), SEEK_SET);
}

int64_t SeekFileFrom(int fd, int64_t offset, int whence) noexcept {
    return ::lseek(fd, static_cast<off_t>(offset), whence);
}

bool IsOpenFile(int fd) noexcept {
    return ::fcntl(fd, F_GETFD) != -1;
}

bool TryLockWholeFile(int fd) noexcept {
    return Retry([&] { return ::flock(fd, LOCK_EX | LOCK_NB); }) == 0;
}

void UnlockWholeFile(int fd) noexcept {
    ::flock(fd, LOCK_UN);
}

bool TruncateFile(int fd, int64_t size) noexcept {
    return Retry([&] { return ::ftruncate(fd, static_cast<off_t>(size)); }) == 0;
}

bool SyncFile(int fd) noexcept {
    return Retry([&] { return ::fsync(fd); }) == 0;
}

bool SyncDirectory(const char *path) noexcept {
    const int directory = OpenFile(path, kOpenRead | kOpenDirectory);
    if (directory < 0)
        return false;
    const bool synced = SyncFile(directory);
    const int saved = errno;
    ::close(directory);
    errno = saved;
    return synced;
}

bool MakeBlocking(int fd) noexcept {
    const int flags = ::fcntl(fd, F_GETFL);
    return flags != -1 && ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != -1;
}

bool StatPath(const char *path, FileInfo *info) noexcept {
    struct stat status;
    if (path == nullptr) {
        errno = EFAULT;
        return false;
    }
    return ::stat(path, &status) == 0 && Fill(status, info);
}

bool StatLink(const char *path, FileInfo *info) noexcept {
    struct stat status;
    if (path == nullptr) {
        errno = EFAULT;
        return false;
    }
    return ::lstat(path, &status) == 0 && Fill(status, info);
}

bool StatFile(int fd, FileInfo *info) noexcept {
    struct stat status;
    return ::fstat(fd, &status) == 0 && Fill(status, info);
}

bool BriefStatFile(int fd, FileBrief *brief) noexcept {
    // statx asked for the type, size and link count only: the kernel fills
    // no more than that.
    struct statx status;
    if (::statx(fd, "", AT_EMPTY_PATH, STATX_TYPE | STATX_SIZE | STATX_NLINK, &status) != 0)
        return false;
    brief->regular = S_ISREG(status.stx_mode);
    brief->size = static_cast<int64_t>(status.stx_size);
    brief->links = static_cast<uint64_t>(status.stx_nlink);
    return true;
}

bool ReplacedFilesKeepAName() noexcept {
    return false;
}

bool PathNamesFile(const char *path, int fd) noexcept {
    struct stat named, held;
    return ::stat(path, &named) == 0 && ::fstat(fd, &held) == 0 && named.st_dev == held.st_dev &&
           named.st_ino == held.st_ino;
}

bool RemoveFile(const char *path) noexcept {
    if (path == nullptr) {
        errno = EFAULT;
        return false;
    }
    return ::unlink(path) == 0;
}

bool MakeDirectory(const char *path, unsigned mode) noexcept {
    if (path == nullptr) {
        errno = EFAULT;
        return false;
    }
    return ::mkdir(path, static_cast<mode_t>(mode)) == 0;
}

bool RemoveEmptyDirectory(const char *path) noexcept {
    if (path == nullptr) {
        errno = EFAULT;
        return false;
    }
    return ::rmdir(path) == 0;
}

bool CurrentDirectory(char *buffer, std::size_t size) noexcept {
    return ::getcwd(buffer, size) != nullptr;
}

bool ChangeDirectory(const char *path) noexcept {
    if (path == nullptr) {
        errno = EFAULT;
        return false;
    }
    return ::chdir(path) == 0;
}

bool CheckAccess(const char *path, int mode) noexcept {
    if (path == nullptr) {
        errno = EFAULT;
        return false;
    }
    return ::access(path, mode) == 0;
}

}  // namespace korvo::host
