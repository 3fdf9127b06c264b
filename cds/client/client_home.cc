// The client's home: finding it and preparing its directories.
#include "cds/client/client_home.hpp"

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace cdsclient {

namespace {

std::string parent_of(const std::string &path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

// The directory this library was loaded from.
std::string library_directory() {
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void *>(&parent_of), &info) == 0 || info.dli_fname == nullptr)
        return {};
    return parent_of(info.dli_fname);
}

// `path` as an absolute path without links, or empty when it does not exist.
std::string resolved(const std::string &path) {
    char buffer[PATH_MAX];
    if (path.empty() || ::realpath(path.c_str(), buffer) == nullptr)
        return {};
    return buffer;
}

bool is_directory(const std::string &path) {
    struct stat record {};
    return ::lstat(path.c_str(), &record) == 0 && S_ISDIR(record.st_mode);
}

// Creates `path` (its parent exists) or accepts it when it is already a real
// directory.
bool make_directory(const std::string &path, mode_t mode) {
    if (::mkdir(path.c_str(), mode) == 0)
        return true;
    return errno == EEXIST && is_directory(path);
}

}  // namespace

std::optional<Home> Home::find() {
    const char *configured = std::getenv("CDSCLIENT_HOME");
    const std::string chosen = configured != nullptr && *configured != '\0'
                                   ? std::string(configured)
                                   : parent_of(library_directory());
    std::string path = resolved(chosen);
    if (path.empty() || !is_directory(path))
        return std::nullopt;
    return Home(std::move(path));
}

std::string Home::cached_file(std::string_view id) const {
    std::string file = path_ + "/cache/files/1/";
    file.append(id);
    file += "-1";
    return file;
}

std::string Home::work_directory(uint32_t handle) const {
    return path_ + "/downloads/" + std::to_string(::getpid()) + "." + std::to_string(handle);
}

bool Home::prepare() const {
    return make_directory(path_ + "/cache", 0755) && make_directory(path_ + "/cache/files", 0755) &&
           make_directory(path_ + "/cache/files/1", 0755) &&
           make_directory(path_ + "/downloads", 0700);
}

bool is_regular_file(const std::string &path) {
    struct stat record {};
    return ::lstat(path.c_str(), &record) == 0 && S_ISREG(record.st_mode);
}

}  // namespace cdsclient
