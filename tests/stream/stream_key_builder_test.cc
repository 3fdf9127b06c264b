// Stream keys byte for byte: type-4 keys from their strings, keys built from
// an id and a source or an array of data files, what they refuse, where
// their data begins; and the checkpoint read from a progress record.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "stream/korvo_stream_key_builder.h"
#include "stream/mstat.h"
#include "tests/records/records_test_util.hpp"
#include "tests/stream/stream_test_support.hpp"

namespace {

using records_test::raised_by;
using stream_test::Key;

// The key's bytes including the zero byte behind its counted length.
std::vector<uint8_t> bytes_of(const StreamKey *key) {
    return {key->buffer, key->buffer + key->length + 1};
}

TEST(StreamKeys, FileListKeysHoldTheirExactBytes) {
    const Key key(file_stream_key_new(1, 3, "d", "a", "b"));
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(key->maximum, 0u);
    EXPECT_EQ(key->length, 9u);
    EXPECT_EQ(bytes_of(key.get()), (std::vector<uint8_t>{4, 0, 1, 'd', ',', 'a', ',', 'b', 0, 0}));
    EXPECT_EQ(stream_key_get_data(key.get()), reinterpret_cast<char *>(key->buffer) + 3);

    const Key quiet(file_stream_key_new(0, 1, "dist"));
    EXPECT_EQ(bytes_of(quiet.get()), (std::vector<uint8_t>{4, 0, 2, 'd', 'i', 's', 't', 0, 0}));

    // Without strings the text's NUL lands on the progress flag.
    const Key empty(file_stream_key_new(1, 0));
    EXPECT_EQ(bytes_of(empty.get()), (std::vector<uint8_t>{4, 0, 0, 0}));
    EXPECT_EQ(stream_key_get_data(empty.get()), reinterpret_cast<char *>(empty->buffer) + 3);

    EXPECT_EQ(file_stream_key_new(1, 2, "d", nullptr), nullptr);
    EXPECT_EQ(file_stream_key_new(1, -1), nullptr);
    stream_key_delete(nullptr);

    // Other keys' data begins at their progress flag.
    stream_test::RawKey network(NET_STREAM_NETWORK, 1, "d");
    EXPECT_EQ(stream_key_get_data(&network.key),
              reinterpret_cast<char *>(network.bytes.data()) + 2);
    network.key.length = 1;
    EXPECT_EQ(stream_key_get_data(&network.key), nullptr);
    EXPECT_EQ(stream_key_get_data(nullptr), nullptr);
}

TEST(StreamKeyBuilder, KeysHaveTheLayoutStreamsRead) {
    Key network(korvo_stream_key_new(NET_STREAM_NETWORK, 1, "dist-7", nullptr));
    ASSERT_NE(network, nullptr);
    EXPECT_EQ(network->length, 10u);
    EXPECT_EQ(bytes_of(network.get()),
              (std::vector<uint8_t>{2, 0, 1, 'd', 'i', 's', 't', '-', '7', 0, 0}));

    Key directory(korvo_stream_key_new(NET_STREAM_DIRECTORY, 0, "d", "/srv/dist"));
    ASSERT_NE(directory, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(directory->buffer) + 3), "d,/srv/dist");
    EXPECT_EQ(directory->buffer[2], 2);  // no progress

    // The array form makes the bytes of the variadic one.
    const char *paths[] = {"/data/a", "/data/b"};
    Key files(korvo_stream_key_new_files(1, "d", paths, 2));
    Key variadic(file_stream_key_new(1, 3, "d", "/data/a", "/data/b"));
    ASSERT_NE(files, nullptr);
    EXPECT_EQ(bytes_of(files.get()), bytes_of(variadic.get()));
    Key none(korvo_stream_key_new_files(0, "d", nullptr, 0));
    Key variadic_none(file_stream_key_new(0, 1, "d"));
    ASSERT_NE(none, nullptr);
    EXPECT_EQ(bytes_of(none.get()), bytes_of(variadic_none.get()));
}

TEST(StreamKeyBuilder, RefusesWhatWouldNotReadBack) {
    const char *comma[] = {"/data/a,b"};
    const char *empty[] = {""};
    const char *null[] = {nullptr};
    EXPECT_EQ(korvo_stream_key_new(0, 1, "d", nullptr), nullptr);
    EXPECT_EQ(korvo_stream_key_new(5, 1, "d", nullptr), nullptr);
    EXPECT_EQ(korvo_stream_key_new(12, 1, "d", nullptr), nullptr);
    EXPECT_EQ(korvo_stream_key_new(NET_STREAM_NETWORK, 1, "a,b", nullptr), nullptr);
    EXPECT_EQ(korvo_stream_key_new(NET_STREAM_NETWORK, 1, "", nullptr), nullptr);
    EXPECT_EQ(korvo_stream_key_new(NET_STREAM_NETWORK, 1, nullptr, nullptr), nullptr);
    EXPECT_EQ(korvo_stream_key_new_files(1, "d", comma, 1), nullptr);
    EXPECT_EQ(korvo_stream_key_new_files(1, "d", empty, 1), nullptr);
    EXPECT_EQ(korvo_stream_key_new_files(1, "d", null, 1), nullptr);
    EXPECT_EQ(korvo_stream_key_new_files(1, "d", nullptr, 1), nullptr);
}

class ProgressCheckpoint : public stream_test::StreamTest {};

TEST_F(ProgressCheckpoint, ReadsTheRecordsCheckpointOrReportsNone) {
    int64_t bytes = -1;
    EXPECT_EQ(korvo_progress_checkpoint("dist", &bytes), 0);
    EXPECT_EQ(bytes, 0);
    EXPECT_EQ(korvo_progress_checkpoint("../dist", &bytes), 0);
    EXPECT_EQ(korvo_progress_checkpoint(nullptr, &bytes), 0);

    mstat *record = mstat_new("dist", 0);
    properties_put_string_dup(&record->properties, "c_len", "5000000000");
    mstat_save(record);
    EXPECT_EQ(korvo_progress_checkpoint("dist", &bytes), 1);
    EXPECT_EQ(bytes, 5000000000);  // 64-bit counts survive

    // A record without a usable "c_len" exists, at 0.
    for (const char *text : {"", "12x", "-4"}) {
        properties_put_string_dup(&record->properties, "c_len", text);
        mstat_save(record);
        bytes = -1;
        EXPECT_EQ(korvo_progress_checkpoint("dist", &bytes), 1) << text;
        EXPECT_EQ(bytes, 0) << text;
    }
    properties_put_long_dup(&record->properties, "c_len", 12);
    mstat_save(record);
    EXPECT_EQ(korvo_progress_checkpoint("dist", &bytes), 1);
    EXPECT_EQ(bytes, 0);
    mstat_free(record);

    // A record that does not decode is a failure, not a fresh start.
    std::ofstream(work + "/mstat/dist.mds", std::ios::trunc) << "garbage";
    EXPECT_EQ(raised_by([&] { korvo_progress_checkpoint("dist", &bytes); }).number, 35);
}

}  // namespace
