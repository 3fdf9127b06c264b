// Download steps of several threads in one process, through the scripted
// client (cds_scripted_client.cc, loaded through the Kes library loader) on
// a session of the test's own: the steps take turns, each ends with its own
// package whichever order the callbacks come in, a step whose callback never
// comes hands the turn on after the three-hour limit (run at once through
// the wait function), and a client that calls back on the caller's thread
// inside DownloadFile ends the step.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "cds/cds_download.hpp"
#include "kes/kes_rtl.h"
#include "tests/cds/cds_stderr.hpp"
#include "tests/cds_client/cds_test_support.hpp"
#include "tests/properties/props_test_util.hpp"
#include "tests/support/test_process.hpp"

namespace {

using namespace korvo::cds;
using props_test::raised_by;

// The scripted client's control interface.
struct Script {
    void (*reset)(const char *folder, int call_back_inside);
    uint32_t (*started)(const char *package);
    int (*finish)(uint32_t handle, int32_t status, const char *bytes, size_t length,
                  int on_this_thread);
    int (*released)(uint32_t handle);
    int (*most_at_once)();
    void (*finish_all)(int32_t status);
};

std::atomic<Session *> current_session{nullptr};

void scripted_callback(uint32_t handle, int32_t status) {
    if (Session *session = current_session.load())
        session->complete(handle, status);
}

template <typename Function>
Function resolve(void *library, const char *name) {
    return reinterpret_cast<Function>(KesRtlResolve(library, name));
}

// Loads the scripted client and points `session` and `script` at it; the
// library handle, null when it could not be loaded.
void *load_scripted(Session &session, Script &script) {
    // A path is loaded as it is given.
    void *library = KesRtlLoad(CDS_TEST_SCRIPTED_CLIENT, nullptr);
    if (library == nullptr)
        return nullptr;
    session.cds_funcs = {resolve<CdsDownloadFileFn>(library, "DownloadFile"),
                         resolve<CdsGetDownloadDirectoryFn>(library, "GetDownloadDirectory"),
                         resolve<CdsGetSingleFileSizeFn>(library, "GetSingleFileSize"),
                         resolve<CdsPublishFileFn>(library, "PublishFile"),
                         resolve<CdsReleaseFileFn>(library, "ReleaseFile")};
    script = {resolve<decltype(script.reset)>(library, "scripted_reset"),
              resolve<decltype(script.started)>(library, "scripted_started"),
              resolve<decltype(script.finish)>(library, "scripted_finish"),
              resolve<decltype(script.released)>(library, "scripted_released"),
              resolve<decltype(script.most_at_once)>(library, "scripted_most_at_once"),
              resolve<decltype(script.finish_all)>(library, "scripted_finish_all")};
    return library;
}

struct Segment : props_test::List {
    explicit Segment(const std::string &package) {
        properties_put_string_dup(this, SEGMENT_CDS_PACKAGEID, package.c_str());
    }
};

// One step on its own thread, with what it handed on.
struct Step {
    std::thread thread;
    std::atomic<bool> done{false};
    std::vector<std::string> appended;
    int32_t result = -100;
    props_test::Raised raised;
};

class DownloadTurnsTest : public testing::Test {
  protected:
    void SetUp() override {
        library = load_scripted(session, script);
        ASSERT_NE(library, nullptr) << CDS_TEST_SCRIPTED_CLIENT;
        script.reset(folder.path().c_str(), 0);
        current_session = &session;
    }
    // A test that failed may leave steps waiting for callbacks or turns:
    // every download still running is ended until each step has ended.
    void TearDown() override {
        if (library == nullptr)
            return;
        const auto all_ended = [this] {
            for (const Step *step : {&a, &b, &c, &d})
                if (step->thread.joinable() && !step->done)
                    return false;
            return true;
        };
        if (!cds_test::eventually([&] {
                script.finish_all(74);
                return all_ended();
            }))
            std::abort();
        for (Step *step : {&a, &b, &c, &d})
            if (step->thread.joinable())
                step->thread.join();
        script.reset(folder.path().c_str(), 0);
        current_session = nullptr;
    }

    // Runs the step for `package` on a thread of its own.
    void start(Step &step, const std::string &package, const DownloadHooks &hooks) {
        step.thread = std::thread([this, &step, package, hooks] {
            Segment segment(package);
            step.raised = raised_by([&] {
                step.result = korvo::cds::download_segment(
                    session, &scripted_callback, &segment, hooks,
                    [&](const char *path) { step.appended.emplace_back(path); });
            });
            step.done = true;
        });
    }

