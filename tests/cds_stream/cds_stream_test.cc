// CDS streams end to end: a distribution of several packages downloaded from
// the test suite's HTTP server and read byte for byte through a type-11
// stream, twice; gateway commands from the gateway peer that stop a
// download; the three-hour limit; the size query ahead of the reads; and
// packages the client cannot fetch.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "cds/cds_stream.hpp"
#include "records/korvo_toc.h"
#include "runtime/gateway.h"
#include "stream/stream_internal.hpp"
#include "tests/cds_stream/cds_stream_support.hpp"
#include "tests/properties/props_test_util.hpp"
#include "tests/stream/program.hpp"

namespace {

using namespace cds_stream_test;
using korvo::test::Answer;
using props_test::raised_by;
using namespace std::chrono_literals;

constexpr const char *kGateway = KORVO_GATEWAY_PROGRAM;

// A session of the test's own around the real client, for the steps whose
// wait the test replaces.
korvo::cds::Session *own_session = nullptr;

void own_callback(uint32_t handle, int32_t status) {
    own_session->complete(handle, status);
}

struct OwnSession : korvo::cds::Session {
    OwnSession() {
        cds_funcs = {&DownloadFile, &GetDownloadDirectory, &GetSingleFileSize, &PublishFile,
                     &ReleaseFile};
        own_session = this;
    }
    ~OwnSession() { own_session = nullptr; }
};

// A TOC view over `list`, which stays the caller's.
struct TocView {
    explicit TocView(PropertiesList *list) : toc(toc_from_properties(list)) {}
    ~TocView() {
        toc_free_buffer(toc);
        mg_free(toc);
    }
    Toc *toc;
};

// Reads the whole distribution of the method's packages through one stream.
KORVO_CHILD_BODY(ReadWholeDistribution) {
    return cds_stream_test::as_method([&] {
        const cds_stream_test::MethodInputs in(child);
        Distribution toc(in.packages, in.manager);
        CdsKey key("dist");
        stream_test::Stream stream(net_stream_open(&key.key));
        CHILD_CHECK(stream != nullptr);
        net_stream_save_modified_toc(stream.get(), &toc);
        const auto reading = read_segments(stream.get(), in.packages.size());
        CHILD_CHECK(reading.last == 0);
        CHILD_CHECK(reading.segments == in.package_bytes());
        // Past the last segment nothing is downloaded and nothing read.
        char *data = nullptr;
        CHILD_CHECK(net_stream_read(stream.get(), &data) == 0 && data == nullptr);
        return 0;
    });
}

TEST_F(CdsStreamTest, ReadsEveryPackageByteForByteAndTheSecondRunFindsThemThere) {
    add_package("kernel.img", 200003);
    add_package("notes.txt", 16384);
    add_package("tools.tar", 70001);
    const std::string total = std::to_string(200003 + 16384 + 70001);

    for (int run = 1; run <= 2; ++run) {
        SCOPED_TRACE(run);
        EXPECT_EQ(run_method("ReadWholeDistribution"), 0) << trace(methods);
        // The first run downloads each package; the second finds each there.
        EXPECT_EQ(
            download_results(methods),
            (std::vector<int>(3, run == 1 ? CDS_DOWNLOAD_STARTED : CDS_DOWNLOAD_ALREADY_THERE)));
        for (const auto &package : packages)
            EXPECT_EQ(server.requests("GET", package.id), 1) << package.id;
        const auto record = progress("dist");
        EXPECT_EQ(record.at("t_len"), total);
        EXPECT_EQ(record.at("c_len"), total);
        EXPECT_EQ(record.at("err"), "false");
        EXPECT_EQ(record.at("close"), "true");
    }
    EXPECT_EQ(cds_test::held_packages(home),
              (std::vector<std::string>{"cache/files/1/kernel.img-1", "cache/files/1/notes.txt-1",
                                        "cache/files/1/tools.tar-1"}));
}

// Reads (or, with "size-query", queries the sizes of) the method's
// distribution while the gateway peer sends a command: once the download has
// begun (a byte on end 0), the TOC goes to the peer, which answers with the
// command; a byte on end 1 says it arrived. Arguments after "--": the mode,
// the stop code the read is to return, the server's URL.
KORVO_CHILD_BODY(StopADownloadByCommand) {
    return cds_stream_test::as_method([&] {
        const cds_stream_test::MethodInputs in(child);
        const bool size_query = in.extra.at(0) == "size-query";
        const int32_t expected_stop = std::stoi(in.extra.at(1));
        const std::string url = in.extra.at(2);
        const std::string home = std::getenv("CDSCLIENT_HOME");
        korvo::test::PipeEnd &go = child.end(0);
        korvo::test::PipeEnd &arrived = child.end(1);
        Distribution toc(in.packages, in.manager);
        CdsKey key("dist");
        stream_test::Stream stream(net_stream_open(&key.key));
        CHILD_CHECK(stream != nullptr);
        net_stream_save_modified_toc(stream.get(), &toc);
        std::thread hand_over([&] {
            if (go.receive() != 'x')
                return;
            void *bytes = nullptr;
            uint32_t length = 0;
            properties_encode(TC_Vem_Korvo2__sequence_Properties_PropertiesList, &toc, &bytes,
                              &length);
            net_send_protected(ecp_get_ipc_handle(), bytes, length, GATEWAY_KIND_TOC,
                               ep_session_id());
            mg_free(bytes);
            if (cds_test::eventually([] { return ep_korvo_poll(nullptr) != 0; }))
                arrived.send();
        });
        FileStreamState *state = korvo::stream::state_of(stream.get());
        int32_t stop = 0;
        props_test::Raised raised;
        // What the step left, checked once the thread has been joined.
        bool nothing_left = false;
        if (size_query) {
            OwnSession session;
            TocView view(&toc);
            raised =
                raised_by([&] { korvo::cds::size_query(session, &own_callback, state, view.toc); });
            nothing_left = view.toc->marked_count == 0;
        } else {
            char *data = nullptr;
            stop = net_stream_read(stream.get(), &data);
            nothing_left = data == nullptr;
        }
        hand_over.join();
        CHILD_CHECK(nothing_left);
        if (size_query) {
            CHILD_CHECK(raised.number == KORVO_MSG_CDS_SIZE_STOPPED);
            CHILD_CHECK(raised.arguments == (std::vector<std::string>{"p1", "CANCEL"}));
        } else {
            CHILD_CHECK(stop == expected_stop);
        }
        // The package counts as downloaded, but no file joined the list.
        CHILD_CHECK(state->downloads == 1 && state->next == nullptr);
        // The handle was released: the client stopped the transfer and
        // removed what it had, unless the package had arrived whole just
        // before.
        CHILD_CHECK(cds_test::eventually([&] {
            const auto files = cds_test::held_packages(home);
            return files.empty() || (files == std::vector<std::string>{"cache/files/1/p1-1"} &&
                                     cds_test::read_file(cds_test::cached_package(
                                         home, url, "p1")) == in.packages[0].bytes);
        }));
        return 0;
    });
}

// A CANCEL or PAUSE that the gateway peer sends while a package downloads
// ends the download step with -2 or -3, and the read with it; during the
// size query it raises message 211. The download is given up (unless it
// ended that very moment) and leaves no partial file; a later run reads the
// whole distribution.
TEST_F(CdsStreamTest, GatewayCommandsDuringADownloadEndTheStep) {
    add_package("p1", 300000);
    add_package("p2", 5000);
    // The peer serves a distribution of the same segments.
    const std::string sources = scratch / "sources";
    const std::string peer_toc = scratch / "peer.toc";
    std::filesystem::create_directory(sources);
    std::vector<std::string> make{kGateway, "--make-toc", peer_toc};
    for (const auto &package : packages) {
        stream_test::write_file(sources + "/" + package.id, package.bytes);
        make.push_back(sources + "/" + package.id);
    }
    ASSERT_EQ(stream_test::Program(make).wait(), 0);

    struct Case {
        const char *command;
        const char *name;
        bool size_query;
        int32_t stop;
    };
    for (const Case &c : {Case{"cancel", "CANCEL", false, -2}, Case{"pause", "PAUSE", false, -3},
                          Case{"cancel", "CANCEL", true, -2}}) {
        SCOPED_TRACE(std::string(c.command) + (c.size_query ? " in the size query" : " in a read"));
        // A server of its own for each case: its answer to p1 begins only
        // once the command is waiting in the method's channel. The package
        // may have arrived whole in an earlier case: every server's cache
        // goes.
        std::filesystem::remove_all(home + "/servers");
        korvo::test::HttpTestServer late;
        for (const auto &package : packages)
            late.put_package(package.id, package.bytes);
        late.answer_with("p1", Answer::kLateHead, 60s);
        // The channel's name: a socket's path, or on Windows the named pipe
        // of that name, which is what the method is told.
        const std::string socket = scratch / "gateway.sock";
        std::filesystem::remove(socket);
#if defined(_WIN32)
        const std::string channel = "\\\\.\\pipe\\" + socket;
#else
        const std::string channel = socket;
#endif
        stream_test::Program peer({kGateway, "--listen", channel, "--toc", peer_toc, "--timeout",
                                   "30", "--command", std::string(c.command) + "@0"});
        ASSERT_EQ(peer.line(), "gateway: listening on " + channel);
        korvo::test::Pipe go, arrived;
        korvo::test::ChildStart start;
        start.args = {c.size_query ? "size-query" : "read", std::to_string(c.stop), late.url()};
        start.ends = {go.readEnd(), arrived.writeEnd()};
        start.environment = {{"KORVO_GATEWAY", channel}};
        auto method = start_method("StopADownloadByCommand", std::move(start), late.address());
        go.closeRead();
        arrived.closeWrite();
        ASSERT_TRUE(cds_test::eventually([&] { return late.requests("GET", "p1") == 1; }));
        go.send();
        EXPECT_EQ(arrived.receive(), 'x');
        late.release_delayed();
        EXPECT_EQ(method->wait(), 0) << trace(methods);
        EXPECT_TRUE(stream_test::Program::has(
            peer.lines(), "gateway: sent " + std::string(c.name) + " after 0 data bytes"));
        EXPECT_EQ(peer.wait(), 0);
        EXPECT_EQ(late.requests("GET", "p2"), 0);
    }

    // After the pause, a new run downloads and reads everything.
    EXPECT_EQ(run_method("ReadWholeDistribution"), 0) << trace(methods);
    const auto results = download_results(methods);
    ASSERT_EQ(results.size(), 2u);
    EXPECT_EQ(results[1], CDS_DOWNLOAD_STARTED);
}

TEST_F(CdsStreamTest, TheThreeHourLimitRaises204WithoutWaiting) {
    add_package("slow", 1000);
    server.answer_with("slow", Answer::kLateBody, 60s);
    Distribution toc(packages, server.address());
    OwnSession session;
    FileStreamState state{};
    int waits = 0;
    uint32_t handle = 0;
    const korvo::cds::WaitStep count_only = [&](auto &, auto &, std::chrono::seconds step) {
        EXPECT_EQ(step, 10s);
        handle = session.awaited;
        ++waits;
    };
    const auto raised = raised_by([&] {
        korvo::cds::download_next(session, &own_callback, &toc, &state, nullptr, count_only);
    });
    EXPECT_EQ(raised.number, KORVO_MSG_CDS_COMMAND_TIMED_OUT);
    EXPECT_EQ(raised.arguments,
              (std::vector<std::string>{"DownloadFile", std::to_string(handle), "10800"}));
    EXPECT_EQ(waits, 1080);
    // The segment counts as downloaded; its file never joined the list.
    EXPECT_EQ(state.downloads, 1);
    EXPECT_EQ(state.text, nullptr);
    // With every segment downloaded, a step asks the client nothing.
    EXPECT_EQ(korvo::cds::download_next(session, &own_callback, &toc, &state, nullptr, count_only),
              0);
    EXPECT_EQ(server.requests("GET", "slow"), 1);
    server.release_delayed();
}

// Runs the size query over the method's distribution, whose segments state
// no size, then reads it: the query downloads each package into the cache
// folder given after "--" and the reads take the files from the list.
KORVO_CHILD_BODY(QuerySizesThenRead) {
    return cds_stream_test::as_method([&] {
        const cds_stream_test::MethodInputs in(child);
        const std::string cache = in.extra.at(0);
        Distribution toc(in.packages, in.manager);
        for (uint32_t i = 0; i < toc.length; ++i)
            properties_put_long_dup(toc.segment(i), SEGMENT_SIZE_KEY, 0);
        CdsKey key("dist");
        stream_test::Stream stream(net_stream_open(&key.key));
        CHILD_CHECK(stream != nullptr);
        FileStreamState *state = korvo::stream::state_of(stream.get());
        {
            OwnSession session;
            TocView view(&toc);
            korvo::cds::size_query(session, &own_callback, state, view.toc);
            CHILD_CHECK(view.toc->marked_count == 3);
        }
        std::string list;
        for (uint32_t i = 0; i < toc.length; ++i) {
            const std::string path = cache + in.packages[i].id + "-1";
            CHILD_CHECK(properties_get_long(toc.segment(i), SEGMENT_SIZE_KEY) ==
                        static_cast<int32_t>(in.packages[i].bytes.size()));
            CHILD_CHECK(properties_get_string(toc.segment(i), SEGMENT_DAT_FILE_KEY) == path);
            list += (i == 0 ? "" : ",") + path;
        }
        CHILD_CHECK(state->downloads == 3 && state->next == list);
        net_stream_save_modified_toc(stream.get(), &toc);
        const auto reading = read_segments(stream.get(), in.packages.size());
        CHILD_CHECK(reading.last == 0 && reading.segments == in.package_bytes());
        return 0;
    });
}

// The size query asks the server for the sizes the TOC lacks and downloads
// every package; the reads then take the files from the list without a
// download of their own.
TEST_F(CdsStreamTest, TheSizeQueryDownloadsAheadOfTheReads) {
    add_package("a", 40000);
    add_package("b", 16385);
    add_package("c", 3);
    const std::string cache =
        cds_test::server_root(std::filesystem::canonical(home).string(), server.url()) +
        "/cache/files/1/";

    korvo::test::ChildStart start;
    start.args = {cache};
    EXPECT_EQ(run_method("QuerySizesThenRead", std::move(start)), 0) << trace(methods);
    EXPECT_EQ(download_results(methods), (std::vector<int>{0, 0, 0}));
    for (const auto &package : packages) {
        EXPECT_EQ(server.requests("HEAD", package.id), 1);
        EXPECT_EQ(server.requests("GET", package.id), 1);
    }
}

// The size query over the method's one package, whose body comes cut short.
KORVO_CHILD_BODY(QuerySizeOfACutPackage) {
    return cds_stream_test::as_method([&] {
        const cds_stream_test::MethodInputs in(child);
        Distribution toc(in.packages, in.manager);
        properties_put_long_dup(toc.segment(0), SEGMENT_SIZE_KEY, 0);
        CdsKey key("dist");
        stream_test::Stream stream(net_stream_open(&key.key));
        CHILD_CHECK(stream != nullptr);
        const auto raised = raised_by([&] { net_stream_get_size(stream.get(), &toc); });
        CHILD_CHECK(raised.number == KORVO_MSG_SEGMENT_NOT_FOUND);
        CHILD_CHECK(raised.arguments == (std::vector<std::string>{"cut", "1"}));
        CHILD_CHECK(properties_get_long2(toc.segment(0), SEGMENT_SIZE_KEY, -1) == 0);
        return 0;
    });
}

// A size query whose download ends without a file (the body was cut short)
// writes no size into the caller's segment and leaves it unmarked, so that
// the query raises message 182 instead of the read taking the segment as
// complete.
TEST_F(CdsStreamTest, ASizeQueryWhoseDownloadBringsNoFileWritesNoSize) {
    add_package("cut", 50000);
    server.answer_with("cut", Answer::kCut);
    EXPECT_EQ(run_method("QuerySizeOfACutPackage"), 0) << trace(methods);
    EXPECT_EQ(server.requests("HEAD", "cut"), 1);
    EXPECT_EQ(server.requests("GET", "cut"), 1);
}

// Reads the method's first package through one stream in a thread and,
// once a byte arrives on end 0, its second through another stream in a
// second thread.
KORVO_CHILD_BODY(ReadTwoStreamsInThreads) {
    return cds_stream_test::as_method([&] {
        const cds_stream_test::MethodInputs in(child);
        Distribution slow_toc({in.packages.at(0)}, in.manager);
        Distribution fast_toc({in.packages.at(1)}, in.manager);
        const auto read_one = [](const char *id, Distribution &toc, const std::string &bytes) {
            const int status = as_method([&] {
                CdsKey key(id);
                stream_test::Stream stream(net_stream_open(&key.key));
                CHILD_CHECK(stream != nullptr);
                net_stream_save_modified_toc(stream.get(), &toc);
                const auto reading = read_segments(stream.get(), 1);
                CHILD_CHECK(reading.last == 0 && reading.segments == std::vector{bytes});
                return 0;
            });
            return status == 0;
        };
        bool slow_read = false, fast_read = false;
        std::thread slow(
            [&] { slow_read = read_one("slow-dist", slow_toc, in.packages[0].bytes); });
        const bool started = child.end(0).receive() == 'x';
        std::thread fast(
            [&] { fast_read = read_one("fast-dist", fast_toc, in.packages[1].bytes); });
        slow.join();
        fast.join();
        CHILD_CHECK(started && slow_read && fast_read);
        return 0;
    });
}

// Two CDS streams read in two threads of one method process, one package
// slow to come: the second stream's download waits for its turn, and each
// stream reads exactly its own package.
TEST_F(CdsStreamTest, TwoStreamsInThreadsEachReadTheirOwnPackage) {
    add_package("slow", 120000);
    add_package("fast", 30000);
    server.answer_with("slow", Answer::kLateBody, 60s);
    korvo::test::Pipe go;
    korvo::test::ChildStart start;
    start.ends = {go.readEnd()};
    auto method = start_method("ReadTwoStreamsInThreads", std::move(start));
    go.closeRead();
    // The second stream starts once the slow package's answer has begun; the
    // slow body comes once the second stream waits for its turn (or, were
    // the steps not to take turns, once its own download has started).
    ASSERT_TRUE(cds_test::eventually([&] { return server.requests("GET", "slow") == 1; }));
    go.send();
    const std::string waits =
        "korvo: The CDS download of fast waits for the download step of another stream.\n";
    const std::string started = ", fast, <null>, <null>, <null>, ";
    EXPECT_TRUE(cds_test::eventually([&] {
        const std::string text = trace(methods);
        return text.find(waits) != std::string::npos || text.find(started) != std::string::npos;
    }));
    server.release_delayed();
    EXPECT_EQ(method->wait(), 0) << trace(methods);
    EXPECT_NE(trace(methods).find(waits), std::string::npos);
    EXPECT_EQ(download_results(methods), (std::vector<int>{0, 0}));
    EXPECT_EQ(server.requests("GET", "fast"), 1);
}

// Reads, one stream each, packages the client refuses or cannot fetch from
// the method's server: each read raises message 203 with the client's code.
KORVO_CHILD_BODY(ReadPackagesTheClientCannotFetch) {
    return cds_stream_test::as_method([&] {
        const cds_stream_test::MethodInputs in(child);
        const std::vector<std::pair<std::string, int>> cases{{"garbled", CDS_BAD_ANSWER},
                                                             {"../escape", CDS_INVALID_ARGUMENT},
                                                             {"a/b", CDS_INVALID_ARGUMENT},
                                                             {"..", CDS_INVALID_ARGUMENT}};
        for (const auto &[id, code] : cases) {
            Distribution toc(std::vector<cds_stream_test::Package>{{id, "0123456789"}}, in.manager);
            CdsKey key("dist");
            stream_test::Stream stream(net_stream_open(&key.key));
            CHILD_CHECK(stream != nullptr);
            net_stream_save_modified_toc(stream.get(), &toc);
            const auto raised = raised_by([&] {
                char *data = nullptr;
                net_stream_read(stream.get(), &data);
            });
            CHILD_CHECK(raised.number == KORVO_MSG_CDS_COMMAND_FAILED);
            CHILD_CHECK(raised.arguments ==
                        (std::vector<std::string>{"DownloadFile", "0", std::to_string(code)}));
        }
        return 0;
    });
}

// Packages the client cannot fetch fail the read with message 203 and the
// client's reason; nothing is written but the progress record and the
// method's trace, whatever the package id says.
TEST_F(CdsStreamTest, PackagesTheClientCannotFetchFailTheReadAndWriteNothing) {
    add_package("garbled", 1000);
    server.answer_with("garbled", Answer::kGarbage);
    EXPECT_EQ(run_method("ReadPackagesTheClientCannotFetch"), 0) << trace(methods);
    EXPECT_EQ(server.requests("GET", "garbled"), 1);
    EXPECT_EQ(cds_test::files_under(scratch.path()),
              (std::vector<std::string>{"method-1.err", "work/mstat/dist.mds"}));
}

}  // namespace
