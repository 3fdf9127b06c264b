// Where the client keeps its cache on Windows and who may read it: the
// user's local application data by default, and a protected DACL that lets
// the account alone in on everything under the home.
#include <aclapi.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "cds/client/cds_client.h"
#include "tests/cds_client/cds_test_support.hpp"
#include "tests/cds_client/client_fetch.hpp"
#include "tests/http/http_test_server.hpp"

namespace {

namespace fs = std::filesystem;

TEST(ClientHome, DefaultsToTheUsersLocalApplicationData) {
    korvo::test::HttpTestServer server;
    server.put_package("h", "at home");
    cds_test::ScratchDir scratch;
    cds_test::ScopedEnv no_home("CDSCLIENT_HOME", std::nullopt);
    fs::create_directories(scratch / "local");
    {
        cds_test::ScopedEnv local("LOCALAPPDATA", scratch / "local");
        EXPECT_EQ(cds_test::fetch(server, "h"), CDS_OK);
        EXPECT_EQ(cds_test::read_file(
                      cds_test::cached_package(scratch / "local/korvo-cds", server.url(), "h")),
                  "at home");
    }
    {
        // Without LOCALAPPDATA the profile's own folder serves.
        fs::create_directories(scratch / "profile/AppData/Local");
        cds_test::ScopedEnv local("LOCALAPPDATA", std::nullopt);
        cds_test::ScopedEnv profile("USERPROFILE", scratch / "profile");
        EXPECT_EQ(cds_test::fetch(server, "h"), CDS_OK);
        EXPECT_EQ(cds_test::read_file(cds_test::cached_package(
                      scratch / "profile/AppData/Local/korvo-cds", server.url(), "h")),
                  "at home");
    }
}

struct LocalFreer {
    void operator()(void *memory) const { LocalFree(memory); }
};

// The SID of the account the test runs as.
std::unique_ptr<char[]> user_sid() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return nullptr;
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    auto buffer = std::make_unique<char[]>(size);
    const bool ok = GetTokenInformation(token, TokenUser, buffer.get(), size, &size);
    CloseHandle(token);
    return ok ? std::move(buffer) : nullptr;
}

// Everything the client makes carries a protected DACL with one entry:
// full access for this account. Wine stores such lists without enforcing
// them, so the list itself is what is checked.
TEST(ClientRights, EverythingUnderTheHomeIsTheOwnersAlone) {
    korvo::test::HttpTestServer server;
    server.put_package("r", "rights");
    cds_test::ScratchDir home;
    cds_test::ScopedEnv home_env("CDSCLIENT_HOME", home.path());
    EXPECT_EQ(cds_test::fetch(server, "r"), CDS_OK);
    const auto user = user_sid();
    ASSERT_TRUE(user);
    const PSID sid = reinterpret_cast<TOKEN_USER *>(user.get())->User.Sid;
    int checked = 0;
    for (auto it = fs::recursive_directory_iterator(home.path() + "/servers");
         it != fs::recursive_directory_iterator(); ++it) {
        SCOPED_TRACE(it->path().string());
        PACL dacl = nullptr;
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        ASSERT_EQ(GetNamedSecurityInfoA(it->path().string().c_str(), SE_FILE_OBJECT,
                                        DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr,
                                        &descriptor),
                  static_cast<DWORD>(ERROR_SUCCESS));
        const std::unique_ptr<void, LocalFreer> held(descriptor);
        ASSERT_NE(dacl, nullptr);
        // The account's own entry, with full access.
        bool own = false;
        for (DWORD i = 0; i < dacl->AceCount; ++i) {
            void *entry = nullptr;
            ASSERT_TRUE(GetAce(dacl, i, &entry));
            const auto *allowed = static_cast<ACCESS_ALLOWED_ACE *>(entry);
            own = own || (allowed->Header.AceType == ACCESS_ALLOWED_ACE_TYPE &&
                          (allowed->Mask & FILE_ALL_ACCESS) == FILE_ALL_ACCESS &&
                          EqualSid(const_cast<DWORD *>(&allowed->SidStart), sid));
        }
        EXPECT_TRUE(own);
        // Wine keeps neither the protection nor the list alone: it adds the
        // parent's inheritable entries. Windows keeps both.
        if (!cds_test::under_wine()) {
            SECURITY_DESCRIPTOR_CONTROL control = 0;
            DWORD revision = 0;
            ASSERT_TRUE(GetSecurityDescriptorControl(descriptor, &control, &revision));
            EXPECT_NE(control & SE_DACL_PROTECTED, 0);
            EXPECT_EQ(dacl->AceCount, 1);
        }
        ++checked;
    }
    EXPECT_GT(checked, 3);
    if (cds_test::under_wine())
        GTEST_SKIP() << "Wine adds inherited entries to a protected DACL: only the account's "
                        "own entry was checked";
}

}  // namespace
