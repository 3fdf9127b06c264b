// Whole distributions through the real programs: the gateway peer serving a
// distribution over the channel and the sample method writing it to files,
// stopped by commands, killed at random points and restarted until done;
// and uploads answered and kept by the peer.
#include <poll.h>
#include <sys/inotify.h>
#include <sys/socket.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include "properties/korvo_keys.h"
#include "runtime/gateway.h"
#include "tests/runtime/raw_gateway.hpp"
#include "tests/stream/program.hpp"
#include "tests/stream/sample_method_run.hpp"
#include "tests/stream/stream_test_support.hpp"
#include "tests/support/test_host.hpp"

namespace {

using namespace stream_test;

constexpr const char *kGateway = KORVO_GATEWAY_PROGRAM;
constexpr const char *kMethod = KORVO_SAMPLE_METHOD_PROGRAM;

class EndToEnd : public stream_test::SampleMethodRun {
  protected:
    EndToEnd() : SampleMethodRun(kMethod) {}

    std::vector<std::string> serve(const std::vector<std::string> &options = {}) {
        return start(options).lines_starting();
    }
    uint64_t written() const {
        uint64_t bytes = 0;
        for (const std::string &name : names)
            if (std::filesystem::exists(out + "/" + name))
                bytes += std::filesystem::file_size(out + "/" + name);
        return bytes;
    }
    void expect_complete() {
        expect_outputs();
        const auto values = progress("dist");
        EXPECT_EQ(values.at("t_len"), std::to_string(total));
        EXPECT_EQ(values.at("c_len"), std::to_string(total));
        EXPECT_EQ(values.at("close"), "true");
    }
};

TEST_F(EndToEnd, ADistributionArrivesByteForByte) {
    distribution(
        {{"big.bin", (4 << 20) + 3}, {"empty.bin", 0}, {"small.bin", 20000}, {"odd.bin", 70001}});
    const auto lines = serve();
    EXPECT_EQ(peer->wait(), 0);
    ASSERT_EQ(lines.size(), 8u);
    EXPECT_TRUE(lines[0].starts_with("gateway: started " + std::string(kMethod) + " (pid "));
    const std::vector<std::string> rest(lines.begin() + 1, lines.end());
    EXPECT_EQ(rest, (std::vector<std::string>{
                        "gateway: TOC of 4 segments, 4284308 bytes, resuming at 0",
                        "gateway: segment big.bin^1: sent bytes 0 to 4194307",
                        "gateway: segment small.bin^1: sent bytes 0 to 20000",
                        "gateway: segment odd.bin^1: sent bytes 0 to 70001",
                        "gateway: end of stream, 4284308 data bytes in 264 packets",
                        "gateway: the method closed the channel",
                        "gateway: method exited with status 0",
                    }));
    expect_complete();
    EXPECT_EQ(progress("dist").at("paused"), "false");
    EXPECT_EQ(progress("dist").at("err"), "false");
}

TEST_F(EndToEnd, APausedDistributionResumesAtItsCheckpoint) {
    distribution({{"a.bin", 3000000}, {"b.bin", 5000}});
    serve({"--command", "pause@1000000"});
    EXPECT_EQ(peer->wait(), 3);
    // 61 packets of 16384 bytes were checkpoints; the last 576 bytes were not.
    auto values = progress("dist");
    EXPECT_EQ(values.at("c_len"), "999424");
    EXPECT_EQ(values.at("t_len"), "3005000");
    EXPECT_EQ(values.at("paused"), "true");
    EXPECT_EQ(values.at("close"), "true");
    EXPECT_EQ(written(), 1000000u);

    const auto lines = serve();
    EXPECT_EQ(peer->wait(), 0);
    EXPECT_EQ(lines.at(1), "gateway: TOC of 2 segments, 3005000 bytes, resuming at 999424");
    EXPECT_EQ(lines.at(2), "gateway: segment a.bin^1: sent bytes 999424 to 3000000");
    expect_complete();
    EXPECT_EQ(progress("dist").at("paused"), "false");  // a new record for the new run
}

TEST_F(EndToEnd, EveryCommandStopsTheMethod) {
    distribution({{"a.bin", 200000}});
    for (const char *name : {"cancel", "expire", "roam"}) {
        SCOPED_TRACE(name);
        std::filesystem::remove_all(work + "/mstat");
        const auto lines = start({"--command", std::string(name) + "@50000"}).lines();
        EXPECT_EQ(peer->wait(), 3);
        std::string upper = name;
        std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
        EXPECT_TRUE(Program::has(lines, "stopped: " + upper));
        EXPECT_TRUE(Program::has(lines, "gateway: sent " + upper + " after 50000 data bytes"));
        EXPECT_EQ(progress("dist").at("paused"), "false");
    }
}

TEST_F(EndToEnd, TheSampleMethodSendsItsReportUpOnceComplete) {
    distribution({{"a.bin", 30000}});
    const std::string report = scratch / "report.txt";
    const std::string uploads = scratch / "uploads";
    stream_test::write_file(report, stream_test::pattern(20000, 9));
    std::filesystem::create_directory(uploads);
    const auto lines = start({"--uploads", uploads}, {report}).lines();
    EXPECT_EQ(peer->wait(), 0);
    EXPECT_TRUE(Program::has(lines, "sent " + report + " up"));
    EXPECT_TRUE(
        Program::has(lines, "gateway: upload 1: 20000 bytes in 2 chunks (16384, 3616), kept in " +
                                uploads + "/upload-1"));
    EXPECT_TRUE(contents(uploads + "/upload-1") == contents(report));
    expect_complete();
}

TEST_F(EndToEnd, UploadsAreAnsweredAndKept) {
    const std::string uploads = scratch / "uploads";
    const std::string socket = scratch / "gateway.sock";
    std::filesystem::create_directory(uploads);
    Program gateway({kGateway, "--listen", socket, "--timeout", "30", "--grant", "1000", "--refuse",
                     "-7@3", "--uploads", uploads});
    ASSERT_EQ(gateway.line(), "gateway: listening on " + socket);
    korvo::test::Child method([&] {
        korvo::test::setEnvironmentVariable("KORVO_GATEWAY", socket.c_str());
        IomHandle *channel = ecp_get_ipc_handle();
        const GatewayStatus status{};
        GatewayReply reply{};
        const std::string chunk(1000, 'u');
        const int32_t expected[] = {1000, 1000, -7};
        for (int upload = 0; upload < 2; ++upload) {
            CHILD_CHECK(send_methstat(channel, GATEWAY_KIND_STATUS, &status) == 0);
            CHILD_CHECK(recv_struct(channel, GATEWAY_KIND_REPLY, &reply) == 0);
            CHILD_CHECK(reply.kind == 20 && reply.value == 1000);
            for (int i = 0; i < (upload == 0 ? 3 : 1); ++i) {
                const uint32_t length = upload == 0 && i == 2 ? 500 : 1000 - 990 * upload;
                CHILD_CHECK(net_send_protected(channel, chunk.data(), length, GATEWAY_KIND_DATA,
                                               ep_session_id()) == 0);
                CHILD_CHECK(recv_struct(channel, GATEWAY_KIND_REPLY, &reply) == 0);
                CHILD_CHECK(reply.kind == 11 && reply.value == expected[i]);
            }
            CHILD_CHECK(net_send_protected(channel, nullptr, 0, GATEWAY_KIND_END, 0) == 0);
        }
        return 0;
    });
    EXPECT_EQ(method.wait(), 0);
    EXPECT_EQ(gateway.lines_starting(),
              (std::vector<std::string>{
                  "gateway: method connected",
                  "gateway: upload 1: status, granted 1000",
                  "gateway: upload 1: chunk 3 of 500 bytes refused with -7",
                  "gateway: upload 1: 2500 bytes in 3 chunks (1000 x 2, 500), kept in " + uploads +
                      "/upload-1",
                  "gateway: upload 2: status, granted 1000",
                  "gateway: upload 2: 10 bytes in 1 chunk (10), kept in " + uploads + "/upload-2",
                  "gateway: the method closed the channel",
              }));
    EXPECT_EQ(gateway.wait(), 0);
    EXPECT_EQ(contents(uploads + "/upload-1"), std::string(2500, 'u'));
    EXPECT_EQ(contents(uploads + "/upload-2"), std::string(10, 'u'));
}

// A method that leaves a stream in the middle and hands the same TOC over
// again gets the whole distribution on its second stream: the peer ends
// the first stream before it serves the second, and the channel drops what
// was left of the first.
TEST_F(EndToEnd, ASecondStreamAfterAnAbandonedOneGetsItsOwnBytes) {
    // More than the sockets hold, so that the peer is still sending the
    // first stream when the second TOC arrives.
    distribution({{"a.bin", 3000000}, {"b.bin", 20000}});
    const std::string socket = scratch / "again.sock";
    Program gateway({kGateway, "--listen", socket, "--timeout", "30", "--toc", toc});
    ASSERT_EQ(gateway.line(), "gateway: listening on " + socket);
    korvo::test::Child method([&] {
        korvo::test::setEnvironmentVariable("KORVO_GATEWAY", socket.c_str());
        korvo::test::setEnvironmentVariable("KORVO_GATEWAY_TIMEOUT",
                                            "10");  // an end that never comes fails
        Properties file{};
        properties_load(&file, toc.c_str());
        PropertiesList *segments = properties_get_properties_list(&file, JOB_TOC_KEY);
        std::string received;
        for (int round = 0; round < 2; ++round) {
            stream_test::RawKey key(NET_STREAM_NETWORK, 2, "again");
            stream_test::Stream stream(net_stream_open(&key.key));
            net_stream_save_modified_toc(stream.get(), segments);
            for (int ended = 0; ended < 2;) {
                char *data = nullptr;
                const int32_t n = net_stream_read(stream.get(), &data);
                CHILD_CHECK(n >= 0);
                if (n == 0) {
                    ++ended;
                    continue;
                }
                if (round == 1)
                    received.append(data, static_cast<std::size_t>(n));
                net_stream_free_buffer(stream.get(), data);
                if (round == 0)
                    break;  // leave the first stream after its first packet
            }
            if (round == 0)
                continue;
            char *data = nullptr;
            CHILD_CHECK(net_stream_read(stream.get(), &data) == 0);  // its end of stream
        }
        properties_delete(&file);
        CHILD_CHECK(received == contents(scratch / "a.bin") + contents(scratch / "b.bin"));
        return 0;
    });
    EXPECT_EQ(method.wait(), 0);
    const auto lines = gateway.lines_starting();
    EXPECT_NE(std::find_if(lines.begin(), lines.end(),
                           [](const std::string &line) {
                               return line.starts_with("gateway: end of the previous stream");
                           }),
              lines.end());
    EXPECT_EQ(gateway.wait(), 0);
}

// The method is killed with SIGKILL whenever its output passes a threshold
// drawn a little beyond where it resumed, and restarted until done (and the
// distribution received again from scratch until 20 kills have happened).
// After each kill the progress record must load, and what the method had
// (checkpoint or files) beyond where the next run resumes, which is fetched
// again, may be at most what arrives between two checkpoints.
TEST_F(EndToEnd, AMethodKilledAtRandomPointsResumesEachTime) {
    const char *fixed = std::getenv("KORVO_KILL_SEED");
    const unsigned seed = fixed != nullptr ? static_cast<unsigned>(std::strtoul(fixed, nullptr, 10))
                                           : std::random_device{}();
    std::cout << "kill loop seed " << seed << " (KORVO_KILL_SEED repeats it)" << std::endl;
    RecordProperty("seed", std::to_string(seed));
    std::mt19937 random(seed);
    distribution(
        {{"a.bin", (3 << 20) + 5}, {"empty.bin", 0}, {"b.bin", (1 << 20) + 7}, {"c.bin", 70001}});
    // A run advances by 0.5 to 1.5 steps (and the few packets written before
    // the kill lands), so 40 steps make well over 20 kills.
    const uint64_t step = total / 40;

    struct Notes {
        int fd = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
        ~Notes() { ::close(fd); }
    } notes;
    ASSERT_GE(notes.fd, 0);
    ASSERT_GE(::inotify_add_watch(notes.fd, out.c_str(), IN_MODIFY), 0);
    int kills = 0;
    uint64_t had = 0;  // what the killed method had: its checkpoint or its files
    std::vector<uint64_t> fetched_again;
    for (int round = 0; kills < 20 && round < 10; ++round) {
        if (round > 0) {  // again from scratch
            std::filesystem::remove_all(work + "/mstat");
            for (const std::string &name : names)
                std::filesystem::remove(out + "/" + name);
        }
        bool resuming = false;  // this round's method was killed before
        for (int run = 0; run < 200; ++run) {
            peer = std::make_unique<Program>(std::vector<std::string>{
                kGateway, "--toc", toc, "--timeout", "30", "--", kMethod, "dist", toc, out});
            const std::string started = peer->line();
            ASSERT_TRUE(started.starts_with("gateway: started")) << started;
            const pid_t method = std::stoi(started.substr(started.find("(pid ") + 5));
            // A method that finds everything there hands no TOC over.
            std::string line = peer->line();
            while (!line.empty() && !line.starts_with("gateway: TOC") &&
                   !line.starts_with("distribution"))
                line = peer->line();
            const std::size_t at = line.find("resuming at ");
            const uint64_t resumed =
                at != std::string::npos ? std::stoull(line.substr(at + 12)) : total;
            if (resuming)
                fetched_again.push_back(had > resumed ? had - resumed : 0);

            const uint64_t threshold =
                resumed + std::uniform_int_distribution<uint64_t>(step / 2, step * 3 / 2)(random);
            bool killed = false, ended = false;
            while (!killed && !ended) {
                pollfd ready[2] = {{notes.fd, POLLIN, 0}, {peer->output(), POLLIN, 0}};
                ASSERT_GT(::poll(ready, 2, korvo::test::kWaitMilliseconds), 0) << "no progress";
                char events[4096];
                while (::read(notes.fd, events, sizeof events) > 0) {
                }
                if (written() >= threshold) {
                    ::kill(method, SIGKILL);
                    killed = true;
                } else if ((ready[1].revents & (POLLIN | POLLHUP)) != 0 && !peer->pump()) {
                    ended = true;  // the peer's output ended: the run is over
                }
            }
            const int status = peer->wait();
            if (killed && status == 128 + SIGKILL) {
                ++kills;
                resuming = true;
                const auto values = progress("dist");  // loads whole after every kill
                const uint64_t checkpoint =
                    values.count("c_len") ? std::stoull(values.at("c_len")) : 0;
                had = std::max(written(), checkpoint);
                continue;
            }
            ASSERT_EQ(status, 0) << "run " << run;
            break;
        }
        expect_complete();
    }
    EXPECT_GE(kills, 20);
    ASSERT_FALSE(fetched_again.empty());
    const uint64_t most = *std::max_element(fetched_again.begin(), fetched_again.end());
    uint64_t sum = 0;
    for (uint64_t bytes : fetched_again)
        sum += bytes;
    std::cout << "kill loop: " << kills << " kills, bytes fetched again per kill: mean "
              << sum / fetched_again.size() << ", most " << most << std::endl;
    RecordProperty("kills", kills);
    RecordProperty("most_fetched_again", std::to_string(most));
    EXPECT_LE(most, 16384u + 10240u);
}

}  // namespace
