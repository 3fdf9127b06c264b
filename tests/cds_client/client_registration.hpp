// Names a CDS client home where the loader looks for it, for as long as the
// object lives. On POSIX hosts that is a registry file of the test's own,
// which the test points the programs it runs at (KORVO_REGISTRY_FILE); on
// Windows it is the machine registry's key, the only place the loader reads
// there. That key is one per machine: a registration holds a machine-wide
// mutex (machine_key_turn.hpp) while it lasts, so that test programs running side
// by side take turns, and puts the key back as it found it. A machine whose
// registry this account cannot write leaves the registration not ready(),
// with why_not() to skip with; a turn not had in time fails the test. One
// test thread uses an object.
#pragma once

#if defined(_WIN32)
#include <windows.h>
#endif

#include <filesystem>
#include <optional>
#include <string>

#include "tests/cds_client/cds_test_support.hpp"
#if defined(_WIN32)
#include "tests/cds_client/machine_key_turn.hpp"
#endif

namespace cds_test {

inline constexpr const char *kClientHomeValue = "cds_home";

class ClientRegistration {
  public:
    // Names `home`; on POSIX hosts through the registry file `registry_file`.
    ClientRegistration(const std::string &home, const std::string &registry_file)
        : registry_file_(registry_file) {
#if defined(_WIN32)
        if (!turn_.held()) {
            why_not_ = "another test program kept the client's machine key";
            ADD_FAILURE() << why_not_;
            return;
        }
        DWORD disposition = 0;
        if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kClientSubkey, 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &key_, &disposition) != ERROR_SUCCESS) {
            key_ = nullptr;
            why_not_ = "this account cannot write the machine's registry";
            return;
        }
        created_ = disposition == REG_CREATED_NEW_KEY;
        DWORD size = 0;
        if (RegQueryValueExA(key_, kClientHomeValue, nullptr, &saved_type_, nullptr, &size) ==
            ERROR_SUCCESS) {
            saved_.emplace(size, '\0');
            RegQueryValueExA(key_, kClientHomeValue, nullptr, &saved_type_,
                             reinterpret_cast<BYTE *>(saved_->data()), &size);
        }
        if (RegSetValueExA(key_, kClientHomeValue, 0, REG_SZ,
                           reinterpret_cast<const BYTE *>(home.c_str()),
                           static_cast<DWORD>(home.size() + 1)) != ERROR_SUCCESS)
            why_not_ = "the client's machine key does not take a value";
#else
        write_file(registry_file_,
                   "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\CDSClient]\n"
                   "cds_home = " +
                       home + "\n");
#endif
    }
    ~ClientRegistration() {
#if defined(_WIN32)
        if (key_ == nullptr)
            return;
        if (saved_)
            RegSetValueExA(key_, kClientHomeValue, 0, saved_type_,
                           reinterpret_cast<const BYTE *>(saved_->data()),
                           static_cast<DWORD>(saved_->size()));
        else
            RegDeleteValueA(key_, kClientHomeValue);
        RegCloseKey(key_);
        if (created_)
            RegDeleteKeyA(HKEY_LOCAL_MACHINE, kClientSubkey);
#else
        std::error_code ignored;
        std::filesystem::remove(registry_file_, ignored);
#endif
    }
    ClientRegistration(const ClientRegistration &) = delete;
    ClientRegistration &operator=(const ClientRegistration &) = delete;

    bool ready() const {
        return why_not_.empty();
    }
    const std::string &why_not() const {
        return why_not_;
    }

  private:
    std::string registry_file_;
    std::string why_not_;
#if defined(_WIN32)
    MachineKeyTurn turn_;
    HKEY key_ = nullptr;
    bool created_ = false;
    DWORD saved_type_ = 0;
    std::optional<std::string> saved_;
#endif
};

}  // namespace cds_test
