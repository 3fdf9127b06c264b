// File security on Windows: owners named through the security descriptor,
// the owner's read and write permissions, and access lists read back both
// through KesFileGetAcl and through the system's own view of the DACL.
// Wine keeps neither lists nor owners as such (a DACL it is given only
// sets the file's Unix mode bits, and it reads back a list made from them):
// there the tests check the statuses and what is read, and skip what only a
// stored list, a stored owner or enforcement would show.
#include <windows.h>

#include <aclapi.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "kes/kes_acl.h"
#include "kes/kes_file.h"
#include "kes_scratch.hpp"

namespace {

using kes_test::ExpectStatus;
using Entries = std::vector<std::pair<std::string, int32_t>>;

constexpr int32_t kRead = KES_FILE_PERMISSION_READ;
constexpr int32_t kWrite = KES_FILE_PERMISSION_WRITE;
constexpr int32_t kExecute = KES_FILE_PERMISSION_EXECUTE;
constexpr int32_t kDeny = KES_FILE_PERMISSION_DENY;
constexpr int32_t kStandIn = 200;  // offset of the Windows error in the statuses

// The account the process runs as, as LookupAccountSidA names it.
std::string SelfName() {
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token))
        return {};
    std::vector<unsigned char> room(512);
    DWORD size = static_cast<DWORD>(room.size());
    const BOOL read = ::GetTokenInformation(token, TokenUser, room.data(), size, &size);
    ::CloseHandle(token);
    if (!read)
        return {};
    char name[256], domain[256];
    DWORD nameSize = sizeof name, domainSize = sizeof domain;
    SID_NAME_USE use;
    if (!::LookupAccountSidA(nullptr, reinterpret_cast<TOKEN_USER *>(room.data())->User.Sid, name,
                             &nameSize, domain, &domainSize, &use))
        return {};
    return name;
}

// The name of a well-known account on this machine ("Everyone", "SYSTEM"
// in an English system), looked up from its SID.
std::string WellKnownName(WELL_KNOWN_SID_TYPE type) {
    unsigned char sid[SECURITY_MAX_SID_SIZE];
    DWORD sidSize = sizeof sid;
    if (!::CreateWellKnownSid(type, nullptr, sid, &sidSize))
        return {};
    char name[256], domain[256];
    DWORD nameSize = sizeof name, domainSize = sizeof domain;
    SID_NAME_USE use;
    if (!::LookupAccountSidA(nullptr, sid, name, &nameSize, domain, &domainSize, &use))
        return {};
    return name;
}

KesAclEntry Entry(const std::string &name, int32_t rights) {
    KesAclEntry entry{};
    std::strncpy(entry.name, name.c_str(), sizeof(entry.name) - 1);
    entry.rights = rights;
    return entry;
}

Entries ReadAcl(const std::string &path, size_t room = 16) {
    std::vector<KesAclEntry> entries(room);
    size_t count = room;
    KesStatus status{};
    ExpectStatus(*KesFileGetAcl(&status, entries.data(), path.c_str(), &count), KES_OK, 0, 0);
    Entries read;
    for (size_t i = 0; i < count; ++i)
        read.emplace_back(entries[i].name, entries[i].rights);
    return read;
}

// The file's DACL as the system hands it out: (ACE type, mask) in order;
// `present` false for a file without a list.
struct StoredAcl {
    bool present = false;
    std::vector<std::pair<int, ACCESS_MASK>> entries;
};

StoredAcl Stored(const std::string &path) {
    StoredAcl stored;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS)
        return stored;
    stored.present = dacl != nullptr;
    for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount; ++i) {
        void *ace = nullptr;
        if (::GetAce(dacl, i, &ace)) {
            const auto *header = static_cast<ACE_HEADER *>(ace);
            stored.entries.emplace_back(header->AceType,
                                        static_cast<ACCESS_ALLOWED_ACE *>(ace)->Mask);
        }
    }
    ::LocalFree(descriptor);
    return stored;
}

