// Working directories of downloads and the cleaning of those whose
// processes ended.
#include "cds/client/work_directory.hpp"

#include <vector>

#include "cds/client/private_files.hpp"

namespace cdsclient {

namespace {

constexpr size_t kNameLength = 16;
constexpr size_t kMaxEntriesPerCleaning = 1000;

std::optional<std::string> random_name() {
    unsigned char bytes[kNameLength / 2];
    if (!random_bytes(bytes, sizeof bytes))
        return std::nullopt;
    static constexpr char kHex[] = "0123456789abcdef";
    std::string name;
    for (const unsigned char byte : bytes) {
        name += kHex[byte >> 4];
        name += kHex[byte & 0xf];
    }
    return name;
}

bool is_work_name(const std::string &name) {
    if (name.size() != kNameLength)
        return false;
    for (const char c : name)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    return true;
}

}  // namespace

std::optional<WorkDirectory> WorkDirectory::create(const std::string &downloads) {
    for (int attempt = 0; attempt < 8; ++attempt) {
        const std::optional<std::string> name = random_name();
        if (!name)
            return std::nullopt;
        const std::string base = downloads + "/" + *name;
        bool retry = false;
        Descriptor lock(create_held_lock(base, retry));
        if (lock.get() < 0) {
            if (retry)
                continue;
            return std::nullopt;
        }
        if (!create_private_directory(base)) {
            remove_held_lock(lock, base + ".lock");
            continue;
        }
        return WorkDirectory(base, std::move(lock));
    }
    return std::nullopt;
}

WorkDirectory::WorkDirectory(WorkDirectory &&other) noexcept
    : path_(std::move(other.path_)), lock_(std::move(other.lock_)) {
    other.path_.clear();
}

WorkDirectory::~WorkDirectory() {
    if (path_.empty())
        return;
    remove_directory(path_);
    remove_held_lock(lock_, path_ + ".lock");
}

void clean_stale_downloads(const std::string &downloads) {
    const std::vector<std::string> names = directory_names(downloads, kMaxEntriesPerCleaning);
    for (const std::string &name : names) {
        const std::string path = downloads + "/" + name;
        const size_t dot = name.find('.');
        const std::string base = name.substr(0, dot);
        if (!is_work_name(base))
            continue;
        const std::string suffix = dot == std::string::npos ? "" : name.substr(dot);
        if (suffix == ".new" || suffix == ".lock") {
            Descriptor lock(hold_lock_if_free(path));
            if (lock.get() < 0)
                continue;  // held: a download of a live process
            if (suffix == ".lock")
                remove_directory(downloads + "/" + base);
            remove_held_lock(lock, path);
        } else if (suffix.empty()) {
            if (path_missing(path + ".lock"))
                remove_directory(path);
        }
    }
}

}  // namespace cdsclient
