// One CDS download step, run on a session of the test's own: through the
// real client against the test suite's HTTP server, and through small fake
// clients where a test must decide exactly when a callback comes. The wait
// function is replaced where the test needs the three-hour limit at once.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "cds/cds_download.hpp"
#include "cds/client/cds_client.h"
#include "properties/errors/korvo_exceptions.h"
#include "tests/cds/cds_stderr.hpp"
#include "tests/cds_client/cds_test_support.hpp"
#include "tests/http/http_test_server.hpp"
#include "tests/properties/props_test_util.hpp"

namespace {

using namespace korvo::cds;
using korvo::test::Answer;
using props_test::raised_by;
using namespace std::chrono_literals;

// The client's entry points have the types the loader's table expects.
static_assert(std::is_same_v<decltype(&DownloadFile), CdsDownloadFileFn>);
static_assert(std::is_same_v<decltype(&GetDownloadDirectory), CdsGetDownloadDirectoryFn>);
static_assert(std::is_same_v<decltype(&GetSingleFileSize), CdsGetSingleFileSizeFn>);
static_assert(std::is_same_v<decltype(&PublishFile), CdsPublishFileFn>);
static_assert(std::is_same_v<decltype(&ReleaseFile), CdsReleaseFileFn>);

std::atomic<Session *> current_session{nullptr};

void test_callback(uint32_t handle, int32_t status) {
    if (Session *session = current_session.load())
        session->complete(handle, status);
}

std::string address_text(const void *address) {
    char text[32];
    std::snprintf(text, sizeof text, "%p", address);
    return text;
}

// A segment's property list that frees itself.
struct Segment : props_test::List {
    Segment() = default;
    // A segment of package `id` on the server at `manager`.
    Segment(const std::string &manager, const std::string &id) {
        put(SEGMENT_CDS_MANAGER, manager).put(SEGMENT_CDS_PACKAGEID, id);
    }
    Segment &put(const char *key, const std::string &value) {
        properties_put_string_dup(this, key, value.c_str());
        return *this;
    }
    Segment &put(const char *key, int32_t value) {
        properties_put_long_dup(this, key, value);
        return *this;
    }
    std::string text(const char *key) {
        const char *value = properties_get_string2(this, key, nullptr);
        return value != nullptr ? value : "<absent>";
    }
};

class DownloadStepTest : public testing::Test {
  protected:
    DownloadStepTest() { current_session = &session; }
    ~DownloadStepTest() override { current_session = nullptr; }

    void use_real_client() {
        session.cds_funcs = {&DownloadFile, &GetDownloadDirectory, &GetSingleFileSize, &PublishFile,
                             &ReleaseFile};
    }

    // Runs one step for `segment`; the files it hands on go to `appended`.
    int32_t step(Segment &segment, const DownloadHooks &hooks, int64_t stated_size = 0) {
        return korvo::cds::download_segment(
            session, &test_callback, &segment, hooks,
            [&](const char *path) { appended.emplace_back(path); }, stated_size);
    }

    std::string cached(const std::string &id, const char *user = nullptr) const {
        return cds_test::cached_package(std::filesystem::canonical(home.path()).string(),
                                        server.url(), id, user);
    }

