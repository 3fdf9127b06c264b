// The CDS client against the test suite's HTTP server: downloads into the
// cache on threads of the client's own, the answers a server can give, the
// package ids and servers the client refuses, and releasing.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "cds/client/cds_client.h"
#include "tests/cds_client/cds_test_support.hpp"
#include "tests/cds_client/client_test_host.hpp"
#include "tests/http/http_test_server.hpp"

namespace {

using cds_test::Completions;
using korvo::test::Answer;
using namespace std::chrono_literals;

class ClientTest : public testing::Test {
  protected:
    std::string cached(const std::string &id) const {
        return cds_test::cached_package(home.path(), server.url(), id);
    }
    // The files of the server's part of the home, relative to it.
    std::vector<std::string> held() const {
        return cds_test::files_under(cds_test::server_root(home.path(), server.url()));
    }

    // Starts a download of `id` from the test server; the handle in *handle.
    int32_t download(const std::string &id, uint32_t *handle, const char *user = nullptr,
                     const char *password = nullptr) {
        return DownloadFile(server.address().c_str(), id.c_str(), nullptr, user, password,
                            &Completions::record, handle);
    }

    cds_test::ScratchDir home;
    cds_test::ScopedEnv home_env{"CDSCLIENT_HOME", home.path()};
    cds_test::ScopedEnv manager_env{"CDSCLIENT_MANAGER", std::nullopt};
    korvo::test::HttpTestServer server;
};

TEST_F(ClientTest, DownloadsIntoTheCacheAndKnowsWhatItHolds) {
    const std::string bytes = cds_test::package_bytes(300 * 1024 + 7, 1);
    server.put_package("p1", bytes);

    uint32_t handle = 0;
    ASSERT_EQ(download("p1", &handle), CDS_OK);
    ASSERT_NE(handle, 0u);
    const auto completion = Completions::instance().wait_for(handle);
    ASSERT_TRUE(completion);
    EXPECT_EQ(completion->status, CDS_OK);
    EXPECT_NE(completion->thread, std::this_thread::get_id());
    EXPECT_EQ(cds_test::read_file(cached("p1")), bytes);

    // Once the package is whole, its file is the handle's answer; the
    // working directory is gone.
    EXPECT_EQ(GetDownloadDirectory(handle), cached("p1"));
    EXPECT_EQ(held(),
              (std::vector<std::string>{"cache/checks/p1-1", "cache/files/1/p1-1", "server"}));
    EXPECT_EQ(cds_test::read_file(cds_test::server_root(home.path(), server.url()) + "/server"),
              server.url() + "\n-\n");

    EXPECT_EQ(ReleaseFile(handle), CDS_OK);
    EXPECT_EQ(ReleaseFile(handle), CDS_INVALID_ARGUMENT);
    EXPECT_EQ(GetDownloadDirectory(handle), nullptr);

    // Held packages are answered from the cache once the server confirms
    // them (a HEAD answered 304): no second body, no callback.
    uint32_t again = 0;
    EXPECT_EQ(download("p1", &again), CDS_ALREADY_THERE);
    EXPECT_NE(again, 0u);
    EXPECT_NE(again, handle);
    EXPECT_EQ(server.requests("GET", "p1"), 1);
    EXPECT_EQ(server.not_modified("HEAD", "p1"), 1);
    EXPECT_EQ(GetDownloadDirectory(again), cached("p1"));
    EXPECT_EQ(ReleaseFile(again), CDS_OK);
    EXPECT_FALSE(Completions::instance().seen(again));
}

TEST_F(ClientTest, RefusedAnswersStartNothingAndLeaveNothing) {
    server.put_package("p2", "twelve bytes");
    struct Case {
        Answer answer;
        const char *id;
        int32_t expected;
    };
    const Case cases[] = {
        {Answer::kBusy, "p2", CDS_BUSY},           {Answer::kServe, "unknown", CDS_NOT_FOUND},
        {Answer::kGarbage, "p2", CDS_BAD_ANSWER},  {Answer::kBadLength, "p2", CDS_BAD_ANSWER},
        {Answer::kNoLength, "p2", CDS_BAD_ANSWER},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.id + std::string(" answer ") + std::to_string(static_cast<int>(c.answer)));
        server.answer_with(c.answer);
        uint32_t handle = 99;
        EXPECT_EQ(download(c.id, &handle), c.expected);
        EXPECT_EQ(handle, 0u);
        EXPECT_EQ(held(), std::vector<std::string>{});
    }
    server.answer_with(Answer::kServe);
    server.require_credentials("alice", "s3cret");
    uint32_t handle = 99;
    EXPECT_EQ(download("p2", &handle), CDS_DENIED);
    EXPECT_EQ(download("p2", &handle, "alice", "wrong"), CDS_DENIED);
    EXPECT_EQ(handle, 0u);
    EXPECT_EQ(held(), std::vector<std::string>{});
}

