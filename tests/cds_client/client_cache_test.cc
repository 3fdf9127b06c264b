// The CDS client's cache against servers and neighbours that would have it
// hand out wrong data: copies cut short or changed on disk, a package that
// changed on its server, another server's package of the same id, packages
// fetched with credentials, other accounts, and working directories that
// ended processes (or other pid namespaces) left behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "cds/client/cds_client.h"
#include "tests/cds_client/cds_test_support.hpp"
#include "tests/cds_client/client_fetch.hpp"
#include "tests/cds_client/client_test_host.hpp"
#include "tests/http/http_test_server.hpp"
#include "tests/support/test_process.hpp"

namespace {

namespace fs = std::filesystem;
using cds_test::Completions;
using cds_test::fetch;
using namespace korvo::test;

class CacheTest : public testing::Test {
  protected:
    std::string cached(const HttpTestServer &from, const std::string &id,
                       const char *user = nullptr) const {
        return cds_test::cached_package(home.path(), from.url(), id, user);
    }

    cds_test::ScratchDir home;
    cds_test::ScopedEnv home_env{"CDSCLIENT_HOME", home.path()};
    HttpTestServer server;
};

// A copy is answered only while it is whole and its server confirms it;
// anything else fetches the package again, and the bytes handed on are the
// server's.
TEST_F(CacheTest, ACopyIsAnsweredOnlyWhenItIsWholeAndCurrent) {
    const std::string bytes = cds_test::package_bytes(100000, 31);
    server.put_package("p", bytes);
    ASSERT_EQ(fetch(server, "p"), CDS_OK);
    std::string answered;
    ASSERT_EQ(fetch(server, "p", nullptr, nullptr, &answered), CDS_ALREADY_THERE);
    // The answer is the package's own file, never a directory.
    EXPECT_EQ(answered, cached(server, "p"));
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(answered)));

    // Cut short on disk.
    fs::resize_file(cached(server, "p"), 10);
    EXPECT_EQ(fetch(server, "p"), CDS_OK);
    EXPECT_EQ(cds_test::read_file(cached(server, "p")), bytes);
    EXPECT_EQ(server.requests("GET", "p"), 2);

    // Replaced by other bytes of the same size: the digest the server stated
    // finds it.
    server.offer_digest("p", DigestHeader::kReprDigest);
    server.put_package("p", bytes);
    ASSERT_EQ(fetch(server, "p"), CDS_OK);
    EXPECT_EQ(fetch(server, "p"), CDS_ALREADY_THERE);
    cds_test::write_file(cached(server, "p"), cds_test::package_bytes(100000, 32));
    EXPECT_EQ(fetch(server, "p"), CDS_OK);
    EXPECT_EQ(cds_test::read_file(cached(server, "p")), bytes);

    // Changed on the server: a new ETag, a new download.
    const std::string changed = cds_test::package_bytes(100000, 33);
    server.put_package("p", changed);
    EXPECT_EQ(fetch(server, "p"), CDS_OK);
    EXPECT_EQ(cds_test::read_file(cached(server, "p")), changed);

    // A newer version that arrives cut short leaves no file where the
    // library looks, neither the new one nor the older copy.
    server.put_package("p", cds_test::package_bytes(100000, 34));
    server.answer_with("p", Answer::kCut);
    std::string failed;
    EXPECT_EQ(fetch(server, "p", nullptr, nullptr, &failed), CDS_INCOMPLETE);
    EXPECT_FALSE(fs::exists(failed));
    EXPECT_FALSE(fs::exists(fs::path(failed).parent_path().parent_path() / "cache/files/1/p-1"));
    server.answer_with("p", Answer::kServe);
    server.put_package("p", changed);

    // A record that no longer reads, and a package whose record is missing.
    const std::string root = cds_test::server_root(home.path(), server.url());
    cds_test::write_file(root + "/cache/checks/p-1", "korvo-cds-check 1\nsize 12");
    EXPECT_EQ(fetch(server, "p"), CDS_OK);
    fs::remove(root + "/cache/checks/p-1");
    EXPECT_EQ(fetch(server, "p"), CDS_OK);
    EXPECT_EQ(fetch(server, "p"), CDS_ALREADY_THERE);
    EXPECT_EQ(cds_test::read_file(cached(server, "p")), changed);
}