    cds_test::ScratchDir home;
    cds_test::ScratchDir logs;
    cds_test::StderrCapture capture{logs / "stderr"};
    cds_test::ScopedEnv home_env{"CDSCLIENT_HOME", home.path()};
    korvo::test::HttpTestServer server;
    Session session;
    std::vector<std::string> appended;
    int counted = 0;
    int waits = 0;
    int polls = 0;
};

TEST_F(DownloadStepTest, DownloadsThePackageAndRecordsItsFile) {
    use_real_client();
    const std::string bytes = cds_test::package_bytes(100000, 21);
    server.put_package("p1", bytes);
    Segment segment(server.address(), "p1");
    DownloadHooks hooks;
    hooks.counted = [&] { ++counted; };
    hooks.wait = [&](auto &lock, auto &done, auto step) {
        ++waits;
        korvo::cds::wait_on_condition(lock, done, step);
    };

    ASSERT_EQ(step(segment, hooks), 0);
    EXPECT_EQ(counted, 1);
    EXPECT_EQ(appended, std::vector<std::string>{cached("p1")});
    EXPECT_EQ(segment.text(SEGMENT_DATA_PATH_KEY), cached("p1"));
    EXPECT_EQ(segment.text(SEGMENT_DAT_FILE_KEY), cached("p1"));
    EXPECT_EQ(properties_get_long2(&segment, SEGMENT_SIZE_KEY, -1), 100000);
    EXPECT_EQ(cds_test::read_file(cached("p1")), bytes);

    // The handle is the one in the log; the client answers the package's
    // file once it is whole.
    const std::vector<std::string> lines = capture.lines();
    ASSERT_EQ(lines.size(), 3u);
    const std::string prefix = "korvo: Started a new CDS download: DownloadFile(" +
                               server.address() + ", p1, <null>, <null>, <null>, " +
                               address_text(reinterpret_cast<void *>(&test_callback)) + ", ";
    ASSERT_EQ(lines[0].substr(0, prefix.size()), prefix);
    const std::string handle = lines[0].substr(prefix.size(), lines[0].find(')') - prefix.size());
    EXPECT_EQ(lines[0].substr(prefix.size() + handle.size()), ").  rc=0");
    EXPECT_EQ(lines[1], "korvo: cds_get_actual_path: Start. cds_handle=" + handle +
                            " cds_path=" + cached("p1"));
    EXPECT_EQ(lines[2], "korvo: cds_get_actual_path: Existing path valid. cds_handle=" + handle +
                            " cds_path=" + cached("p1"));
    EXPECT_EQ(GetDownloadDirectory(static_cast<uint32_t>(std::stoul(handle))), nullptr)
        << "the handle was not released";
    // The first step may or may not have waited: the download can end before
    // it first looks. The package is held now: the next step takes it
    // without waiting.
    Segment again(server.address(), "p1");
    waits = 0;
    ASSERT_EQ(step(again, hooks), 0);
    EXPECT_EQ(waits, 0);
    EXPECT_EQ(counted, 2);
    EXPECT_EQ(appended, (std::vector<std::string>{cached("p1"), cached("p1")}));
    EXPECT_EQ(properties_get_long2(&again, SEGMENT_SIZE_KEY, -1), 100000);
    EXPECT_NE(capture.lines()[3].find(").  rc=16"), std::string::npos);
    EXPECT_EQ(server.requests("GET", "p1"), 1);
}

TEST_F(DownloadStepTest, CredentialsReachTheServerButNeverTheLog) {
    use_real_client();
    server.put_package("p2", "guarded bytes");
    server.require_credentials("alice", "s3cret");
    Segment segment(server.address(), "p2");
    segment.put(SEGMENT_CDS_DESTINATION, "dest")
        .put(SEGMENT_CDS_USERNAME, "alice")
        .put(SEGMENT_CDS_PASSWORD, "s3cret");
    ASSERT_EQ(step(segment, {}), 0);
    EXPECT_EQ(cds_test::read_file(cached("p2", "alice")), "guarded bytes");
    const std::vector<std::string> lines = capture.lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_NE(lines[0].find("DownloadFile(" + server.address() + ", p2, dest, alice, <??}, "),
              std::string::npos)
        << lines[0];
    for (const std::string &line : lines)
        EXPECT_EQ(line.find("s3cret"), std::string::npos) << line;
}

TEST_F(DownloadStepTest, RefusalsRaiseTheirMessages) {
    use_real_client();
    server.put_package("p3", "busy");
    server.answer_with("p3", Answer::kBusy);
    DownloadHooks hooks;
    hooks.counted = [&] { ++counted; };

    for (const auto &[deferred, expected] : {std::pair{0, 300}, std::pair{42, 42}}) {
        Segment segment(server.address(), "p3");
        if (deferred != 0)
            segment.put(SEGMENT_CDS_DEFERRED, deferred);
        int32_t defer_time = -1;
        bool deferred_type = false;
        const props_test::Raised raised = raised_by([&] {
            try {
                step(segment, hooks);
            } catch (const korvo::rt::Exception &e) {
                deferred_type = e.is_a(KORVO_EXCEPTION_CHILD_CHAIN("ExDistributionDeferred"));
                defer_time = static_cast<const ExDistributionDeferred *>(e.record())->defer_time;
                throw;
            }
        });
        EXPECT_EQ(raised.number, KORVO_MSG_CDS_DEPOT_BUSY);
        EXPECT_EQ(raised.arguments, (std::vector<std::string>{"p3", std::to_string(expected)}));
        EXPECT_TRUE(deferred_type);
        EXPECT_EQ(defer_time, expected);
        EXPECT_EQ(segment.text(SEGMENT_DATA_PATH_KEY), "<absent>");
    }

    Segment unknown(server.address(), "unknown");
    props_test::Raised raised = raised_by([&] { step(unknown, hooks); });
    EXPECT_EQ(raised.number, KORVO_MSG_CDS_COMMAND_FAILED);
    EXPECT_EQ(raised.arguments, (std::vector<std::string>{"DownloadFile", "0", "2"}));

    Segment without_id;
    without_id.put(SEGMENT_CDS_MANAGER, server.address());
    raised = raised_by([&] { step(without_id, hooks); });
    EXPECT_EQ(raised.number, KORVO_MSG_PROPERTY_NOT_FOUND);
    EXPECT_EQ(raised.arguments, std::vector<std::string>{"cds_packageid"});

    Segment wrong_type;
    wrong_type.put(SEGMENT_CDS_PACKAGEID, 7);
    EXPECT_EQ(raised_by([&] { step(wrong_type, hooks); }).number, KORVO_MSG_PROPERTY_WRONG_TYPE);

    EXPECT_EQ(counted, 0);
    EXPECT_TRUE(appended.empty());
    EXPECT_EQ(server.requests("GET", "p3"), 2);
}

// A 200 answer whose body is not the package (an error page) is no package
// of the size the segment states: the step raises message 203 and records
// nothing, also when the page is then in the client's cache, and also
// against the size the server stated for a segment that states none.
TEST_F(DownloadStepTest, AFileOfAnotherSizeThanTheSegmentStatesIsAnError) {
    use_real_client();
    const std::string page = "<html><body>Package not available</body></html>\n";
    server.put_package("p6", page);
    DownloadHooks hooks;
    hooks.counted = [&] { ++counted; };
    for (const int expected_rc : {CDS_DOWNLOAD_STARTED, CDS_DOWNLOAD_ALREADY_THERE}) {
        SCOPED_TRACE(expected_rc);
        Segment segment(server.address(), "p6");
        segment.put(SEGMENT_SIZE_KEY, 100000);
        const props_test::Raised raised = raised_by([&] { step(segment, hooks); });
        EXPECT_EQ(raised.number, KORVO_MSG_CDS_COMMAND_FAILED);
        ASSERT_EQ(raised.arguments.size(), 3u);
        EXPECT_EQ(raised.arguments[0], "DownloadFile");
        EXPECT_NE(raised.arguments[1], "0");
        EXPECT_EQ(raised.arguments[2], "74");
        EXPECT_EQ(segment.text(SEGMENT_DATA_PATH_KEY), "<absent>");
        EXPECT_EQ(segment.text(SEGMENT_DAT_FILE_KEY), "<absent>");
        EXPECT_EQ(properties_get_long2(&segment, SEGMENT_SIZE_KEY, -1), 100000);
        const std::vector<std::string> lines = capture.lines();
        EXPECT_NE(lines.at(lines.size() - 4).find(").  rc=" + std::to_string(expected_rc)),
                  std::string::npos);
        EXPECT_EQ(lines.back(), "korvo: The CDS package p6 arrived as " + cached("p6") + " with " +
                                    std::to_string(page.size()) +
                                    " bytes, but its segment states 100000 bytes.");
    }
    EXPECT_EQ(counted, 2);
    EXPECT_TRUE(appended.empty());

    // Against the size the server stated, for a segment without one.
    Segment unsized(server.address(), "p6");
    EXPECT_EQ(raised_by([&] { step(unsized, hooks, 100000); }).arguments.at(2), "74");
    EXPECT_EQ(properties_get_long2(&unsized, SEGMENT_SIZE_KEY, -1), -1);
    // With no size stated anywhere, the file's size is the segment's.
    ASSERT_EQ(step(unsized, hooks), 0);
    EXPECT_EQ(properties_get_long2(&unsized, SEGMENT_SIZE_KEY, -1),
              static_cast<int32_t>(page.size()));
    EXPECT_EQ(appended, std::vector<std::string>{cached("p6")});
}

TEST_F(DownloadStepTest, PackageSizesComeFromTheServer) {
    use_real_client();
    server.put_package("s1", cds_test::package_bytes(4321, 5));
    server.require_credentials("alice", "s3cret");
    Segment segment(server.address(), "s1");
    EXPECT_EQ(raised_by([&] { korvo::cds::package_size(session, &segment); }).arguments,
              (std::vector<std::string>{"GetSingleFileSize", "0", "13"}));
    segment.put(SEGMENT_CDS_USERNAME, "alice").put(SEGMENT_CDS_PASSWORD, "s3cret");
    EXPECT_EQ(korvo::cds::package_size(session, &segment), 4321u);
    EXPECT_EQ(server.requests("GET", "s1"), 0);
}

TEST_F(DownloadStepTest, CommandsDuringTheWaitEndTheStep) {
    use_real_client();
    server.put_package("p4", "slow");
    server.answer_with(Answer::kLateBody, 60s);
    for (const int32_t stop : {-2, -3}) {
        SCOPED_TRACE(stop);
        Segment segment(server.address(), "p4");
        uint32_t handle = 0;
        waits = polls = counted = 0;
        DownloadHooks hooks;
        hooks.counted = [&] { ++counted; };
        // A CANCEL is pending at the first poll; a PAUSE comes during the
        // first wait step.
        hooks.stopped = [&] { return ++polls == (stop == -2 ? 1 : 2) ? stop : 0; };
        hooks.wait = [&](auto &, auto &, auto) {
            handle = session.awaited;
            ++waits;
        };
        EXPECT_EQ(step(segment, hooks), stop);
        EXPECT_EQ(waits, stop == -2 ? 0 : 1);
        EXPECT_EQ(counted, 1) << "the segment counts as downloaded";
        EXPECT_TRUE(appended.empty());
        EXPECT_EQ(segment.text(SEGMENT_DATA_PATH_KEY), "<absent>");
        if (handle != 0) {
            EXPECT_EQ(GetDownloadDirectory(handle), nullptr) << "the handle was not released";
        }
    }
    server.release_delayed();
}

TEST_F(DownloadStepTest, NoCallbackInThreeHoursRaises204) {
    use_real_client();
    server.put_package("p5", "never");
    server.answer_with(Answer::kLateBody, 60s);
    Segment segment(server.address(), "p5");
    uint32_t handle = 0;
    DownloadHooks hooks;
    hooks.counted = [&] { ++counted; };
    hooks.stopped = [&] {
        ++polls;
        return 0;
    };
    hooks.wait = [&](auto &, auto &, std::chrono::seconds step) {
        EXPECT_EQ(step, 10s);
        handle = session.awaited;
        ++waits;
    };
    const props_test::Raised raised = raised_by([&] { step(segment, hooks); });
    EXPECT_EQ(raised.number, KORVO_MSG_CDS_COMMAND_TIMED_OUT);
    EXPECT_EQ(raised.arguments,
              (std::vector<std::string>{"DownloadFile", std::to_string(handle), "10800"}));
    EXPECT_EQ(waits, 1080);
    EXPECT_EQ(polls, 1080);
    EXPECT_EQ(counted, 1);
    EXPECT_EQ(GetDownloadDirectory(handle), nullptr) << "the handle was not released";
    server.release_delayed();
}

// A client whose every answer the test sets.
struct FakeClient {
    int32_t download_rc = 0;
    uint32_t handle = 7;
    int32_t release_rc = 0;
    std::vector<uint32_t> released;
    const char *directory = "/nonexistent/x/y";
    bool callback_at_once = false;  // DownloadFile's own thread calls back before it returns
    std::thread caller;
    std::atomic<bool> calling{false};
};
FakeClient *fake = nullptr;

int32_t fake_download(const char *, const char *, const char *, const char *, const char *,
                      CdsStatusCallback callback, uint32_t *handle) {
    *handle = fake->handle;
    if (fake->callback_at_once) {
        const uint32_t h = fake->handle;
        fake->caller = std::thread([callback, h] {
            fake->calling = true;
            callback(h, 0);
        });
        while (!fake->calling)
            std::this_thread::yield();
    }
    return fake->download_rc;
}
const char *fake_directory(uint32_t) {
    return fake->directory;
}
int32_t fake_release(uint32_t handle) {
    fake->released.push_back(handle);
    return fake->release_rc;
}

class FakeClientTest : public DownloadStepTest {
  protected:
    FakeClientTest() {
        fake = &client;
        session.cds_funcs.DownloadFile = &fake_download;
        session.cds_funcs.GetDownloadDirectory = &fake_directory;
        session.cds_funcs.ReleaseFile = &fake_release;
        segment.put(SEGMENT_CDS_PACKAGEID, "pkg");
    }
    ~FakeClientTest() override {
        if (client.caller.joinable())
            client.caller.join();
        fake = nullptr;
    }
    FakeClient client;
    Segment segment;
};

TEST_F(FakeClientTest, CallbackBeforeTheWaitIsNotLost) {
    client.callback_at_once = true;
    DownloadHooks hooks;
    // A lost callback would make the first step run out (and the rest raise
    // 204 at once).
    hooks.wait = [&](auto &lock, auto &done, auto) {
        ++waits;
        done.wait_for(lock, waits == 1 ? 20s : 0s);
    };
    ASSERT_EQ(step(segment, hooks), 0);
    EXPECT_LE(waits, 1) << "the callback was lost";
    EXPECT_EQ(appended, std::vector<std::string>{"/nonexistent/cache/files/1/pkg-1"});
    EXPECT_EQ(client.released, std::vector<uint32_t>{7});
    EXPECT_EQ(segment.text(SEGMENT_DATA_PATH_KEY), "/nonexistent/cache/files/1/pkg-1");
    EXPECT_EQ(properties_get_long2(&segment, SEGMENT_SIZE_KEY, -1), -1) << "no file, no size";
}

TEST_F(FakeClientTest, OnlyTheAwaitedHandleEndsTheWait) {
    client.handle = 2;
    DownloadHooks hooks;
    // During the first step, the callback of an earlier, abandoned download
    // (handle 1, a bad status) comes; during the second, the awaited one.
    hooks.wait = [&](std::unique_lock<std::mutex> &lock, auto &, auto) {
        ++waits;
        lock.unlock();
        session.complete(waits == 1 ? 1 : 2, waits == 1 ? 7 : 0);
        lock.lock();
    };
    ASSERT_EQ(step(segment, hooks), 0);
    EXPECT_EQ(waits, 2);
    const std::vector<std::string> lines = capture.lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(),
                        "korvo: Received a bad status of 7 for CDS handle of 1"),
              lines.end());
}

