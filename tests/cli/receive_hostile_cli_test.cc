// korvo receive against a gateway that misbehaves: it ends early, sends
// empty packets, NULL commands and empty DATA packets inside a segment, more
// data than a segment or the whole TOC holds, one huge message, or command
// bytes the channel does not define. Whatever it does, the receive either
// delivers byte-identical outputs or exits non-zero naming what went wrong,
// and an honest gateway's rerun then ends with the right bytes.
#include "hostile_gateway.hpp"
#include "properties/korvo_keys.h"
#include "receive_fixture.hpp"

namespace cli_test {
namespace {

namespace fs = std::filesystem;

constexpr size_t kSizeA = 200000;
constexpr size_t kSizeB = 5000;

class HostileGatewayReceive : public ReceiveFixture {
  protected:
    void SetUp() override {
        ReceiveFixture::SetUp();
        a_ = cds_test::package_bytes(kSizeA, 21);
        b_ = cds_test::package_bytes(kSizeB, 22);
        cds_test::write_file(scratch_ / "seg-a", a_);
        cds_test::write_file(scratch_ / "seg-b", b_);
        ASSERT_EQ(run_program(KORVO_GATEWAY_PROGRAM,
                              {"--make-toc", toc_, scratch_ / "seg-a", scratch_ / "seg-b"})
                      .exit_code,
                  0);
    }
    std::vector<std::string> Args() const {
        return {"receive", "dist-h", "--from", "network", "--toc", toc_, "-o", out_};
    }
    // The offsets of the TOC the receive handed over, by segment id.
    static std::map<std::string, int32_t> Offsets(const std::vector<uint8_t> &toc) {
        std::map<std::string, int32_t> offsets;
        PropertiesList list{};
        properties_decode(TC_Vem_Korvo2__sequence_Properties_PropertiesList, toc.data(),
                          static_cast<uint32_t>(toc.size()), &list);
        for (uint32_t i = 0; i < list.length; ++i) {
            const char *id = properties_get_string2(&list.buffer[i], SEGMENT_ID_KEY, nullptr);
            offsets[id != nullptr ? id : ""] =
                properties_get_long2(&list.buffer[i], SEGMENT_OFFSET_KEY, 0);
        }
        properties_list_delete(&list);
        return offsets;
    }
    std::vector<std::string> SampleArgs() const { return {"dist-h", toc_, out_}; }
    // Serves what the handed TOC asks for, as the gateway peer does.
    Outcome ServeHonestly(bool sample = false) {
        HostileGateway gateway(sample ? SampleArgs() : Args(), Env(),
                               sample ? KORVO_SAMPLE_METHOD_PROGRAM : KORVO_PROGRAM);
        std::vector<uint8_t> toc = gateway.toc();
        EXPECT_FALSE(toc.empty()) << "no TOC came";
        auto offsets = Offsets(toc);
        for (auto [id, bytes] : {std::pair{"seg-a", &a_}, std::pair{"seg-b", &b_}}) {
            size_t at = static_cast<size_t>(offsets[id]);
            if (at >= bytes->size())
                continue;
            for (; at < bytes->size(); at += 16384)
                gateway.data(bytes->substr(at, 16384));
            gateway.end_segment();
        }
        gateway.end_stream();
        return gateway.finish();
    }
    bool OutputsAreRight() const {
        return fs::exists(out_ + "/seg-a") && fs::exists(out_ + "/seg-b") &&
               depot_test::ReadBytes(out_ + "/seg-a") == a_ &&
               depot_test::ReadBytes(out_ + "/seg-b") == b_;
    }
    // What the receive must have done: the right bytes and exit 0, or a
    // non-zero exit whose message names `segment`; either way the record
    // never claims more than the TOC holds, and an honest rerun completes.
    void ExpectRightOrNamed(const Outcome &run, const std::string &segment,
                            const std::string &script) {
        EXPECT_LT(run.exit_code, 128) << script << ": the receive crashed\n" << run.err;
        if (run.exit_code == 0) {
            EXPECT_TRUE(OutputsAreRight()) << script << ": exit 0 with wrong outputs";
        } else {
            EXPECT_THAT(run.err, HasSubstr(segment))
                << script << ": the error does not name " << segment << ":\n"
                << run.err;
        }
        auto record = ProgressValues(work_, "dist-h");
        if (!record["c_len"].empty()) {
            EXPECT_LE(std::stoull(record["c_len"]), kSizeA + kSizeB) << script;
        }
        ExpectRerunRepairs(script);
    }
    // An honest rerun ends with the right bytes, resumed or restarted; the
    // next script starts afresh (the sample method's output folder stays).
    void ExpectRerunRepairs(const std::string &script, bool sample = false) {
        Outcome rerun = ServeHonestly(sample);
        EXPECT_EQ(rerun.exit_code, 0) << script << ": the rerun failed\n" << rerun.err;
        EXPECT_TRUE(OutputsAreRight()) << script << ": the rerun's outputs differ";
        fs::remove_all(work_ + "/mstat");
        if (!sample)
            fs::remove_all(out_);
    }

