// System facts on a Windows host: the page size from GetSystemInfo; the
// system's name and architecture from the variables "OS" and
// "PROCESSOR_ARCHITECTURE" that Windows sets for every process, and its
// version from RtlGetVersion, which tells the true version whatever the
// program's manifest says.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "kes/host_env.hpp"
#include "kes/host_system.hpp"

namespace korvo::host {

namespace {

bool CopyCut(const char *text, char *buffer, std::size_t size) {
    if (size == 0)
        return false;
    std::strncpy(buffer, text, size - 1);
    buffer[size - 1] = '\0';
    return true;
}

// RTL_OSVERSIONINFOW under its own name: ntdll's call is looked up at run
// time, as the SDK declares it only for drivers.
struct VersionInfo {
    ULONG size;
    ULONG major;
    ULONG minor;
    ULONG build;
    ULONG platform;
    WCHAR service_pack[128];
};
using RtlGetVersionCall = LONG(WINAPI *)(VersionInfo *);

}  // namespace

std::size_t PageSize() noexcept {
    static const std::size_t size = [] {
        SYSTEM_INFO info{};
        ::GetSystemInfo(&info);
        return info.dwPageSize > 0 ? static_cast<std::size_t>(info.dwPageSize) : std::size_t{4096};
    }();
    return size;
}

bool SystemFactText(SystemFact fact, char *buffer, std::size_t size) noexcept {
    if (fact != SystemFact::kVersion) {
        try {
            const auto text =
                GetEnvironment(fact == SystemFact::kName ? "OS" : "PROCESSOR_ARCHITECTURE");
            return text.has_value() && CopyCut(text->c_str(), buffer, size);
        } catch (...) {
            return false;
        }
    }
    const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    if (ntdll == nullptr)
        return false;
    const auto call = reinterpret_cast<RtlGetVersionCall>(
        reinterpret_cast<void (*)()>(::GetProcAddress(ntdll, "RtlGetVersion")));
    VersionInfo info{};
    info.size = sizeof info;
    if (call == nullptr || call(&info) != 0)
        return false;
    char text[32];
    std::snprintf(text, sizeof text, "%lu.%lu", static_cast<unsigned long>(info.major),
                  static_cast<unsigned long>(info.minor));
    return CopyCut(text, buffer, size);
}

[[noreturn]] void EndProcessNow(int status) noexcept {
    // The C runtime's _exit ends through ExitProcess, whose unloading of the
    // runtime DLL flushes every C stream: only TerminateProcess ends the
    // process with nothing run.
    ::TerminateProcess(::GetCurrentProcess(), static_cast<UINT>(status));
    std::_Exit(status);
}

}  // namespace korvo::host