TEST_F(ClientTest, CutDownloadIsReportedAndNotKept) {
    const std::string bytes = cds_test::package_bytes(200000, 4);
    server.put_package("p4", bytes);
    server.answer_with(Answer::kCut);
    uint32_t handle = 0;
    ASSERT_EQ(download("p4", &handle), CDS_OK);
    const auto completion = Completions::instance().wait_for(handle);
    ASSERT_TRUE(completion);
    EXPECT_EQ(completion->status, CDS_INCOMPLETE);
    EXPECT_EQ(completion->calls, 1);
    EXPECT_EQ(held(), std::vector<std::string>{});
    EXPECT_EQ(ReleaseFile(handle), CDS_OK);

    // Nothing of the cut attempt stands in the way of the next one.
    server.answer_with(Answer::kServe);
    ASSERT_EQ(download("p4", &handle), CDS_OK);
    ASSERT_TRUE(Completions::instance().wait_for(handle));
    EXPECT_EQ(cds_test::read_file(cached("p4")), bytes);
    EXPECT_EQ(ReleaseFile(handle), CDS_OK);
}

// A chunked body whose last chunk never comes ends with the connection,
// which is not the package's end.
TEST_F(ClientTest, ChunkedBodyWithoutItsLastChunkIsIncomplete) {
    if (cds_test::under_wine())
        GTEST_SKIP() << "Wine's WinHTTP ends a cut chunked body as if it were whole";
    server.put_package("p4c", cds_test::package_bytes(200000, 41));
    server.answer_with(Answer::kCutChunks);
    uint32_t handle = 0;
    ASSERT_EQ(download("p4c", &handle), CDS_OK);
    const auto completion = Completions::instance().wait_for(handle);
    ASSERT_TRUE(completion);
    EXPECT_EQ(completion->status, CDS_INCOMPLETE);
    EXPECT_EQ(held(), std::vector<std::string>{});
    EXPECT_EQ(ReleaseFile(handle), CDS_OK);
}

TEST_F(ClientTest, LateAnswers) {
    server.put_package("p5", "late");
    {
        // No answer within CDSCLIENT_ANSWER_TIMEOUT: nothing starts.
        cds_test::ScopedEnv timeout("CDSCLIENT_ANSWER_TIMEOUT", "1");
        server.answer_with(Answer::kLateHead, 60s);
        uint32_t handle = 99;
        EXPECT_EQ(download("p5", &handle), CDS_TIMED_OUT);
        EXPECT_EQ(handle, 0u);
        // Under Wine a transfer waiting for its head ends only once the
        // server answers (see the release test).
        if (!cds_test::under_wine()) {
            EXPECT_TRUE(cds_test::eventually([&] { return held() == std::vector<std::string>{}; }));
        }
    }
    server.release_delayed();
    EXPECT_TRUE(cds_test::eventually([&] { return held() == std::vector<std::string>{}; }));
    // A head on time and a late body: started, and reported once the body
    // came.
    korvo::test::HttpTestServer slow;
    slow.put_package("p5", "late");
    slow.answer_with(Answer::kLateBody, 60s);
    uint32_t handle = 0;
    ASSERT_EQ(DownloadFile(slow.address().c_str(), "p5", nullptr, nullptr, nullptr,
                           &Completions::record, &handle),
              CDS_OK);
    EXPECT_FALSE(Completions::instance().seen(handle));
    slow.release_delayed();
    const auto completion = Completions::instance().wait_for(handle);
    ASSERT_TRUE(completion);
    EXPECT_EQ(completion->status, CDS_OK);
    EXPECT_EQ(cds_test::read_file(cds_test::cached_package(home.path(), slow.url(), "p5")), "late");
    EXPECT_EQ(ReleaseFile(handle), CDS_OK);
}

