// The C++ interface's owners and iterators: moves hand ownership over once,
// operations that release their C object leave the owner empty (an entry
// completed in the depot is not freed again), iteration walks lists in
// order, and a stream reads through its key and its chunks.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iterator>
#include <ranges>
#include <string>
#include <vector>

#include <korvo/korvo.hpp>

#include "tests/kes/kes_scratch.hpp"
#include "tests/support/test_host.hpp"

namespace {

static_assert(std::forward_iterator<korvo::PropertiesView::iterator>);
static_assert(std::forward_iterator<korvo::ListView::iterator>);
static_assert(!std::is_copy_constructible_v<korvo::PropertyList>);
static_assert(!std::is_copy_constructible_v<korvo::DepotEntry>);

class CxxOwners : public ::testing::Test {
  protected:
    void SetUp() override {
        korvo::init();
        korvo::test::setEnvironmentVariable("KORVO_WORK_DIR", scratch.path().c_str());
        korvo::test::setEnvironmentVariable("KORVO_LOCK_NAMESPACE",
                                            ("cxx." + std::to_string(::getpid())).c_str());
    }
    void TearDown() override { korvo::test::setEnvironmentVariable("KORVO_WORK_DIR", nullptr); }
    kes_test::ScratchDir scratch;
};

std::vector<std::string> keys_of(const korvo::PropertiesView &list) {
    std::vector<std::string> keys;
    for (const korvo::PropertyRef &property : list)
        keys.emplace_back(property.key());
    return keys;
}

TEST_F(CxxOwners, ListsIterateInOrderAndMovesHandOverOnce) {
    korvo::PropertyList list;
    const uint8_t sum[] = {0xde, 0xad};
    list.put_string("id", "seg-1").put_long("size", 12).put_boolean("disposable", true);
    list.put_octets("checksum", sum).put_string("id", "seg-2");  // replaced in place
    EXPECT_EQ(keys_of(list), (std::vector<std::string>{"id", "size", "disposable", "checksum"}));
    EXPECT_EQ(std::ranges::distance(list), 4);
    EXPECT_TRUE((*list.begin()).holds(TC_string));
    EXPECT_EQ(list.get_string("id"), "seg-2");
    EXPECT_TRUE(std::ranges::equal(list.get_octets("checksum"), sum));

    Properties *raw = list.get();
    korvo::PropertyList moved = std::move(list);
    EXPECT_EQ(moved.get(), raw);
    EXPECT_EQ(list.get(), nullptr);
    korvo::PropertyList assigned;
    assigned = std::move(moved);
    EXPECT_EQ(assigned.get(), raw);

    const korvo::PropertyList copy = korvo::PropertyList::clone(assigned);
    EXPECT_NE(copy.get(), raw);
    EXPECT_TRUE(assigned.remove("size"));
    EXPECT_FALSE(assigned.remove("size"));
    EXPECT_EQ(copy.get_long("size"), 12);

    const std::string bytes = copy.encode();
    const korvo::PropertyList decoded =
        korvo::PropertyList::decode(std::as_bytes(std::span(bytes)));
    EXPECT_EQ(keys_of(decoded), keys_of(copy));
}

TEST_F(CxxOwners, TocsBuildAppendAndRoundTripThroughFiles) {
    korvo::Toc toc;
    toc.add_segment("a.bin", "1", 100).put_string(SEGMENT_LOCATION_KEY, "/srv/a.bin");
    korvo::PropertyList b = korvo::PropertyList::adopt(korvo_segment_new("b.bin", "1", 50));
    toc.append(std::move(b));
    EXPECT_TRUE(b.empty());  // its properties went into the TOC
    korvo::PropertyList c = korvo::PropertyList::adopt(korvo_segment_new("c.bin", "1", 7));
    toc.append(korvo::PropertiesView(c.get()));
    EXPECT_EQ(c.size(), 3u);  // the caller's copy stays
    EXPECT_THROW(toc.add_segment("d", "1", -1), std::invalid_argument);
    korvo::PropertyList taken = std::move(c);
    EXPECT_THROW(toc.append(std::move(c)), std::invalid_argument);  // holds no list
    toc.append(toc[0]);  // a copy of its own element, made before the buffer grows
    EXPECT_EQ(toc[3].get_string(SEGMENT_LOCATION_KEY), "/srv/a.bin");

    std::vector<std::string> ids;
    for (korvo::PropertiesView segment : toc)
        ids.emplace_back(segment.get_string(SEGMENT_ID_KEY));
    EXPECT_EQ(ids, (std::vector<std::string>{"a.bin", "b.bin", "c.bin", "a.bin"}));
    EXPECT_EQ(toc.total_size(), 257);
    EXPECT_THROW(toc.at(4), std::out_of_range);

    const std::string path = scratch / "dist.toc";
    toc.save(path);
    const korvo::Toc loaded = korvo::Toc::load(path);
    ASSERT_EQ(loaded.size(), 4u);
    EXPECT_EQ(loaded[0].get_string(SEGMENT_LOCATION_KEY), "/srv/a.bin");
    try {
        korvo::Toc::load(scratch / "missing.toc");
        FAIL() << "no raise";
    } catch (const korvo::Error &e) {
        EXPECT_EQ(e.number(), 11);
    }
}

TEST_F(CxxOwners, ACompletedEntryIsReleasedOnceByTheDepot) {
    korvo::Depot depot = korvo::Depot::open(scratch / "depot");
    korvo::PropertyList description =
        korvo::PropertyList::adopt(korvo_segment_new("seg-1", "1.0", 4));
    const std::string encoded = description.encode();
    {
        korvo::DepotEntry entry = depot.add("seg-1", "1.0", std::as_bytes(std::span(encoded)));
        ASSERT_TRUE(entry);
        EXPECT_EQ(entry->state, DepotStatePending);
        entry.open_for_write(true).write(std::string_view("data"));
        // DepotCompleteEntry frees the object: the owner must not free it
        // again when it ends.
        entry.complete(static_cast<uint32_t>(std::time(nullptr)) + 3600);
        EXPECT_FALSE(entry);
        EXPECT_THROW(entry.file_size(), std::logic_error);
    }
    korvo::DepotEntry found = depot.get("seg-1", "1.0");
    ASSERT_TRUE(found);
    EXPECT_EQ(found->state, DepotStateComplete);
    EXPECT_EQ(found.file_size(), 4u);
    std::string data(8, '\0');
    EXPECT_EQ(found.open_for_read().read(std::as_writable_bytes(std::span(data))), 4u);
    EXPECT_EQ(data.substr(0, 4), "data");
    found.remove(true);
    EXPECT_FALSE(found);
    EXPECT_FALSE(depot.get("seg-1", "1.0"));
}

TEST_F(CxxOwners, AFileStreamReadsThroughItsChunksAndKeepsProgress) {
    const std::string a = scratch / "a.bin", b = scratch / "b.bin";
    std::ofstream(a) << std::string(20000, 'a');
    std::ofstream(b) << "bee";
    korvo::Toc toc;
    toc.add_segment("a.bin", "1", 20000).put_string(SEGMENT_DATA_PATH_KEY, a);
    toc.add_segment("b.bin", "1", 3).put_string(SEGMENT_DATA_PATH_KEY, b);
    const std::vector<std::string> paths{a, b};
    {
        korvo::Stream stream = korvo::Stream::open(korvo::StreamKey::files("dist", paths));
        stream.save_modified_toc(toc);
        std::string received;
        int ends = 0;
        while (ends < 2) {
            korvo::Chunk chunk = stream.read();
            ASSERT_GE(chunk.result(), 0);
            if (!chunk) {
                ++ends;
                continue;
            }
            received += chunk.text();
            korvo::Chunk moved = std::move(chunk);  // the buffer is freed once
        }
        EXPECT_EQ(received, std::string(20000, 'a') + "bee");
    }
    // The stream closed its record when it ended; the checkpoint is whole.
    EXPECT_EQ(korvo::Progress::checkpoint("dist"), 20003);
    EXPECT_EQ(korvo::Progress::checkpoint("other"), std::nullopt);
    korvo::Progress record("dist");
    ASSERT_TRUE(record.load());
    EXPECT_TRUE(record.properties().get_boolean("close"));
    EXPECT_THROW(korvo::StreamKey::network("a,b"), std::invalid_argument);
}

}  // namespace
