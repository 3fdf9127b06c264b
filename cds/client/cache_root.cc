// One server's part of the cache: its name and its directories.
#include "cds/client/cache_root.hpp"

#include "cds/client/private_files.hpp"
#include "cds/client/sha256.hpp"

namespace cdsclient {

CacheRoot::CacheRoot(const Home &home, std::string_view server, const char *user_name)
    : path_(home.path() + "/servers/" + key(server, user_name)) {
    note_.assign(server);
    note_ += "\n";
    note_ += user_name != nullptr ? user_name : "-";
    note_ += "\n";
}

std::string CacheRoot::key(std::string_view server, const char *user_name) {
    std::string text(server);
    text += '\n';
    text += user_name != nullptr ? user_name : "-";
    return hex_text(Sha256::of(text)).substr(0, 32);
}

std::string CacheRoot::package_file(std::string_view id) const {
    std::string file = files_directory() + "/";
    file.append(id);
    file += "-1";
    return file;
}

std::string CacheRoot::check_file(std::string_view id) const {
    std::string file = checks_directory() + "/";
    file.append(id);
    file += "-1";
    return file;
}

bool CacheRoot::prepare() const {
    const size_t servers_end = path_.rfind('/');
    const bool made = make_private_directory(path_.substr(0, servers_end)) &&
                      make_private_directory(path_) && make_private_directory(path_ + "/cache") &&
                      make_private_directory(path_ + "/cache/files") &&
                      make_private_directory(files_directory()) &&
                      make_private_directory(checks_directory()) &&
                      make_private_directory(downloads_directory());
    return made;
}

void CacheRoot::write_note() const {
    // The note is for people; a missing one is written, a foreign one left.
    const std::string note = path_ + "/server";
    if (!read_small_file(note, 4096))
        write_synced_file(note, note_);
}

}  // namespace cdsclient
