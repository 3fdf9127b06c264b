// Registry values on Windows: RegOpenKeyExA and RegQueryValueExA under
// HKEY_LOCAL_MACHINE, read-only.
#include "kes/host_registry.hpp"

#include <windows.h>

#include <vector>

namespace korvo::host {

namespace {

class RegistryKey {
  public:
    RegistryKey() = default;
    RegistryKey(const RegistryKey &) = delete;
    RegistryKey &operator=(const RegistryKey &) = delete;
    ~RegistryKey() {
        if (key_ != nullptr)
            ::RegCloseKey(key_);
    }
    HKEY get() const { return key_; }
    HKEY *out() { return &key_; }

  private:
    HKEY key_ = nullptr;
};

}  // namespace

std::optional<std::string> MachineRegistryString(const char *key, const char *name,
                                                 std::size_t longest) {
    if (key == nullptr || name == nullptr || longest >= MAXDWORD)
        return std::nullopt;
    RegistryKey opened;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_QUERY_VALUE, opened.out()) != ERROR_SUCCESS)
        return std::nullopt;
    // Room for the longest value and its NUL; a stored string need not end
    // in one, so one more byte keeps the text terminated.
    std::vector<char> value(longest + 2, '\0');
    DWORD type = 0;
    DWORD size = static_cast<DWORD>(longest + 1);
    if (::RegQueryValueExA(opened.get(), name, nullptr, &type,
                           reinterpret_cast<BYTE *>(value.data()), &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return std::nullopt;
    std::string text(value.data(), size);
    if (const std::size_t end = text.find('\0'); end != std::string::npos)
        text.resize(end);
    if (type == REG_EXPAND_SZ) {
        // "%SystemDrive%\cds" names its variables: they are filled in.
        std::vector<char> expanded(longest + 1, '\0');
        const DWORD needed = ::ExpandEnvironmentStringsA(text.c_str(), expanded.data(),
                                                         static_cast<DWORD>(expanded.size()));
        if (needed == 0 || needed > expanded.size())
            return std::nullopt;
        text.assign(expanded.data());
    }
    if (text.size() > longest)
        return std::nullopt;
    return text;
}

}  // namespace korvo::host
