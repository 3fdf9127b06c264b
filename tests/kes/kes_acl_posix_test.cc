// File security on real files and accounts (nobody, daemon): access lists
// read back with KesFileGetAcl and the system's getfacl, in the temporary
// directory and on tmpfs; the owner's permissions; owner changes with and
// without the privilege to change owners.
#include <grp.h>
#include <linux/capability.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "kes/kes_acl.h"
#include "kes/kes_file.h"
#include "kes_scratch.hpp"
#include "tests/support/test_host.hpp"
#include "tests/support/test_process.hpp"

namespace {

using kes_test::ExpectStatus;
using Entries = std::vector<std::pair<std::string, int32_t>>;

constexpr int32_t kRead = KES_FILE_PERMISSION_READ;
constexpr int32_t kWrite = KES_FILE_PERMISSION_WRITE;
constexpr int32_t kDeny = KES_FILE_PERMISSION_DENY;
constexpr int32_t kStandIn = 200;  // offset of errno in the statuses of security calls

bool HaveAclTools() {
    return std::system("command -v getfacl >/dev/null && command -v setfacl >/dev/null") == 0;
}

// What the system's getfacl shows of the file: its entries, without header.
std::string Getfacl(const std::string &path) {
    const std::string command = "getfacl --omit-header --absolute-names '" + path + "' 2>&1";
    std::string text;
    if (FILE *pipe = ::popen(command.c_str(), "r")) {
        std::array<char, 256> chunk;
        while (std::fgets(chunk.data(), chunk.size(), pipe) != nullptr)
            text += chunk.data();
        ::pclose(pipe);
    }
    return text;
}

void Setfacl(const std::string &entries, const std::string &path) {
    ASSERT_EQ(std::system(("setfacl -m '" + entries + "' '" + path + "'").c_str()), 0) << entries;
}

void MakeFile(const std::string &path, mode_t mode) {
    std::ofstream(path) << "data";
    ASSERT_EQ(::chmod(path.c_str(), mode), 0);
}

KesAclEntry Entry(const char *name, int32_t rights) {
    KesAclEntry entry{};
    std::strncpy(entry.name, name, sizeof(entry.name) - 1);
    entry.rights = rights;
    return entry;
}

Entries ReadAcl(const std::string &path, size_t room = 16) {
    std::vector<KesAclEntry> entries(room + 1);
    size_t count = room;
    KesStatus status{};
    ExpectStatus(*KesFileGetAcl(&status, entries.data(), path.c_str(), &count), KES_OK, 0, 0);
    Entries read;
    for (size_t i = 0; i < count && i < room; ++i)
        read.emplace_back(entries[i].name, entries[i].rights);
    return read;
}

class KesAclTest : public kes_test::NoDescriptorLeak,
                   public testing::WithParamInterface<const char *> {
  protected:
    void SetUp() override {
        NoDescriptorLeak::SetUp();
        if (::getpwnam("nobody") == nullptr || ::getpwnam("daemon") == nullptr)
            GTEST_SKIP() << "the accounts nobody and daemon are missing";
        if (!HaveAclTools())
            GTEST_SKIP() << "getfacl and setfacl (package acl) are missing";
        const std::filesystem::path base = std::string(GetParam()) == "shm"
                                               ? korvo::test::memoryFileSystemDirectory()
                                               : std::filesystem::temp_directory_path();
        if (base.empty() || !std::filesystem::is_directory(base))
            GTEST_SKIP() << base << " is not a directory here";
        scratch.emplace(base);
        file = *scratch / "file";
        MakeFile(file, 0640);
        KesStatus probe{};
        KesFileGrantPermission(&probe, "nobody", kRead, file.c_str());
        if (probe.code == KES_SYSTEM_ERROR && probe.osError == kStandIn + EOPNOTSUPP)
            GTEST_SKIP() << "the file system of " << base << " has no ACLs";
        KesAclEntry none{};
        ExpectStatus(*KesFileSetAcl(&probe, &none, file.c_str(), 0), KES_OK, 0, 0);
    }

    std::optional<kes_test::ScratchDir> scratch;
    std::string file;
    KesStatus status{};
};

INSTANTIATE_TEST_SUITE_P(FileSystems, KesAclTest, testing::Values("temporary", "shm"),
                         [](const auto &info) { return std::string(info.param); });

}  // namespace

