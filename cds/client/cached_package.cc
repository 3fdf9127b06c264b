// Checking, keeping and forgetting cached packages.
#include "cds/client/cached_package.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "cds/client/descriptor.hpp"
#include "cds/client/private_files.hpp"
#include "cds/client/sha256.hpp"

namespace cdsclient {

std::optional<CheckRecord> read_check_record(const CacheRoot &root, std::string_view id) {
    const std::optional<std::string> text =
        read_small_file(root.check_file(id), CheckRecord::kMaxText);
    if (!text)
        return std::nullopt;
    return CheckRecord::decode(*text);
}

bool package_matches(const CacheRoot &root, std::string_view id, const CheckRecord &record,
                     bool digest) {
    const Descriptor file(open_regular(root.package_file(id)));
    struct stat status {};
    if (file.get() < 0 || ::fstat(file.get(), &status) != 0 || status.st_uid != ::geteuid() ||
        static_cast<uint64_t>(status.st_ino) != record.inode ||
        static_cast<uint64_t>(status.st_size) != record.size)
        return false;
    if (!digest || !record.sha256)
        return true;
    Sha256 hash;
    std::vector<char> buffer(1 << 20);
    uint64_t total = 0;
    for (;;) {
        const ssize_t got = ::read(file.get(), buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return false;
        if (got == 0)
            break;
        hash.update(buffer.data(), static_cast<size_t>(got));
        total += static_cast<uint64_t>(got);
    }
    return total == record.size && hash.finish() == *record.sha256;
}

bool forget_package(const CacheRoot &root, std::string_view id) {
    ::unlink(root.check_file(id).c_str());
    const std::string package = root.package_file(id);
    if (::unlink(package.c_str()) == 0 || errno == ENOENT)
        return true;
    // A directory in the package's place: only an empty one goes.
    return ::rmdir(package.c_str()) == 0;
}

bool keep_package(const CacheRoot &root, std::string_view id, int fd, const std::string &part,
                  CheckRecord record, const std::string &scratch) {
    struct stat status {};
    if (::fsync(fd) != 0 || ::fstat(fd, &status) != 0)
        return false;
    record.inode = static_cast<uint64_t>(status.st_ino);
    record.size = static_cast<uint64_t>(status.st_size);
    if (!write_synced_file(scratch, record.encode()))
        return false;
    // The package first: a record without its package vouches for nothing,
    // while a package without a record is not answered.
    if (::rename(part.c_str(), root.package_file(id).c_str()) != 0)
        return false;
    sync_directory(root.files_directory());
    if (::rename(scratch.c_str(), root.check_file(id).c_str()) != 0)
        return false;
    sync_directory(root.checks_directory());
    return true;
}

}  // namespace cdsclient
