// Which segment a read belongs to: a file-list stream whose list runs in
// another order than its TOC names each read's segment by its TOC index,
// between files and for streams without files the answer is -1.
#include <gtest/gtest.h>

#include <string>

#include "stream/read_segment.h"
#include "tests/stream/stream_test_support.hpp"

namespace {

using namespace stream_test;
using stream_test::Toc;

class ReadSegment : public stream_test::StreamTest {};

TEST_F(ReadSegment, EachReadNamesItsSegmentWhateverTheListOrder) {
    const std::string a = scratch / "a", b = scratch / "b";
    write_file(a, pattern(20000, 1));
    write_file(b, pattern(10, 2));
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
