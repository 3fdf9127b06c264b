// The temporary directory of Windows hosts: GetTempPathA, asked on every
// call so that a changed TMP or TEMP is followed.
#include "runtime/host_tmpdir.hpp"

#include <windows.h>

#include <cstring>

namespace korvo::rt {

const char *HostTempDirectory() noexcept {
    thread_local char directory[MAX_PATH + 1];
    const DWORD length = ::GetTempPathA(sizeof directory, directory);
    if (length == 0 || length >= sizeof directory) {
        // No usable answer (a TMP longer than a path can be): the
        // system's own folder for temporary files.
        const UINT windows = ::GetWindowsDirectoryA(directory, sizeof directory - 5);
        if (windows == 0 || windows >= sizeof directory - 5)
            return "C:\\Windows\\Temp";
        std::strcat(directory, "\\Temp");
        return directory;
    }
    // "C:\Users\me\AppData\Local\Temp\" loses its last separator, so that
    // callers may append "/name"; "C:\" stays a root.
    size_t end = length;
    while (end > 3 && (directory[end - 1] == '\\' || directory[end - 1] == '/'))
        --end;
    directory[end] = '\0';
    return directory;
}

}  // namespace korvo::rt