    // Joins the step once it has ended, within the bounded wait; false when
    // it did not end (TearDown then frees it).
    static bool ended(Step &step) {
        if (!cds_test::eventually([&] { return step.done.load(); }))
            return false;
        step.thread.join();
        return true;
    }

    std::string file_of(const std::string &package, uint32_t handle) const {
        return folder / (package + "." + std::to_string(handle));
    }
    void finish(uint32_t handle, const std::string &bytes, bool on_this_thread = false) {
        ASSERT_EQ(script.finish(handle, 0, bytes.data(), bytes.size(), on_this_thread ? 1 : 0), 0);
    }
    uint32_t started(const std::string &package) const { return script.started(package.c_str()); }

    // A wait function that notes when its step waited for the turn (its
    // package not started yet), and then waits as usual.
    korvo::cds::WaitStep noting_turn_waits(const std::string &package, std::atomic<bool> &noted) {
        return [this, package, &noted](auto &lock, auto &done, auto step) {
            if (started(package) == 0)
                noted = true;
            korvo::cds::wait_on_condition(lock, done, step);
        };
    }

    cds_test::ScratchDir folder;
    cds_test::ScratchDir logs;
    cds_test::StderrCapture capture{logs / "stderr"};
    void *library = nullptr;
    Script script{};
    Session session;
    Step a, b, c, d;
};

// A second step waits for its turn while the first waits for its callback;
// each ends with its own package, and the client never runs two downloads.
TEST_F(DownloadTurnsTest, AStepWaitsForTheTurnAndEachEndsWithItsOwnPackage) {
    start(a, "a", {});
    ASSERT_TRUE(cds_test::eventually([&] { return started("a") != 0; }));
    std::atomic<bool> b_waited{false};
    DownloadHooks b_hooks;
    b_hooks.wait = noting_turn_waits("b", b_waited);
    start(b, "b", b_hooks);
    ASSERT_TRUE(cds_test::eventually([&] { return b_waited.load(); }))
        << "the second step did not wait for its turn";
    EXPECT_EQ(started("b"), 0u);

    const uint32_t a_handle = started("a");
    finish(a_handle, "bytes of a");
    ASSERT_TRUE(ended(a)) << "the step did not end";
    EXPECT_EQ(a.result, 0);
    EXPECT_EQ(a.appended, std::vector<std::string>{file_of("a", a_handle)});
    EXPECT_EQ(script.released(a_handle), 1);

    ASSERT_TRUE(cds_test::eventually([&] { return started("b") != 0; }));
    const uint32_t b_handle = started("b");
    finish(b_handle, "bytes of b");
    ASSERT_TRUE(ended(b)) << "the step did not end";
    EXPECT_EQ(b.result, 0);
    EXPECT_EQ(b.appended, std::vector<std::string>{file_of("b", b_handle)});
    EXPECT_EQ(cds_test::read_file(b.appended.at(0)), "bytes of b");
    EXPECT_EQ(script.most_at_once(), 1);
    const std::vector<std::string> lines = capture.lines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(),
                         "korvo: The CDS download of b waits for the download step of another "
                         "stream."),
              1);
}

// The other order: the first step gives its download up (a PAUSE), and its
// callback comes late, during the next step's wait; it ends nothing but its
// log line, and the next step ends with its own package. A stop during the
// wait for the turn ends a step before it starts anything.
TEST_F(DownloadTurnsTest, ALateCallbackOfAnAbandonedDownloadEndsNoOtherStep) {
    DownloadHooks a_hooks;
    a_hooks.stopped = [] { return -3; };
    start(a, "a", a_hooks);
    ASSERT_TRUE(ended(a)) << "the step did not end";
    ASSERT_EQ(a.result, -3);
    const uint32_t a_handle = started("a");
    EXPECT_EQ(script.released(a_handle), 1);

    int waits = 0;
    uint32_t b_handle = 0;
    DownloadHooks b_hooks;
    b_hooks.wait = [&](std::unique_lock<std::mutex> &lock, auto &, auto) {
        ++waits;
        lock.unlock();
        b_handle = started("b");
        // First the abandoned download's callback, with a bad status, then
        // the awaited one; both on this thread, so that the step has seen
        // each before it waits again.
        if (waits == 1)
            ASSERT_EQ(script.finish(a_handle, 74, nullptr, 0, 1), 0);
        else
            finish(b_handle, "bytes of b", true);
        lock.lock();
    };
    start(b, "b", b_hooks);
    ASSERT_TRUE(ended(b)) << "the step did not end";
    EXPECT_EQ(b.result, 0);
    EXPECT_EQ(waits, 2);
    EXPECT_EQ(b.appended, std::vector<std::string>{file_of("b", b_handle)});
    const std::vector<std::string> lines = capture.lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(),
                        "korvo: Received a bad status of 74 for CDS handle of " +
                            std::to_string(a_handle)),
              lines.end());

    // A step that waits for the turn and is stopped starts nothing.
    start(c, "c", {});
    ASSERT_TRUE(cds_test::eventually([&] { return started("c") != 0; }));
    int polls = 0;
    DownloadHooks d_hooks;
    d_hooks.stopped = [&] { return ++polls == 2 ? -2 : 0; };
    d_hooks.wait = [](auto &, auto &, auto) {};
    int counted = 0;
    d_hooks.counted = [&] { ++counted; };
    start(d, "d", d_hooks);
    ASSERT_TRUE(ended(d)) << "the step did not end";
    EXPECT_EQ(d.result, -2);
    EXPECT_EQ(counted, 0) << "nothing was started, so nothing counts as downloaded";
    EXPECT_EQ(started("d"), 0u);
    finish(started("c"), "bytes of c");
    ASSERT_TRUE(ended(c)) << "the step did not end";
    EXPECT_EQ(c.result, 0);
}