    std::string toc_ = scratch_ / "dist.toc";
    std::string a_, b_;
};

TEST_F(HostileGatewayReceive, AnHonestGatewayDeliversEverySegmentExactly) {
    Outcome run = ServeHonestly();
    ASSERT_EQ(run.exit_code, 0) << run.err;
    EXPECT_TRUE(OutputsAreRight());
    EXPECT_THAT(run.out,
                HasSubstr("Received dist-h into " + out_ + ": 2 segments, 200 KiB, 2 verified.\n"));
}

TEST_F(HostileGatewayReceive, ASegmentUnlikeItsDigestIsFetchedAgain) {
    // The TOC carries each file's SHA-256; the gateway changes one byte.
    std::string altered = a_;
    altered[123456] ^= 1;
    {
        HostileGateway gateway(Args(), Env());
        ASSERT_FALSE(gateway.toc().empty());
        gateway.data(altered);
        gateway.end_segment();
        gateway.data(b_);
        gateway.end_segment();
        gateway.end_stream();
        Outcome run = gateway.finish();
        EXPECT_EQ(run.exit_code, 1) << run.err;
        EXPECT_THAT(run.err,
                    HasSubstr("korvo: segment seg-a does not match its checksum (SHA-256 "));
        EXPECT_THAT(run.err,
                    HasSubstr("); its output was emptied so that the next run fetches it again: "
                              "the progress record keeps 4.88 KiB of 200 KiB"));
        EXPECT_EQ(fs::file_size(out_ + "/seg-a"), 0u);
        EXPECT_EQ(ProgressValues(work_, "dist-h")["c_len"], "5000");
    }
    Outcome rerun = ServeHonestly();
    EXPECT_EQ(rerun.exit_code, 0) << rerun.err;
    EXPECT_TRUE(OutputsAreRight());

    // A resumed segment is hashed from the bytes on disk: one changed there
    // between the runs is found.
    fs::remove_all(work_ + "/mstat");
    fs::remove_all(out_);
    {
        HostileGateway gateway(Args(), Env());
        ASSERT_FALSE(gateway.toc().empty());
        gateway.data(a_.substr(0, 100000));
        EXPECT_EQ(gateway.finish().exit_code, 5);
    }
    ASSERT_EQ(fs::file_size(out_ + "/seg-a"), 100000u);
    std::string on_disk = depot_test::ReadBytes(out_ + "/seg-a");
    on_disk[500] ^= 1;
    cds_test::write_file(out_ + "/seg-a", on_disk);
    rerun = ServeHonestly();
    EXPECT_EQ(rerun.exit_code, 1) << rerun.err;
    EXPECT_THAT(rerun.err, HasSubstr("korvo: segment seg-a does not match its checksum"));
    rerun = ServeHonestly();
    EXPECT_EQ(rerun.exit_code, 0) << rerun.err;
    EXPECT_TRUE(OutputsAreRight());
}

TEST_F(HostileGatewayReceive, ShortOrOverlongSegmentsAreNamedAndTheRerunRepairsThem) {
    struct Script {
        const char *what;
        const char *names;  // the segment the error must name
        std::function<void(HostileGateway &)> play;
    };
    const std::string half = a_.substr(0, 100000), rest = a_.substr(100000);
    // Ends seg-a, then sends seg-b whole and ends the stream.
    const auto then_b = [&](HostileGateway &g) {
        g.end_segment();
        g.data(b_);
        g.end_segment();
        g.end_stream();
    };
    const std::vector<Script> scripts{
        {"hang up inside a segment", "seg-a", [&](HostileGateway &g) { g.data(half); }},
        {"end of stream inside a segment", "seg-a",
         [&](HostileGateway &g) {
             g.data(half);
             g.end_stream();
         }},
        {"end of stream before the second segment", "seg-b",
         [&](HostileGateway &g) {
             g.data(a_);
             g.end_segment();
             g.end_stream();
         }},
        {"empty packet inside a segment", "seg-a",
         [&](HostileGateway &g) {
             g.data(half);
             g.end_segment();
             g.data(rest);
             then_b(g);
         }},
        {"NULL command inside a segment", "seg-a",
         [&](HostileGateway &g) {
             g.data(half);
             g.command(0);
             g.data(rest);
             then_b(g);
         }},
        {"empty DATA packet inside a segment", "seg-a",
         [&](HostileGateway &g) {
             g.data(half);
             g.data("");
             g.data(rest);
             then_b(g);
         }},
        {"data beyond a segment's size", "seg-a",
         [&](HostileGateway &g) {
             g.data(a_ + "0123456789");
             then_b(g);
         }},
        {"data beyond the TOC's total", "seg-b",
         [&](HostileGateway &g) {
             g.data(a_);
             g.end_segment();
             g.data(b_ + b_);
             g.end_segment();
             g.end_stream();
         }},
        {"one 64 MiB DATA message for a 200 KB segment", "seg-a",
         [&](HostileGateway &g) {
             std::string huge = a_;
             huge.resize((64u << 20) - 1, 'x');
             g.data(huge);
             then_b(g);
         }},
    };
    for (const Script &script : scripts) {
        HostileGateway gateway(Args(), Env());
        ASSERT_FALSE(gateway.toc().empty()) << script.what;
        script.play(gateway);
        ExpectRightOrNamed(gateway.finish(), script.names, script.what);
    }
}

TEST_F(HostileGatewayReceive, TheSampleMethodCountsEachSegmentToo) {
    fs::create_directory(out_);
    const std::vector<std::pair<std::string, std::function<void(HostileGateway &)>>> scripts{
        {"korvo_sample_method: The gateway ended segment seg-a^1 at byte 100000 of 200000.",
         [&](HostileGateway &g) {
             g.data(a_.substr(0, 100000));
             g.end_segment();
             g.data(a_.substr(100000));
             g.end_segment();
         }},
        {"korvo_sample_method: The gateway sent " + std::to_string(a_.size() + b_.size()) +
             " bytes for segment seg-a^1, which has 200000 bytes left.",
         [&](HostileGateway &g) { g.data(a_ + b_); }},
    };
    for (const auto &[says, play] : scripts) {
        HostileGateway gateway(SampleArgs(), Env(), KORVO_SAMPLE_METHOD_PROGRAM);
        ASSERT_FALSE(gateway.toc().empty());
        play(gateway);
        Outcome run = gateway.finish();
        EXPECT_EQ(run.exit_code, 1) << run.err;
        EXPECT_THAT(run.err, HasSubstr(says));
        // The record claims no more than the output holds (a record the
        // stream had no checkpoint for yet claims nothing).
        auto record = ProgressValues(work_, "dist-h");
        if (!record["c_len"].empty()) {
            EXPECT_LE(std::stoull(record["c_len"]), fs::file_size(out_ + "/seg-a")) << says;
        }
        ExpectRerunRepairs(says, true);
    }
}

TEST_F(HostileGatewayReceive, EveryCommandByteHasItsOwnOutcome) {
    struct Case {
        uint8_t code;
        int exit_code;
        std::string says;
    };
    const std::vector<Case> cases{
        {2, 6, "korvo: the gateway stopped the receive with CANCEL: "},
        {3, 6, "korvo: the gateway stopped the receive with PAUSE: "},
        {4, 6, "korvo: the gateway stopped the receive with EXPIRE: "},
        {5, 6, "korvo: the gateway stopped the receive with ROAM: "},
        {6, 5, "korvo: the gateway sent the undefined command byte 0x06 in segment seg-a: "},
        {0x77, 5, "korvo: the gateway sent the undefined command byte 0x77 in segment seg-a: "},
        {0xff, 5, "korvo: the gateway sent the undefined command byte 0xff in segment seg-a: "},
    };
    for (const Case &c : cases) {
        HostileGateway gateway(Args(), Env());
        ASSERT_FALSE(gateway.toc().empty());
        gateway.data(a_.substr(0, 50000));
        gateway.command(c.code);
        Outcome run = gateway.finish();
        EXPECT_EQ(run.exit_code, c.exit_code) << int(c.code) << ": " << run.err;
        EXPECT_THAT(run.err, HasSubstr(c.says)) << int(c.code) << ": " << run.err;
        ExpectRerunRepairs("command byte " + std::to_string(c.code));
    }
}

}  // namespace
}  // namespace cli_test
