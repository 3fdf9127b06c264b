// The translation between Kes entries and Windows access control entries,
// on lists built in memory: what each mask reports, which entries are read,
// and what each rights word asks for. It needs no stored list, so it runs
// where the host keeps none (Wine).
#include <windows.h>

#include <aclapi.h>

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "kes/acl_win32.hpp"

namespace {

using korvo::kes::win32::AccessOfRights;
using korvo::kes::win32::CollectAclEntries;
using korvo::kes::win32::RightsOfAllowed;
using korvo::kes::win32::RightsOfDenied;
using Entries = std::vector<std::pair<std::string, int32_t>>;

constexpr int32_t kRead = KES_FILE_PERMISSION_READ;
constexpr int32_t kWrite = KES_FILE_PERMISSION_WRITE;
constexpr int32_t kExecute = KES_FILE_PERMISSION_EXECUTE;
constexpr int32_t kDeny = KES_FILE_PERMISSION_DENY;

// A well-known SID and its name on this machine.
struct Account {
    std::vector<unsigned char> sid;
    std::string name;
};

Account WellKnown(WELL_KNOWN_SID_TYPE type) {
    Account account;
    account.sid.resize(SECURITY_MAX_SID_SIZE);
    DWORD size = static_cast<DWORD>(account.sid.size());
    if (!::CreateWellKnownSid(type, nullptr, account.sid.data(), &size))
        return {};
    char name[256], domain[256];
    DWORD nameSize = sizeof name, domainSize = sizeof domain;
    SID_NAME_USE use;
    if (::LookupAccountSidA(nullptr, account.sid.data(), name, &nameSize, domain, &domainSize,
                            &use))
        account.name = name;
    return account;
}

// An ACL of (allow?, SID, mask, ACE flags) entries, in the order given.
struct Ace {
    bool allows;
    const Account *account;
    ACCESS_MASK mask;
    BYTE flags = 0;
};

std::vector<unsigned char> MakeAcl(const std::vector<Ace> &aces) {
    std::vector<unsigned char> room(1024);
    auto *acl = reinterpret_cast<PACL>(room.data());
    EXPECT_TRUE(::InitializeAcl(acl, static_cast<DWORD>(room.size()), ACL_REVISION));
    for (const Ace &ace : aces) {
        PSID sid = const_cast<unsigned char *>(ace.account->sid.data());
        const BOOL added =
            ace.allows ? ::AddAccessAllowedAceEx(acl, ACL_REVISION, ace.flags, ace.mask, sid)
                       : ::AddAccessDeniedAceEx(acl, ACL_REVISION, ace.flags, ace.mask, sid);
        EXPECT_TRUE(added);
    }
    return room;
}

Entries Collect(std::vector<unsigned char> &acl, size_t room, KesStatus *status) {
    std::vector<KesAclEntry> entries(room);
    size_t count = room;
    CollectAclEntries(status, reinterpret_cast<PACL>(acl.data()), entries.data(), &count);
    Entries read;
    for (size_t i = 0; i < count; ++i)
        read.emplace_back(entries[i].name, entries[i].rights);
    return read;
}

class AclTranslation : public testing::Test {
  protected:
    void SetUp() override {
        everyone = WellKnown(WinWorldSid);
        system = WellKnown(WinLocalSystemSid);
        if (everyone.name.empty() || system.name.empty())
            GTEST_SKIP() << "the well-known accounts have no names here";
    }
    Account everyone, system;
    KesStatus status{};
};

}  // namespace

TEST_F(AclTranslation, EntriesReportWholeGenericRightsInTheirOrder) {
    std::vector<unsigned char> acl = MakeAcl({
        {false, &system, FILE_WRITE_DATA},
        {true, &everyone, FILE_ALL_ACCESS},
        {true, &system, FILE_GENERIC_READ | FILE_WRITE_DATA},
        // Only part of generic read: not reported as read.
        {true, &everyone, FILE_READ_DATA | FILE_READ_ATTRIBUTES},
        // Generic bits count as the file rights they stand for.
        {true, &system, GENERIC_READ | GENERIC_EXECUTE},
        // For what lies below a folder only: nothing about the file itself.
        {true, &everyone, FILE_ALL_ACCESS, INHERIT_ONLY_ACE | OBJECT_INHERIT_ACE},
        {false, &everyone, GENERIC_ALL},
    });
    EXPECT_EQ(Collect(acl, 16, &status),
              (Entries{{system.name, kDeny | kWrite},
                       {everyone.name, kRead | kWrite | kExecute},
                       {system.name, kRead},
                       {everyone.name, 0},
                       {system.name, kRead | kExecute},
                       {everyone.name, kDeny | kRead | kWrite | kExecute}}));
    EXPECT_EQ(status.code, KES_OK);

    // A full array ends the reading.
    EXPECT_EQ(Collect(acl, 2, &status).size(), 2u);
    EXPECT_EQ(status.code, KES_OK);

    // A file without a list has no entries.
    size_t count = 4;
    KesAclEntry entries[4];
    CollectAclEntries(&status, nullptr, entries, &count);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(status.code, KES_OK);
}

TEST_F(AclTranslation, AnUnnamedAccountIsReportedAndTheRestStillRead) {
    // A SID of no account: a domain that does not exist here.
    Account unknown;
    unknown.sid.resize(SECURITY_MAX_SID_SIZE);
    PSID made = nullptr;
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    ASSERT_TRUE(::AllocateAndInitializeSid(&nt, 5, 21, 1111, 2222, 3333, 4444, 0, 0, 0, &made));
    unknown.sid.assign(static_cast<unsigned char *>(made),
                       static_cast<unsigned char *>(made) + ::GetLengthSid(made));
    ::FreeSid(made);
    std::vector<unsigned char> acl = MakeAcl({{true, &everyone, FILE_GENERIC_READ},
                                              {true, &unknown, FILE_GENERIC_READ},
                                              {true, &system, FILE_GENERIC_WRITE}});
    EXPECT_EQ(Collect(acl, 16, &status), (Entries{{everyone.name, kRead}, {system.name, kWrite}}));
    EXPECT_EQ(status.code, KES_SYSTEM_ERROR);
    EXPECT_EQ(status.osError, 200 + ERROR_NONE_MAPPED);
    EXPECT_EQ(status.step, 5);
}

TEST(AclRights, RightsWordsAskForTheGenericFileRights) {
    EXPECT_EQ(AccessOfRights(0x4), ACCESS_MASK{FILE_GENERIC_READ});
    EXPECT_EQ(AccessOfRights(0x20), ACCESS_MASK{FILE_GENERIC_WRITE});
    EXPECT_EQ(AccessOfRights(0x110), ACCESS_MASK{FILE_GENERIC_WRITE | FILE_GENERIC_EXECUTE});
    // All three: all access, more than the three together.
    EXPECT_EQ(AccessOfRights(0x111), ACCESS_MASK{FILE_ALL_ACCESS});
    EXPECT_EQ(AccessOfRights(0x8777), ACCESS_MASK{FILE_ALL_ACCESS});
    EXPECT_EQ(AccessOfRights(kDeny), ACCESS_MASK{0});
    // What is asked for reads back as asked.
    for (int32_t rights :
         {kRead, kWrite, kExecute, kRead | kWrite, kRead | kExecute, kRead | kWrite | kExecute})
        EXPECT_EQ(RightsOfAllowed(AccessOfRights(rights)), rights) << rights;
    EXPECT_EQ(RightsOfDenied(FILE_APPEND_DATA), kDeny | kWrite);
    EXPECT_EQ(RightsOfDenied(DELETE), kDeny);
}
