// Meeting the method on Windows: a message-mode named pipe whose client end
// the started program inherits (named "handle:<n>" in KORVO_GATEWAY, and
// handed to it alone through PROC_THREAD_ATTRIBUTE_HANDLE_LIST), or a pipe
// of the name --listen gives that one method connects to (see
// method_link.hpp). Both ends are opened for overlapped use, as the
// runtime's channel needs.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "runtime/owned_handle_win32.hpp"
#include "tools/gateway/method_link.hpp"

namespace korvo::gateway {

using korvo::rt::gateway::AdoptGatewaySocket;
using korvo::rt::gateway::GatewaySocketPtr;
using korvo::rt::win32::OwnedHandle;

namespace {

constexpr DWORD kPipeBuffer = 1 << 20;

std::string error_text(DWORD error) {
    char text[256] = "";
    const DWORD n = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                     nullptr, error, 0, text, sizeof text, nullptr);
    std::string out(text, n);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == '.'))
        out.pop_back();
    return out.empty() ? "Windows error " + std::to_string(error) : out;
}

std::string last_error() {
    return error_text(::GetLastError());
}

// The name of the pipe that `name` gives: a full "\\.\pipe\..." name as it
// is, a bare name under "\\.\pipe\".
std::string pipe_name(const std::string &name) {
    return name.rfind("\\\\.\\pipe\\", 0) == 0 ? name : "\\\\.\\pipe\\" + name;
}

OwnedHandle make_server(const std::string &name, DWORD first) {
    return OwnedHandle(::CreateNamedPipeA(
        name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | first,
        PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1,
        kPipeBuffer, kPipeBuffer, 0, nullptr));
}

// Waits for a client on `server` for at most `timeout_ms` (-1: without
// end): true when one connected.
bool wait_for_client(HANDLE server, int timeout_ms) {
    OwnedHandle event(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!event)
        return false;
    OVERLAPPED state{};
    state.hEvent = event.get();
    if (::ConnectNamedPipe(server, &state))
        return true;
    const DWORD error = ::GetLastError();
    if (error == ERROR_PIPE_CONNECTED)
        return true;
    if (error != ERROR_IO_PENDING)
        return false;
    const DWORD waited =
        ::WaitForSingleObject(event.get(), timeout_ms < 0 ? INFINITE : DWORD(timeout_ms));
    if (waited != WAIT_OBJECT_0)
        ::CancelIoEx(server, &state);
    DWORD ignored = 0;
    return ::GetOverlappedResult(server, &state, &ignored, TRUE) != 0;
}

// One argument as the C runtime's parser reads it back: quoted when it has
// blanks or quotes, with the backslashes in front of a quote doubled.
std::string quoted(const std::string &arg) {
    if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos)
        return arg;
    std::string out = "\"";
    std::size_t backslashes = 0;
    for (const char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        out.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
        backslashes = 0;
        out += c;
    }
    out.append(2 * backslashes, '\\');
    out += '"';
    return out;
}

// The process's standard handles that the method gets too (those that are
// there), made inheritable so that the handle list may name them.
std::vector<HANDLE> standard_handles() {
    std::vector<HANDLE> handles;
    for (const DWORD which : {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
        const HANDLE handle = ::GetStdHandle(which);
        if (handle == nullptr || handle == INVALID_HANDLE_VALUE)
            continue;
        if (!::SetHandleInformation(handle, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT))
            continue;
        bool known = false;
        for (const HANDLE seen : handles)
            known = known || seen == handle;
        if (!known)
            handles.push_back(handle);
    }
    return handles;
}

}  // namespace

StartedMethod::~StartedMethod() {
    if (process != -1)
        ::CloseHandle(reinterpret_cast<HANDLE>(process));
}

void fail(const std::string &what) {
    std::fprintf(stderr, "korvo_gateway: %s\n", what.c_str());
    std::exit(1);
}

// Windows reports a write to a closed pipe as an error of that write, so
// nothing is to be ignored. The transcript and listings go out in binary
// mode: lines end with "\n" as on POSIX hosts, not the C runtime's "\r\n".
void prepare_host() {
    ::_setmode(1, _O_BINARY);
    ::_setmode(2, _O_BINARY);
}

