#include "receive_outputs.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "failure.hpp"
#include "output.hpp"
#include "properties/korvo_keys.h"

namespace korvo::cli {

namespace {

std::string system_error(const std::string &what) {
    return what + ": " + std::strerror(errno);
}

const char *kind_of(mode_t mode) {
    if (S_ISLNK(mode))
        return "a symbolic link";
    if (S_ISDIR(mode))
        return "a directory";
    if (S_ISFIFO(mode))
        return "a FIFO";
    if (S_ISSOCK(mode))
        return "a socket";
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return "a device";
    return "not a regular file";
}

}  // namespace

OutputFiles::OutputFiles(const std::string &out, const DistributionToc &toc) : out_(out) {
    for (uint32_t i = 0; i < toc.size(); ++i) {
        std::string id = segment_text(toc.segment(i), SEGMENT_ID_KEY);
        if (id.empty() || id == "." || id == ".." || id.find('/') != std::string::npos)
            throw Failure(kExitFailed, "the segment id " + quote_text(id) + " is no file name");
        names_.push_back(std::move(id));
    }
    std::error_code error;
    std::filesystem::create_directories(out, error);
    dir_ = ::open(out.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir_ < 0)
        throw Failure(kExitFailed, "cannot make the output directory " + out + ": " +
                                       (error ? error.message() : std::strerror(errno)));
    seen_.resize(names_.size());
    fds_.assign(names_.size(), -1);
}

OutputFiles::~OutputFiles() {
    for (int fd : fds_)
        if (fd >= 0)
            ::close(fd);
    if (dir_ >= 0)
        ::close(dir_);
}

OutputFiles::Identity OutputFiles::inspect(uint32_t i) const {
    struct stat status {};
    if (::fstatat(dir_, names_[i].c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT)
            return {};
        throw Failure(kExitFailed, system_error("cannot examine " + path(i)));
    }
    if (!S_ISREG(status.st_mode))
        throw Failure(kExitFailed, path(i) + " is " + kind_of(status.st_mode) +
                                       ": korvo receive writes only regular files of its own "
                                       "in the output folder; move it away or choose another "
                                       "folder");
    if (status.st_nlink > 1)
        throw Failure(kExitFailed, path(i) + " has " + std::to_string(status.st_nlink) +
                                       " names (hard links): korvo receive writes only "
                                       "regular files of its own in the output folder, and "
                                       "writing this one would change the others too; move it "
                                       "away or choose another folder");
    return {true, status.st_dev, status.st_ino, static_cast<uint64_t>(status.st_size)};
}

uint64_t OutputFiles::on_disk(uint32_t i) {
    seen_[i] = inspect(i);
    return seen_[i].size;
}

void OutputFiles::refuse_input(const std::string &input, const std::string &segment) const {
    struct stat status {};
    if (::stat(input.c_str(), &status) != 0)
        return;  // nothing there: the read will say so
    for (uint32_t i = 0; i < size(); ++i) {
        if (seen_[i].exists && seen_[i].device == status.st_dev && seen_[i].inode == status.st_ino)
            throw Failure(kExitFailed,
                          "the output " + path(i) + " is the file " + input +
                              (segment.empty() ? std::string(" (the TOC file)")
                                               : " that segment " + segment + " is read from") +
                              ": receiving would destroy it; choose another "
                              "output folder");
    }
}

void OutputFiles::open_all(const std::vector<uint64_t> &keep) {
    for (uint32_t i = 0; i < size(); ++i) {
        // O_NONBLOCK: a FIFO put there since the check must not hold the
        // receive; O_NOFOLLOW: nor may a link lead it anywhere.
        int fd = ::openat(dir_, names_[i].c_str(),
                          O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
        if (fd < 0)
            throw Failure(kExitFailed, system_error("cannot write " + path(i)));
        fds_[i] = fd;
        struct stat status {};
        if (::fstat(fd, &status) != 0)
            throw Failure(kExitFailed, system_error("cannot examine " + path(i)));
        if (!S_ISREG(status.st_mode) || status.st_nlink > 1 ||
            (seen_[i].exists &&
             (seen_[i].device != status.st_dev || seen_[i].inode != status.st_ino)))
            throw Failure(kExitFailed, path(i) +
                                           " was replaced while the receive started; "
                                           "run the command again");
        ::fcntl(fd, F_SETFL, 0);
        // Cut only what is too long: cutting a file (even an empty one to 0)
        // makes ext4 start writing it back when it is closed, which stalls
        // the end of a receive for as long as the disk takes.
        if (static_cast<uint64_t>(status.st_size) != keep[i])
            cut(i, keep[i]);
    }
}

void OutputFiles::write(uint32_t i, uint64_t at, const char *data, size_t length) {
    while (length > 0) {
        ssize_t written = ::pwrite(fds_[i], data, length, static_cast<off_t>(at));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            throw Failure(kExitFailed, system_error("cannot write " + path(i)));
        data += written;
        at += static_cast<uint64_t>(written);
        length -= static_cast<size_t>(written);
    }
}

void OutputFiles::cut(uint32_t i, uint64_t length) {
    if (::ftruncate(fds_[i], static_cast<off_t>(length)) != 0)
        throw Failure(kExitFailed, system_error("cannot write " + path(i)));
}

void OutputFiles::sync_all() const {
    for (uint32_t i = 0; i < size(); ++i)
        if (fds_[i] >= 0 && ::fsync(fds_[i]) != 0)
            throw Failure(kExitFailed, system_error("cannot flush " + path(i) + " to disk"));
    if (::fsync(dir_) != 0)
        throw Failure(kExitFailed, system_error("cannot flush the folder " + out_ + " to disk"));
}

}  // namespace korvo::cli
