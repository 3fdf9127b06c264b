// The client's home and the files it keeps there:
//   <home>/cache/files/1/<package id>-1    every package the client holds
//   <home>/downloads/<pid>.<handle>/       the working directory of one
//                                          running download, removed when
//                                          the download ends
// The home is CDSCLIENT_HOME when set, else the parent of the directory the
// client library was loaded from (an installed client lives in <home>/cds/).
// The client writes nowhere else: package ids are checked before they become
// file names, and the directories it creates must be real directories, not
// links. Values only; any thread.
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
    // The home as configured, made absolute; nullopt when it is not an
    // existing directory.
    static std::optional<Home> find();

    const std::string &path() const { return path_; }
    // Where the package `id` lies once downloaded.
    std::string cached_file(std::string_view id) const;
    // The working directory of the download `handle` of this process.
    std::string work_directory(uint32_t handle) const;
    // Creates the cache and downloads directories as needed; false when one
    // cannot be created or is not a real directory.
    bool prepare() const;

  private:
    explicit Home(std::string path) : path_(std::move(path)) {}
    std::string path_;
};

// Whether `path` is a regular file (links are not followed).
bool is_regular_file(const std::string &path);

}  // namespace cdsclient
