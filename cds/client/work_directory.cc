// Working directories of downloads and the cleaning of those whose
// processes ended.
#include "cds/client/work_directory.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <vector>

#include "cds/client/private_files.hpp"

namespace cdsclient {

namespace {

constexpr size_t kNameLength = 16;
constexpr size_t kMaxEntriesPerCleaning = 1000;

std::optional<std::string> random_name() {
    unsigned char bytes[kNameLength / 2];
    size_t got = 0;
    while (got < sizeof bytes) {
        const ssize_t more = ::getrandom(bytes + got, sizeof bytes - got, 0);
        if (more < 0) {
            if (errno == EINTR)
                continue;
            return std::nullopt;
        }
        got += static_cast<size_t>(more);
    }
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

// Opens `path` and takes its lock when nobody holds it; -1 otherwise.
int lock_if_free(const std::string &path) {
    Descriptor file(open_regular(path));
    if (file.get() < 0 || ::flock(file.get(), LOCK_EX | LOCK_NB) != 0)
        return -1;
    return file.take();
}

}  // namespace

std::optional<WorkDirectory> WorkDirectory::create(const std::string &downloads) {
    for (int attempt = 0; attempt < 8; ++attempt) {
        const std::optional<std::string> name = random_name();
        if (!name)
            return std::nullopt;
        const std::string base = downloads + "/" + *name;
        const std::string fresh = base + ".new";
        Descriptor lock(
            ::open(fresh.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (lock.get() < 0) {
            if (errno == EEXIST)
                continue;
            return std::nullopt;
        }
        // A cleaner that took the fresh file's lock first removes it: then
        // the lock or the link fails and another name is tried.
        const bool locked = ::flock(lock.get(), LOCK_EX | LOCK_NB) == 0;
        const bool linked = locked && ::link(fresh.c_str(), (base + ".lock").c_str()) == 0;
        if (locked)
            ::unlink(fresh.c_str());
        if (!linked)
            continue;
        if (::mkdir(base.c_str(), 0700) != 0) {
            ::unlink((base + ".lock").c_str());
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
    ::unlink((path_ + ".lock").c_str());
}

void clean_stale_downloads(const std::string &downloads) {
    std::vector<std::string> names;
    {
        struct Closer {
            void operator()(DIR *dir) const { ::closedir(dir); }
        };
        const std::unique_ptr<DIR, Closer> dir(::opendir(downloads.c_str()));
        if (!dir)
            return;
        while (const dirent *entry = ::readdir(dir.get())) {
            if (names.size() == kMaxEntriesPerCleaning)
                break;
            names.emplace_back(entry->d_name);
        }
    }
    for (const std::string &name : names) {
        const std::string path = downloads + "/" + name;
        const size_t dot = name.find('.');
        const std::string base = name.substr(0, dot);
        if (!is_work_name(base))
            continue;
        const std::string suffix = dot == std::string::npos ? "" : name.substr(dot);
        if (suffix == ".new" || suffix == ".lock") {
            const Descriptor lock(lock_if_free(path));
            if (lock.get() < 0)
                continue;  // held: a download of a live process
            if (suffix == ".lock")
                remove_directory(downloads + "/" + base);
            ::unlink(path.c_str());
        } else if (suffix.empty()) {
            struct stat record {};
            if (::lstat((path + ".lock").c_str(), &record) != 0 && errno == ENOENT)
                remove_directory(path);
        }
    }
}

}  // namespace cdsclient
