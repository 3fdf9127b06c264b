// The local depot check of network streams against a real depot that other
// processes fill and read with the depot's own operations: a distribution
// whose segments are all complete there is read from the depot's data
// files, one with a segment missing stays on the network holding what it
// claimed, and every reason to go without the depot is logged.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "depot/depot.h"
#include "kes/kes_path.h"
#include "runtime/log_capture.hpp"
#include "tests/depot/depot_test_support.hpp"
#include "tests/stream/locate_test_support.hpp"
#include "tests/support/test_host.hpp"
#include "tests/support/test_process.hpp"

namespace {

using korvo::test::Child;
using namespace locate_test;
using namespace stream_test;

struct Stored {
    std::string id;
    std::string bytes;
    int holders;  // completions: the distributions that hold it
};

// Stores segments in the depot arg(0): each as its id, its bytes and its
// number of holders, three arguments after the depot.
KORVO_CHILD_BODY(StoreSegments) {
    KesStatus status{};
    Depot *handle = nullptr;
    const auto failed = [&](const std::string &what) {
        std::fprintf(stderr, "%s failed (%d, %d, %d)\n", what.c_str(), status.code, status.osError,
                     status.step);
        return 1;
    };
    if (DepotNew(&status, &handle, child.arg(0).c_str(), 0)->code != 0)
        return failed("opening the depot " + child.arg(0));
    for (std::size_t at = 1; at + 2 < child.args().size(); at += 3) {
        const Stored segment{child.arg(at), child.arg(at + 1), std::stoi(child.arg(at + 2))};
        DepotEntry *entry = DepotAddEntry(handle, segment.id.c_str(), "1", {nullptr, 0});
        KesFile file = nullptr;
        if (entry == nullptr || DepotFileOpenForWrite(&status, handle, entry, &file, 1)->code != 0)
            return failed("storing segment " + segment.id);
        KesFileWrite(&status, file, segment.bytes.data(), segment.bytes.size(), nullptr);
        KesFileClose(&status, file);
        for (int i = 0; i < segment.holders; ++i) {
            DepotCompleteEntry(&status, handle, entry, 0);
            entry = i + 1 < segment.holders
                        ? DepotAddEntry(handle, segment.id.c_str(), "1", {nullptr, 0})
                        : nullptr;
        }
    }
    DepotFree(&status, handle);
    return 0;
}

// What a reader of the depot found: one text a segment.
struct Found {
    char text[16][8];
};

// Looks up the segments arg(2)... in the depot arg(1) and writes what it
// finds of each into the shared Found arg(0).
KORVO_CHILD_BODY(FindSegments) {
    korvo::test::Shared<Found> found(child.arg(0));
    KesStatus status{};
    Depot *handle = nullptr;
    DepotNew(&status, &handle, child.arg(1).c_str(), 0);
    for (std::size_t i = 0; i + 2 < child.args().size() && i < 16; ++i) {
        const DepotEntry *entry = DepotGetEntry(handle, child.arg(i + 2).c_str(), "1");
        const std::string text = entry == nullptr ? "-"
                                                  : std::to_string(entry->state) + "/" +
                                                        std::to_string(entry->reference_count);
        std::snprintf(found->text[i], 8, "%s", text.c_str());
    }
    DepotFree(&status, handle);
    return 0;
}

// What another process finds of a segment: "-" for no entry, else the state
// and the reference count ("2/1").
using Seen = std::vector<std::string>;

class LocalDepot : public locate_test::LocateTest {
  protected:
    void SetUp() override {
        // The depot watches its directories through one notification
        // descriptor per process, made at its first lookup and kept: make it
        // before the fixture counts the open descriptors.
        KesStatus status{};
        Depot *warm = nullptr;
        DepotNew(&status, &warm, (scratch / "warm").c_str(), 0);
        DepotGetEntry(warm, "warm", "1");
        DepotFree(&status, warm);
        LocateTest::SetUp();
        depot = directory("depot");
        configure("depot_dir=" + depot + "\n");
    }
    void configure(const std::string &lines) {
        stream_test::write_file(scratch / "endpoint.cfg", lines);
        korvo::test::setEnvironmentVariable("KORVO_CONFIG_FILE",
                                            (scratch / "endpoint.cfg").c_str());
    }
    // Another process stores the segments: added, written, completed once
    // per holder; holders 0 leaves the entry pending.
    void store(const std::vector<Stored> &segments, const std::string &where = {}) {
        korvo::test::ChildStart start{.args = {where.empty() ? depot : where}};
        for (const Stored &segment : segments)
            start.args.insert(start.args.end(),
                              {segment.id, segment.bytes, std::to_string(segment.holders)});
        Child writer("StoreSegments", start);
        ASSERT_EQ(writer.wait(), 0);
    }
    // What another process finds of each segment.
    Seen seen(const std::vector<std::string> &ids) {
        korvo::test::Shared<Found> found;
        korvo::test::ChildStart start{.args = {found.name(), depot}};
        start.args.insert(start.args.end(), ids.begin(), ids.end());
        Child reader("FindSegments", start);
        EXPECT_EQ(reader.wait(), 0);
        Seen states;
        for (std::size_t i = 0; i < ids.size(); ++i)
            states.emplace_back(found->text[i]);
        return states;
    }
    // The stream's own lines ("korvo: ..."), without the depot's trace.
    static std::vector<std::string> stream_lines(const korvo::rt::LogCapture &capture) {
        std::vector<std::string> lines;
        for (const std::string &text : capture.texts(2))
            if (text.starts_with("korvo: "))
                lines.push_back(text);
        return lines;
    }