TEST_P(KesAclTest, GrantAndRevokeChangeOneAccountAtATime) {
    const char *path = file.c_str();
    ExpectStatus(*KesFileGrantPermission(&status, "nobody", kRead, path), KES_OK, 0, 0);
    EXPECT_EQ(ReadAcl(file), (Entries{{"nobody", kRead}}));
    // Any bit of a right's group asks for it, in grants and in revokes.
    KesFileGrantPermission(&status, "nobody", 0x20, path);
    EXPECT_EQ(ReadAcl(file), (Entries{{"nobody", kRead | kWrite}}));

    // An account without an entry gets a denying one; the list is in account
    // number order (daemon is 1).
    ExpectStatus(*KesFileRevokePermission(&status, "daemon", kWrite, path), KES_OK, 0, 0);
    KesFileRevokePermission(&status, "nobody", 0x40, path);
    EXPECT_EQ(ReadAcl(file), (Entries{{"daemon", kDeny}, {"nobody", kRead}}));
    EXPECT_EQ(ReadAcl(file, 1), (Entries{{"daemon", kDeny}})) << "cut at the room, no error";
    EXPECT_EQ(ReadAcl(file, 0), Entries{});
    EXPECT_EQ(Getfacl(file),
              "user::rw-\nuser:daemon:---\nuser:nobody:r--\ngroup::r--\nmask::r--\nother::---\n\n");

    // A denying entry becomes an allowing one with exactly the rights given.
    KesFileGrantPermission(&status, "daemon", kWrite, path);
    EXPECT_EQ(ReadAcl(file), (Entries{{"daemon", kWrite}, {"nobody", kRead}}));
    EXPECT_EQ(Getfacl(file),
              "user::rw-\nuser:daemon:-w-\nuser:nobody:r--\ngroup::r--\nmask::rw-\nother::---\n\n");

    // An allowing entry left without rights is dropped, and with the last
    // named entry the file is back to its mode bits.
    KesFileRevokePermission(&status, "daemon", 0x70, path);
    KesFileRevokePermission(&status, "nobody", 0x777, path);
    ExpectStatus(status, KES_OK, 0, 0);
    EXPECT_EQ(ReadAcl(file), Entries{});
    EXPECT_EQ(Getfacl(file), "user::rw-\ngroup::r--\nother::---\n\n");
}

// A revoke from an account without an entry of its own takes only the
// rights revoked: the account keeps what the others' or its group's entry
// gave it, and the owner loses the right from the owner's entry.
TEST_P(KesAclTest, RevokesFromAccountsWithoutAnEntryTakeOnlyTheRightsRevoked) {
    const char *path = file.c_str();
    ASSERT_EQ(::chmod(path, 0644), 0);
    ExpectStatus(*KesFileRevokePermission(&status, "daemon", kWrite, path), KES_OK, 0, 0);
    EXPECT_EQ(ReadAcl(file), (Entries{{"daemon", kRead}}));
    EXPECT_EQ(Getfacl(file), "user::rw-\nuser:daemon:r--\ngroup::r--\nmask::r--\nother::r--\n\n");
    // Nothing left: a denying entry.
    KesAclEntry none{};
    ExpectStatus(*KesFileSetAcl(&status, &none, path, 0), KES_OK, 0, 0);
    ExpectStatus(*KesFileRevokePermission(&status, "daemon", kRead, path), KES_OK, 0, 0);
    EXPECT_EQ(ReadAcl(file), (Entries{{"daemon", kDeny}}));
    ExpectStatus(*KesFileSetAcl(&status, &none, path, 0), KES_OK, 0, 0);

    // Through a group of the account (daemon's own group), within the mask.
    const passwd *daemon = ::getpwnam("daemon");
    const group *daemonGroup = ::getgrgid(daemon->pw_gid);
    if (daemonGroup == nullptr || daemon->pw_gid == ::getegid())
        GTEST_SKIP() << "the account daemon has no group of its own here";
    Setfacl("g:" + std::string(daemonGroup->gr_name) + ":rwx,m::rw", file);
    ExpectStatus(*KesFileRevokePermission(&status, "daemon", kWrite, path), KES_OK, 0, 0);
    EXPECT_EQ(ReadAcl(file), (Entries{{"daemon", kRead}}));

    // The owner: no named entry concerns it, so its own entry changes.
    const passwd *self = ::getpwuid(::geteuid());
    ASSERT_NE(self, nullptr);
    const std::string owner = self->pw_name;
    ExpectStatus(*KesFileRevokePermission(&status, owner.c_str(), kWrite, path), KES_OK, 0, 0);
    EXPECT_EQ(ReadAcl(file), (Entries{{"daemon", kRead}}));
    EXPECT_EQ(Getfacl(file).substr(0, 10), "user::r--\n");
}

