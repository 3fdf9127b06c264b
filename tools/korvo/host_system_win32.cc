#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <windows.h>

#include <shellapi.h>  // after windows.h, whose types it uses

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "host_system.hpp"
#include "kes/host_utf8_win32.hpp"

namespace korvo::cli::host {

void prepare_standard_streams() {
    _setmode(0, _O_BINARY);
    _setmode(1, _O_BINARY);
    _setmode(2, _O_BINARY);
    // Names and messages are UTF-8 bytes; a console shows them as such only
    // in the UTF-8 code page. Pipes and files get the bytes unchanged.
    SetConsoleOutputCP(CP_UTF8);
}

namespace {

struct LocalRelease {
    void operator()(wchar_t **block) const { LocalFree(block); }
};

}  // namespace

void utf8_arguments(int &argc, char **&argv) {
    int count = 0;
    const std::unique_ptr<wchar_t *, LocalRelease> wide(
        CommandLineToArgvW(GetCommandLineW(), &count));
    if (!wide || count <= 0)
        return;  // keep the runtime's arguments
    static std::vector<std::string> texts;
    static std::vector<char *> pointers;
    texts.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        texts.emplace_back();
        // An argument with no UTF-8 form stays as the runtime read it: the
        // command then refuses it as the name of nothing.
        if (!korvo::host::Utf8OfWide(wide.get()[i], &texts.back()) && i < argc)
            texts.back() = argv[i];
    }
    for (std::string &text : texts)
        pointers.push_back(text.data());
    pointers.push_back(nullptr);
    argc = count;
    argv = pointers.data();
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
    // (what children inherit), both in their wide form so that a UTF-8
    // value keeps every character.
    std::wstring wide_name, wide_value;
    if (!korvo::host::WideOfUtf8(name, &wide_name) || !korvo::host::WideOfUtf8(value, &wide_value))
        return false;
    return _wputenv_s(wide_name.c_str(), wide_value.c_str()) == 0 &&
           SetEnvironmentVariableW(wide_name.c_str(), wide_value.c_str()) != 0;
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