TEST_F(ClientTest, ReleaseStopsARunningDownloadWithoutACallback) {
    if (cds_test::under_wine())
        GTEST_SKIP() << "Wine's WinHTTP does not end a blocked read when its request handle "
                        "is closed; the transfer ends when the server sends or stalls";
    server.put_package("p6", cds_test::package_bytes(4096, 6));
    server.answer_with(Answer::kLateBody, 60s);
    uint32_t handle = 0;
    ASSERT_EQ(download("p6", &handle), CDS_OK);
    EXPECT_EQ(ReleaseFile(handle), CDS_OK);
    EXPECT_TRUE(cds_test::eventually([&] { return held() == std::vector<std::string>{}; }));
    EXPECT_TRUE(cds_test::eventually([&] {
        return std::filesystem::is_empty(cds_test::server_root(home.path(), server.url()) +
                                         "/downloads");
    }));
    server.release_delayed();
    EXPECT_FALSE(Completions::instance().seen(handle));
    EXPECT_FALSE(std::filesystem::exists(cached("p6")));
}

TEST_F(ClientTest, CallbackComesAfterTheCallersThreadHasGone) {
    const std::string bytes = cds_test::package_bytes(65536, 7);
    server.put_package("p7", bytes);
    server.answer_with(Answer::kLateBody, 60s);
    uint32_t handle = 0;
    std::thread::id caller;
    std::thread([&] {
        caller = std::this_thread::get_id();
        EXPECT_EQ(download("p7", &handle), CDS_OK);
    }).join();
    server.release_delayed();
    const auto completion = Completions::instance().wait_for(handle);
    ASSERT_TRUE(completion);
    EXPECT_EQ(completion->status, CDS_OK);
    EXPECT_NE(completion->thread, caller);
    EXPECT_EQ(cds_test::read_file(cached("p7")), bytes);
    EXPECT_EQ(ReleaseFile(handle), CDS_OK);
}

TEST_F(ClientTest, ConcurrentDownloadsEachEndOnce) {
    constexpr int kCount = 4;
    for (int i = 0; i < kCount; ++i)
        server.put_package("c" + std::to_string(i), cds_test::package_bytes(100000 + i, 10 + i));
    uint32_t handles[kCount] = {};
    std::vector<std::thread> threads;
    for (int i = 0; i < kCount; ++i)
        threads.emplace_back(
            [&, i] { EXPECT_EQ(download("c" + std::to_string(i), &handles[i]), CDS_OK); });
    for (std::thread &thread : threads)
        thread.join();
    for (int i = 0; i < kCount; ++i) {
        const auto completion = Completions::instance().wait_for(handles[i]);
        ASSERT_TRUE(completion);
        EXPECT_EQ(completion->status, CDS_OK);
        EXPECT_EQ(completion->calls, 1);
        EXPECT_EQ(cds_test::read_file(cached("c" + std::to_string(i))),
                  cds_test::package_bytes(100000 + i, 10 + i));
        EXPECT_EQ(ReleaseFile(handles[i]), CDS_OK);
    }
}

