// A package is on the disk before its name is in the cache: the client syncs
// the body, then renames it, then syncs the cache's directory, so that after
// a power loss a name in the cache never stands for a short file. The test
// program puts its own fsync and rename in front of the C library's (the
// client's calls to them resolve to these first) and records, while asked
// to, which files they touched and in which order.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <mutex>
#include <string>
#include <vector>

#include "cds/client/cds_client.h"
#include "tests/cds_client/cds_test_support.hpp"
#include "tests/http/http_test_server.hpp"

namespace {

std::atomic<bool> recording{false};
std::mutex events_mutex;
std::vector<std::string> events;

void record(const std::string &event) {
    if (!recording)
        return;
    std::lock_guard lock(events_mutex);
    events.push_back(event);
}

std::string path_of(int fd) {
    char path[PATH_MAX] = {};
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    const ssize_t length = ::readlink(link.c_str(), path, sizeof path - 1);
    return length > 0 ? std::string(path, static_cast<size_t>(length)) : "?";
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int fsync(int fd) {
    static const auto real = reinterpret_cast<int (*)(int)>(::dlsym(RTLD_NEXT, "fsync"));
    record("fsync " + path_of(fd));
    return real(fd);
}

extern "C" __attribute__((visibility("default"))) int rename(const char *from, const char *to) {
    static const auto real =
        reinterpret_cast<int (*)(const char *, const char *)>(::dlsym(RTLD_NEXT, "rename"));
    record(std::string("rename ") + from + " " + to);
    return real(from, to);
}

namespace {

size_t position(const std::vector<std::string> &list, const std::string &event) {
    return static_cast<size_t>(std::find(list.begin(), list.end(), event) - list.begin());
}

TEST(Durability, ThePackageIsSyncedBeforeItsNameEntersTheCache) {
    cds_test::ScratchDir home;
    cds_test::ScopedEnv home_env("CDSCLIENT_HOME", home.path());
    korvo::test::HttpTestServer server;
    server.put_package("d", cds_test::package_bytes(70000, 71));
    recording = true;
    uint32_t handle = 0;
    ASSERT_EQ(DownloadFile(server.address().c_str(), "d", nullptr, nullptr, nullptr,
                           &cds_test::Completions::record, &handle),
              CDS_OK);
    const auto completion = cds_test::Completions::instance().wait_for(handle);
    recording = false;
    ASSERT_TRUE(completion);
    EXPECT_EQ(completion->status, CDS_OK);
    EXPECT_EQ(ReleaseFile(handle), CDS_OK);

    const std::string cached = cds_test::cached_package(home.path(), server.url(), "d");
    std::vector<std::string> seen;
    {
        std::lock_guard lock(events_mutex);
        seen = events;
    }
    std::string part;
    for (const std::string &event : seen)
        if (event.starts_with("rename ") && event.ends_with(" " + cached))
            part = event.substr(7, event.size() - 8 - cached.size());
    ASSERT_FALSE(part.empty()) << "no rename into the cache";
    const size_t synced = position(seen, "fsync " + part);
    const size_t renamed = position(seen, "rename " + part + " " + cached);
    const size_t directory = position(
        seen, "fsync " + cds_test::server_root(home.path(), server.url()) + "/cache/files/1");
    EXPECT_LT(synced, renamed) << "the body was not synced before the rename";
    EXPECT_LT(renamed, directory) << "the cache's directory was not synced after the rename";
    EXPECT_LT(directory, seen.size());
}

}  // namespace
