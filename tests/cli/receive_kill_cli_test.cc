// korvo receive killed outright (SIGKILL, TerminateProcess) again and again, at whatever
// point it has reached, from a distribution directory whose segments are
// located in another order than the TOC's and under the gateway peer: every
// rerun resumes from what the outputs hold and the record vouches for, and
// the last one ends with byte-identical outputs.
#include "receive_fixture.hpp"
#include "tests/support/test_process.hpp"

namespace cli_test {
namespace {

namespace fs = std::filesystem;

constexpr int kKills = 50;

class KilledReceive : public ReceiveFixture {
  protected:
    void SetUp() override {
        ReceiveFixture::SetUp();
        // The TOC lists A, B, C; the directory's descriptions locate C
        // first ("*.toc" before "*.itc").
        const std::vector<std::pair<std::string, size_t>> files{
            {"A.bin", 700000}, {"B.bin", 5000}, {"C.bin", 500000}};
        std::vector<std::string> args{"--make-toc", toc_};
        for (size_t i = 0; i < files.size(); ++i) {
            const std::string &name = files[i].first;
            args.push_back(Source(name, files[i].second, 50 + i));
            const bool marked = name != "C.bin";
            DescribeSegment(src_ + "/" + name + (marked ? ".itc" : ".toc"), name.c_str(), "1",
                            name.c_str(), marked);
            names_.push_back(name);
        }
        ASSERT_EQ(run_program(KORVO_GATEWAY_PROGRAM, args).exit_code, 0);
    }
    // The process id in the distribution's lock file, once a receive holds
    // it and its record has moved past `after` ("c_len"); -1 when that did
    // not happen within the bounded wait.
    std::int64_t WaitForProgress(const std::string &id, const std::string &after) const {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (std::chrono::steady_clock::now() < deadline) {
            std::string c_len = ProgressValues(work_, id)["c_len"];
            std::ifstream lock(work_ + "/mstat/" + id + ".lock");
            std::int64_t pid = -1;
            if (!c_len.empty() && c_len != after && (lock >> pid) && pid > 0)
                return pid;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return -1;
    }
    // Runs `round` (a receive started and killed once its record has moved
    // past the checkpoint it is given; false when there was nothing left to
    // kill) until the record is whole or kKills rounds are done.
    void KillAgainAndAgain(const std::string &id,
                           const std::function<bool(const std::string &)> &round) {
        std::string last;
        int kills = 0;
        for (; kills < kKills && last != "1205000"; ++kills) {
            if (!round(last))
                break;
            last = ProgressValues(work_, id)["c_len"];
        }
        EXPECT_GE(kills, 10) << "the receive ran through too fast to be killed often";
        RecordProperty("kills", kills);
    }
    void ExpectOutputsRight() const {
        for (const std::string &name : names_)
            ExpectSame(src_ + "/" + name, name);
    }

    std::string toc_ = scratch_ / "dist.toc";
    std::vector<std::string> names_;
};

TEST_F(KilledReceive, FromADirectoryLocatedOutOfTocOrder) {
    const std::vector<std::string> args{"receive", "k1", "--dir", src_, "--toc", toc_, "-o", out_};
    std::vector<std::string> slow = args;
    slow.insert(slow.end(), {"--limit-rate", "2M"});
    KillAgainAndAgain("k1", [&](const std::string &last) {
        BackgroundRun run(slow, Env());
        const std::int64_t pid = WaitForProgress("k1", last);
        if (pid < 0)
            return false;  // it finished in between
        EXPECT_EQ(pid, run.pid());
        if (pid != run.pid())
            return false;
        run.kill();
        run.finish();
        // The record is saved inside a read, before the command writes its
        // bytes: it may be that one read ahead of the outputs, never more
        // (the rerun takes the smaller).
        uint64_t on_disk = 0;
        for (const std::string &name : names_)
            if (fs::exists(out_ + "/" + name))
                on_disk += fs::file_size(out_ + "/" + name);
        EXPECT_LE(std::stoull(ProgressValues(work_, "k1")["c_len"]), on_disk + 16384)
            << "killed past " << last;
        return true;
    });
    Outcome run = korvo(args, Env());
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_NE(run.out.find("3 verified"), std::string::npos) << run.out;
    ExpectOutputsRight();
}

TEST_F(KilledReceive, UnderTheGatewayPeer) {
    const std::vector<std::string> receive{"receive", "k2", "--toc", toc_, "-o", out_};
    KillAgainAndAgain("k2", [&](const std::string &last) {
        // The peer sends small packets, so that the receive checkpoints
        // often and the kill lands anywhere; its output is of no interest.
        std::vector<std::string> argv{
            KORVO_GATEWAY_PROGRAM, "--toc", toc_, "--packet",    "1000", "--quiet",
            "--timeout",           "30",    "--", KORVO_PROGRAM, "-q"};
        argv.insert(argv.end(), receive.begin(), receive.end());
        argv.insert(argv.end(), {"--limit-rate", "2M"});
        korvo::test::Child peer(korvo::test::ProgramArgs{argv},
                                {.environment = {{"KORVO_WORK_DIR", work_}},
                                 .outputFile = scratch_ / "peer.out",
                                 .errorFile = scratch_ / "peer.err",
                                 .emptyInput = true});
        const std::int64_t pid = WaitForProgress("k2", last);
        // A process id read from a file is killed only when it is the peer's child.
        if (pid > 0 && runningChildOf(pid, peer.processId()))
            killProcess(pid);
        EXPECT_NE(peer.wait(), -1) << "the peer did not end";
        return pid >= 0;
    });
    Outcome run = run_program(KORVO_GATEWAY_PROGRAM,
                              {"--toc", toc_, "--quiet", "--timeout", "30", "--", KORVO_PROGRAM,
                               "receive", "k2", "--toc", toc_, "-o", out_},
                              With({{"KORVO_WORK_DIR", work_}}));
    EXPECT_EQ(run.exit_code, 0) << run.out << run.err;
    ExpectOutputsRight();
}

}  // namespace
}  // namespace cli_test
