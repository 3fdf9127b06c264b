// The in-kernel copy where only a POSIX host can show it: a FIFO as the
// data file, which Windows has none of, and an output opened for appending.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "stream/copy_segment.h"
#include "tests/stream/copy_segment_support.hpp"
#include "tests/stream/stream_test_support.hpp"

namespace {

using namespace copy_segment_test;
using stream_test::contents;
using stream_test::pattern;
using stream_test::Stream;
using stream_test::Toc;

// A FIFO as the data file and an output opened for appending: the copy
// moves nothing and the reads deliver every byte, as without it.
TEST_F(CopiedSegments, WhatTheKernelWillNotCopyIsRead) {
    const std::string bytes = pattern(100000, 4);
    const std::string fifo = scratch / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::thread writer([&] {
        UniqueFd in(::open(fifo.c_str(), O_WRONLY | O_CLOEXEC));
        for (size_t at = 0; at < bytes.size();) {
            const ssize_t n = ::write(in.get(), bytes.data() + at, bytes.size() - at);
            if (n <= 0)
                break;
            at += static_cast<size_t>(n);
        }
    });
    Toc toc({{"p", 100000, 0, fifo}});
    Stream stream = open({fifo}, true);
    net_stream_save_modified_toc(stream.get(), &toc);
    UniqueFd out = output("out");
    const Step first = read_and_copy(stream.get(), out.get(), 0, kAll);
    EXPECT_FALSE(first.copied);
    EXPECT_EQ(read_rest(stream.get(), out.get(), first.in), 100000 - first.in);
    writer.join();
    EXPECT_EQ(contents(scratch / "out"), bytes);
    stream.reset();
    EXPECT_EQ(stream_test::progress_of(work, "d")["c_len"], "100000");

    const std::string a = file("a", 50000, 5);
    Toc plain({{"a", 50000, 0, a}});
    Stream again = open({a}, false);
    net_stream_save_modified_toc(again.get(), &plain);
    UniqueFd appended = output("appended", O_APPEND);
    EXPECT_FALSE(read_and_copy(again.get(), appended.get(), 0, kAll).copied);
    EXPECT_EQ(read_rest(again.get(), appended.get(), 16384), 50000 - 16384);
    EXPECT_EQ(contents(scratch / "appended"), contents(a));
}

}  // namespace
