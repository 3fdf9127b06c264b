// Where the client keeps its cache on POSIX and who may read it: the
// user's cache directory by default, and owner-only rights on everything
// under the home whatever the umask.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "cds/client/cds_client.h"
#include "tests/cds_client/cds_test_support.hpp"
#include "tests/cds_client/client_fetch.hpp"
#include "tests/http/http_test_server.hpp"

namespace {

namespace fs = std::filesystem;

// Without CDSCLIENT_HOME the client keeps its cache in the user's cache
// directory, never beside the library.
TEST(ClientHome, DefaultsToTheUsersCacheDirectory) {
    korvo::test::HttpTestServer server;
    server.put_package("h", "at home");
    cds_test::ScratchDir scratch;
    cds_test::ScopedEnv no_home("CDSCLIENT_HOME", std::nullopt);
    {
        cds_test::ScopedEnv xdg("XDG_CACHE_HOME", scratch / "xdg");
        EXPECT_EQ(cds_test::fetch(server, "h"), CDS_OK);
        EXPECT_EQ(cds_test::read_file(
                      cds_test::cached_package(scratch / "xdg/korvo-cds", server.url(), "h")),
                  "at home");
    }
    {
        cds_test::ScopedEnv xdg("XDG_CACHE_HOME", std::nullopt);
        fs::create_directories(scratch / "user");
        cds_test::ScopedEnv user("HOME", scratch / "user");
        EXPECT_EQ(cds_test::fetch(server, "h"), CDS_OK);
        EXPECT_EQ(cds_test::read_file(cds_test::cached_package(scratch / "user/.cache/korvo-cds",
                                                               server.url(), "h")),
                  "at home");
        EXPECT_EQ(fs::status(scratch / "user/.cache/korvo-cds").permissions() & fs::perms::all,
                  fs::perms::owner_all);
    }
}

// No other account can read the cache, whatever the umask.
TEST(ClientRights, EverythingUnderTheHomeIsTheOwnersAlone) {
    korvo::test::HttpTestServer server;
    server.put_package("r", "rights");
    cds_test::ScratchDir home;
    cds_test::ScopedEnv home_env("CDSCLIENT_HOME", home.path());
    const mode_t old_mask = ::umask(0);
    EXPECT_EQ(cds_test::fetch(server, "r"), CDS_OK);
    ::umask(old_mask);
    for (auto it = fs::recursive_directory_iterator(home.path() + "/servers");
         it != fs::recursive_directory_iterator(); ++it) {
        const auto rights = it->symlink_status().permissions();
        SCOPED_TRACE(it->path().string());
        EXPECT_EQ(rights & (fs::perms::group_all | fs::perms::others_all), fs::perms::none);
        EXPECT_EQ(rights & fs::perms::owner_all,
                  it->is_directory() ? fs::perms::owner_all
                                     : fs::perms::owner_read | fs::perms::owner_write);
    }
}

}  // namespace