// A file larger than a segment's 32-bit size can state (a sparse one here)
// is no package a segment can describe.
TEST_F(FakeClientTest, AFileNoSegmentSizeCanStateIsAnError) {
    const std::string huge = logs / "huge";
    { std::ofstream(huge).put('x'); }
    std::filesystem::resize_file(huge, std::uintmax_t{3} << 30);
    client.directory = huge.c_str();
    client.download_rc = CDS_DOWNLOAD_ALREADY_THERE;
    const props_test::Raised raised = raised_by([&] { step(segment, {}); });
    EXPECT_EQ(raised.number, KORVO_MSG_CDS_COMMAND_FAILED);
    EXPECT_EQ(raised.arguments, (std::vector<std::string>{"DownloadFile", "7", "27"}));
    EXPECT_EQ(capture.lines().back(), "korvo: The CDS package pkg arrived as " + huge +
                                          " with 3221225472 bytes, more than a segment's size "
                                          "can state.");
    EXPECT_TRUE(appended.empty());
    EXPECT_EQ(segment.text(SEGMENT_DAT_FILE_KEY), "<absent>");
}

TEST_F(FakeClientTest, FailedReleasesAreLoggedAndRaisedOnTheNormalPathOnly) {
    client.release_rc = 4;
    client.download_rc = CDS_DOWNLOAD_ALREADY_THERE;
    client.handle = 9;
    const props_test::Raised raised = raised_by([&] { step(segment, {}); });
    EXPECT_EQ(raised.number, KORVO_MSG_CDS_COMMAND_FAILED);
    EXPECT_EQ(raised.arguments, (std::vector<std::string>{"ReleaseFile", "9", "4"}));
    std::vector<std::string> lines = capture.lines();
    EXPECT_EQ(lines.back(), "korvo: ReleaseFile(9) failed.  cds_rc=4");

    // A stop returns its code all the same; the failure is logged.
    client.download_rc = CDS_DOWNLOAD_STARTED;
    DownloadHooks hooks;
    hooks.stopped = [] { return -2; };
    EXPECT_EQ(step(segment, hooks), -2);
    lines = capture.lines();
    EXPECT_EQ(lines.back(), "korvo: ReleaseFile(9) failed.  cds_rc=4");
    EXPECT_EQ(client.released, (std::vector<uint32_t>{9, 9}));

    // Handle 0 is never released.
    client.handle = 0;
    client.download_rc = 1;
    EXPECT_EQ(raised_by([&] { step(segment, {}); }).arguments,
              (std::vector<std::string>{"DownloadFile", "0", "1"}));
    EXPECT_EQ(client.released.size(), 2u);
}

}  // namespace
