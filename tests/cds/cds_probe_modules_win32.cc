// The loaded CDS client libraries of the probe, from the process's list of
// loaded modules.
#include <windows.h>
// psapi.h needs windows.h first.
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

void print_clients() {
    std::vector<HMODULE> modules(1024);
    DWORD needed = 0;
    if (!::EnumProcessModules(::GetCurrentProcess(), modules.data(),
                              static_cast<DWORD>(modules.size() * sizeof(HMODULE)), &needed))
        return;
    modules.resize(std::min<size_t>(modules.size(), needed / sizeof(HMODULE)));
    for (HMODULE module : modules) {
        char name[MAX_PATH * 2];
        const DWORD length = ::GetModuleFileNameA(module, name, sizeof name);
        if (length == 0 || length >= sizeof name)
            continue;
        const char *base = name;
        for (const char *at = name; *at != '\0'; ++at)
            if (*at == '\\' || *at == '/')
                base = at + 1;
        if (_stricmp(base, "CDSClient.dll") == 0 || _stricmp(base, "libCDSClient.dll") == 0)
            std::printf("CLIENT=%s\n", name);
    }
}