class KesSecurityTest : public testing::Test {
  protected:
    void SetUp() override {
        self = SelfName();
        everyone = WellKnownName(WinWorldSid);
        system = WellKnownName(WinLocalSystemSid);
        if (self.empty() || everyone.empty() || system.empty())
            GTEST_SKIP() << "the process account or a well-known account has no name here";
        directory = std::filesystem::temp_directory_path() /
                    ("kes-security-" + std::to_string(::GetCurrentProcessId()));
        std::filesystem::create_directories(directory);
        file = (directory / "file").string();
        std::ofstream(file) << "data";
    }
    void TearDown() override {
        // The owner may always rewrite the list: the file is made
        // removable again, whatever the test left on it.
        const KesAclEntry mine[] = {Entry(self, kRead | kWrite | kExecute)};
        KesFileSetAcl(&status, mine, file.c_str(), 1);
        ::SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_NORMAL);
        std::error_code ignored;
        std::filesystem::remove_all(directory, ignored);
    }

    // The status of a grant or a revoke of `rights` to `account` on the file.
    const KesStatus &Grant(const std::string &account, int32_t rights) {
        return *KesFileGrantPermission(&status, account.c_str(), rights, file.c_str());
    }
    const KesStatus &Revoke(const std::string &account, int32_t rights) {
        return *KesFileRevokePermission(&status, account.c_str(), rights, file.c_str());
    }

    std::string self, everyone, system;
    std::filesystem::path directory;
    std::string file;
    KesStatus status{};
};

// For tests of the list itself: skipped where the host does not keep a list
// as it was given (Wine: only the mode bits it makes of it).
class KesStoredAclTest : public KesSecurityTest {
  protected:
    void SetUp() override {
        KesSecurityTest::SetUp();
        if (IsSkipped())
            return;
        const KesAclEntry probe[] = {Entry(everyone, kRead), Entry(system, kDeny | kWrite)};
        KesStatus stored{};
        KesFileSetAcl(&stored, probe, file.c_str(), 2);
        const StoredAcl kept = Stored(file);
        if (stored.code != KES_OK || kept.entries.size() != 2 ||
            kept.entries[0].first != ACCESS_DENIED_ACE_TYPE)
            GTEST_SKIP() << "this host keeps only the mode bits of a list, not the list itself";
    }
};

}  // namespace

TEST_F(KesSecurityTest, OwnersAreNamedWithoutTheirDomain) {
    char owner[KES_FILE_ACCOUNT_SIZE];
    ExpectStatus(*KesFileGetOwner(&status, owner, file.c_str(), sizeof owner), KES_OK, 0, 0);
    EXPECT_EQ(owner, self);
    KesFileInfo info;
    ExpectStatus(*KesFileGetInfo(&status, file.c_str(), &info), KES_OK, 0, 0);
    EXPECT_EQ(std::string(info.owner), self);

    const std::string missing = (directory / "missing").string();
    ExpectStatus(*KesFileGetOwner(&status, owner, missing.c_str(), sizeof owner), KES_SYSTEM_ERROR,
                 kStandIn + ERROR_FILE_NOT_FOUND, 4);
    EXPECT_STREQ(owner, "");
    // A buffer too small for the name: the account cannot be named into it.
    ExpectStatus(*KesFileGetOwner(&status, owner, file.c_str(), 1), KES_SYSTEM_ERROR,
                 kStandIn + ERROR_INSUFFICIENT_BUFFER, 3);
}

TEST_F(KesSecurityTest, SettingOwnersNeedsAKnownAccountAndAFile) {
    ExpectStatus(*KesFileSetOwner(&status, nullptr, file.c_str()), KES_INVALID, 0, 1);
    ExpectStatus(*KesFileSetOwner(&status, self.c_str(), nullptr), KES_INVALID, 0, 1);
    ExpectStatus(*KesFileSetOwner(&status, "no-such-account-here", file.c_str()), KES_SYSTEM_ERROR,
                 kStandIn + ERROR_NONE_MAPPED, 5);
    const std::string missing = (directory / "missing").string();
    KesFileSetOwner(&status, self.c_str(), missing.c_str());
    EXPECT_EQ(status.code, KES_SYSTEM_ERROR);
    EXPECT_EQ(status.step, 6);

    ExpectStatus(*KesFileSetOwner(&status, system.c_str(), file.c_str()), KES_OK, 0, 0);
    // The privilege was enabled for the call alone.
    HANDLE token = nullptr;
    ASSERT_TRUE(::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token));
    PRIVILEGE_SET check{};
    check.PrivilegeCount = 1;
    ASSERT_TRUE(
        ::LookupPrivilegeValueA(nullptr, "SeTakeOwnershipPrivilege", &check.Privilege[0].Luid));
    BOOL held = TRUE;
    EXPECT_TRUE(::PrivilegeCheck(token, &check, &held));
    ::CloseHandle(token);
    EXPECT_FALSE(held);

    char owner[KES_FILE_ACCOUNT_SIZE];
    ExpectStatus(*KesFileGetOwner(&status, owner, file.c_str(), sizeof owner), KES_OK, 0, 0);
    if (owner == self)
        GTEST_SKIP() << "this host keeps the file's Unix owner, not the owner it is given";
    EXPECT_EQ(owner, system);
}