    depot_test::LockNamespace space;
    std::string depot;
};

TEST_F(LocalDepot, AllSegmentsCompleteMakeADepotStreamThatReadsTheirFiles) {
    ASSERT_NO_FATAL_FAILURE(store({{"a", "alpha", 2}, {"b", "bravo!", 1}, {"c", "charlie", 2}}));
    korvo::rt::LogCapture capture;
    MethodStream stream("dep1", {{"a", 5}, {"b", 6, 2}, {"c", 7}});
    EXPECT_EQ(stream_lines(capture),
              std::vector<std::string>{"korvo: All segments available locally, resetting "
                                       "stream type."});
    EXPECT_EQ(stream->type, NET_STREAM_DEPOT);
    ASSERT_EQ(stream->claimed.length, 3u);
    // The depot spells its data files' paths with the host's separators.
    std::string in_depot = depot + "/";
    KesPathLocalize(in_depot.data());
    for (uint32_t i = 0; i < 3; ++i) {
        const DepotEntry *entry = stream->claimed.buffer[i];
        EXPECT_EQ(text_of(*stream->toc, i, "dat_file"), entry->location);
        EXPECT_EQ(text_of(*stream->toc, i, "data_path"), entry->location);
        EXPECT_EQ(std::string(entry->location).rfind(in_depot, 0), 0u);
    }
    EXPECT_EQ(text_of(stream.toc, 0, "dat_file"), "");  // the caller's TOC is left alone
    // Another process sees the entries in use while the stream holds them.
    EXPECT_EQ(seen({"a", "b", "c"}), (Seen{"2/2", "2/1", "2/2"}));

    EXPECT_EQ(read_all(stream.get()), "alpha|avo!|charlie||");
    stream.stream.reset();
    EXPECT_EQ(progress("dep1").at("c_len"), "18");
    // Released at the close: complete again with one holder less; "b" went
    // with its last holder.
    EXPECT_EQ(seen({"a", "b", "c"}), (Seen{"1/1", "-", "1/1"}));
    EXPECT_EQ(depot_test::Names(depot).size(), 4u);
}

TEST_F(LocalDepot, AMissingSegmentKeepsTheNetworkStreamHoldingTheSegmentsBeforeIt) {
    ASSERT_NO_FATAL_FAILURE(store({{"a", "alpha", 2}, {"b", "bravo", 2}, {"c", "pending", 0}}));
    korvo::rt::LogCapture capture;
    MethodStream stream("dep2", {{"a", 5}, {"b", 5}, {"c", 7}, {"d", 1}}, NET_STREAM_NETWORK, 2);
    EXPECT_EQ(stream_lines(capture),
              std::vector<std::string>{"korvo: Unable to find entry for segment c^1."});
    EXPECT_EQ(stream->type, NET_STREAM_NETWORK);
    EXPECT_EQ(stream->source, &stream.key.key);
    ASSERT_EQ(stream->claimed.length, 2u);
    EXPECT_EQ(text_of(*stream->toc, 1, "data_path"), stream->claimed.buffer[1]->location);
    EXPECT_EQ(text_of(*stream->toc, 2, "data_path"), "");
    EXPECT_EQ(seen({"a", "b", "c", "d"}), (Seen{"2/2", "2/2", "0/0", "-"}));
    stream.stream.reset();
    EXPECT_EQ(seen({"a", "b", "c"}), (Seen{"1/1", "1/1", "0/0"}));

    // A first segment that is missing is the only line, and nothing is claimed.
    capture.clear();
    MethodStream first("dep3", {{"x", 1}, {"a", 5}}, NET_STREAM_NETWORK, 2);
    EXPECT_EQ(stream_lines(capture),
              std::vector<std::string>{"korvo: Unable to find entry for segment x^1."});
    EXPECT_EQ(first->claimed.length, 0u);
    EXPECT_EQ(seen({"a"}), Seen{"1/1"});
}

TEST_F(LocalDepot, EveryReasonToGoWithoutTheDepotIsLogged) {
    ASSERT_NO_FATAL_FAILURE(store({{"a", "alpha", 2}, {"b", "bravo", 2}}));
    const std::vector<SegmentEntry> list = {{"a", 5}, {"b", 5}};
    const auto lines_of_a_stream = [&] {
        korvo::rt::LogCapture capture;
        const MethodStream stream("why", list, NET_STREAM_NETWORK, 2);
        std::vector<std::string> lines = stream_lines(capture);
        lines.push_back(stream->type == NET_STREAM_DEPOT ? "type 10" : "type 2");
        return lines;
    };

    korvo::test::setEnvironmentVariable("KORVO_CONFIG_FILE", nullptr);
    EXPECT_EQ(lines_of_a_stream(),
              (std::vector<std::string>{"korvo: Unable to locate QEL config file.", "type 2"}));

    korvo::test::setEnvironmentVariable("KORVO_CONFIG_FILE", (scratch / "missing.cfg").c_str());
    EXPECT_EQ(lines_of_a_stream(),
              (std::vector<std::string>{
                  "korvo: Error reading config file " + (scratch / "missing.cfg") + ".",
                  "korvo: Local depot directory is not configured.", "type 2"}));

    // Without "depot_dir" the data directory's "depot" serves, when it is one.
    configure("other_key=1\n");
    const std::string data = directory("data");
    korvo::test::setEnvironmentVariable("QEL_DATDIR", data.c_str());
    EXPECT_EQ(
        lines_of_a_stream(),
        (std::vector<std::string>{"korvo: Local depot directory is not configured.", "type 2"}));
    directory("data/depot");
    ASSERT_NO_FATAL_FAILURE(store({{"a", "alpha", 2}, {"b", "bravo", 2}}, data + "/depot"));
    EXPECT_EQ(lines_of_a_stream(),
              (std::vector<std::string>{
                  "korvo: All segments available locally, resetting stream type.", "type 10"}));

    // A data file gone behind the depot's back: its entry stays claimed and
    // the check goes on with the next segment.
    configure("depot_dir=" + depot + "\n");
    const std::string location = [&] {
        const MethodStream stream("loc", list, NET_STREAM_NETWORK, 2);
        EXPECT_EQ(stream->claimed.length, 2u);
        return stream->claimed.length > 0 ? std::string(stream->claimed.buffer[0]->location)
                                          : std::string();
    }();
    ASSERT_FALSE(location.empty());
    std::filesystem::remove(location);
    EXPECT_EQ(lines_of_a_stream(),
              (std::vector<std::string>{"korvo: Stat of " + location + " failed.", "type 2"}));

    // A depot whose machine-wide lock is not one (in a lock namespace this
    // process has not used yet): the depot cannot be opened.
    const std::string broken = std::string(std::getenv("KORVO_LOCK_NAMESPACE")) + "broken";
    const std::string lock = "korvo." + broken + ".DEPOT";
    ASSERT_TRUE(korvo::test::makeBrokenLock(lock));
    korvo::test::setEnvironmentVariable("KORVO_LOCK_NAMESPACE", broken.c_str());
    const std::vector<std::string> lines = lines_of_a_stream();
    korvo::test::removeSharedMemoryObject(lock);
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "korvo: Failure opening depot directory " + depot + ".", "type 2"}));
}

TEST_F(LocalDepot, AnEmptyTocBecomesAnEmptyDepotStream) {
    MethodStream stream("dep0", {});
    EXPECT_EQ(stream->type, NET_STREAM_DEPOT);
    EXPECT_NE(stream->source, &stream.key.key);
    EXPECT_EQ(read_all(stream.get()), "||");
}

}  // namespace