// A step whose callback never comes raises message 204 after the limit
// (its wait function runs the limit at once, once the other step waits for
// its turn), releases its handle and hands the turn to the waiting step.
TEST_F(DownloadTurnsTest, AStepWhoseCallbackNeverComesHandsTheTurnOnAfterTheLimit) {
    std::atomic<bool> b_waited{false};
    int a_waits = 0;
    DownloadHooks a_hooks;
    a_hooks.wait = [&](std::unique_lock<std::mutex> &lock, auto &, auto) {
        if (++a_waits == 1) {
            lock.unlock();
            EXPECT_TRUE(cds_test::eventually([&] { return b_waited.load(); }))
                << "the second step did not wait for its turn";
            lock.lock();
        }
    };
    start(a, "a", a_hooks);
    ASSERT_TRUE(cds_test::eventually([&] { return started("a") != 0; }));
    DownloadHooks b_hooks;
    b_hooks.wait = noting_turn_waits("b", b_waited);
    start(b, "b", b_hooks);

    ASSERT_TRUE(ended(a)) << "the step did not end";
    const uint32_t a_handle = started("a");
    EXPECT_EQ(a.raised.number, KORVO_MSG_CDS_COMMAND_TIMED_OUT);
    EXPECT_EQ(a.raised.arguments,
              (std::vector<std::string>{"DownloadFile", std::to_string(a_handle), "10800"}));
    EXPECT_EQ(a_waits, 1080);
    EXPECT_EQ(script.released(a_handle), 1);

    ASSERT_TRUE(cds_test::eventually([&] { return started("b") != 0; }));
    const uint32_t b_handle = started("b");
    finish(b_handle, "bytes of b");
    ASSERT_TRUE(ended(b)) << "the step did not end";
    EXPECT_EQ(b.result, 0);
    EXPECT_EQ(b.appended, std::vector<std::string>{file_of("b", b_handle)});
}

// One step for the package "p" on a session of its own, through a scripted
// client that calls back inside DownloadFile and keeps its files in arg(0).
KORVO_CHILD_BODY(StepCalledBackInside) {
    Session session;
    Script script{};
    if (load_scripted(session, script) == nullptr)
        return 3;
    script.reset(child.arg(0).c_str(), 1);
    current_session = &session;
    Segment segment("p");
    std::vector<std::string> appended;
    int waits = 0;
    DownloadHooks hooks;
    hooks.wait = [&](auto &, auto &, auto) { ++waits; };
    const int32_t result =
        korvo::cds::download_segment(session, &scripted_callback, &segment, hooks,
                                     [&](const char *path) { appended.emplace_back(path); });
    if (result != 0 || waits != 0 || appended != std::vector<std::string>{child.arg(0) + "/p.1"})
        return 1;
    if (cds_test::read_file(appended[0]) != "inside:p" ||
        properties_get_long2(&segment, SEGMENT_SIZE_KEY, -1) != 8)
        return 2;
    return 0;
}

// A client that calls back on the caller's thread, inside DownloadFile: the
// step finds its download ended and does not wait. Run in a child process,
// so that a step that locks itself out fails the test instead of hanging it.
TEST_F(DownloadTurnsTest, ACallbackOnTheCallersThreadInsideDownloadFileEndsTheStep) {
    korvo::test::Child child("StepCalledBackInside", {.args = {folder.path()}});
    EXPECT_EQ(child.wait(), 0) << "-1: the step did not end";
}

}  // namespace
