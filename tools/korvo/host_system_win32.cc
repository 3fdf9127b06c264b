#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <windows.h>

#include <cstdlib>

#include "host_system.hpp"

namespace korvo::cli::host {

void prepare_standard_streams() {
    _setmode(0, _O_BINARY);
    _setmode(1, _O_BINARY);
    _setmode(2, _O_BINARY);
}

int64_t process_id() {
    return static_cast<int64_t>(GetCurrentProcessId());
}

bool process_running(int64_t pid) {
    if (pid <= 0 || pid > 0xFFFFFFFFll)
        return false;
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
    if (process == nullptr)
        // Another account's process is there all the same.
        return GetLastError() == ERROR_ACCESS_DENIED;
    const bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    CloseHandle(process);
    return running;
}

bool set_environment(const char *name, const char *value) {
    // The C runtime's copy (getenv, the library's too) and the process's
    // (what children inherit).
    return _putenv_s(name, value) == 0 && SetEnvironmentVariableA(name, value) != 0;
}

bool local_time(std::time_t when, std::tm &local) {
    return localtime_s(&local, &when) == 0;
}

bool is_terminal(int fd) {
    // _isatty is true for the NUL device too; a console answers
    // GetConsoleMode.
    if (_isatty(fd) == 0)
        return false;
    DWORD mode = 0;
    return GetConsoleMode(reinterpret_cast<HANDLE>(_get_osfhandle(fd)), &mode) != 0;
}

int terminal_columns(int fd) {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (GetConsoleScreenBufferInfo(reinterpret_cast<HANDLE>(_get_osfhandle(fd)), &info)) {
        const int columns = info.srWindow.Right - info.srWindow.Left + 1;
        if (columns > 0)
            return columns;
    }
    return 80;
}

}  // namespace korvo::cli::host
