// The CDS source as the streams see it: absent in a build without the CDS
// layer, and reached through whatever table of operations is installed.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "stream/cds_source.hpp"
#include "stream/korvo_stream_key_builder.h"
#include "stream/net_stream.h"
#include "stream/stream_key.h"
#include "tests/kes/kes_scratch.hpp"

namespace {

using korvo::stream::CdsSourceOperations;

int opens = 0;
bool client_loaded = true;

bool fake_open() {
    ++opens;
    return client_loaded;
}
// Only the opening is the streams' own decision; the other two calls pass
// the table's answer through, as the CDS stream tests show.
constexpr CdsSourceOperations kFake{&fake_open, nullptr, nullptr};

class CdsSource : public testing::Test {
  protected:
    void SetUp() override {
        korvo::test::setEnvironmentVariable("KORVO_WORK_DIR", work.path().c_str());
        opens = 0;
        client_loaded = true;
    }
    void TearDown() override { korvo::stream::install_cds_source(nullptr); }

    NetStream *open_cds() {
        StreamKey *key = korvo_stream_key_new(NET_STREAM_CDS, 0, "dist", nullptr);
        EXPECT_NE(key, nullptr);
        keys.emplace_back(key);
        return net_stream_open(key);
    }

    struct KeyFree {
        void operator()(StreamKey *key) const { stream_key_delete(key); }
    };
    std::vector<std::unique_ptr<StreamKey, KeyFree>> keys;
    kes_test::ScratchDir work;
};

TEST_F(CdsSource, WithoutTheCdsLayerACdsStreamIsNotOpened) {
    EXPECT_FALSE(korvo::stream::cds_source_open());
    EXPECT_EQ(open_cds(), nullptr);
    EXPECT_EQ(korvo::stream::cds_source_download_next(nullptr, nullptr, nullptr), 0);
    korvo::stream::cds_source_size_query(nullptr, nullptr);  // nothing to do, no crash
}

TEST_F(CdsSource, AnInstalledSourceIsWhatTheStreamsReach) {
    korvo::stream::install_cds_source(&kFake);
    NetStream *stream = open_cds();
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(opens, 1);
    EXPECT_EQ(stream->type, NET_STREAM_CDS);
    net_stream_close(stream);

    // A source whose client did not load opens nothing; removing the table
    // makes the source absent again.
    client_loaded = false;
    EXPECT_EQ(open_cds(), nullptr);
    EXPECT_EQ(opens, 2);
    korvo::stream::install_cds_source(nullptr);
    EXPECT_EQ(open_cds(), nullptr);
    EXPECT_EQ(opens, 2);
}

}  // namespace
