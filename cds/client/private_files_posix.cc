// File-system steps of the cache on POSIX.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

#include "cds/client/private_files.hpp"

namespace cdsclient {

namespace {

// The regular file open as `file`, made blocking again; -1 when it is
// anything else.
int regular_only(Descriptor file) {
    struct stat record {};
    if (file.get() < 0 || ::fstat(file.get(), &record) != 0 || !S_ISREG(record.st_mode))
        return -1;
    ::fcntl(file.get(), F_SETFL, ::fcntl(file.get(), F_GETFL) & ~O_NONBLOCK);
    return file.take();
}

}  // namespace

bool make_private_directory(const std::string &path) {
    if (::mkdir(path.c_str(), 0700) == 0)
        return true;
    if (errno != EEXIST)
        return false;
    const Descriptor directory(
        ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat record {};
    if (directory.get() < 0 || ::fstat(directory.get(), &record) != 0 || !S_ISDIR(record.st_mode) ||
        record.st_uid != ::geteuid())
        return false;
    if ((record.st_mode & 077) != 0 && ::fchmod(directory.get(), record.st_mode & 0700) != 0)
        return false;
    return true;
}

bool create_private_directory(const std::string &path) {
    return ::mkdir(path.c_str(), 0700) == 0;
}

int open_regular(const std::string &path) {
    return regular_only(
        Descriptor(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC)));
}

int open_upload_source(const char *path, uint64_t *size) {
    // Non-blocking open: a FIFO in the file's place must not hold the caller.
    Descriptor file(regular_only(Descriptor(::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK))));
    struct stat record {};
    if (file.get() < 0 || ::fstat(file.get(), &record) != 0)
        return -1;
    *size = static_cast<uint64_t>(record.st_size);
    return file.take();
}

int64_t read_some(int fd, char *buffer, size_t size) {
    for (;;) {
        const ssize_t got = ::read(fd, buffer, size);
        if (got >= 0 || errno != EINTR)
            return got;
    }
}

int create_private_file(const std::string &path) {
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
}

void start_writeback(int fd, uint64_t offset, uint64_t length) {
    ::sync_file_range(fd, static_cast<off_t>(offset), static_cast<off_t>(length),
                      SYNC_FILE_RANGE_WRITE);
}

bool sync_file(int fd) {
    return ::fsync(fd) == 0;
}

std::optional<FileIdentity> identify_file(int fd) {
    struct stat record {};
    if (::fstat(fd, &record) != 0)
        return std::nullopt;
    return FileIdentity{record.st_uid == ::geteuid(), static_cast<uint64_t>(record.st_ino),
                        static_cast<uint64_t>(record.st_size)};
}

bool replace_file(const std::string &from, const std::string &to) {
    return ::rename(from.c_str(), to.c_str()) == 0;
}

bool remove_file(const std::string &path) {
    return ::unlink(path.c_str()) == 0 || errno == ENOENT;
}

bool remove_empty_directory(const std::string &path) {
    return ::rmdir(path.c_str()) == 0;
}

void sync_directory(const std::string &path) {
    const Descriptor directory(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (directory.get() >= 0)
        ::fsync(directory.get());
}

std::optional<uint64_t> free_bytes(int fd) {
    struct statvfs record {};
    if (::fstatvfs(fd, &record) != 0)
        return std::nullopt;
    return static_cast<uint64_t>(record.f_bavail) * record.f_frsize;
}

void remove_directory(const std::string &path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        // Not a directory of ours (a link, a file, a FIFO with its name):
        // the name goes, whatever it points to stays.
        ::unlink(path.c_str());
        return;
    }
    struct Closer {
        void operator()(DIR *dir) const { ::closedir(dir); }
    };
    const std::unique_ptr<DIR, Closer> dir(::fdopendir(fd));
    if (!dir) {
        ::close(fd);
        return;
    }
    while (const dirent *entry = ::readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        if (::unlinkat(fd, name.c_str(), 0) != 0)
            ::unlinkat(fd, name.c_str(), AT_REMOVEDIR);
    }
    ::rmdir(path.c_str());
}

bool is_regular_file(const std::string &path) {
    struct stat record {};
    return ::lstat(path.c_str(), &record) == 0 && S_ISREG(record.st_mode);
}

bool path_missing(const std::string &path) {
    struct stat record {};
    return ::lstat(path.c_str(), &record) != 0 && errno == ENOENT;
}

std::vector<std::string> directory_names(const std::string &path, size_t limit) {
    std::vector<std::string> names;
    struct Closer {
        void operator()(DIR *dir) const { ::closedir(dir); }
    };
    const std::unique_ptr<DIR, Closer> dir(::opendir(path.c_str()));
    if (!dir)
        return names;
    while (const dirent *entry = ::readdir(dir.get())) {
        if (names.size() == limit)
            break;
        names.emplace_back(entry->d_name);
    }
    return names;
}

bool random_bytes(unsigned char *bytes, size_t size) {
    size_t got = 0;
    while (got < size) {
        const ssize_t more = ::getrandom(bytes + got, size - got, 0);
        if (more < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        got += static_cast<size_t>(more);
    }
    return true;
}

// The lock is made as <base>.new, locked, and only then linked to
// <base>.lock, so that it never appears unheld. A cleaner that took the
// fresh file's lock first removes it: then the lock or the link fails and
// another name is tried.
int create_held_lock(const std::string &base, bool &retry) {
    retry = false;
    const std::string fresh = base + ".new";
    Descriptor lock(
        ::open(fresh.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (lock.get() < 0) {
        retry = errno == EEXIST;
        return -1;
    }
    const bool locked = ::flock(lock.get(), LOCK_EX | LOCK_NB) == 0;
    const bool linked = locked && ::link(fresh.c_str(), (base + ".lock").c_str()) == 0;
    if (locked)
        ::unlink(fresh.c_str());
    if (!linked) {
        retry = true;
        return -1;
    }
    return lock.take();
}

int hold_lock_if_free(const std::string &path) {
    Descriptor file(open_regular(path));
    if (file.get() < 0 || ::flock(file.get(), LOCK_EX | LOCK_NB) != 0)
        return -1;
    return file.take();
}

void remove_held_lock(Descriptor &lock, const std::string &path) {
    // The name goes while the lock is still held, so that nobody takes a
    // lock that is about to disappear.
    ::unlink(path.c_str());
    const Descriptor closing(std::move(lock));
}

}  // namespace cdsclient
