// What bounds a download (the largest package, a body that does not end or
// runs past its length, the space left on the cache's file system, a digest
// the body does not have), the trace that must not show credentials, where
// the client makes its home when none is set, and the SHA-256 it checks
// packages with.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "cds/client/cds_client.h"
#include "cds/client/sha256.hpp"
#include "tests/cds/cds_stderr.hpp"
#include "tests/cds_client/cds_test_support.hpp"
#include "tests/http/http_test_server.hpp"

namespace {

namespace fs = std::filesystem;
using cds_test::Completions;
using namespace korvo::test;

class BoundsTest : public testing::Test {
  protected:
    // DownloadFile's result, and in *status the completion's when it
    // started. The handle is released.
    int32_t download(const std::string &id, int32_t *status = nullptr, const char *user = nullptr,
                     const char *password = nullptr) {
        uint32_t handle = 0;
        const int32_t rc = DownloadFile(server.address().c_str(), id.c_str(), nullptr, user,
                                        password, &Completions::record, &handle);
        if (rc == CDS_OK) {
            const auto completion = Completions::instance().wait_for(handle);
            EXPECT_TRUE(completion);
            if (status != nullptr && completion)
                *status = completion->status;
        }
        if (handle != 0) {
            EXPECT_EQ(ReleaseFile(handle), CDS_OK);
        }
        return rc;
    }
    // The files of the server's part of the home, relative to it.
    std::vector<std::string> held() const {
        return cds_test::files_under(cds_test::server_root(home.path(), server.url()));
    }

    cds_test::ScratchDir home;
    cds_test::ScopedEnv home_env{"CDSCLIENT_HOME", home.path()};
    korvo::test::HttpTestServer server;
};

TEST_F(BoundsTest, BodiesBeyondTheirBoundsAreRefusedAndLeaveNothing) {
    server.put_package("p", cds_test::package_bytes(300000, 51));
    const std::vector<std::string> nothing;

    // 10 GB declared: refused before a byte is written.
    server.answer_with("p", Answer::kHugeLength);
    EXPECT_EQ(download("p"), CDS_TOO_LARGE);
    EXPECT_EQ(held(), nothing);

    // A body that never ends stops at the limit.
    server.answer_with("p", Answer::kEndless);
    int32_t status = 0;
    {
        cds_test::ScopedEnv limit("CDSCLIENT_SIZE_LIMIT", "1048576");
        EXPECT_EQ(download("p", &status), CDS_OK);
        EXPECT_EQ(status, CDS_TOO_LARGE);
        EXPECT_EQ(held(), nothing);
        // A declared length above the set limit is refused as well.
        server.answer_with("p", Answer::kServe);
        cds_test::ScopedEnv lower("CDSCLIENT_SIZE_LIMIT", "299999");
        EXPECT_EQ(download("p"), CDS_TOO_LARGE);
    }

    // Bytes past the declared length are not part of the package.
    server.answer_with("p", Answer::kPastLength);
    EXPECT_EQ(download("p", &status), CDS_OK);
    EXPECT_EQ(status, CDS_OK);
    EXPECT_EQ(cds_test::read_file(cds_test::cached_package(home.path(), server.url(), "p")),
              cds_test::package_bytes(300000, 51));

    // No room for the package beside the space to keep free.
    server.put_package("q", "does not fit");
    {
        cds_test::ScopedEnv keep("CDSCLIENT_KEEP_FREE", "18000000000000000000");
        EXPECT_EQ(download("q"), CDS_CACHE_FAILED);
        server.answer_with("q", Answer::kEndless);
        EXPECT_EQ(download("q"), CDS_CACHE_FAILED);
    }

    // A body without the digest its server stated is not kept.
    server.answer_with("q", Answer::kServe);
    server.offer_digest("q", DigestHeader::kWrongDigest);
    EXPECT_EQ(download("q", &status), CDS_OK);
    EXPECT_EQ(status, CDS_DIGEST_MISMATCH);
    EXPECT_FALSE(fs::exists(cds_test::cached_package(home.path(), server.url(), "q")));
    server.offer_digest("q", DigestHeader::kDigest);
    EXPECT_EQ(download("q", &status), CDS_OK);
    EXPECT_EQ(status, CDS_OK);
}

TEST_F(BoundsTest, TheTraceMasksCredentials) {
    server.put_package("t", "traced");
    server.require_credentials("alice", "s3cret");
    cds_test::ScratchDir logs;
    std::vector<std::string> lines;
    {
        cds_test::ScopedEnv trace("CDSCLIENT_TRACE", "1");
        cds_test::StderrCapture capture(logs / "stderr");
        int32_t status = -1;
        EXPECT_EQ(download("t", &status, "alice", "s3cret"), CDS_OK);
        EXPECT_EQ(status, CDS_OK);
        lines = capture.lines();
    }
    bool masked = false, answered = false;
    for (const std::string &line : lines) {
        EXPECT_EQ(line.find("YWxpY2U6czNjcmV0"), std::string::npos) << line;  // alice:s3cret
        EXPECT_EQ(line.find("s3cret"), std::string::npos) << line;
        masked = masked || line == "> Authorization: <??}";
        answered = answered || line == "< HTTP/1.1 200 OK";
    }
    EXPECT_TRUE(masked);
    EXPECT_TRUE(answered);
}

TEST(Sha256, KnownDigestsInAnyPieces) {
    EXPECT_EQ(cdsclient::hex_text(cdsclient::Sha256::of("")),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(cdsclient::hex_text(cdsclient::Sha256::of("abc")),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    const std::string two_blocks = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
    EXPECT_EQ(cdsclient::hex_text(cdsclient::Sha256::of(two_blocks)),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    cdsclient::Sha256 million;
    const std::string piece(1000, 'a');
    for (int i = 0; i < 1000; ++i)
        million.update(piece.data() + (i % 7), piece.size() - (i % 7));
    million.update(piece.data(), 997);  // the bytes the pieces above left out
    million.update(piece.data(), 1000);
    million.update(piece.data(), 1000);
    EXPECT_EQ(cdsclient::hex_text(million.finish()),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

}  // namespace
