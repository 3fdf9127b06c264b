// One server's part of the client's cache, kept apart for each user name
// (and for calls without one), so that a package of one server is never
// answered for another server's id and a package fetched with credentials
// never for a call without them:
//
//   <home>/servers/<key>/server                   the server and user name, for the operator
//   <home>/servers/<key>/cache/files/1/<id>-1     a package, whole
//   <home>/servers/<key>/cache/checks/<id>-1      what checks it (check_record.hpp)
//   <home>/servers/<key>/downloads/<name>.lock    held by a running download
//   <home>/servers/<key>/downloads/<name>/        that download's working directory
//
// <key> is the first 32 hex digits of the SHA-256 of the server's URL, a
// newline and the user name (or "-" without one). Every directory is the
// owner's alone (0700), every file 0600. Values only; any thread.
#pragma once

#include <string>
#include <string_view>

#include "cds/client/client_home.hpp"

namespace cdsclient {

class CacheRoot {
  public:
    // The part of `home` for `server` (as server_url gives it) and
    // `user_name` (NULL: calls without credentials).
    CacheRoot(const Home &home, std::string_view server, const char *user_name);

    static std::string key(std::string_view server, const char *user_name);

    const std::string &path() const { return path_; }
    std::string package_file(std::string_view id) const;
    std::string check_file(std::string_view id) const;
    std::string files_directory() const { return path_ + "/cache/files/1"; }
    std::string checks_directory() const { return path_ + "/cache/checks"; }
    std::string downloads_directory() const { return path_ + "/downloads"; }

    // Creates the directories as needed; false when one cannot be made or
    // is not a real directory of this account.
    bool prepare() const;
    // Writes the "server" note unless it is there.
    void write_note() const;

  private:
    std::string path_;
    std::string note_;
};

}  // namespace cdsclient
