// Run-time libraries on a Windows host over LoadLibrary, GetProcAddress and
// FreeLibrary. Candidates are "<name>.dll" then "lib<name>.dll" (the
// mingw-w64 spelling). A path (UTF-8) is handed over with backslashes, and loaded
// so that the libraries it needs are found beside it first.
#include <windows.h>

#include <psapi.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "kes/host_handle_win32.hpp"
#include "kes/kes_rtl.h"

namespace {

constexpr size_t kCandidateSize = 512;

// Loads `path` (of fewer than kCandidateSize characters) without the
// system's error dialog for a missing drive or library.
void *loadPath(const char *path) {
    char native[kCandidateSize];
    const size_t length = std::strlen(path);
    if (length >= sizeof native)
        return nullptr;
    bool hasDirectory = false;
    for (size_t i = 0; i <= length; ++i) {
        native[i] = path[i] == '/' ? '\\' : path[i];
        hasDirectory = hasDirectory || native[i] == '\\';
    }
    // The name is UTF-8, as every name the library takes; one that is not
    // loads nothing.
    std::wstring wide;
    try {
        if (!korvo::host::WideOfUtf8(native, &wide))
            return nullptr;
    } catch (...) {
        return nullptr;
    }
    // The loader takes paths of fewer than MAX_PATH characters: a longer one
    // is given in its full form, without "." and ".." steps, which may fit.
    wchar_t full[kCandidateSize];
    const bool longPath = hasDirectory && wide.size() >= MAX_PATH;
    if (longPath) {
        const DWORD got = ::GetFullPathNameW(wide.c_str(), kCandidateSize, full, nullptr);
        if (got == 0 || got >= kCandidateSize)
            return nullptr;
    }
    DWORD oldMode = 0;
    ::SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &oldMode);
    HMODULE module = longPath ? ::LoadLibraryExW(full, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH)
                     : hasDirectory
                         ? ::LoadLibraryExW(wide.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH)
                         : ::LoadLibraryW(wide.c_str());
    ::SetThreadErrorMode(oldMode, nullptr);
    return reinterpret_cast<void *>(module);
}

void *loadCandidate(const char *directory, const char *prefix, const char *name) {
    char path[kCandidateSize];
    const int length =
        directory != nullptr
            ? std::snprintf(path, sizeof path, "%s/%s%s.dll", directory, prefix, name)
            : std::snprintf(path, sizeof path, "%s%s.dll", prefix, name);
    if (length < 0 || static_cast<size_t>(length) >= sizeof path)
        return nullptr;
    return loadPath(path);
}

void *symbolAddress(HMODULE module, const char *symbol) {
    return reinterpret_cast<void *>(::GetProcAddress(module, symbol));
}

// The symbol in the program or in any module loaded into the process, in
// the order the loader lists them (the program first).
void *resolveAnywhere(const char *symbol) {
    if (void *found = symbolAddress(::GetModuleHandleA(nullptr), symbol))
        return found;
    std::vector<HMODULE> modules(64);
    DWORD needed = 0;
    for (;;) {
        const auto bytes = static_cast<DWORD>(modules.size() * sizeof(HMODULE));
        if (!::EnumProcessModules(::GetCurrentProcess(), modules.data(), bytes, &needed))
            return nullptr;
        if (needed <= bytes)
            break;
        modules.resize(needed / sizeof(HMODULE));
    }
    modules.resize(needed / sizeof(HMODULE));
    for (HMODULE module : modules)
        if (void *found = symbolAddress(module, symbol))
            return found;
    return nullptr;
}

}  // namespace

extern "C" {

void *KesRtlLoad(const char *name, const char *directory) {
    if (name == nullptr || *name == '\0')
        return nullptr;
    if (std::strpbrk(name, "/\\") != nullptr)
        return loadPath(name);
    if (directory != nullptr && *directory == '\0')
        directory = nullptr;
    if (void *module = loadCandidate(directory, "", name))
        return module;
    return loadCandidate(directory, "lib", name);
}

void *KesRtlResolve(void *module, const char *symbol) {
    if (symbol == nullptr)
        return nullptr;
    if (module == nullptr) {
        try {
            return resolveAnywhere(symbol);
        } catch (...) {
            return nullptr;  // no memory for the list of modules
        }
    }
    return symbolAddress(static_cast<HMODULE>(module), symbol);
}

int KesRtlUnload(void *module) {
    return module != nullptr && ::FreeLibrary(static_cast<HMODULE>(module)) ? 1 : 0;
}

const char *KesRtlError(void) {
    return "Unknown";
}
}
