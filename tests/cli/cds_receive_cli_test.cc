// korvo receive --from cds as a user sets it up: the CDS client installed in
// a home of its own that the registry names (the machine's on Windows, the
// registry file that stands in for it elsewhere), a TOC file whose segments
// name the content server (the test suite's HTTP server) and the packages.
// The packages arrive byte for byte, a second receive takes them from the
// client's cache (in the user's cache directory, never beside the client),
// and a client that cannot be loaded or a server that refuses a package
// fails the receive with exit code 1 and a message saying why. Hostile
// servers and caches either yield the right bytes or such a failure.
#include "file_size_limit.hpp"
#include "receive_fixture.hpp"
#include "tests/cds_client/client_registration.hpp"
#include "tests/cds_stream/cds_distribution.hpp"
#include "tests/http/http_test_server.hpp"

namespace cli_test {
namespace {

namespace fs = std::filesystem;

// The client library's name in its home, as the loader asks the host for it.
#ifdef _WIN32
constexpr const char *kClientFile = "CDSClient.dll";
#else
constexpr const char *kClientFile = "libCDSClient.so";
#endif
using cds_stream_test::Distribution;
using cds_stream_test::Package;
using korvo::test::Answer;

// The catalog's message for a download the client gave up with `code`.
std::string DownloadFailed(int code) {
    return "korvo: The CDS command 'DownloadFile' with CDS handle '0' failed with a return of " +
           std::to_string(code) + ". (message 203)\n";
}

class ReceiveThroughCds : public ReceiveFixture {
  protected:
    void SetUp() override {
        ReceiveFixture::SetUp();
        // The client's layout: <home>/cds/<client library>, <home>/cds.cfg
        // whose class path lies in <home>/lib (the library is found through
        // <home>/lib/../cds, so that directory must exist), and the registry
        // naming the home.
        fs::create_directories(client_ + "/cds");
        fs::create_directories(client_ + "/lib");
        fs::copy_file(KORVO_CDS_CLIENT_LIBRARY, client_ + "/cds/" + kClientFile);
        cds_test::write_file(client_ + "/cds.cfg",
                             "ClassPath = " + client_ + "/lib/CacheMgr.jar\n");
        registration_.emplace(client_, registry_);
        if (!registration_->ready())
            GTEST_SKIP() << registration_->why_not();
    }

    // The environment of a run: no gateway, the test's work directory and
    // registry, no home for the client, so that it takes the user's cache
    // directory (the test's own).
    Options Env() const {
        Options options = ReceiveFixture::Env();
        options.env.insert({{"KORVO_REGISTRY_FILE", registry_},
                            {"CDSCLIENT_HOME", ""},
                            {"XDG_CACHE_HOME", user_cache_}});
#ifdef _WIN32
        // The user's cache is under LOCALAPPDATA there; and the build's
        // client folder, which the test program's PATH holds for its own
        // DLLs, must not lend the program a client the registry does not name.
        fs::create_directories(user_cache_);
        options.env["LOCALAPPDATA"] = user_cache_;
        options.env["PATH"] = PathWithout(fs::path(KORVO_CDS_CLIENT_LIBRARY).parent_path());
#endif
        return options;
    }
#ifdef _WIN32
    // This process's PATH without the folder `dropped`.
    static std::string PathWithout(const fs::path &dropped) {
        const char *path = std::getenv("PATH");
        std::string kept, rest = path != nullptr ? path : "";
        while (!rest.empty()) {
            const size_t end = rest.find(';');
            const std::string folder = rest.substr(0, end);
            rest = end == std::string::npos ? "" : rest.substr(end + 1);
            std::error_code error;
            if (!folder.empty() && !fs::equivalent(folder, dropped, error))
                kept += (kept.empty() ? "" : ";") + folder;
        }
        return kept;
    }
#endif
    std::string CachedPackage(const std::string &server_url, const std::string &id) const {
        return cds_test::cached_package(user_cache_ + "/korvo-cds", server_url, id);
    }

    void AddPackage(const std::string &id, size_t size) {
        packages_.push_back({id, cds_test::package_bytes(size, static_cast<unsigned>(size))});
        server_.put_package(id, packages_.back().bytes);
    }