GatewaySocketPtr start_method(const Options &options, StartedMethod &method,
                              const Transcript &transcript) {
    const std::string name = "\\\\.\\pipe\\korvo-gateway-" +
                             std::to_string(::GetCurrentProcessId()) + "-" +
                             std::to_string(::GetTickCount64());
    OwnedHandle server = make_server(name, FILE_FLAG_FIRST_PIPE_INSTANCE);
    if (!server)
        fail(name + ": " + last_error());
    SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
    OwnedHandle client(::CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, &inherited,
                                     OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
    if (!client || !wait_for_client(server.get(), 0))
        fail(name + ": " + last_error());

    const auto end = reinterpret_cast<std::uintptr_t>(client.get());
    const std::string channel = "handle:" + std::to_string(static_cast<unsigned long long>(end));
    const std::string session = std::to_string(options.session);
    ::SetEnvironmentVariableA("KORVO_GATEWAY", channel.c_str());
    ::SetEnvironmentVariableA("KORVO_GATEWAY_SESSION", session.c_str());

    std::vector<HANDLE> handed = standard_handles();
    handed.push_back(client.get());
    SIZE_T size = 0;
    ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    std::vector<unsigned char> storage(size);
    auto *attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage.data());
    if (!::InitializeProcThreadAttributeList(attributes, 1, 0, &size))
        fail("cannot start " + options.program[0] + ": " + last_error());
    struct DeleteList {
        LPPROC_THREAD_ATTRIBUTE_LIST list;
        ~DeleteList() { ::DeleteProcThreadAttributeList(list); }
    } deleting{attributes};
    if (!::UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST,
                                     handed.data(), handed.size() * sizeof(HANDLE), nullptr,
                                     nullptr))
        fail("cannot start " + options.program[0] + ": " + last_error());

    STARTUPINFOEXA start{};
    start.StartupInfo.cb = sizeof start;
    start.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    start.StartupInfo.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    start.StartupInfo.hStdOutput = ::GetStdHandle(STD_OUTPUT_HANDLE);
    start.StartupInfo.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
    start.lpAttributeList = attributes;
    std::string command;
    for (const std::string &arg : options.program)
        command += (command.empty() ? "" : " ") + quoted(arg);
    PROCESS_INFORMATION started{};
    if (!::CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE,
                          EXTENDED_STARTUPINFO_PRESENT, nullptr, nullptr, &start.StartupInfo,
                          &started)) {
        // As a POSIX peer's child that cannot exec ends: status 127.
        std::fprintf(stderr, "korvo_gateway: cannot start %s: %s\n", options.program[0].c_str(),
                     last_error().c_str());
        std::exit(127);
    }
    ::CloseHandle(started.hThread);
    method.process = reinterpret_cast<std::intptr_t>(started.hProcess);
    transcript.line("started %s (pid %d), session %d", options.program[0].c_str(),
                    static_cast<int>(started.dwProcessId), options.session);
    // The method holds its end now; ours goes, so that its exit closes the pipe.
    client.reset();
    return AdoptGatewaySocket(reinterpret_cast<std::intptr_t>(server.release()));
}

GatewaySocketPtr accept_method(const Options &options, const Transcript &transcript) {
    const std::string name = pipe_name(options.listen);
    OwnedHandle server = make_server(name, FILE_FLAG_FIRST_PIPE_INSTANCE);
    if (!server)
        fail(options.listen + ": " + last_error());
    transcript.line("listening on %s", name.c_str());
    if (!wait_for_client(server.get(), options.timeout > 0 ? options.timeout * 1000 : -1))
        fail("no method came within the timeout");
    transcript.line("method connected");
    return AdoptGatewaySocket(reinterpret_cast<std::intptr_t>(server.release()));
}

int wait_method(StartedMethod &method, const Transcript &transcript) {
    const auto process = reinterpret_cast<HANDLE>(method.process);
    DWORD code = 1;
    if (::WaitForSingleObject(process, INFINITE) != WAIT_OBJECT_0 ||
        !::GetExitCodeProcess(process, &code))
        code = 1;
    transcript.line("method exited with status %d", static_cast<int>(code));
    return static_cast<int>(code);
}

}  // namespace korvo::gateway
