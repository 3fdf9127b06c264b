// Registry values on Windows: RegOpenKeyExW and RegQueryValueExW under
// HKEY_LOCAL_MACHINE, read-only; keys, names and values in UTF-8.
#include "kes/host_registry.hpp"

#include <windows.h>

#include <string>
#include <vector>

#include "kes/host_handle_win32.hpp"

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
    std::wstring wideKey, wideName;
    if (!WideOfUtf8(key, &wideKey) || !WideOfUtf8(name, &wideName))
        return std::nullopt;
    RegistryKey opened;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, wideKey.c_str(), 0, KEY_QUERY_VALUE, opened.out()) !=
        ERROR_SUCCESS)
        return std::nullopt;
    // A UTF-8 text of `longest` bytes has at most as many UTF-16 units: room
    // for them and a NUL; a stored string need not end in one, so one more
    // unit keeps the text terminated.
    std::vector<wchar_t> value(longest + 2, L'\0');
    DWORD type = 0;
    DWORD size = static_cast<DWORD>((longest + 1) * sizeof(wchar_t));
    if (::RegQueryValueExW(opened.get(), wideName.c_str(), nullptr, &type,
                           reinterpret_cast<BYTE *>(value.data()), &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return std::nullopt;
    std::wstring wide(value.data(), size / sizeof(wchar_t));
    if (const std::size_t end = wide.find(L'\0'); end != std::wstring::npos)
        wide.resize(end);
    if (type == REG_EXPAND_SZ) {
        // "%SystemDrive%\cds" names its variables: they are filled in.
        std::vector<wchar_t> expanded(longest + 1, L'\0');
        const DWORD needed = ::ExpandEnvironmentStringsW(wide.c_str(), expanded.data(),
                                                         static_cast<DWORD>(expanded.size()));
        if (needed == 0 || needed > expanded.size())
            return std::nullopt;
        wide.assign(expanded.data());
    }
    std::string text;
    if (!Utf8OfWide(wide.c_str(), &text))
        return std::nullopt;
    if (text.size() > longest)
        return std::nullopt;
    return text;
}

}  // namespace korvo::host
