#include "receive_outputs.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "failure.hpp"
#include "host_files.hpp"
#include "output.hpp"
#include "properties/korvo_keys.h"

namespace korvo::cli {

namespace {

std::string system_error(const std::string &what) {
    return what + ": " + std::strerror(errno);
}

const char *kind_of(const struct stat &status) {
    const auto mode = status.st_mode;
    if (host::is_link(status))
        return "a symbolic link";
    if (S_ISDIR(mode))
        return "a directory";
    if (S_ISFIFO(mode))
        return "a FIFO";
    if (host::is_socket(status))
        return "a socket";
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return "a device";
    return "not a regular file";
}

}  // namespace

OutputFiles::OutputFiles(const std::string &out, const DistributionToc &toc) : out_(out) {
    for (uint32_t i = 0; i < toc.size(); ++i) {
        std::string id = segment_text(toc.segment(i), SEGMENT_ID_KEY);
        if (id.empty() || id == "." || id == ".." ||
            id.find_first_of(host::kPathSeparators) != std::string::npos)
            throw Failure(kExitFailed, "the segment id " + quote_text(id) + " is no file name");
        names_.push_back(std::move(id));
    }
    std::error_code error;
    std::filesystem::create_directories(out, error);
    if (dir_.open(out) != 0)
        throw Failure(kExitFailed, "cannot make the output directory " + out + ": " +
                                       (error ? error.message() : std::strerror(errno)));
    seen_.resize(names_.size());
    fds_.assign(names_.size(), -1);
}

OutputFiles::~OutputFiles() {
    for (int fd : fds_)
        if (fd >= 0)
            ::close(fd);
}

OutputFiles::Identity OutputFiles::inspect(uint32_t i) const {
    struct stat status {};
    host::FileIdentity identity;
    if (dir_.inspect(names_[i], status, identity) != 0) {
        if (errno == ENOENT)
            return {};
        throw Failure(kExitFailed, system_error("cannot examine " + path(i)));
    }
    if (host::is_link(status) || !S_ISREG(status.st_mode))
        throw Failure(kExitFailed, path(i) + " is " + kind_of(status) +
                                       ": korvo receive writes only regular files of its own "
                                       "in the output folder; move it away or choose another "
                                       "folder");
    if (identity.links > 1)
        throw Failure(kExitFailed, path(i) + " has " + std::to_string(identity.links) +
                                       " names (hard links): korvo receive writes only "
                                       "regular files of its own in the output folder, and "
                                       "writing this one would change the others too; move it "
                                       "away or choose another folder");
    return {true, identity.device, identity.inode, static_cast<uint64_t>(status.st_size)};
}

uint64_t OutputFiles::on_disk(uint32_t i) {
    seen_[i] = inspect(i);
    return seen_[i].size;
}

void OutputFiles::refuse_input(const std::string &input, const std::string &segment) const {
    host::FileIdentity input_identity;
    if (host::identity_of(input, input_identity) != 0)
        return;  // nothing there: the read will say so
    for (uint32_t i = 0; i < size(); ++i) {
        if (seen_[i].exists && seen_[i].device == input_identity.device &&
            seen_[i].inode == input_identity.inode)
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
        // Never through a link, and never held by a FIFO put there since
        // the check.
        int fd = dir_.open_write(names_[i], 0644);
        if (fd < 0)
            throw Failure(kExitFailed, system_error("cannot write " + path(i)));
        fds_[i] = fd;
        struct stat status {};
        host::FileIdentity identity;
        if (::fstat(fd, &status) != 0 || host::identity_of(fd, identity) != 0)
            throw Failure(kExitFailed, system_error("cannot examine " + path(i)));
        if (!S_ISREG(status.st_mode) || identity.links > 1 ||
            (seen_[i].exists &&
             (seen_[i].device != identity.device || seen_[i].inode != identity.inode)))
            throw Failure(kExitFailed, path(i) +
                                           " was replaced while the receive started; "
                                           "run the command again");
        // Cut only what is too long: cutting a file (even an empty one to 0)
        // makes ext4 start writing it back when it is closed, which stalls
        // the end of a receive for as long as the disk takes.
        if (static_cast<uint64_t>(status.st_size) != keep[i])
            cut(i, keep[i]);
    }
}

void OutputFiles::write(uint32_t i, uint64_t at, const char *data, size_t length) {
    while (length > 0) {
        int64_t written = host::write_at(fds_[i], data, length, at);
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
    if (host::cut_file(fds_[i], length) != 0)
        throw Failure(kExitFailed, system_error("cannot write " + path(i)));
}

void OutputFiles::sync_all() const {
    for (uint32_t i = 0; i < size(); ++i)
        if (fds_[i] >= 0 && host::flush_file(fds_[i]) != 0)
            throw Failure(kExitFailed, system_error("cannot flush " + path(i) + " to disk"));
    if (dir_.flush() != 0)
        throw Failure(kExitFailed, system_error("cannot flush the folder " + out_ + " to disk"));
}

}  // namespace korvo::cli
