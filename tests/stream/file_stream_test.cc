// File-list streams: walking the list (skipping complete segments, resuming
// at offsets, stopping at unknown names), the segment each read belongs to,
// and the progress record a file stream keeps: its checkpoints, its totals
// and the logged texts of failed saves.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "runtime/log_capture.hpp"
#include "stream/read_segment.h"
#include "tests/properties/props_test_util.hpp"
#include "tests/stream/stream_test_support.hpp"

namespace {

using props_test::raised_by;
using namespace stream_test;
using stream_test::Toc;

class FileStreams : public stream_test::StreamTest {
  protected:
    // Reads once: the bytes, or "<n>" for a count that is not positive.
    std::string read(NetStream *stream) {
        char *data = nullptr;
        const int32_t n = net_stream_read(stream, &data);
        if (n <= 0) {
            EXPECT_EQ(data, nullptr);
            return "<" + std::to_string(n) + ">";
        }
        std::string bytes(data, static_cast<std::size_t>(n));
        net_stream_free_buffer(stream, data);
        return bytes;
    }
};

TEST_F(FileStreams, SkipCompleteSegmentsAndResumeAtTheirOffsets) {
    const std::string a = file("a", 300, 1), b = file("b", 50, 2), c = file("c", 40000, 3);
    const std::string e = file("e", 0, 4);
    Toc toc({{"a", 300, 100, a}, {"b", 50, 50, b}, {"e", 0, 0, e}, {"c", 40000, 0, c}});
    Stream stream = open({a, b, e, c}, false);
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(stream->type, NET_STREAM_FILES);
    EXPECT_EQ(stream->chunkSize, 16384);
    EXPECT_STREQ(stream->distId, "d");
    net_stream_save_modified_toc(stream.get(), &toc);

    EXPECT_EQ(read(stream.get()), contents(a).substr(100));
    EXPECT_EQ(read(stream.get()), "<0>");  // a's end; b and e are complete
    EXPECT_EQ(read(stream.get()), contents(c).substr(0, 16384));
    EXPECT_EQ(read(stream.get()), contents(c).substr(16384, 16384));
    EXPECT_EQ(read(stream.get()), contents(c).substr(32768));
    EXPECT_EQ(read(stream.get()), "<0>");
    EXPECT_EQ(read(stream.get()), "<0>");  // the list is used up
    EXPECT_EQ(stream->started, 1);
}

TEST_F(FileStreams, UnknownNamesAndMissingFilesEndTheRead) {
    const std::string a = file("a", 10, 1), c = file("c", 20, 3);
    const std::string missing = scratch / "missing";
    Toc toc({{"a", 10, 0, a}, {"m", 5, 0, missing}, {"c", 20, 0, c}});
    Stream stream = open({a, scratch / "unknown", missing, c}, false, toc);
    EXPECT_EQ(read(stream.get()), contents(a));
    EXPECT_EQ(read(stream.get()), "<0>");
    EXPECT_EQ(read(stream.get()), "<0>");  // a name no segment has
    const auto raised = raised_by([&] { read(stream.get()); });
    EXPECT_EQ(raised.number, 11);
    EXPECT_EQ(raised.arguments, std::vector<std::string>{missing});
    EXPECT_EQ(read(stream.get()), contents(c));  // the failed name was taken

    // A seek that fails leaves no file open at the segment's start: the next
    // read goes on with the next name.
    Toc odd({{"a", 10, -5, a}, {"c", 20, 0, c}});
    Stream seeking = open({a, c}, false, odd);
    EXPECT_EQ(raised_by([&] { read(seeking.get()); }).number, 23);
    EXPECT_EQ(read(seeking.get()), contents(c));

    // Without a comma the text is the id and the list is empty; without a TOC
    // no name matches.
    Stream bare = open({}, false);
    EXPECT_STREQ(bare->distId, "d");
    EXPECT_EQ(read(bare.get()), "<0>");
    Stream untold = open({a}, false);
    EXPECT_EQ(read(untold.get()), "<0>");
}

// A buffer the caller gave back may carry the next read; one it still holds
// never does, and a reused buffer is zeroed behind a short read as a new
// one is.
TEST_F(FileStreams, OnlyBuffersGivenBackAreFilledAgain) {
    const std::string c = file("c", 16384 * 4 + 100, 5);
    const std::string bytes = contents(c);
    Toc toc({{"c", 16384 * 4 + 100, 0, c}});
    Stream stream = open({c}, true, toc);
    const auto take = [&](std::size_t piece) {
        char *data = nullptr;
        EXPECT_GT(net_stream_read(stream.get(), &data), 0);
        EXPECT_NE(data, nullptr);
        if (data != nullptr) {
            EXPECT_EQ(std::string(data, 100), bytes.substr(piece * 16384, 100)) << piece;
        }
        return data;
    };
    char *first = take(0);
    char *second = take(1);
    net_stream_free_buffer(stream.get(), first);  // not the last one handed out
    char *third = take(2);
    EXPECT_NE(third, second);
    net_stream_free_buffer(stream.get(), third);
    char *fourth = take(3);
    EXPECT_NE(fourth, second);
    EXPECT_EQ(std::string(second, 16384), bytes.substr(16384, 16384));
    net_stream_free_buffer(stream.get(), second);
    net_stream_free_buffer(stream.get(), fourth);
    char *last = nullptr;
    ASSERT_EQ(net_stream_read(stream.get(), &last), 100);
    EXPECT_EQ(std::string(last, 100), bytes.substr(16384 * 4));
    EXPECT_EQ(std::string(last + 100, 16384 - 100), std::string(16384 - 100, '\0'));
    net_stream_free_buffer(stream.get(), last);  // held by the stream until its close
}

// A file hands out exactly its segment: a longer file only up to the
// segment's size, a shorter one raises once its bytes are out, and a name
// listed twice reads its segment once. Names that match no segment left to
// read are logged; so is every name of a TOC without "data_path".
TEST_F(FileStreams, EachFileHandsOutExactlyItsSegment) {
    const std::string longer = file("long", 100, 1), shorter = file("short", 20000, 2);
    Toc toc({{"long", 60, 10, longer}, {"short", 30000, 0, shorter}});
    Stream stream = open({longer, longer, shorter}, true, toc);
    korvo::rt::LogCapture capture;
    EXPECT_EQ(read(stream.get()), contents(longer).substr(10, 50));
    EXPECT_EQ(read(stream.get()), "<0>");
    EXPECT_EQ(read(stream.get()), "<0>");  // listed again: skipped
    EXPECT_EQ(read(stream.get()), contents(shorter).substr(0, 16384));
    EXPECT_EQ(read(stream.get()), contents(shorter).substr(16384));
    const auto raised = raised_by([&] { read(stream.get()); });
    EXPECT_EQ(raised.text, "The file " + shorter +
                               " ended at byte 20000 of the 30000 bytes of segment short^1.\n");
    EXPECT_EQ(capture.texts(2),
              std::vector<std::string>{"korvo: The listed file " + longer +
                                       " is the \"data_path\" of no segment left to read; it is "
                                       "skipped.\n"});
    stream.reset();
    // The last checkpoint: the offset's 10, long's 50 and short's first
    // 16384 bytes (the 3616 after them waited below the threshold).
    EXPECT_EQ(progress("d")["c_len"], "16444");
    EXPECT_EQ(progress("d")["t_len"], "30060");

    // A TOC written without "data_path" reads nothing, and says so.
    Toc bare({{"long", 100, 0}});
    Stream unnamed = open({longer}, false, bare);
    korvo::rt::LogCapture again;
    EXPECT_EQ(read(unnamed.get()), "<0>");
    EXPECT_EQ(again.texts(2).size(), 1u);
}

// A list of 10 000 files in another order than the TOC reads each file's
// segment in list order: complete ones skipped, partial ones from their
// offset, and a path that two segments share once for each, in TOC order.
TEST_F(FileStreams, ALongListInAnotherOrderThanTheToc) {
    constexpr int kSegments = 10000;
    std::vector<SegmentEntry> entries;
    std::vector<std::string> paths;
    for (int i = 0; i < kSegments; ++i) {
        paths.push_back(file("f" + std::to_string(i), 3, static_cast<unsigned>(i)));
        entries.push_back({"s" + std::to_string(i), 3, i % 4, paths.back()});  // 3: complete
    }
    const std::string shared = file("shared", 3, 99999);
    entries.push_back({"first", 3, 0, shared});
    entries.push_back({"second", 3, 2, shared});
    Toc toc(entries);

    // The list: every file from the last to the first, the shared one twice
    // among them; what each of its names hands out.
    std::vector<std::string> names, expected;
    for (int i = kSegments - 1; i >= 0; --i) {
        names.push_back(paths[static_cast<std::size_t>(i)]);
        if (i % 4 != 3)
            expected.push_back(contents(names.back()).substr(static_cast<std::size_t>(i % 4)));
        if (i == 7000 || i == 20) {
            names.push_back(shared);
            expected.push_back(contents(shared).substr(i == 7000 ? 0 : 2));
        }
    }
    Stream stream = open(names, true);
    net_stream_save_modified_toc(stream.get(), &toc);
    std::size_t wrong = 0;
    for (const std::string &bytes : expected) {
        wrong += read(stream.get()) != bytes;
        wrong += read(stream.get()) != "<0>";
    }
    EXPECT_EQ(wrong, 0u);
    EXPECT_EQ(read(stream.get()), "<0>");
    stream.reset();
    EXPECT_EQ(progress("d")["c_len"], progress("d")["t_len"]);
}

// A checkpoint counts what the reads before it handed out. Durable
// checkpoints (the record and its directory synced) are the same ones and
// log no failure, also after the first save, which made the file.
TEST_F(FileStreams, CheckpointsFollowTheBytesRead) {
    const std::string a = file("a", 40000, 1), b = file("b", 100, 2);
    Toc toc({{"a", 40000, 0, a}, {"b", 100, 0, b}});
    net_stream_set_durable(nullptr, 1);
    for (const bool durable : {false, true}) {
        SCOPED_TRACE(durable);
        std::filesystem::remove(work + "/mstat/d.mds");
        Stream stream = open({a, b}, true, toc);
        ASSERT_NE(stream, nullptr);
        EXPECT_EQ(stream->keepsProgress, 1);
        net_stream_set_durable(stream.get(), durable);
        korvo::rt::LogCapture capture;
        EXPECT_TRUE(progress("d").empty());  // nothing is saved before a checkpoint

        // Each read, then "c_len" as the file holds it.
        const std::vector<std::pair<std::string, std::string>> steps = {
            {"16384", ""},     {"16384", "16384"},
            {"7232", "32768"}, {"<0>", "32768"},  // 7232 waits
            {"100", "32768"},  {"<0>", "40100"},  // the total reached: a checkpoint
            {"<0>", "40100"},
        };
        for (const auto &[got, c_len] : steps) {
            const std::string bytes = read(stream.get());
            EXPECT_EQ(bytes.front() == '<' ? bytes : std::to_string(bytes.size()), got);
            EXPECT_EQ(progress("d")["c_len"], c_len);
        }
        EXPECT_TRUE(capture.texts(2).empty());
        EXPECT_EQ(progress("d"), (std::map<std::string, std::string>{{"msid", "d"},
                                                                     {"err", "false"},
                                                                     {"close", "false"},
                                                                     {"paused", "false"},
                                                                     {"t_len", "40100"},
                                                                     {"c_len", "40100"}}));
        stream.reset();
        EXPECT_EQ(progress("d")["close"], "true");
    }
}

TEST_F(FileStreams, TheTotalMakesACheckpointBelowTheThreshold) {
    const std::string a = file("a", 100, 1), b = file("b", 50, 2);
    Toc toc({{"a", 100, 0, a}, {"b", 50, 20, b}});
    Stream stream = open({a, b}, true, toc);
    EXPECT_EQ(read(stream.get()).size(), 100u);
    EXPECT_EQ(read(stream.get()), "<0>");
    EXPECT_TRUE(progress("d").empty());
    EXPECT_EQ(read(stream.get()), contents(b).substr(20));
    EXPECT_TRUE(progress("d").empty());  // counted by the next read
    EXPECT_EQ(read(stream.get()), "<0>");
    EXPECT_EQ(progress("d")["t_len"], "150");
    EXPECT_EQ(progress("d")["c_len"], "150");
}

TEST_F(FileStreams, StatusAndCallersKeysAreSaved) {
    Stream stream = open({}, true);
    korvo::rt::LogCapture capture;
    net_stream_set_status(stream.get(), "disk full");
    net_stream_update_mstat(stream.get(), "phase", "unpacking");
    net_stream_set_status(stream.get(), nullptr);
    net_stream_update_mstat(stream.get(), "ignored", nullptr);
    EXPECT_EQ(capture.texts(2),
              std::vector<std::string>{"korvo: update mstat key=phase, value=unpacking\n"});
    auto values = progress("d");
    EXPECT_EQ(values["err"], "true");
    EXPECT_EQ(values["err_msg"], "disk full");
    EXPECT_EQ(values["phase"], "unpacking");
    EXPECT_EQ(values.count("ignored"), 0u);

    // A stream without a record records nothing.
    Stream quiet = open({}, false);
    net_stream_set_status(quiet.get(), "other");
    net_stream_update_mstat(quiet.get(), "phase", "other");
    net_stream_set_status(nullptr, "other");
    EXPECT_EQ(progress("d"), values);
}

// A record whose file cannot be written (an id that is no file name): every
// save is logged with the blanks that tell what it followed, and reading
// goes on.
TEST_F(FileStreams, FailedSavesAreLoggedAndTheReadGoesOn) {
    const std::string a = file("a", 20000, 1);
    Toc toc({{"a", 20000, 0, a}});
    stream_test::RawKey key(NET_STREAM_FILES, 1, "x/y," + a);
    Stream stream(net_stream_open(&key.key));
    net_stream_save_modified_toc(stream.get(), &toc);
    korvo::rt::LogCapture capture;
    EXPECT_EQ(read(stream.get()).size(), 16384u);
    net_stream_set_status(stream.get(), "broken");
    net_stream_update_mstat(stream.get(), "k", "v");
    EXPECT_EQ(read(stream.get()).size(), 3616u);  // counts the first read's bytes
    EXPECT_EQ(read(stream.get()), "<0>");         // counts the rest: the total
    stream.reset();
    const std::string failed = "korvo: Couldn't write progress file for distribution";
    EXPECT_EQ(capture.texts(2), (std::vector<std::string>{
                                    failed + std::string(18, ' ') + "x/y\n",
                                    failed + std::string(18, ' ') + "x/y\n",
                                    "korvo: update mstat key=k, value=v\n",
                                    failed + std::string(21, ' ') + "x/y\n",
                                    failed + std::string(21, ' ') + "x/y\n",
                                    failed + std::string(14, ' ') + "x/y\n",
                                }));

    // A save that raises (its file is a directory) also logs why.
    std::filesystem::create_directories(work + "/mstat/r.mds");
    stream_test::RawKey refused(NET_STREAM_FILES, 1, "r");
    Stream other(net_stream_open(&refused.key));
    capture.clear();
    net_stream_set_status(other.get(), "x");
    EXPECT_EQ(capture.texts(2), std::vector<std::string>{failed + std::string(18, ' ') + "r\n"});
    const auto why = capture.texts(1);
    ASSERT_EQ(why.size(), 1u);
    EXPECT_TRUE(why[0].starts_with("korvo: ")) << why[0];
    // The path as the library spells it: with '/' between all its names.
    const std::string refused_path = std::filesystem::path(work + "/mstat/r.mds").generic_string();
    EXPECT_NE(why[0].find(refused_path), std::string::npos) << why[0];
}

class ReadSegment : public stream_test::StreamTest {};

// A list in another order than its TOC names each read's segment by its
// TOC index; between files and for streams without files the answer is -1.
TEST_F(ReadSegment, EachReadNamesItsSegmentWhateverTheListOrder) {
    const std::string a = file("a", 20000, 1), b = file("b", 10, 2);
    Toc toc({{"a", 20000, 0, a}, {"b", 10, 0, b}});
    stream_test::RawKey key(NET_STREAM_FILES, 2, "d," + b + "," + a);  // b listed first
    Stream stream(net_stream_open(&key.key));
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(net_stream_read_segment(stream.get()), -1);  // no TOC yet
    net_stream_save_modified_toc(stream.get(), &toc);
    EXPECT_EQ(net_stream_read_segment(stream.get()), -1);  // nothing read yet

    // b (TOC index 1), its end, then a (index 0) in two reads.
    std::vector<std::pair<int32_t, int32_t>> reads;  // (count, segment)
    for (int i = 0; i < 6; ++i) {
        char *data = nullptr;
        const int32_t n = net_stream_read(stream.get(), &data);
        reads.emplace_back(n, net_stream_read_segment(stream.get()));
        net_stream_free_buffer(stream.get(), data);
    }
    EXPECT_EQ(reads, (std::vector<std::pair<int32_t, int32_t>>{
                         {10, 1}, {0, -1}, {16384, 0}, {3616, 0}, {0, -1}, {0, -1}}));

    EXPECT_EQ(net_stream_read_segment(nullptr), -1);
    stream_test::RawKey network(NET_STREAM_NETWORK, 2, "n");
    Stream other(net_stream_open(&network.key));
    ASSERT_NE(other, nullptr);
    net_stream_save_modified_toc(other.get(), &toc);
    EXPECT_EQ(net_stream_read_segment(other.get()), -1);  // the gateway sends in TOC order
}

}  // namespace
