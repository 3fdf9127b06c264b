// The korvo command's host calls on their own: what the receive's outputs,
// its lock and its digests rely on, the same on every host.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "host_files.hpp"
#include "host_system.hpp"
#include "sha256.hpp"

namespace fs = std::filesystem;
using namespace korvo::cli;

namespace {

class HostSeam : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("korvo_cli_host." + std::to_string(host::process_id()) + "." +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }
    std::string path(const std::string &name) const { return (dir_ / name).string(); }

    fs::path dir_;
};

std::string hex(const std::vector<uint8_t> &bytes) {
    std::string text;
    char two[3];
    for (uint8_t byte : bytes) {
        std::snprintf(two, sizeof two, "%02x", byte);
        text += two;
    }
    return text;
}

std::string read_all(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST_F(HostSeam, PositionedWritesAndCutsKeepEveryByte) {
    const int fd = host::open_write_no_follow(path("out"), 0644);
    ASSERT_GE(fd, 0) << std::strerror(errno);
    // Newlines and CRs must land as they are: no text mode anywhere.
    const std::string bytes = "a\nb\r\n\0z";
    ASSERT_EQ(host::write_at(fd, bytes.data(), bytes.size(), 4), int64_t(bytes.size()));
    ASSERT_EQ(host::write_at(fd, "WXYZ", 4, 0), 4);
    char back[16] = {};
    ASSERT_EQ(host::read_at(fd, back, sizeof back, 0), int64_t(4 + bytes.size()));
    EXPECT_EQ(std::string(back, 4 + bytes.size()), "WXYZ" + bytes);
    EXPECT_EQ(host::read_at(fd, back, sizeof back, 100), 0);  // past the end
    ASSERT_EQ(host::cut_file(fd, 6), 0);
    EXPECT_EQ(host::flush_file(fd), 0);
    ::close(fd);
    EXPECT_EQ(read_all(path("out")), "WXYZa\n");
    EXPECT_EQ(host::flush_named(path("out")), 0);
    EXPECT_EQ(host::flush_named(dir_.string()), 0);
    EXPECT_NE(host::flush_named(path("missing")), 0);
    EXPECT_EQ(errno, ENOENT);
}

TEST_F(HostSeam, IdentityTellsOneFileFromAnother) {
    std::ofstream(path("a")) << "a";
    std::ofstream(path("b")) << "b";
    host::FileIdentity a, a_again, b, by_fd;
    ASSERT_EQ(host::identity_of(path("a"), a), 0);
    ASSERT_EQ(host::identity_of(dir_.string() + "/./a", a_again), 0);
    ASSERT_EQ(host::identity_of(path("b"), b), 0);
    EXPECT_EQ(a.device, a_again.device);
    EXPECT_EQ(a.inode, a_again.inode);
    EXPECT_NE(a.inode, b.inode);
    EXPECT_EQ(a.links, 1u);
    const int fd = host::open_read_no_follow(path("a"));
    ASSERT_GE(fd, 0);
    ASSERT_EQ(host::identity_of(fd, by_fd), 0);
    ::close(fd);
    EXPECT_EQ(by_fd.inode, a.inode);
    EXPECT_NE(host::identity_of(path("missing"), a), 0);
    EXPECT_EQ(errno, ENOENT);
}

TEST_F(HostSeam, TheFolderHandleSeesWhatLiesInIt) {
    host::FolderHandle folder;
    ASSERT_EQ(folder.open(dir_.string() + "/"), 0);  // a trailing separator is fine
    std::ofstream(path("file")) << "12345";
    fs::create_directory(path("sub"));
    struct stat status {};
    host::FileIdentity identity;
    ASSERT_EQ(folder.inspect("file", status, identity), 0);
    EXPECT_TRUE(S_ISREG(status.st_mode));
    EXPECT_FALSE(host::is_link(status));
    EXPECT_EQ(status.st_size, 5);
    host::FileIdentity direct;
    ASSERT_EQ(host::identity_of(path("file"), direct), 0);
    EXPECT_EQ(identity.inode, direct.inode);
    ASSERT_EQ(folder.inspect("sub", status, identity), 0);
    EXPECT_TRUE(S_ISDIR(status.st_mode));
    EXPECT_NE(folder.inspect("missing", status, identity), 0);
    EXPECT_EQ(errno, ENOENT);
    const int fd = folder.open_write("new", 0644);
    ASSERT_GE(fd, 0);
    ::close(fd);
    EXPECT_TRUE(fs::is_regular_file(path("new")));
    EXPECT_EQ(folder.flush(), 0);
    host::FolderHandle not_a_folder;
    EXPECT_NE(not_a_folder.open(path("file")), 0);
}

TEST_F(HostSeam, LinksAreSeenAndNeverFollowed) {
    std::ofstream(path("target")) << "target";
    std::error_code error;
    fs::create_symlink(path("target"), path("link"), error);
    if (error)
        GTEST_SKIP() << "this account cannot make symbolic links here: " << error.message();
    struct stat status {};
    ASSERT_EQ(host::lstat_path(path("link"), status), 0);
    EXPECT_TRUE(host::is_link(status));
    EXPECT_FALSE(S_ISREG(status.st_mode));
    EXPECT_LT(host::open_read_no_follow(path("link")), 0);
    EXPECT_LT(host::open_write_no_follow(path("link"), 0644), 0);
    host::FolderHandle folder;
    ASSERT_EQ(folder.open(dir_.string()), 0);
    host::FileIdentity identity;
    ASSERT_EQ(folder.inspect("link", status, identity), 0);
    EXPECT_TRUE(host::is_link(status));
    EXPECT_LT(folder.open_write("link", 0644), 0);
    EXPECT_EQ(read_all(path("target")), "target");
}

TEST_F(HostSeam, OneLockHolderAndTheHolderCanStillBeRead) {
    const int first = host::open_write_no_follow(path("x.lock"), 0600);
    const int second = host::open_write_no_follow(path("x.lock"), 0600);
    ASSERT_GE(first, 0);
    ASSERT_GE(second, 0);
    ASSERT_EQ(host::try_lock_exclusive(first), 0);
    ASSERT_EQ(host::write_at(first, "4242\n", 5, 0), 5);
    EXPECT_EQ(host::try_lock_exclusive(second), EWOULDBLOCK);
    char holder[8] = {};
    EXPECT_EQ(host::read_at(second, holder, sizeof holder, 0), 5);
    EXPECT_STREQ(holder, "4242\n");
    ::close(first);  // the lock ends with its descriptor
    EXPECT_EQ(host::try_lock_exclusive(second), 0);
    ::close(second);
}

TEST_F(HostSeam, DirectoriesNamesAndSpace) {
    EXPECT_EQ(host::make_private_dir(path("private")), 0);
    EXPECT_TRUE(fs::is_directory(path("private")));
    EXPECT_NE(host::make_private_dir(path("private")), 0);
    EXPECT_EQ(errno, EEXIST);
    EXPECT_GE(host::longest_file_name(dir_.string()), 255u);
    uint64_t available = 0, total = 0;
    ASSERT_TRUE(host::volume_space(dir_.string(), available, total));
    EXPECT_GT(total, 0u);
    EXPECT_LE(available, total);
}

TEST(HostSystem, ProcessesEnvironmentAndTime) {
    EXPECT_TRUE(host::process_running(host::process_id()));
    EXPECT_FALSE(host::process_running(0));
    EXPECT_FALSE(host::process_running(-5));
    ASSERT_TRUE(host::set_environment("KORVO_CLI_HOST_TEST", "C:\\work dir"));
    ASSERT_NE(std::getenv("KORVO_CLI_HOST_TEST"), nullptr);
    EXPECT_STREQ(std::getenv("KORVO_CLI_HOST_TEST"), "C:\\work dir");
    std::tm local{};
    ASSERT_TRUE(host::local_time(86400 * 365, local));
    // 1971-01-01 00:00 UTC: the last day of 1970 west of Greenwich.
    EXPECT_TRUE(local.tm_year == 70 || local.tm_year == 71) << local.tm_year;
    // Under a test runner the standard streams are pipes or files.
    EXPECT_GE(host::terminal_columns(1), 1);
}

TEST(Sha256Digest, KnownDigestsInOneOrManyPieces) {
    Sha256 empty;
    EXPECT_EQ(hex(empty.finish()),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    Sha256 whole, pieces;
    const std::string text = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
    whole.update(text.data(), text.size());
    for (char c : text)
        pieces.update(&c, 1);
    const std::string expected = "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1";
    EXPECT_EQ(hex(whole.finish()), expected);
    Sha256 moved = std::move(pieces);
    EXPECT_EQ(hex(moved.finish()), expected);
}

}  // namespace
