// Streams that poll the gateway before each read (CD, remote, remote then
// CD): under the real gateway peer, a CANCEL or PAUSE waiting in the channel
// ends the first read with -2 or -3 before any data file is opened.
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "runtime/raise.hpp"
#include "tests/stream/locate_test_support.hpp"
#include "tests/stream/program.hpp"

namespace {

using locate_test::place;
using namespace stream_test;
using stream_test::Toc;

constexpr const char *kGateway = KORVO_GATEWAY_PROGRAM;

// The method the peer runs: opens a stream of type arg(0) keeping progress
// for arg(1), gives it the TOC of the file arg(2) (under "j_toc"), which
// locates the segments, waits until the gateway has sent something on the
// inherited channel (KORVO_GATEWAY=fd:N), reads once and prints
// "read <result> started <0|1>".
KORVO_CHILD_BODY(PollingMethod) {
    korvo_init();
    try {
        korvo::rt::Frame frame;
        struct File : Properties {
            File() : Properties{} {}
            ~File() { properties_delete(this); }
        } file;
        properties_load(&file, child.arg(2).c_str());
        RawKey key(static_cast<uint8_t>(std::stoi(child.arg(0))), 1, child.arg(1));
        const Stream stream(net_stream_open(&key.key));
        net_stream_save_modified_toc(stream.get(), properties_get_properties_list(&file, "j_toc"));
        const char *channel = std::getenv("KORVO_GATEWAY");
        pollfd ready{channel != nullptr ? std::atoi(channel + 3) : -1, POLLIN, 0};
        if (::poll(&ready, 1, korvo::test::kWaitMilliseconds) != 1) {
            std::printf("nothing came from the gateway\n");
            return 1;
        }
        char *data = nullptr;
        const int32_t n = net_stream_read(stream.get(), &data);
        std::printf("read %d started %d\n", n, stream->started);
        net_stream_free_buffer(stream.get(), data);
        return 0;
    } catch (const korvo::rt::Exception &e) {
        std::printf("raised: %s", e.what());
        return 1;
    }
}

class PollingStreams : public locate_test::LocateTest {
  protected:
    // The TOC file the method reads ("j_toc", plain layout).
    std::string toc_file(const PropertiesList &toc) {
        const std::string path = scratch / "job.toc";
        Properties file{};
        properties_put_properties_list_dup(&file, "j_toc", &toc);
        properties_save(&file, path.c_str());
        properties_delete(&file);
        return path;
    }
};

TEST_F(PollingStreams, AWaitingCommandEndsTheReadBeforeAnyDataFileIsOpened) {
    const std::string remote = directory("remote"), cd = directory("cd");
    place(remote, "a", "alpha");
    place(cd, "b", "bravo");
    remote_dir(remote + "\n");
    mount_table({{cd, "iso9660"}});

    struct Notes {
        int fd = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
        ~Notes() { ::close(fd); }
    } notes;
    ASSERT_GE(notes.fd, 0);
    for (const std::string &data : {remote + "/a.dat", cd + "/b.dat"})
        ASSERT_GE(::inotify_add_watch(notes.fd, data.c_str(), IN_OPEN | IN_ACCESS), 0);

    struct Case {
        uint8_t type;
        std::vector<stream_test::SegmentEntry> segments;
    };
    const Case cases[] = {{NET_STREAM_CD, {{"b", 5}}},
                          {NET_STREAM_REMOTE, {{"a", 5}}},
                          {NET_STREAM_REMOTE_CD, {{"a", 5}, {"b", 5}}}};
    for (const Case &c : cases) {
        const Toc toc(c.segments);
        const std::string job = toc_file(toc);
        for (const std::string command : {"cancel", "pause"}) {
            SCOPED_TRACE(std::to_string(c.type) + " " + command);
            const std::string id = "poll" + std::to_string(c.type) + command;
            std::vector<std::string> argv{kGateway,    "--command", command + "@0",
                                          "--timeout", "30",        "--"};
            for (const std::string &word :
                 korvo::test::childProgram("PollingMethod", {std::to_string(c.type), id, job}).argv)
                argv.push_back(word);
            Program peer(argv);
            const std::vector<std::string> lines = peer.lines();
            EXPECT_EQ(peer.wait(), 0);
            const std::string upper = command == "cancel" ? "CANCEL" : "PAUSE";
            EXPECT_TRUE(Program::has(lines, "gateway: sent " + upper + " before any data"));
            EXPECT_TRUE(Program::has(
                lines, command == "cancel" ? "read -2 started 0" : "read -3 started 0"));
            EXPECT_TRUE(Program::has(lines, "gateway: method exited with status 0"));
            // A stop polled before a read is no error and, unlike a PAUSE in
            // the data, leaves "paused" alone.
            const auto record = progress(id);
            EXPECT_EQ(record.at("err"), "false");
            EXPECT_EQ(record.at("paused"), "false");
            EXPECT_EQ(record.at("close"), "true");
        }
    }
    char events[4096];
    EXPECT_LT(::read(notes.fd, events, sizeof events), 0) << "a data file was opened";
}

TEST(PollingPeer, ACommandWithoutADistributionGoesAtOnceOnly) {
    // Without --toc no data goes out, so a later point cannot come.
    Program peer({kGateway, "--command", "cancel@10", "--", "/bin/true"});
    EXPECT_EQ(peer.wait(), 2);
}

}  // namespace