TEST_F(ClientTest, HostileIdsAndServersAreRefusedBeforeAnyRequest) {
    const std::string source = home / "source";
    cds_test::write_file(source, "data");
    const std::string long_id(201, 'a');
    const char *ids[] = {"../escape", "a/b", "..", "", "x\ny", "a\\b", long_id.c_str(), nullptr};
    for (const char *id : ids) {
        SCOPED_TRACE(id != nullptr ? id : "NULL");
        uint32_t handle = 99, size = 99;
        EXPECT_EQ(DownloadFile(server.address().c_str(), id, nullptr, nullptr, nullptr,
                               &Completions::record, &handle),
                  CDS_INVALID_ARGUMENT);
        EXPECT_EQ(handle, 0u);
        EXPECT_EQ(GetSingleFileSize(server.address().c_str(), id, nullptr, nullptr, &size),
                  CDS_INVALID_ARGUMENT);
        EXPECT_EQ(PublishFile(server.address().c_str(), id, source.c_str(), nullptr, nullptr),
                  CDS_INVALID_ARGUMENT);
    }
    EXPECT_EQ(cds_test::files_under(home.path()), std::vector<std::string>{"source"});
    EXPECT_FALSE(
        std::filesystem::exists(std::filesystem::path(home.path()).parent_path() / "escape-1"));

    uint32_t handle = 99;
    const char *servers[] = {"ftp://127.0.0.1:21", "file:///etc", "", nullptr, "http://bad host"};
    for (const char *manager : servers) {
        SCOPED_TRACE(manager != nullptr ? manager : "NULL");
        EXPECT_EQ(
            DownloadFile(manager, "p8", nullptr, nullptr, nullptr, &Completions::record, &handle),
            CDS_INVALID_ARGUMENT);
    }
    EXPECT_EQ(
        DownloadFile(server.address().c_str(), "p8", nullptr, nullptr, nullptr, nullptr, &handle),
        CDS_INVALID_ARGUMENT);
    EXPECT_EQ(DownloadFile(server.address().c_str(), "p8", nullptr, nullptr, nullptr,
                           &Completions::record, nullptr),
              CDS_INVALID_ARGUMENT);
    EXPECT_EQ(server.requests("GET", "p8") + server.requests("GET", "escape"), 0);

    // With no manager given, CDSCLIENT_MANAGER names the server.
    server.put_package("p8", "found");
    cds_test::ScopedEnv manager("CDSCLIENT_MANAGER", server.url());
    ASSERT_EQ(DownloadFile(nullptr, "p8", nullptr, nullptr, nullptr, &Completions::record, &handle),
              CDS_OK);
    ASSERT_TRUE(Completions::instance().wait_for(handle));
    EXPECT_EQ(cds_test::read_file(cached("p8")), "found");
    EXPECT_EQ(ReleaseFile(handle), CDS_OK);
}

TEST_F(ClientTest, UnusableHomesAndUnreachableServers) {
    server.put_package("p9", "nine");
    uint32_t handle = 99;
    {
        // A cache directory that is a link leads nowhere: nothing is written
        // through it.
        cds_test::ScratchDir elsewhere;
        const std::string root = cds_test::server_root(home.path(), server.url());
        std::filesystem::create_directories(root + "/cache/files");
        std::error_code no_links;
        std::filesystem::create_directory_symlink(elsewhere.path(), root + "/cache/files/1",
                                                  no_links);
        // Where the host makes no links (Wine) there is nothing to refuse.
        if (!no_links) {
            EXPECT_EQ(download("p9", &handle), CDS_CACHE_FAILED);
            EXPECT_TRUE(std::filesystem::is_empty(elsewhere.path()));
        }
        std::filesystem::remove_all(home / "servers");
    }
    {
        cds_test::ScopedEnv missing("CDSCLIENT_HOME", home / "missing");
        EXPECT_EQ(download("p9", &handle), CDS_CACHE_FAILED);
    }
    // A port nobody listens on.
    uint16_t port = 0;
    korvo::test::close_socket(korvo::test::listen_on_loopback(port));
    const std::string closed = "127.0.0.1:" + std::to_string(port);
    EXPECT_EQ(DownloadFile(closed.c_str(), "p9", nullptr, nullptr, nullptr, &Completions::record,
                           &handle),
              CDS_UNREACHABLE);
    uint32_t size = 0;
    EXPECT_EQ(GetSingleFileSize(closed.c_str(), "p9", nullptr, nullptr, &size), CDS_UNREACHABLE);
    EXPECT_EQ(cds_test::files_under(cds_test::server_root(home.path(), "http://" + closed)),
              std::vector<std::string>{});
}

