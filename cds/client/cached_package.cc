// Checking, keeping and forgetting cached packages.
#include "cds/client/cached_package.hpp"

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
    if (file.get() < 0)
        return false;
    const std::optional<FileIdentity> identity = identify_file(file.get());
    if (!identity || !identity->ours || identity->id != record.inode ||
        identity->size != record.size)
        return false;
    if (!digest || !record.sha256)
        return true;
    Sha256 hash;
    std::vector<char> buffer(1 << 20);
    uint64_t total = 0;
    for (;;) {
        const int64_t got = read_some(file.get(), buffer.data(), buffer.size());
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
    remove_file(root.check_file(id));
    const std::string package = root.package_file(id);
    if (remove_file(package))
        return true;
    // A directory in the package's place: only an empty one goes.
    return remove_empty_directory(package);
}

bool keep_package(const CacheRoot &root, std::string_view id, int fd, const std::string &part,
                  CheckRecord record, const std::string &scratch) {
    if (!sync_file(fd))
        return false;
    const std::optional<FileIdentity> identity = identify_file(fd);
    if (!identity)
        return false;
    record.inode = identity->id;
    record.size = identity->size;
    if (!write_synced_file(scratch, record.encode()))
        return false;
    // The package first: a record without its package vouches for nothing,
    // while a package without a record is not answered.
    if (!replace_file(part, root.package_file(id)))
        return false;
    sync_directory(root.files_directory());
    if (!replace_file(scratch, root.check_file(id)))
        return false;
    sync_directory(root.checks_directory());
    return true;
}

}  // namespace cdsclient
