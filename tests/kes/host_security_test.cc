// Owners and drives through the host layer, on either host: a file the test
// makes belongs to the account the test runs as, by path and by descriptor,
// and has a name; what cannot be read says which part failed; CD drive roots
// are drive roots in letter order (none on POSIX, which names no drives by
// letter).
#include "kes/host_security.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "kes/host_drives.hpp"
#include "kes/host_file.hpp"
#include "kes/host_registry.hpp"
#include "kes/kes_file.h"

namespace {

namespace fs = std::filesystem;
using korvo::host::OwnerFailure;

class HostSecurity : public testing::Test {
  protected:
    void SetUp() override {
        directory =
            fs::temp_directory_path() / ("host-security-" + std::to_string(std::random_device{}()));
        fs::create_directories(directory);
        file = (directory / "file").string();
        std::ofstream(file) << "data";
    }
    void TearDown() override {
        std::error_code ignored;
        korvo::host::SetOwnerReadWrite(file.c_str(), true, true);
        fs::remove_all(directory, ignored);
    }
    fs::path directory;
    std::string file;
};

}  // namespace

TEST_F(HostSecurity, NewFilesAreOwnedByTheProcessAccount) {
    EXPECT_TRUE(korvo::host::PathOwnedBySelf(file.c_str()));
    EXPECT_TRUE(korvo::host::PathOwnedBySelf(directory.string().c_str()));
    EXPECT_TRUE(korvo::host::LinkOwnedBySelf(file.c_str()));
    const int fd = korvo::host::OpenFile(file.c_str(), korvo::host::kOpenRead);
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(korvo::host::DescriptorOwnedBySelf(fd));
    korvo::host::CloseFile(fd);
    EXPECT_FALSE(korvo::host::DescriptorOwnedBySelf(fd));

    char name[KES_FILE_ACCOUNT_SIZE];
    OwnerFailure failure = OwnerFailure::kFile;
    ASSERT_EQ(korvo::host::FileOwnerName(file.c_str(), name, sizeof name, &failure), 0);
    EXPECT_EQ(failure, OwnerFailure::kNone);
    EXPECT_GT(std::strlen(name), 0u);
    // The name is the account's own, without a domain before it.
    EXPECT_EQ(std::strchr(name, '\\'), nullptr);
}

TEST_F(HostSecurity, FailuresSayWhichPartFailed) {
    const std::string missing = (directory / "missing").string();
    EXPECT_FALSE(korvo::host::PathOwnedBySelf(missing.c_str()));
    EXPECT_FALSE(korvo::host::LinkOwnedBySelf(missing.c_str()));
    char name[KES_FILE_ACCOUNT_SIZE] = "stale";
    OwnerFailure failure = OwnerFailure::kNone;
    EXPECT_NE(korvo::host::FileOwnerName(missing.c_str(), name, sizeof name, &failure), 0);
    EXPECT_EQ(failure, OwnerFailure::kFile);
    EXPECT_STREQ(name, "");

    // No room for the name: the account part fails, the buffer stays empty.
    char tiny[1] = {'x'};
    EXPECT_NE(korvo::host::FileOwnerName(file.c_str(), tiny, sizeof tiny, &failure), 0);
    EXPECT_EQ(failure, OwnerFailure::kAccount);
    EXPECT_EQ(tiny[0], '\0');

    EXPECT_NE(korvo::host::SetOwnerReadWrite(missing.c_str(), true, true), 0);
}

TEST(HostDrives, CdDrivesAreRootsInLetterOrder) {
    char previous = 'B';
    for (const std::string &root : korvo::host::CdDriveRoots()) {
        ASSERT_EQ(root.size(), 3u) << root;
        EXPECT_EQ(root.substr(1), ":\\");
        EXPECT_GT(root[0], previous) << root;
        EXPECT_LE(root[0], 'Z') << root;
        previous = root[0];
    }
}

TEST(HostRegistry, AMissingKeyHasNoValues) {
    EXPECT_EQ(korvo::host::MachineRegistryString("Software\\korvo-no-such-key", "value", 259),
              std::nullopt);
}
