// File-system steps of the cache.
#include "cds/client/private_files.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

#include "cds/client/descriptor.hpp"

namespace cdsclient {

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

int open_regular(const std::string &path) {
    Descriptor file(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat record {};
    if (file.get() < 0 || ::fstat(file.get(), &record) != 0 || !S_ISREG(record.st_mode))
        return -1;
    ::fcntl(file.get(), F_SETFL, ::fcntl(file.get(), F_GETFL) & ~O_NONBLOCK);
    return file.take();
}

bool write_all(int fd, const char *data, size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

std::optional<std::string> read_small_file(const std::string &path, size_t limit) {
    const Descriptor file(open_regular(path));
    struct stat record {};
    if (file.get() < 0 || ::fstat(file.get(), &record) != 0 ||
        static_cast<uint64_t>(record.st_size) > limit)
        return std::nullopt;
    std::string text(static_cast<size_t>(record.st_size), '\0');
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t got = ::read(file.get(), text.data() + done, text.size() - done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return std::nullopt;
        done += static_cast<size_t>(got);
    }
    return text;
}

bool write_synced_file(const std::string &path, const std::string &text) {
    Descriptor file(
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (file.get() < 0)
        return false;
    return write_all(file.get(), text.data(), text.size()) && ::fsync(file.get()) == 0 &&
           ::close(file.take()) == 0;
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

}  // namespace cdsclient