TEST_P(KesAclTest, SetAclReplacesTheAccountsAndKeepsWhatItCannotExpress) {
    // The mask narrows nobody and the owning group (rw- in the mode) to r.
    ASSERT_EQ(::chmod(file.c_str(), 0660), 0);
    Setfacl("u:nobody:rwx,g:daemon:rw,m::r", file);
    EXPECT_EQ(ReadAcl(file), (Entries{{"nobody", kRead}}));

    const std::array<KesAclEntry, 3> entries = {Entry("daemon", 0x11), Entry("root", 0),
                                                Entry("nobody", kDeny | kRead)};
    ExpectStatus(*KesFileSetAcl(&status, entries.data(), file.c_str(), entries.size()), KES_OK, 0,
                 0);
    // The groups keep what they held, so the new mask widens no one but the
    // listed accounts; an allowing entry without rights is not stored.
    EXPECT_EQ(Getfacl(file),
              "user::rw-\nuser:daemon:rw-\nuser:nobody:---\ngroup::r--\ngroup:daemon:r--\n"
              "mask::rw-\nother::---\n\n");
    EXPECT_EQ(ReadAcl(file), (Entries{{"daemon", kRead | kWrite}, {"nobody", kDeny}}));

    // A named entry that the mask leaves nothing reads as a denial.
    Setfacl("m::-", file);
    EXPECT_EQ(ReadAcl(file), (Entries{{"daemon", kDeny}, {"nobody", kDeny}}));
}

TEST_P(KesAclTest, RefusedChangesLeaveTheListAsItWas) {
    const char *path = file.c_str();
    Setfacl("u:nobody:r", file);
    const std::string before = Getfacl(file);

    const std::array<KesAclEntry, 2> unknown = {Entry("daemon", kRead),
                                                Entry("no-such-account", kRead)};
    ExpectStatus(*KesFileSetAcl(&status, unknown.data(), path, 2), KES_SYSTEM_ERROR,
                 kStandIn + ENOENT, 4);
    const std::array<KesAclEntry, 2> twice = {Entry("daemon", kRead), Entry("daemon", kDeny)};
    ExpectStatus(*KesFileSetAcl(&status, twice.data(), path, 2), KES_SYSTEM_ERROR,
                 kStandIn + EINVAL, 4);
    KesAclEntry unterminated;
    std::memset(unterminated.name, 'a', sizeof(unterminated.name));
    unterminated.rights = kRead;
    ExpectStatus(*KesFileSetAcl(&status, &unterminated, path, 1), KES_SYSTEM_ERROR,
                 kStandIn + EINVAL, 4);
    ExpectStatus(*KesFileGrantPermission(&status, "no-such-account", kRead, path), KES_SYSTEM_ERROR,
                 kStandIn + ENOENT, 6);
    const std::string tooLong(KES_FILE_ACCOUNT_SIZE, 'a');
    ExpectStatus(*KesFileRevokePermission(&status, tooLong.c_str(), kRead, path), KES_SYSTEM_ERROR,
                 kStandIn + ENOENT, 6);
    EXPECT_EQ(Getfacl(file), before);

    // An entry whose account has no name is left out of the list read; grant
    // and revoke would lose it by writing the list back, so they refuse.
    uid_t unnamed = 4242424;
    while (::getpwuid(unnamed) != nullptr)
        ++unnamed;
    Setfacl("u:" + std::to_string(unnamed) + ":r", file);
    const std::string withUnnamed = Getfacl(file);
    std::array<KesAclEntry, 4> read{};
    size_t count = read.size();
    ExpectStatus(*KesFileGetAcl(&status, read.data(), path, &count), KES_SYSTEM_ERROR,
                 kStandIn + ENOENT, 5);
    ASSERT_EQ(count, 1u);
    EXPECT_STREQ(read[0].name, "nobody");
    ExpectStatus(*KesFileGrantPermission(&status, "daemon", kRead, path), KES_SYSTEM_ERROR,
                 kStandIn + ENOENT, 5);
    EXPECT_EQ(Getfacl(file), withUnnamed);
}

