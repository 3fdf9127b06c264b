// A stream's checkpoints as its progress file shows them: the count growing
// and shrinking by a digit, the file changed under the stream between two
// checkpoints, a caller's own changes to the record between them, and the
// close's flag after them.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "stream/mstat.h"
#include "stream/progress_file.hpp"
#include "tests/stream/mstat_test_support.hpp"
#include "tests/stream/stream_test_support.hpp"
#include "tests/support/test_host.hpp"

namespace {

using mstat_test::Record;
using namespace stream_test;
using stream_test::Toc;

using Values = std::map<std::string, std::string>;

class Checkpoints : public stream_test::StreamTest {
  protected:
    // Reads once and hands the buffer back; the count.
    int32_t read(NetStream *stream) {
        char *data = nullptr;
        const int32_t n = net_stream_read(stream, &data);
        net_stream_free_buffer(stream, data);
        return n;
    }
    // "c_len" in the stream's record as the stream holds it.
    static std::string held_count(NetStream *stream) {
        const char *count =
            properties_get_string2(mstat_get_properties(stream->progress), "c_len", nullptr);
        return count != nullptr ? count : "";
    }
    std::string record_path() const { return work + "/mstat/d.mds"; }
    // Lets the stream's last look at its file grow older than the interval
    // after which a checkpoint looks again.
    static void wait_out_the_recheck_interval() {
        const auto start = std::chrono::steady_clock::now();
        while (std::chrono::steady_clock::now() - start <= korvo::stream::kRecheckInterval)
            std::this_thread::sleep_for(korvo::stream::kRecheckInterval);
    }
    static Values expected(const std::string &total, const std::string &count) {
        return {{"msid", "d"},       {"err", "false"}, {"close", "false"},
                {"paused", "false"}, {"t_len", total}, {"c_len", count}};
    }
};

// A count that gains a digit makes a larger record, which replaces the file;
// a later run that starts lower makes a smaller one. Each checkpoint is the
// whole record, in the file and in the stream's list.
TEST_F(Checkpoints, TheCountGainsAndLosesDigits) {
    // A sparse file whose segment starts close below 10^9 bytes.
    const std::string big = scratch / "big";
    const int32_t size = 1'000'100'000;
    write_file(big, "");
    std::filesystem::resize_file(big, size);
    const Toc toc({{"big", size, 999'950'000, big}});
    Stream stream = open({big}, true, toc);
    const std::vector<std::string> counts = {"999966384", "999982768", "999999152", "1000015536",
                                             "1000031920"};
    ASSERT_EQ(read(stream.get()), 16384);
    for (const std::string &count : counts) {
        ASSERT_EQ(read(stream.get()), 16384);
        EXPECT_EQ(progress("d"), expected("1000100000", count));
        EXPECT_EQ(held_count(stream.get()), count);
    }
    stream.reset();

    // Started over from the beginning: "c_len" shrinks to five digits.
    const Toc again({{"big", size, 0, big}});
    Stream rerun = open({big}, true, again);
    ASSERT_EQ(read(rerun.get()), 16384);
    ASSERT_EQ(read(rerun.get()), 16384);
    EXPECT_EQ(progress("d"), expected("1000100000", "16384"));
    ASSERT_EQ(read(rerun.get()), 16384);
    EXPECT_EQ(progress("d"), expected("1000100000", "32768"));
    EXPECT_EQ(held_count(rerun.get()), "32768");
}

// Between two checkpoints another program replaces the record's file, gives
// it a second name, cuts it short or lengthens it: the first checkpoint once
// the stream's last look at its file is older than the recheck interval
// leaves the whole record at the record's path, and nothing under the other
// name changes.
TEST_F(Checkpoints, AFileChangedUnderTheStreamIsWrittenWhole) {
    const std::string data = file("a", 16384 * 8, 1);
    const Toc toc({{"a", 16384 * 8, 0, data}});
    Stream stream = open({data}, true, toc);
    ASSERT_EQ(read(stream.get()), 16384);
    ASSERT_EQ(read(stream.get()), 16384);
    ASSERT_EQ(progress("d")["c_len"], "16384");

    const std::string path = record_path();
    const std::string linked = scratch / "linked";
    const auto checkpoint = [&](const std::string &count) {
        wait_out_the_recheck_interval();
        ASSERT_EQ(read(stream.get()), 16384);
        EXPECT_EQ(progress("d"), expected("131072", count));
    };
    // Replaced by a copy of the same bytes: the stream's file has no name.
    const std::string copy = scratch / "copy";
    write_file(copy, contents(path));
    ASSERT_TRUE(korvo::test::replaceFile(copy, path));
    checkpoint("32768");

    // A second name outside the progress directory keeps what it had.
    std::filesystem::create_hard_link(path, linked);
    const std::string before = contents(linked);
    checkpoint("49152");
    EXPECT_EQ(contents(linked), before);
    EXPECT_EQ(std::filesystem::hard_link_count(path), 1u);

    // Cut short, then lengthened.
    std::filesystem::resize_file(path, 3);
    checkpoint("65536");
    std::filesystem::resize_file(path, std::filesystem::file_size(path) + 4);
    checkpoint("81920");

    // Another record of this process replaces the file: the very next
    // checkpoint looks, without waiting for the interval.
    {
        Record other(mstat_new("d", 0));
        properties_put_string_dup(mstat_get_properties(other.get()), "c_len", "7");
        ASSERT_EQ(mstat_save(other.get()), 0);
    }
    ASSERT_EQ(read(stream.get()), 16384);
    EXPECT_EQ(progress("d"), expected("131072", "98304"));
}

// Keys a caller changes on the stream's record between checkpoints are in
// the next checkpoint's file: values of another length, of the same length,
// changed twice, added and removed, and of other types than strings.
TEST_F(Checkpoints, ACallersChangesReachTheNextCheckpoint) {
    const std::string data = file("a", 16384 * 12, 2);
    const Toc toc({{"a", 16384 * 12, 0, data}});
    Stream stream = open({data}, true, toc);
    Properties *list = mstat_get_properties(stream->progress);
    ASSERT_EQ(read(stream.get()), 16384);
    ASSERT_EQ(read(stream.get()), 16384);  // the first checkpoint, 5 digits
    ASSERT_EQ(read(stream.get()), 16384);  // the second, patched in place

    Values want = expected("196608", "32768");
    EXPECT_EQ(progress("d"), want);
    const auto checkpoint = [&](int step) {
        ASSERT_EQ(read(stream.get()), 16384);
        want["c_len"] = std::to_string(16384 * step);
        EXPECT_EQ(progress("d"), want) << step;
    };
    properties_put_string_dup(list, "phase", "copying");
    want["phase"] = "copying";
    checkpoint(3);
    properties_put_string_dup(list, "phase", "written");  // as long as before
    want["phase"] = "written";
    checkpoint(4);
    properties_put_string_dup(list, "phase", "xxxxxxx");
    properties_put_string_dup(list, "phase", "yyyyyyy");  // twice over
    want["phase"] = "yyyyyyy";
    checkpoint(5);
    properties_put_boolean_dup(list, "paused", 1);
    want["paused"] = "true";
    checkpoint(6);
    properties_remove_and_destroy(list, "phase");
    want.erase("phase");
    checkpoint(7);
    // The caller's own digits in the count give way to the stream's.
    properties_put_string_dup(list, "c_len", "999999");
    checkpoint(8);
    // A value of a type the record's bytes are not compared for.
    properties_put_long_dup(list, "tries", 1);
    checkpoint(9);
    properties_put_long_dup(list, "tries", 2);
    checkpoint(10);
    Properties loaded{};
    properties_load_without_len(&loaded, record_path().c_str());
    EXPECT_EQ(properties_get_long2(&loaded, "tries", 0), 2);
    properties_delete(&loaded);
}

// The close turns its flag in the record the last checkpoint wrote: the
// file holds the whole record with "close" true and every other key as the
// checkpoints left it, the caller's flags of either value among them; and
// so it does when the caller changed the record after the last checkpoint.
TEST_F(Checkpoints, TheCloseTurnsItsFlagInTheLastCheckpoint) {
    const std::string data = file("a", 16384 * 4, 3);
    const Toc toc({{"a", 16384 * 4, 0, data}});
    for (const bool changedAfter : {false, true}) {
        Stream stream = open({data}, true, toc);
        Properties *list = mstat_get_properties(stream->progress);
        properties_put_boolean_dup(list, "verified", 1);
        properties_put_boolean_dup(list, "retried", 0);
        ASSERT_EQ(read(stream.get()), 16384);
        ASSERT_EQ(read(stream.get()), 16384);  // the first checkpoint, encoded
        ASSERT_EQ(read(stream.get()), 16384);  // patched in place
        Values want = expected("65536", "32768");
        want["verified"] = "true";
        want["retried"] = "false";
        EXPECT_EQ(progress("d"), want) << changedAfter;
        if (changedAfter) {
            properties_put_string_dup(list, "phase", "copied");
            want["phase"] = "copied";
        }
        stream.reset();
        want["close"] = "true";
        EXPECT_EQ(progress("d"), want) << changedAfter;
    }
}

}  // namespace
