// Finding the client's home on POSIX.
#include "cds/client/client_home.hpp"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <vector>

#include "cds/client/private_files.hpp"

namespace cdsclient {

namespace {

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

// The account's home directory: HOME, else the password database's.
std::string account_home() {
    if (const char *home = std::getenv("HOME"); home != nullptr && home[0] == '/')
        return home;
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd *found = nullptr;
    if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) != 0 ||
        found == nullptr || found->pw_dir == nullptr || found->pw_dir[0] != '/')
        return {};
    return found->pw_dir;
}

// The user's cache directory, made when missing; empty when there is none.
std::string user_cache_directory() {
    if (const char *xdg = std::getenv("XDG_CACHE_HOME"); xdg != nullptr && xdg[0] == '/') {
        const std::string cache = xdg;
        if (!is_directory(cache) && !make_private_directory(cache))
            return {};
        return cache;
    }
    const std::string home = account_home();
    if (home.empty() || !is_directory(resolved(home)))
        return {};
    const std::string cache = home + "/.cache";
    if (!is_directory(resolved(cache)) && !make_private_directory(cache))
        return {};
    return cache;
}

}  // namespace

std::optional<Home> Home::find() {
    const char *configured = std::getenv("CDSCLIENT_HOME");
    std::string chosen;
    if (configured != nullptr && *configured != '\0') {
        chosen = configured;
    } else {
        const std::string cache = user_cache_directory();
        if (cache.empty())
            return std::nullopt;
        chosen = cache + "/korvo-cds";
        if (!make_private_directory(chosen))
            return std::nullopt;
    }
    std::string path = resolved(chosen);
    if (path.empty() || !is_directory(path))
        return std::nullopt;
    return Home(std::move(path));
}

}  // namespace cdsclient