TEST(KesAcl, MissingFilesAndArguments) {
    kes_test::ScratchDir scratch;
    const std::string missing = scratch / "missing";
    KesStatus status{};
    KesAclEntry entries[2] = {Entry("nobody", kRead), Entry("daemon", kRead)};
    size_t count = 2;
    ExpectStatus(*KesFileGetAcl(&status, entries, missing.c_str(), &count), KES_SYSTEM_ERROR,
                 kStandIn + ENOENT, 3);
    EXPECT_EQ(count, 0u);
    // Nothing fails to build for a missing file: storing the list fails.
    ExpectStatus(*KesFileSetAcl(&status, entries, missing.c_str(), 2), KES_SYSTEM_ERROR,
                 kStandIn + ENOENT, 5);
    ExpectStatus(*KesFileGrantPermission(&status, "nobody", kRead, missing.c_str()),
                 KES_SYSTEM_ERROR, kStandIn + ENOENT, 3);
    // The mode is changed by C library calls: errno without 200.
    ExpectStatus(*KesFileSetPermissions(&status, kRead, missing.c_str()), KES_SYSTEM_ERROR, ENOENT,
                 3);
    count = 2;
    ExpectStatus(*KesFileGetAcl(&status, entries, nullptr, &count), KES_INVALID, 0, 1);
    EXPECT_EQ(count, 0u);
    ExpectStatus(*KesFileSetAcl(&status, nullptr, missing.c_str(), 0), KES_INVALID, 0, 1);
    ExpectStatus(*KesFileRevokePermission(&status, nullptr, kRead, missing.c_str()), KES_INVALID, 0,
                 1);

    // Groups are not supported, and nothing is written.
    char group[8] = "keep";
    ExpectStatus(*KesFileGetGroup(&status, group, missing.c_str(), sizeof(group)), KES_UNSUPPORTED,
                 0, 0);
    EXPECT_STREQ(group, "keep");
    ExpectStatus(*KesFileSetGroup(&status, "daemon", missing.c_str()), KES_UNSUPPORTED, 0, 0);
}

TEST(KesAcl, FileSystemWithoutAclsGivesAClearStatus) {
    // procfs keeps no extended attributes, so no ACLs.
    const std::string file = korvo::test::fileWithoutExtendedAttributes();
    const char *path = file.c_str();
    if (file.empty() || ::access(path, F_OK) != 0)
        GTEST_SKIP() << "no such file system here";
    KesStatus status{};
    // Nothing to report: the ACL is what the mode bits make.
    KesAclEntry entry = Entry("stale", 1);
    size_t count = 1;
    ExpectStatus(*KesFileGetAcl(&status, &entry, path, &count), KES_OK, 0, 0);
    EXPECT_EQ(count, 0u);
    entry = Entry("nobody", kRead);
    ExpectStatus(*KesFileSetAcl(&status, &entry, path, 1), KES_SYSTEM_ERROR, kStandIn + EOPNOTSUPP,
                 5);
    ExpectStatus(*KesFileRevokePermission(&status, "nobody", kRead, path), KES_SYSTEM_ERROR,
                 kStandIn + EOPNOTSUPP, 6);
}

TEST(KesAcl, PermissionsAreTheOwnersReadAndWriteBits) {
    kes_test::ScratchDir scratch;
    const std::string file = scratch / "file";
    MakeFile(file, 0444);
    KesStatus status{};
    int32_t rights = -1;
    ExpectStatus(*KesFileGetPermissions(&status, &rights, file.c_str()), KES_OK, 0, 0);
    EXPECT_EQ(rights, kRead);
    ExpectStatus(*KesFileSetPermissions(&status, 0x11, file.c_str()), KES_OK, 0, 0);
    KesFileGetPermissions(&status, &rights, file.c_str());
    EXPECT_EQ(rights, kRead | kWrite);

    // Execute bits ask for nothing; the owner's execute bit and the group's
    // and others' rights stay.
    ASSERT_EQ(::chmod(file.c_str(), 04754), 0);
    ExpectStatus(*KesFileSetPermissions(&status, KES_FILE_PERMISSION_EXECUTE, file.c_str()), KES_OK,
                 0, 0);
    struct stat st;
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 04154u);
    KesFileGetPermissions(&status, &rights, file.c_str());
    EXPECT_EQ(rights, 0);

    // With an ACL the group bits are its mask, which must not move either.
    ASSERT_EQ(::chmod(file.c_str(), 0754), 0);
    if (!HaveAclTools() || std::system(("setfacl -m u:nobody:rw '" + file + "'").c_str()) != 0)
        GTEST_SKIP() << "no ACLs for the mask case: setfacl is missing or refused";
    KesFileSetPermissions(&status, kRead, file.c_str());
    EXPECT_EQ(Getfacl(file), "user::r-x\nuser:nobody:rw-\ngroup::r-x\nmask::rwx\nother::r--\n\n");
}

