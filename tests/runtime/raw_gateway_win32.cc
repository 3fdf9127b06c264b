// The gateway's end of a method's channel on Windows: message-mode named
// pipes opened for overlapped use, as korvo_gateway makes them (see
// raw_gateway.hpp). Every wait is bounded.
#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <string>

#include "tests/runtime/raw_gateway.hpp"

namespace korvo::test {
namespace {

constexpr DWORD kPipeBuffer = 1 << 20;

HANDLE handle_of(std::intptr_t native) {
    return reinterpret_cast<HANDLE>(native);
}

std::string unique_pipe_name() {
    static std::atomic<unsigned> counter{0};
    return "\\\\.\\pipe\\korvo-test-" + std::to_string(::GetCurrentProcessId()) + "-" +
           std::to_string(counter++);
}

HANDLE make_server(const std::string &name) {
    return ::CreateNamedPipeA(
        name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
        PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1,
        kPipeBuffer, kPipeBuffer, 0, nullptr);
}

// Runs one overlapped operation on `handle` to its end within the bounded
// wait (cancelled after it): the bytes it moved, or -1 when it failed.
template <typename Start>
long long overlapped(HANDLE handle, int milliseconds, Start start) {
    OVERLAPPED state{};
    state.hEvent = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (state.hEvent == nullptr)
        return -1;
    DWORD moved = 0;
    BOOL done = start(&state);
    if (!done && ::GetLastError() == ERROR_IO_PENDING) {
        if (::WaitForSingleObject(state.hEvent, static_cast<DWORD>(milliseconds)) != WAIT_OBJECT_0)
            ::CancelIoEx(handle, &state);
        done = ::GetOverlappedResult(handle, &state, &moved, TRUE);
    } else if (done) {
        // Done at once (or nothing was queued): nothing to wait for.
        done = ::GetOverlappedResult(handle, &state, &moved, FALSE);
    }
    ::CloseHandle(state.hEvent);
    return done ? static_cast<long long>(moved) : -1;
}

}  // namespace

bool RawGateway::sendPacket(const Bytes &bytes) {
    const HANDLE pipe = handle_of(native_);
    return overlapped(pipe, kWaitMilliseconds, [&](OVERLAPPED *state) {
               return ::WriteFile(pipe, bytes.data(), static_cast<DWORD>(bytes.size()), nullptr,
                                  state);
           }) == static_cast<long long>(bytes.size());
}

Bytes RawGateway::receive(int milliseconds) {
    const HANDLE pipe = handle_of(native_);
    Bytes bytes(1 << 20);
    const long long n = overlapped(pipe, milliseconds, [&](OVERLAPPED *state) {
        return ::ReadFile(pipe, bytes.data(), static_cast<DWORD>(bytes.size()), nullptr, state);
    });
    bytes.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return bytes;
}

void RawGateway::close() {
    if (native_ != -1)
        ::CloseHandle(handle_of(native_));
    native_ = -1;
}

ChannelPair makeChannelPair() {
    const std::string name = unique_pipe_name();
    const HANDLE server = make_server(name);
    SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
    const HANDLE client = ::CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, &inherited,
                                        OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (server == INVALID_HANDLE_VALUE || client == INVALID_HANDLE_VALUE)
        std::abort();
    const auto method = reinterpret_cast<std::intptr_t>(client);
    return ChannelPair{reinterpret_cast<std::intptr_t>(server), PipeHandle{method},
                       "handle:" + std::to_string(static_cast<unsigned long long>(method))};
}

void closeMethodEnd(PipeHandle end) {
    ::CloseHandle(handle_of(end.value));
}

void setGatewayVariables(const std::string &named, const std::string &session) {
    ::SetEnvironmentVariableA("KORVO_GATEWAY", named.c_str());
    ::SetEnvironmentVariableA("KORVO_GATEWAY_SESSION", session.c_str());
    ::_putenv_s("KORVO_GATEWAY", named.c_str());
    ::_putenv_s("KORVO_GATEWAY_SESSION", session.c_str());
}

std::vector<UnusableGateway> unusableGateways(const std::string &) {
    const std::string missing = unique_pipe_name();
    return {
        {"handle:x", "korvo: gateway channel: KORVO_GATEWAY names no handle: handle:x\n"},
        // No handle of a process has an odd value.
        {"handle:1",
         "korvo: gateway channel: KORVO_GATEWAY is not an overlapped message-mode named pipe: "
         "handle:1\n"},
        {"C:\\korvo\\gateway",
         "korvo: gateway channel: KORVO_GATEWAY names no pipe: "
         "C:\\korvo\\gateway\n"},
        {missing, "korvo: gateway channel: cannot connect: " + missing + ": "},
    };
}

RawListener::RawListener(const std::string &) : name_(unique_pipe_name()) {
    const HANDLE server = make_server(name_);
    if (server != INVALID_HANDLE_VALUE)
        native_ = reinterpret_cast<std::intptr_t>(server);
}

RawListener::~RawListener() {
    if (native_ != -1)
        ::CloseHandle(handle_of(native_));
}

RawGateway RawListener::accept() {
    const HANDLE server = handle_of(native_);
    if (native_ == -1)
        return RawGateway();
    const long long connected = overlapped(server, kWaitMilliseconds, [&](OVERLAPPED *state) {
        if (::ConnectNamedPipe(server, state))
            return TRUE;
        // A method that connected before the wait began.
        return ::GetLastError() == ERROR_PIPE_CONNECTED ? TRUE : FALSE;
    });
    if (connected < 0)
        return RawGateway();
    // The instance is the connected method's end now.
    return RawGateway(std::exchange(native_, -1));
}

}  // namespace korvo::test