TEST_F(KesSecurityTest, PermissionsAreTheReadOnlyAttribute) {
    int32_t rights = 0;
    ExpectStatus(*KesFileSetPermissions(&status, kRead, file.c_str()), KES_OK, 0, 0);
    EXPECT_NE(::GetFileAttributesA(file.c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
    ExpectStatus(*KesFileGetPermissions(&status, &rights, file.c_str()), KES_OK, 0, 0);
    EXPECT_EQ(rights, kRead);

    ExpectStatus(*KesFileSetPermissions(&status, 0x22, file.c_str()), KES_OK, 0, 0);
    ExpectStatus(*KesFileGetPermissions(&status, &rights, file.c_str()), KES_OK, 0, 0);
    EXPECT_EQ(rights, kRead | kWrite);

    // Execute alone asks for no permission bit: the file becomes read-only.
    ExpectStatus(*KesFileSetPermissions(&status, kExecute, file.c_str()), KES_OK, 0, 0);
    EXPECT_NE(::GetFileAttributesA(file.c_str()) & FILE_ATTRIBUTE_READONLY, 0u);

    const std::string missing = (directory / "missing").string();
    ExpectStatus(*KesFileSetPermissions(&status, kRead, missing.c_str()), KES_SYSTEM_ERROR, ENOENT,
                 3);
}

TEST_F(KesStoredAclTest, SetAclReplacesTheListWithTheGenericFileRights) {
    const KesAclEntry wanted[] = {Entry(self, kRead | kWrite | kExecute), Entry(everyone, 0x3),
                                  Entry(system, kDeny | kWrite)};
    ExpectStatus(*KesFileSetAcl(&status, wanted, file.c_str(), 3), KES_OK, 0, 0);
    // Denying entries come first, as the system orders them.
    EXPECT_EQ(
        ReadAcl(file),
        (Entries{{system, kDeny | kWrite}, {self, kRead | kWrite | kExecute}, {everyone, kRead}}));
    const StoredAcl stored = Stored(file);
    ASSERT_EQ(stored.entries.size(), 3u);
    // Denying writing leaves opening and reading the security alone.
    EXPECT_EQ(stored.entries[0],
              std::make_pair(int{ACCESS_DENIED_ACE_TYPE},
                             ACCESS_MASK{FILE_GENERIC_WRITE & ~(READ_CONTROL | SYNCHRONIZE)}));
    EXPECT_EQ(stored.entries[1],
              std::make_pair(int{ACCESS_ALLOWED_ACE_TYPE}, ACCESS_MASK{FILE_ALL_ACCESS}));
    EXPECT_EQ(stored.entries[2],
              std::make_pair(int{ACCESS_ALLOWED_ACE_TYPE}, ACCESS_MASK{FILE_GENERIC_READ}));

    // A full array stops the reading; the count says how many were filled.
    EXPECT_EQ(ReadAcl(file, 1).size(), 1u);

    // No entries: a list that allows nothing, never a missing list.
    ExpectStatus(*KesFileSetAcl(&status, wanted, file.c_str(), 0), KES_OK, 0, 0);
    EXPECT_TRUE(Stored(file).present);
    EXPECT_TRUE(Stored(file).entries.empty());
    EXPECT_TRUE(ReadAcl(file).empty());
}

TEST_F(KesStoredAclTest, GrantAndRevokeChangeOneAccountAtATime) {
    const KesAclEntry start[] = {Entry(self, kRead | kWrite)};
    ExpectStatus(*KesFileSetAcl(&status, start, file.c_str(), 1), KES_OK, 0, 0);

    ExpectStatus(Grant(everyone, kRead), KES_OK, 0, 0);
    EXPECT_EQ(ReadAcl(file), (Entries{{self, kRead | kWrite}, {everyone, kRead}}));
    ExpectStatus(Grant(everyone, 0x40), KES_OK, 0, 0);
    EXPECT_EQ(ReadAcl(file), (Entries{{self, kRead | kWrite}, {everyone, kRead | kWrite}}));
    ExpectStatus(Revoke(everyone, kWrite), KES_OK, 0, 0);
    EXPECT_EQ(ReadAcl(file), (Entries{{self, kRead | kWrite}, {everyone, kRead}}));

    // An account without an entry is denied what is revoked from it; a grant
    // then turns the denying entry into one allowing exactly that.
    ExpectStatus(Revoke(system, kWrite), KES_OK, 0, 0);
    EXPECT_EQ(ReadAcl(file),
              (Entries{{system, kDeny | kWrite}, {self, kRead | kWrite}, {everyone, kRead}}));
    ExpectStatus(Revoke(system, kRead), KES_OK, 0, 0);
    EXPECT_EQ(ReadAcl(file).front(), std::make_pair(system, kDeny | kRead | kWrite));
    ExpectStatus(Grant(system, kWrite), KES_OK, 0, 0);
    EXPECT_EQ(ReadAcl(file),
              (Entries{{self, kRead | kWrite}, {everyone, kRead}, {system, kWrite}}));

    // Names compare exactly: another spelling is another entry, which the
    // system then cannot find.
    Grant("no-such-account-here", kRead);
    EXPECT_EQ(status.code, KES_SYSTEM_ERROR);
    EXPECT_GT(status.osError, kStandIn);
    EXPECT_EQ(status.step, 6);
    EXPECT_EQ(ReadAcl(file).size(), 3u);
}

TEST_F(KesStoredAclTest, PartialMasksAreNotReportedAsTheRight) {
    // A list written by another program: reading the data alone is not the
    // whole of generic read.
    EXPLICIT_ACCESS_A partial{};
    std::string name = everyone;
    ::BuildExplicitAccessWithNameA(&partial, name.data(), FILE_READ_DATA | FILE_EXECUTE, SET_ACCESS,
                                   NO_INHERITANCE);
    PACL dacl = nullptr;
    ASSERT_EQ(::SetEntriesInAclA(1, &partial, nullptr, &dacl), DWORD{ERROR_SUCCESS});
    ASSERT_EQ(::SetNamedSecurityInfoA(file.data(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                      nullptr, nullptr, dacl, nullptr),
              DWORD{ERROR_SUCCESS});
    ::LocalFree(dacl);
    EXPECT_EQ(ReadAcl(file), (Entries{{everyone, 0}}));
}

TEST_F(KesSecurityTest, MissingFilesAndArguments) {
    const std::string missing = (directory / "missing").string();
    KesAclEntry entries[2] = {Entry(self, kRead), Entry(everyone, kRead)};
    size_t count = 2;
    ExpectStatus(*KesFileGetAcl(&status, entries, missing.c_str(), &count), KES_SYSTEM_ERROR,
                 kStandIn + ERROR_FILE_NOT_FOUND, 3);
    EXPECT_EQ(count, 0u);
    ExpectStatus(*KesFileSetAcl(&status, entries, missing.c_str(), 2), KES_SYSTEM_ERROR,
                 kStandIn + ERROR_FILE_NOT_FOUND, 5);
    ExpectStatus(*KesFileGrantPermission(&status, self.c_str(), kRead, missing.c_str()),
                 KES_SYSTEM_ERROR, kStandIn + ERROR_FILE_NOT_FOUND, 3);
    ExpectStatus(*KesFileRevokePermission(&status, nullptr, kRead, file.c_str()), KES_INVALID, 0,
                 1);
    ExpectStatus(*KesFileSetAcl(&status, nullptr, file.c_str(), 0), KES_INVALID, 0, 1);
    count = 2;
    ExpectStatus(*KesFileGetAcl(&status, entries, nullptr, &count), KES_INVALID, 0, 1);

    // An unknown account leaves the file's list as it was (the system says
    // ERROR_NONE_MAPPED, Wine ERROR_INVALID_PARAMETER).
    const Entries before = ReadAcl(file);
    const KesAclEntry unknown[] = {Entry("no-such-account-here", kRead)};
    KesFileSetAcl(&status, unknown, file.c_str(), 1);
    EXPECT_EQ(status.code, KES_SYSTEM_ERROR);
    EXPECT_GT(status.osError, kStandIn);
    EXPECT_EQ(status.step, 4);
    EXPECT_EQ(ReadAcl(file), before);
    // Whatever the host keeps, every entry read back names an account.
    for (const auto &[name, rights] : before) {
        EXPECT_FALSE(name.empty());
        EXPECT_EQ(rights & ~(kRead | kWrite | kExecute | kDeny), 0) << name;
    }
}

TEST_F(KesSecurityTest, DenyingEntriesKeepTheAccountOut) {
    const KesAclEntry entries[] = {Entry(self, kDeny | kRead)};
    ExpectStatus(*KesFileSetAcl(&status, entries, file.c_str(), 1), KES_OK, 0, 0);
    const HANDLE opened = ::CreateFileA(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    const bool refused = opened == INVALID_HANDLE_VALUE;
    if (!refused)
        ::CloseHandle(opened);
    if (!refused && ::GetProcAddress(::GetModuleHandleA("ntdll.dll"), "wine_get_version"))
        GTEST_SKIP() << "Wine does not enforce access lists";
    EXPECT_TRUE(refused);
}