namespace {

constexpr uint32_t kChown = uint32_t{1} << CAP_CHOWN;

// The calling thread's capability sets (their first word).
__user_cap_data_struct Capabilities() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3]{};
    static_cast<void>(::syscall(SYS_capget, &header, data));
    return data[0];
}

bool DropEffectiveChown() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3]{};
    if (::syscall(SYS_capget, &header, data) != 0)
        return false;
    data[0].effective &= ~kChown;
    return ::syscall(SYS_capset, &header, data) == 0;
}

// Drops the effective privilege to change owners, then gives the file arg(1)
// to nobody: the status goes to the shared KesStatus arg(0), the exit status
// says whether the privilege was left raised.
KORVO_CHILD_BODY(SetOwnerWithPrivilegeOnlyPermitted) {
    korvo::test::Shared<KesStatus> result(child.arg(0));
    if (!DropEffectiveChown())
        return 2;
    KesFileSetOwner(result.get(), "nobody", child.arg(1).c_str());
    return (Capabilities().effective & kChown) == 0 ? 0 : 1;
}

// Becomes nobody when root, then asks for the file arg(1) to change owner;
// the status goes to the shared KesStatus arg(0).
KORVO_CHILD_BODY(SetOwnerWithoutPrivilege) {
    korvo::test::Shared<KesStatus> result(child.arg(0));
    const struct passwd *nobody = ::getpwnam("nobody");
    if (nobody == nullptr)
        return 2;
    const passwd account = *nobody;
    if (::geteuid() == 0 && (::setgroups(0, nullptr) != 0 || ::setgid(account.pw_gid) != 0 ||
                             ::setuid(account.pw_uid) != 0))
        return 2;
    if ((Capabilities().permitted & kChown) != 0)
        return 3;
    KesFileSetOwner(result.get(), "no-such-account", child.arg(1).c_str());
    return 0;
}

}  // namespace

TEST(KesAcl, OwnersChangeUnderThePrivilege) {
    if ((Capabilities().effective & kChown) == 0)
        GTEST_SKIP() << "this process may not change owners (it runs without CAP_CHOWN)";
    if (::getpwnam("nobody") == nullptr || ::getpwnam("daemon") == nullptr)
        GTEST_SKIP() << "the accounts nobody and daemon are missing";
    kes_test::ScratchDir scratch;
    const std::string file = scratch / "file";
    MakeFile(file, 0600);
    KesStatus status{};
    ExpectStatus(*KesFileSetOwner(&status, "daemon", file.c_str()), KES_OK, 0, 0);
    char owner[64];
    KesFileGetOwner(&status, owner, file.c_str(), sizeof(owner));
    EXPECT_STREQ(owner, "daemon");
    ExpectStatus(*KesFileSetOwner(&status, "no-such-account", file.c_str()), KES_SYSTEM_ERROR,
                 kStandIn + ENOENT, 5);
    ExpectStatus(*KesFileSetOwner(&status, "daemon", (scratch / "missing").c_str()),
                 KES_SYSTEM_ERROR, kStandIn + ENOENT, 6);

    // Held only as permitted, the privilege is raised for the change and
    // lowered again.
    korvo::test::Shared<KesStatus> result;
    korvo::test::Child child("SetOwnerWithPrivilegeOnlyPermitted", {.args = {result.name(), file}});
    EXPECT_EQ(child.wait(), 0) << "2: cannot drop the privilege, 1: it was left raised";
    ExpectStatus(*result.get(), KES_OK, 0, 0);
    KesFileGetOwner(&status, owner, file.c_str(), sizeof(owner));
    EXPECT_STREQ(owner, "nobody");
}

TEST(KesAcl, AccountsWithoutThePrivilegeAreRefused) {
    if (::getpwnam("nobody") == nullptr)
        GTEST_SKIP() << "the account nobody is missing";
    kes_test::ScratchDir scratch;
    const std::string file = scratch / "file";
    MakeFile(file, 0600);
    // Refused before the account is even looked up. Root becomes nobody.
    korvo::test::Shared<KesStatus> result;
    korvo::test::Child child("SetOwnerWithoutPrivilege", {.args = {result.name(), file}});
    const int exit = child.wait();
    if (exit == 3)
        GTEST_SKIP() << "this account holds the privilege to change owners";
    ASSERT_EQ(exit, 0) << "could not become nobody";
    ExpectStatus(*result.get(), KES_SYSTEM_ERROR, kStandIn + EPERM, 4);
    struct stat st;
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, ::geteuid());
}
