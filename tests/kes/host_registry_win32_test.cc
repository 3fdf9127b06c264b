// Registry values through the host layer, on the key the CDS loader reads
// (the client's key below HKEY_LOCAL_MACHINE, value "cds_home"): the test
// writes the value, taking its turn at the machine's key, and puts the key
// back as it found it.
#include <windows.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "kes/host_registry.hpp"
#include "tests/cds_client/machine_key_turn.hpp"

namespace {

constexpr const char *kKey = "System\\CurrentControlSet\\Services\\CDSClient";
constexpr const char *kValue = "cds_home";

// Opens (creating when needed) the client's key for the test, and on
// leaving puts back the value it held, or removes what the test made.
class ClientKey : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(turn_.held()) << "another test program kept the client's machine key";
        DWORD disposition = 0;
        if (::RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &key_, &disposition) != ERROR_SUCCESS)
            GTEST_SKIP() << "the machine's registry cannot be written here";
        created_ = disposition == REG_CREATED_NEW_KEY;
        DWORD size = 0;
        if (::RegQueryValueExA(key_, kValue, nullptr, &savedType_, nullptr, &size) ==
            ERROR_SUCCESS) {
            saved_.emplace(size, '\0');
            ::RegQueryValueExA(key_, kValue, nullptr, &savedType_,
                               reinterpret_cast<BYTE *>(saved_->data()), &size);
        }
    }
    void TearDown() override {
        if (key_ == nullptr)
            return;
        if (saved_)
            ::RegSetValueExA(key_, kValue, 0, savedType_,
                             reinterpret_cast<const BYTE *>(saved_->data()),
                             static_cast<DWORD>(saved_->size()));
        else
            ::RegDeleteValueA(key_, kValue);
        ::RegCloseKey(key_);
        if (created_)
            ::RegDeleteKeyA(HKEY_LOCAL_MACHINE, kKey);
    }

    void Put(DWORD type, const std::string &text) {
        ASSERT_EQ(
            ::RegSetValueExA(key_, kValue, 0, type, reinterpret_cast<const BYTE *>(text.c_str()),
                             static_cast<DWORD>(text.size() + 1)),
            ERROR_SUCCESS);
    }

    cds_test::MachineKeyTurn turn_;  // the key is the machine's: one test program at a time
    HKEY key_ = nullptr;
    bool created_ = false;
    DWORD savedType_ = 0;
    std::optional<std::string> saved_;
};

}  // namespace

TEST_F(ClientKey, TheHomeIsReadWithinItsBound) {
    Put(REG_SZ, "C:\\cds");
    EXPECT_EQ(korvo::host::MachineRegistryString(kKey, kValue, 259), "C:\\cds");

    const std::string longest(259, 'h');
    Put(REG_SZ, longest);
    EXPECT_EQ(korvo::host::MachineRegistryString(kKey, kValue, 259), longest);
    Put(REG_SZ, longest + "h");
    EXPECT_EQ(korvo::host::MachineRegistryString(kKey, kValue, 259), std::nullopt);

    ASSERT_EQ(::SetEnvironmentVariableA("KORVO_TEST_DRIVE", "D:"), TRUE);
    Put(REG_EXPAND_SZ, "%KORVO_TEST_DRIVE%\\cds");
    EXPECT_EQ(korvo::host::MachineRegistryString(kKey, kValue, 259), "D:\\cds");
    ::SetEnvironmentVariableA("KORVO_TEST_DRIVE", nullptr);
}

TEST_F(ClientKey, OnlyAStringIsAHome) {
    const DWORD number = 7;
    ASSERT_EQ(::RegSetValueExA(key_, kValue, 0, REG_DWORD, reinterpret_cast<const BYTE *>(&number),
                               sizeof number),
              ERROR_SUCCESS);
    EXPECT_EQ(korvo::host::MachineRegistryString(kKey, kValue, 259), std::nullopt);
    ::RegDeleteValueA(key_, kValue);
    EXPECT_EQ(korvo::host::MachineRegistryString(kKey, kValue, 259), std::nullopt);
}
