#include <fcntl.h>
#include <sys/file.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>

#include "host_files.hpp"

namespace korvo::cli::host {

int lstat_path(const std::string &path, struct stat &status) {
    return ::lstat(path.c_str(), &status);
}

bool is_link(const struct stat &status) {
    return S_ISLNK(status.st_mode);
}

bool is_socket(const struct stat &status) {
    return S_ISSOCK(status.st_mode);
}

namespace {

FileIdentity identity_from(const struct stat &status) {
    return {static_cast<uint64_t>(status.st_dev), static_cast<uint64_t>(status.st_ino),
            static_cast<uint64_t>(status.st_nlink)};
}

}  // namespace

int identity_of(int fd, FileIdentity &identity) {
    struct stat status {};
    if (::fstat(fd, &status) != 0)
        return -1;
    identity = identity_from(status);
    return 0;
}

int identity_of(const std::string &path, FileIdentity &identity) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0)
        return -1;
    identity = identity_from(status);
    return 0;
}

int open_read_no_follow(const std::string &path) {
    return ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
}

int open_write_no_follow(const std::string &path, int mode) {
    return ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC,
                  static_cast<mode_t>(mode));
}

int64_t read_at(int fd, void *data, size_t length, uint64_t at) {
    return ::pread(fd, data, length, static_cast<off_t>(at));
}

int64_t write_at(int fd, const void *data, size_t length, uint64_t at) {
    return ::pwrite(fd, data, length, static_cast<off_t>(at));
}

int cut_file(int fd, uint64_t length) {
    return ::ftruncate(fd, static_cast<off_t>(length));
}

int flush_file(int fd) {
    return ::fsync(fd);
}

int flush_named(const std::string &path) {
    const int fd = open_read_no_follow(path);
    if (fd < 0)
        return -1;
    const bool flushed = ::fsync(fd) == 0;
    const int why = errno;
    ::close(fd);
    errno = why;
    return flushed ? 0 : -1;
}

int try_lock_exclusive(int fd) {
    return ::flock(fd, LOCK_EX | LOCK_NB) == 0 ? 0 : errno;
}

int make_private_dir(const std::string &path) {
    return ::mkdir(path.c_str(), 0700);
}

size_t longest_file_name(const std::string &dir) {
    long name_max = ::pathconf(dir.c_str(), _PC_NAME_MAX);
    return name_max < 0 ? 255 : static_cast<size_t>(name_max);
}

bool volume_space(const std::string &dir, uint64_t &available, uint64_t &total) {
    struct statvfs fs {};
    if (statvfs(dir.c_str(), &fs) != 0)
        return false;
    available = static_cast<uint64_t>(fs.f_bavail) * fs.f_frsize;
    total = static_cast<uint64_t>(fs.f_blocks) * fs.f_frsize;
    return true;
}

FolderHandle::~FolderHandle() {
    if (fd_ >= 0)
        ::close(fd_);
}

int FolderHandle::open(const std::string &path) {
    path_ = path;
    fd_ = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    return fd_ < 0 ? -1 : 0;
}

int FolderHandle::inspect(const std::string &name, struct stat &status,
                          FileIdentity &identity) const {
    if (::fstatat(fd_, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0)
        return -1;
    identity = identity_from(status);
    return 0;
}

int FolderHandle::open_write(const std::string &name, int mode) const {
    // O_NONBLOCK: a FIFO put there since the check must not hold the
    // caller; O_NOFOLLOW: nor may a link lead it anywhere. Writes block
    // again once it is open.
    const int fd =
        ::openat(fd_, name.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC,
                 static_cast<mode_t>(mode));
    if (fd >= 0)
        ::fcntl(fd, F_SETFL, 0);
    return fd;
}

int FolderHandle::flush() const {
    return ::fsync(fd_);
}

}  // namespace korvo::cli::host