TEST_F(ClientTest, SizesComeFromTheServer) {
    server.put_package("s1", cds_test::package_bytes(123457, 2));
    uint32_t size = 0;
    EXPECT_EQ(GetSingleFileSize(server.address().c_str(), "s1", nullptr, nullptr, &size), CDS_OK);
    EXPECT_EQ(size, 123457u);
    EXPECT_EQ(server.requests("HEAD", "s1"), 1);
    EXPECT_EQ(server.requests("GET", "s1"), 0);
    EXPECT_EQ(GetSingleFileSize(server.address().c_str(), "none", nullptr, nullptr, &size),
              CDS_NOT_FOUND);
    struct Case {
        Answer answer;
        int32_t expected;
    };
    for (const Case &c :
         {Case{Answer::kBusy, CDS_BUSY}, Case{Answer::kGarbage, CDS_BAD_ANSWER},
          Case{Answer::kNoLength, CDS_BAD_ANSWER}, Case{Answer::kHugeLength, CDS_TOO_LARGE}}) {
        server.answer_with(c.answer);
        EXPECT_EQ(GetSingleFileSize(server.address().c_str(), "s1", nullptr, nullptr, &size),
                  c.expected)
            << static_cast<int>(c.answer);
    }
    EXPECT_EQ(GetSingleFileSize(server.address().c_str(), "s1", nullptr, nullptr, nullptr),
              CDS_INVALID_ARGUMENT);

    server.answer_with(Answer::kServe);
    server.require_credentials("alice", "s3cret");
    EXPECT_EQ(GetSingleFileSize(server.address().c_str(), "s1", nullptr, nullptr, &size),
              CDS_DENIED);
    EXPECT_EQ(GetSingleFileSize(server.address().c_str(), "s1", "alice", "s3cret", &size), CDS_OK);
}

TEST_F(ClientTest, PublishedFilesCanBeDownloaded) {
    const std::string bytes = cds_test::package_bytes(70000, 3);
    const std::string source = home / "upload.bin";
    cds_test::write_file(source, bytes);
    server.require_credentials("bob", "pw");
    EXPECT_EQ(PublishFile(server.address().c_str(), "pub", source.c_str(), nullptr, nullptr),
              CDS_DENIED);
    ASSERT_EQ(PublishFile(server.address().c_str(), "pub", source.c_str(), "bob", "pw"), CDS_OK);
    EXPECT_EQ(server.published("pub"), bytes);

    uint32_t handle = 0;
    ASSERT_EQ(download("pub", &handle, "bob", "pw"), CDS_OK);
    ASSERT_TRUE(Completions::instance().wait_for(handle));
    EXPECT_EQ(
        cds_test::read_file(cds_test::cached_package(home.path(), server.url(), "pub", "bob")),
        bytes);
    EXPECT_EQ(ReleaseFile(handle), CDS_OK);

    // Only regular files are sent; a FIFO (where the host has them) does
    // not hold the caller, nor is a directory sent.
    const std::string fifo = home / "fifo";
    if (cds_test::make_fifo(fifo)) {
        EXPECT_EQ(PublishFile(server.address().c_str(), "f", fifo.c_str(), "bob", "pw"),
                  CDS_INVALID_ARGUMENT);
    }
    EXPECT_EQ(PublishFile(server.address().c_str(), "f", home.path().c_str(), "bob", "pw"),
              CDS_INVALID_ARGUMENT);
    EXPECT_EQ(PublishFile(server.address().c_str(), "f", (home / "absent").c_str(), "bob", "pw"),
              CDS_INVALID_ARGUMENT);
    EXPECT_EQ(PublishFile(server.address().c_str(), "f", nullptr, "bob", "pw"),
              CDS_INVALID_ARGUMENT);
}

}  // namespace
