// The environment on a Windows host, read and changed in its wide form so
// that names and values are UTF-8 to the library, as on every host.
// _wputenv_s changes the C runtime's copy and the process's own block (which
// LoadLibrary searches "PATH" in) at once. The runtime copies the value it
// is given, so the text a former getenv returned may go: every reader of the
// library goes through GetEnvironment, which copies under the same lock as
// the change.
#include <cstdlib>
#include <cwchar>
#include <mutex>
#include <new>
#include <string>

#include "kes/host_env.hpp"
#include "kes/host_handle_win32.hpp"

namespace korvo::host {

namespace {

std::mutex &EnvironmentLock() {
    static std::mutex lock;
    return lock;
}

}  // namespace

const char kSearchListSeparator = ';';

std::optional<std::string> GetEnvironment(const char *name) {
    std::wstring wideName;
    if (!WideOfUtf8(name, &wideName))
        return std::nullopt;
    const std::lock_guard<std::mutex> hold(EnvironmentLock());
    const wchar_t *value = ::_wgetenv(wideName.c_str());
    std::string text;
    // A value with no UTF-8 form (an unpaired surrogate) is of no use to
    // anything that reads names from it: it reads as unset.
    if (value == nullptr || !Utf8OfWide(value, &text))
        return std::nullopt;
    return text;
}

bool AppendToSearchPath(const char *directory) noexcept {
    try {
        std::wstring wideDirectory;
        if (!WideOfUtf8(directory, &wideDirectory))
            return false;
        const std::lock_guard<std::mutex> hold(EnvironmentLock());
        const wchar_t *old = ::_wgetenv(L"PATH");
        std::wstring value;
        if (old != nullptr && *old != L'\0')
            value.append(old).push_back(static_cast<wchar_t>(kSearchListSeparator));
        value.append(wideDirectory);
        return ::_wputenv_s(L"PATH", value.c_str()) == 0;
    } catch (const std::bad_alloc &) {
        return false;
    }
}

}  // namespace korvo::host
