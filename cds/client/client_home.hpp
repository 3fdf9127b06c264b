// The client's home, under which it keeps its cache (cache_root.hpp), and
// the package ids it accepts. The home is CDSCLIENT_HOME when that is set
// (it must exist); otherwise the user's cache directory: $XDG_CACHE_HOME/
// korvo-cds when XDG_CACHE_HOME is an absolute path, else ~/.cache/korvo-cds
// (the account's home directory from HOME, or from the password database).
// The client creates that default home, for the owner alone, and writes
// nowhere else: never beside the library, wherever it is installed.
// Values only; any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace cdsclient {

// Longest package id the client accepts (its cache file name adds 2 bytes).
inline constexpr size_t kMaxPackageIdLength = 200;

// Whether `id` can name a package and a file of the cache: 1 to 200 bytes,
// no '/', '\', "..", nor control characters.
inline bool valid_package_id(const char *id) {
    if (id == nullptr)
        return false;
    const std::string_view text(id);
    if (text.empty() || text.size() > kMaxPackageIdLength)
        return false;
    if (text.find("..") != std::string_view::npos)
        return false;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '/' || c == '\\' || byte < 0x20 || byte == 0x7f)
            return false;
    }
    return true;
}

class Home {
  public:
    // The home, made absolute; nullopt when CDSCLIENT_HOME is not an
    // existing directory or the default home cannot be made.
    static std::optional<Home> find();

    const std::string &path() const { return path_; }

  private:
    explicit Home(std::string path) : path_(std::move(path)) {}
    std::string path_;
};

}  // namespace cdsclient