    // Writes the TOC of the packages, served by `manager`, as a TOC file;
    // with `user`, its segments carry that user name and `password`.
    std::string TocFile(const std::string &manager, const char *user = nullptr,
                        const char *password = nullptr) const {
        Distribution toc(packages_, manager);
        for (uint32_t i = 0; user != nullptr && i < toc.length; ++i) {
            properties_put_string_dup(toc.segment(i), SEGMENT_CDS_USERNAME, user);
            properties_put_string_dup(toc.segment(i), SEGMENT_CDS_PASSWORD, password);
        }
        Properties file{};
        properties_put_properties_list_dup(&file, JOB_TOC_KEY, &toc);
        const std::string path = scratch_ / "dist.toc";
        properties_save(&file, path.c_str());
        properties_delete(&file);
        return path;
    }

    void ExpectReceived(const std::string &out) const {
        for (const Package &package : packages_)
            EXPECT_TRUE(cds_test::read_file(out + "/" + package.id) == package.bytes)
                << package.id << " in " << out << " differs from the package";
    }

    std::string client_ = scratch_ / "client";
    std::string registry_ = scratch_ / "registry.ini";
    std::string user_cache_ = scratch_ / "user-cache";
    std::optional<cds_test::ClientRegistration> registration_;
    korvo::test::HttpTestServer server_;
    std::vector<Package> packages_;
};

TEST_F(ReceiveThroughCds, PackagesArriveWholeAndARepeatTakesThemFromTheCache) {
    AddPackage("kernel.img", 200003);
    AddPackage("notes.txt", 16384);
    AddPackage("tools.tar", 7);
    const std::string toc = TocFile(server_.address());
    const uint64_t total = 200003 + 16384 + 7;
    const std::string &out = out_;

    Outcome run =
        korvo({"receive", "dist-1", "--from", "cds", "--toc", toc, "-o", out, "--json"}, Env());
    ASSERT_EQ(run.exit_code, 0) << run.err;
    Json summary = run.json();
    EXPECT_EQ(summary["source"], "cds");
    EXPECT_EQ(summary["total_bytes"], total);
    EXPECT_EQ(summary["received_bytes"], total);
    EXPECT_EQ(summary["complete"], true);
    ExpectReceived(out);
    EXPECT_EQ(cds_stream_test::download_results(run.err), std::vector<int>(3, 0)) << run.err;
    auto record = ProgressValues(work_, "dist-1");
    EXPECT_EQ(record["t_len"], std::to_string(total));
    EXPECT_EQ(record["c_len"], std::to_string(total));
    EXPECT_EQ(record["close"], "true");
    // The client kept the packages in the user's cache directory and wrote
    // nothing where it was installed.
    EXPECT_EQ(cds_test::held_packages(user_cache_ + "/korvo-cds"),
              (std::vector<std::string>{"cache/files/1/kernel.img-1", "cache/files/1/notes.txt-1",
                                        "cache/files/1/tools.tar-1"}));
    EXPECT_EQ(cds_test::files_under(client_),
              (std::vector<std::string>{"cds.cfg", std::string("cds/") + kClientFile}));

    // Into a fresh output the client reports every package already there,
    // and the server is not asked again.
    const std::string again = scratch_ / "again";
    run = korvo({"receive", "dist-1", "--from", "cds", "--toc", toc, "-o", again}, Env());
    ASSERT_EQ(run.exit_code, 0) << run.err;
    EXPECT_THAT(run.out, HasSubstr("Received dist-1 into " + again + ": 3 segments, "));
    ExpectReceived(again);
    EXPECT_EQ(cds_stream_test::download_results(run.err), std::vector<int>(3, 16)) << run.err;
    for (const Package &package : packages_)
        EXPECT_EQ(server_.requests("GET", package.id), 1) << package.id;
}

// A package in the cache is copied into the output in the kernel; a receive
// killed in the middle of that copy resumes from its checkpoint to the
// package's bytes.
TEST_F(ReceiveThroughCds, AReceiveKilledWhileCopyingACachedPackageResumes) {
    if (!korvo::test::fileSizeLimitHost())
        GTEST_SKIP() << "this host cannot limit the size of a program's files to stop it mid-copy";
    AddPackage("image.bin", (20u << 20) + 99);
    const std::string toc = TocFile(server_.address());
    ASSERT_EQ(
        korvo({"receive", "warm", "--from", "cds", "--toc", toc, "-o", scratch_ / "warm"}, Env())
            .exit_code,
        0);

    const std::string &out = out_;
    const std::vector<std::string> receive{"receive", "dist-k", "--from", "cds",
                                           "--toc",   toc,      "-o",     out};
    ASSERT_EQ(korvo_with_file_limit(receive, Env(), (11u << 20) + 5),
              korvo::test::fileSizeExceededStatus());
    const uint64_t recorded = std::stoull(ProgressValues(work_, "dist-k")["c_len"]);
    EXPECT_GE(recorded, 8u << 20);
    EXPECT_LE(recorded, (11u << 20) + 5);

    Outcome run = korvo(receive, Env());
    ASSERT_EQ(run.exit_code, 0) << run.err;
    EXPECT_THAT(run.out, HasSubstr("(resumed at "));
    ExpectReceived(out);
    EXPECT_EQ(server_.requests("GET", "image.bin"), 1);
}

// A client that cannot be found, and a server that refuses a package, fail
// the receive with exit code 1 and a message that says why: the catalog's,
// with its number, for a refusal. A refusal of the second package comes
// after the first has arrived; once the server serves again, the same
// command completes the distribution.
TEST_F(ReceiveThroughCds, AMissingClientOrARefusedPackageFailsTheReceive) {
    AddPackage("first.bin", 3000);
    AddPackage("second.bin", 5000);
    const std::string &out = out_;
    const std::vector<std::string> receive{
        "receive", "dist-2", "--from", "cds", "--toc", TocFile(server_.address()), "-o", out};

    // With the home no longer registered, the client is nowhere.
    registration_.reset();
    Outcome run = korvo(receive, Env());
    EXPECT_EQ(run.exit_code, 1) << run.err;
    EXPECT_THAT(run.err, HasSubstr("korvo: the CDS client cannot be loaded: "));
    EXPECT_EQ(server_.requests("GET", "first.bin"), 0);
    registration_.emplace(client_, registry_);
    ASSERT_TRUE(registration_->ready()) << registration_->why_not();

    server_.answer_with("second.bin", Answer::kBusy);
    run = korvo(receive, Env());
    EXPECT_EQ(run.exit_code, 1) << run.err;
    EXPECT_THAT(run.err,
                HasSubstr("korvo: The CDS package 'second.bin' can not be retrieved due to the "
                          "depot server being too busy.  Retry in 300 seconds. (message 206)\n"));
    EXPECT_TRUE(cds_test::read_file(out + "/first.bin") == packages_[0].bytes);

    server_.answer_with("second.bin", Answer::kServe);
    run = korvo(receive, Env());
    ASSERT_EQ(run.exit_code, 0) << run.err;
    ExpectReceived(out);
    EXPECT_EQ(server_.requests("GET", "first.bin"), 1);

    // A server that wants credentials the TOC does not give.
    korvo::test::HttpTestServer guarded;
    packages_ = {{"locked.bin", cds_test::package_bytes(100, 3)}};
    guarded.put_package("locked.bin", packages_[0].bytes);
    guarded.require_credentials("user", "secret");
    run = korvo({"receive", "dist-3", "--from", "cds", "--toc", TocFile(guarded.address()), "-o",
                 scratch_ / "denied"},
                Env());
    EXPECT_EQ(run.exit_code, 1) << run.err;
    EXPECT_THAT(run.err, HasSubstr(DownloadFailed(13)));
}

// Hostile caches and servers: each receive either delivers the packages'
// bytes or ends with exit code 1 and the catalog's message.
TEST_F(ReceiveThroughCds, HostileServersAndCachesYieldTheRightBytesOrTheirMessage) {
    AddPackage("base.img", 100000);
    const std::vector<Package> first = packages_;
    const auto receive = [&](const std::string &toc, const std::string &out,
                             const Options &options) {
        return korvo({"receive", "dist-h", "--from", "cds", "--toc", toc, "-o", scratch_ / out},
                     options);
    };
    Outcome run = receive(TocFile(server_.address()), "one", Env());
    ASSERT_EQ(run.exit_code, 0) << run.err;

    // A cached copy cut to 10 bytes is fetched again.
    fs::resize_file(CachedPackage(server_.url(), "base.img"), 10);
    run = receive(TocFile(server_.address()), "cut", Env());
    ASSERT_EQ(run.exit_code, 0) << run.err;
    ExpectReceived(scratch_ / "cut");
    EXPECT_EQ(server_.requests("GET", "base.img"), 2);

    // Another server's package of the same id is its own.
    korvo::test::HttpTestServer other;
    packages_ = {{"base.img", cds_test::package_bytes(100000, 77)}};
    other.put_package("base.img", packages_[0].bytes);
    run = receive(TocFile(other.address()), "other", Env());
    ASSERT_EQ(run.exit_code, 0) << run.err;
    ExpectReceived(scratch_ / "other");
    EXPECT_EQ(cds_stream_test::download_results(run.err), std::vector<int>{0}) << run.err;

    // A package fetched with credentials is not handed to a receive without
    // them.
    other.require_credentials("user", "secret");
    packages_ = {{"locked.img", cds_test::package_bytes(3000, 78)}};
    other.put_package("locked.img", packages_[0].bytes);
    run = receive(TocFile(other.address(), "user", "secret"), "locked", Env());
    ASSERT_EQ(run.exit_code, 0) << run.err;
    ExpectReceived(scratch_ / "locked");
    run = receive(TocFile(other.address()), "no-credentials", Env());
    EXPECT_EQ(run.exit_code, 1) << run.err;
    EXPECT_THAT(run.err, HasSubstr(DownloadFailed(13)));
    EXPECT_EQ(cds_test::read_file(scratch_ / "no-credentials/locked.img"), "");

    // 10 GB declared: refused before a byte is written.
    packages_ = first;
    server_.answer_with("base.img", Answer::kHugeLength);
    run = receive(TocFile(server_.address()), "huge", Env());
    EXPECT_EQ(run.exit_code, 1) << run.err;
    EXPECT_THAT(run.err, HasSubstr(DownloadFailed(27)));

    // A body that never ends stops at the client's limit, and the receive
    // fails without a file.
    server_.answer_with("base.img", Answer::kEndless);
    Options limited = Env();
    limited.env["CDSCLIENT_SIZE_LIMIT"] = "1048576";
    run = receive(TocFile(server_.address()), "endless", limited);
    EXPECT_EQ(run.exit_code, 1) << run.err;
    EXPECT_THAT(run.err, HasSubstr("korvo: Received a bad status of 27 for CDS handle of "));
    // The client names no file for it, and no older copy either.
    EXPECT_THAT(run.err,
                HasSubstr("korvo: Cannot open the file " +
                          cds_test::server_root(user_cache_ + "/korvo-cds", server_.url()) +
                          "/downloads/cache/files/1/base.img-1. (message 11)\n"));
    EXPECT_TRUE(
        cds_test::held_packages(user_cache_ + "/korvo-cds") ==
        (std::vector<std::string>{"cache/files/1/base.img-1", "cache/files/1/locked.img-1"}))
        << "only the other server's copies are left";

    // A 200 answer that carries an error page is not the package: its size
    // is not the one the segment states, and the receive fails.
    server_.answer_with("base.img", Answer::kHtmlPage);
    run = receive(TocFile(server_.address()), "html", Env());
    EXPECT_EQ(run.exit_code, 1) << run.err;
    EXPECT_THAT(run.err, HasSubstr("bytes, but its segment states 100000 bytes."));
    EXPECT_THAT(run.err, HasSubstr("' failed with a return of 74. (message 203)\n"));
    EXPECT_EQ(cds_test::read_file(scratch_ / "html/base.img"), "");
}

}  // namespace
}  // namespace cli_test