TEST_F(CacheTest, WhatTheServerSaysDecidesAboutItsCopy) {
    server.put_package("v", "validated by date");
    server.offer_validators("v", {.etag = false, .last_modified = true});
    ASSERT_EQ(fetch(server, "v"), CDS_OK);
    EXPECT_EQ(fetch(server, "v"), CDS_ALREADY_THERE);
    EXPECT_EQ(server.not_modified("HEAD", "v"), 1);

    // Without any validator nothing can confirm a copy: every call fetches.
    server.put_package("n", "unconfirmable");
    server.offer_validators("n", {.etag = false, .last_modified = false});
    ASSERT_EQ(fetch(server, "n"), CDS_OK);
    EXPECT_EQ(fetch(server, "n"), CDS_OK);
    EXPECT_EQ(server.requests("GET", "n"), 2);

    // A server that cannot be asked, refuses, or no longer has the package
    // gets no copy answered.
    server.answer_with("v", Answer::kBusy);
    EXPECT_EQ(fetch(server, "v"), CDS_BUSY);
    server.answer_with("v", Answer::kGarbage);
    EXPECT_EQ(fetch(server, "v"), CDS_BAD_ANSWER);
    server.answer_with("v", Answer::kServe);
    EXPECT_EQ(fetch(server, "v"), CDS_ALREADY_THERE);
    // Gone from the server: the copy goes too.
    server.remove_package("v");
    EXPECT_EQ(fetch(server, "v"), CDS_NOT_FOUND);
    EXPECT_FALSE(fs::exists(cached(server, "v")));
}

TEST_F(CacheTest, EachServerHasItsOwnPackages) {
    HttpTestServer other;
    server.put_package("same-id", "from the first server");
    other.put_package("same-id", "from the other server");
    ASSERT_EQ(fetch(server, "same-id"), CDS_OK);
    ASSERT_EQ(fetch(other, "same-id"), CDS_OK);
    EXPECT_EQ(cds_test::read_file(cached(server, "same-id")), "from the first server");
    EXPECT_EQ(cds_test::read_file(cached(other, "same-id")), "from the other server");
    EXPECT_EQ(fetch(other, "same-id"), CDS_ALREADY_THERE);

    // A server that cannot be reached has nothing in the cache.
    std::string closed;
    {
        HttpTestServer gone;
        closed = gone.address();
    }
    uint32_t handle = 99;
    EXPECT_EQ(DownloadFile(closed.c_str(), "same-id", nullptr, nullptr, nullptr,
                           &Completions::record, &handle),
              CDS_UNREACHABLE);
    EXPECT_EQ(handle, 0u);
}

// A package fetched with credentials is never answered to a call without
// them or with others.
TEST_F(CacheTest, CredentialsAndOtherAccounts) {
    server.put_package("locked", "for alice");
    server.require_credentials("alice", "s3cret");
    ASSERT_EQ(fetch(server, "locked", "alice", "s3cret"), CDS_OK);
    EXPECT_EQ(fetch(server, "locked", "alice", "s3cret"), CDS_ALREADY_THERE);
    EXPECT_EQ(fetch(server, "locked"), CDS_DENIED);
    EXPECT_EQ(fetch(server, "locked", "alice", "wrong"), CDS_DENIED);
    EXPECT_EQ(fetch(server, "locked", "mallory", "s3cret"), CDS_DENIED);
    EXPECT_EQ(cds_test::read_file(cached(server, "locked", "alice")), "for alice");
    EXPECT_FALSE(fs::exists(cached(server, "locked")));
}

