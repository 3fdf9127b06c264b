// The client's reading of what servers and the cache hand it: validators and
// digests in an answer's head, and the check records kept beside cached
// packages, which other programs may have changed.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "cds/client/check_record.hpp"
#include "cds/client/http_answer.hpp"
#include "cds/client/sha256.hpp"

namespace {

using namespace cdsclient;

HttpAnswer head_of(std::string_view text) {
    HttpAnswer answer;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        answer.take_line(text.substr(0, end + 1));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    }
    return answer;
}

// sha-256 of "abc" in base64.
constexpr char kAbc[] = "ungWv48Bz+pBQUDeXa4iI7ADYaOWF3qctBD/YfIAFa0=";

TEST(AnswerHead, ValidatorsAndDigestsAreReadOrLeftOut) {
    const HttpAnswer answer = head_of(std::string("HTTP/1.1 200 OK\r\nETag: \"v1\"\r\n") +
                                      "Last-Modified: Tue, 14 Nov 2023 22:13:21 GMT\r\n" +
                                      "Content-Digest: md5=:xyz:, sha-256=:" + kAbc + ":\r\n\r\n");
    ASSERT_TRUE(answer.complete());
    EXPECT_EQ(answer.etag(), "\"v1\"");
    EXPECT_EQ(answer.last_modified(), "Tue, 14 Nov 2023 22:13:21 GMT");
    ASSERT_TRUE(answer.sha256());
    EXPECT_EQ(*answer.sha256(), cdsclient::Sha256::of("abc"));

    EXPECT_EQ(
        head_of(std::string("HTTP/1.1 200 OK\r\nDigest: SHA-256=") + kAbc + "\r\n\r\n").sha256(),
        cdsclient::Sha256::of("abc"));
    // Digests that are not 32 bytes of base64, and validators that are not
    // printable or too long, count as not given; the answer stays usable.
    for (const std::string &header :
         {std::string("Repr-Digest: sha-256=") + kAbc, std::string("Repr-Digest: sha-256=:abc:"),
          std::string("Digest: SHA-256=") + std::string(kAbc).substr(1) + "A",
          std::string("ETag: ") + std::string(300, 'e'), std::string("ETag: \"a\x01\"")}) {
        SCOPED_TRACE(header);
        const HttpAnswer odd = head_of("HTTP/1.1 200 OK\r\n" + header + "\r\n\r\n");
        EXPECT_TRUE(odd.complete());
        EXPECT_FALSE(odd.sha256());
        EXPECT_EQ(odd.etag(), "");
    }
    // A 304 answer completes a head without a body.
    EXPECT_EQ(head_of("HTTP/1.1 304 Not Modified\r\nETag: \"v1\"\r\n\r\n").status(), 304);
}

TEST(CheckRecords, OnlyWholeWellFormedRecordsRead) {
    CheckRecord record;
    record.size = 100000;
    record.inode = 42;
    record.etag = "W/\"v 1\"";
    record.last_modified = "Tue, 14 Nov 2023 22:13:21 GMT";
    record.sha256 = cdsclient::Sha256::of("abc");
    const std::string text = record.encode();
    EXPECT_EQ(text,
              "korvo-cds-check 1\nsize 100000\ninode 42\netag W/\"v 1\"\n"
              "last-modified Tue, 14 Nov 2023 22:13:21 GMT\n"
              "sha256 ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad\n");
    const auto again = CheckRecord::decode(text);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->size, 100000u);
    EXPECT_EQ(again->etag, record.etag);
    EXPECT_EQ(again->sha256, record.sha256);

    const std::string refused[] = {
        "",
        "korvo-cds-check 2\nsize 1\ninode 1\n",
        "korvo-cds-check 1\nsize 1\n",                              // no inode
        "korvo-cds-check 1\nsize 1\ninode 1",                       // cut short
        "korvo-cds-check 1\nsize 1\nsize 2\ninode 1\n",             // said twice
        "korvo-cds-check 1\nsize -1\ninode 1\n",                    // not a number
        "korvo-cds-check 1\nsize 18446744073709551616\ninode 1\n",  // too large
        "korvo-cds-check 1\nsize 1\ninode 1\nsha256 abc\n",         // not a digest
        "korvo-cds-check 1\nsize 1\ninode 1\nowner root\n",         // unknown
        "korvo-cds-check 1\nsize 1\ninode 1\netag " + std::string(5000, 'e') + "\n",
    };
    for (const std::string &bad : refused)
        EXPECT_FALSE(CheckRecord::decode(bad)) << bad.substr(0, 80);
}

}  // namespace