// Working directories have names no other process can take, whatever its
// pid namespace, and what ended processes left is cleaned; a live
// download's directory stays.
TEST_F(CacheTest, WorkingDirectoriesNeitherCollideNorLinger) {
    server.put_package("w", cds_test::package_bytes(5000, 41));
    // Names another pid namespace's processes of this pid would have used.
    for (int handle = 1; handle <= 200; ++handle)
        fs::create_directories(
            home / ("downloads/" + std::to_string(4242) + "." + std::to_string(handle)));
    ASSERT_EQ(fetch(server, "w"), CDS_OK);

    const std::string downloads = cds_test::server_root(home.path(), server.url()) + "/downloads";
    // A download killed with its lock released, one whose lock never got its
    // directory, a directory without a lock, and a live one.
    fs::create_directories(downloads + "/0123456789abcdef");
    cds_test::write_file(downloads + "/0123456789abcdef/w.part", "half");
    cds_test::write_file(downloads + "/0123456789abcdef.lock", "");
    cds_test::write_file(downloads + "/00000000000000aa.new", "");
    fs::create_directories(downloads + "/1111111111111111");
    fs::create_directories(downloads + "/fedcba9876543210");
    cds_test::write_file(downloads + "/fedcba9876543210.lock", "");
    auto live = std::make_unique<cds_test::HeldLock>(downloads + "/fedcba9876543210.lock");
    ASSERT_TRUE(live->held());
    // Names the client never makes are not its to remove, nor is a FIFO
    // where a lock would be (where the host has FIFOs).
    cds_test::write_file(downloads + "/notes.txt", "the operator's");
    const bool fifo = cds_test::make_fifo(downloads + "/2222222222222222.lock");
    std::vector<std::string> foreign{"notes.txt"};
    if (fifo)
        foreign.insert(foreign.begin(), "2222222222222222.lock");

    server.answer_with("w2", Answer::kLateBody, std::chrono::seconds(60));
    server.put_package("w2", "late");
    uint32_t handle = 0;
    ASSERT_EQ(DownloadFile(server.address().c_str(), "w2", nullptr, nullptr, nullptr,
                           &Completions::record, &handle),
              CDS_OK);
    const std::string running = GetDownloadDirectory(handle);
    EXPECT_EQ(fs::path(running).parent_path().string(), downloads);
    EXPECT_TRUE(fs::is_directory(running));
    // files_under lists in name order; the running download's random name
    // may sort anywhere among the others.
    std::vector<std::string> expected = foreign;
    expected.insert(expected.end(),
                    {fs::path(running).filename().string() + ".lock",
                     fs::path(running).filename().string() + "/w2.part", "fedcba9876543210.lock"});
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(cds_test::files_under(downloads), expected);
    server.release_delayed();
    ASSERT_TRUE(Completions::instance().wait_for(handle));
    EXPECT_EQ(GetDownloadDirectory(handle), cached(server, "w2"));
    EXPECT_EQ(ReleaseFile(handle), CDS_OK);
    live.reset();
    EXPECT_EQ(fetch(server, "w"), CDS_ALREADY_THERE);
    EXPECT_EQ(cds_test::files_under(downloads), foreign);
    EXPECT_FALSE(fs::exists(downloads + "/1111111111111111"));
    EXPECT_FALSE(fs::exists(downloads + "/0123456789abcdef"));

    // A directory where the package belongs is neither answered nor
    // written through.
    fs::create_directories(cached(server, "d") + "/inside");
    server.put_package("d", "package d");
    EXPECT_EQ(fetch(server, "d"), CDS_CACHE_FAILED);
    EXPECT_TRUE(fs::is_directory(cached(server, "d") + "/inside"));
}

// A download whose process was killed leaves its working directory and
// part file; the next download of that server removes them.
TEST_F(CacheTest, WhatAKilledProcessLeftIsRemoved) {
    server.put_package("k", cds_test::package_bytes(4096, 61));
    server.answer_with("k", Answer::kLateBody, std::chrono::seconds(60));
    korvo::test::Pipe out;
    korvo::test::ChildStart start;
    start.standardOutput = out.writeEnd();
    korvo::test::Child child(
        korvo::test::ProgramArgs{{CDS_DOWNLOAD_AND_WAIT, server.address(), "k"}}, start);
    out.closeWrite();
    std::string line;
    for (int byte = out.receive(); byte >= 0 && byte != '\n'; byte = out.receive())
        line += static_cast<char>(byte);
    EXPECT_EQ(line.rfind("started ", 0), 0u) << "the helper did not start its download";
    const std::string downloads = cds_test::server_root(home.path(), server.url()) + "/downloads";
    const auto left = [&] { return cds_test::files_under(downloads); };
    const auto part_left = [&] {
        const auto files = left();
        return std::any_of(files.begin(), files.end(),
                           [](const std::string &file) { return file.ends_with("/k.part"); });
    };
    EXPECT_EQ(left().size(), 2u);  // <name>.lock and <name>/k.part
    child.kill();
    EXPECT_EQ(child.wait(), korvo::test::kKilled);
    // The part file stays; the lock too where it is a file the holder must
    // remove (on Windows it goes with the killed holder's handle).
    EXPECT_TRUE(part_left()) << "a killed download cleans nothing itself";
    server.release_delayed();

    server.answer_with("k", Answer::kServe);
    EXPECT_EQ(fetch(server, "k"), CDS_OK);
    EXPECT_EQ(left(), std::vector<std::string>{});
    EXPECT_EQ(cds_test::read_file(cached(server, "k")), cds_test::package_bytes(4096, 61));
}

}  // namespace
