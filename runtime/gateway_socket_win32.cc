// The gateway channel's end on Windows: a named pipe in message mode, so
// that each packet is one message (see gateway_socket.hpp).
//
// The pipe is used with overlapped I/O so that nothing blocks: one read is
// kept outstanding into a buffer of this end (a packet's header and the
// largest payload); a wait for input waits for that read, and a receive
// takes its result when it has completed. A send copies the packet and
// starts one overlapped write; the next send finds the end Full while that
// write is still pending (the other side has not read enough of the pipe),
// and a wait for output waits for it. A message longer than the buffer
// (ERROR_MORE_DATA) is read to its end and refused whole, as a datagram
// socket cuts it.
#include "runtime/gateway_socket.hpp"

#include <windows.h>

#include <winternl.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "runtime/owned_handle_win32.hpp"

namespace korvo::rt::gateway {

using channel::Arrival;
using channel::Fault;
using channel::kHeaderSize;
using channel::kPacketPayloadMax;
using win32::OwnedHandle;

namespace {

constexpr std::size_t kPacketMax = kHeaderSize + kPacketPayloadMax;
// How long closing an end lets a write that is still pending finish, so
// that the last packets sent are not lost when the other side reads late.
constexpr DWORD kCloseFlushMs = 5000;

bool is_closed_error(DWORD error) {
    return error == ERROR_BROKEN_PIPE || error == ERROR_NO_DATA ||
           error == ERROR_PIPE_NOT_CONNECTED || error == ERROR_OPERATION_ABORTED;
}

std::string error_text(DWORD error) {
    char text[256] = "";
    const DWORD n = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                     nullptr, error, 0, text, sizeof text, nullptr);
    std::string out(text, n);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == '.'))
        out.pop_back();
    if (out.empty())
        out = "Windows error " + std::to_string(error);
    return out;
}

// Whether `handle` was opened for overlapped I/O: a read on a handle opened
// for synchronous I/O blocks until data comes, whatever it is given, so no
// wait on it could be bounded.
bool is_overlapped(HANDLE handle) {
    using Query = NTSTATUS(NTAPI *)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, FILE_INFORMATION_CLASS);
    const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    const auto query = ntdll == nullptr ? nullptr
                                        : reinterpret_cast<Query>(reinterpret_cast<void *>(
                                              ::GetProcAddress(ntdll, "NtQueryInformationFile")));
    if (query == nullptr)
        return true;  // cannot tell: taken as it is given
    IO_STATUS_BLOCK status{};
    ULONG mode = 0;
    if (query(handle, &status, &mode, sizeof mode, FileModeInformation) < 0)
        return true;
    return (mode & (FILE_SYNCHRONOUS_IO_ALERT | FILE_SYNCHRONOUS_IO_NONALERT)) == 0;
}

}  // namespace

struct GatewaySocket {
    explicit GatewaySocket(HANDLE handle)
        : pipe(handle),
          read_event(::CreateEventA(nullptr, TRUE, FALSE, nullptr)),
          write_event(::CreateEventA(nullptr, TRUE, FALSE, nullptr)),
          in(kPacketMax) {}
    ~GatewaySocket() {
        if (writing)
            ::WaitForSingleObject(write_event.get(), kCloseFlushMs);
        // The system must be done with the buffers before they go.
        if (reading || writing) {
            ::CancelIoEx(pipe.get(), nullptr);
            DWORD ignored = 0;
            if (reading)
                ::GetOverlappedResult(pipe.get(), &read_state, &ignored, TRUE);
            if (writing)
                ::GetOverlappedResult(pipe.get(), &write_state, &ignored, TRUE);
        }
    }
    GatewaySocket(const GatewaySocket &) = delete;
    GatewaySocket &operator=(const GatewaySocket &) = delete;

    bool usable() const { return pipe && read_event && write_event; }

    // Issues the outstanding read when there is none. False (with the
    // error kept in read_error) when the pipe refuses at once.
    bool start_read() {
        if (reading)
            return true;
        read_state = OVERLAPPED{};
        read_state.hEvent = read_event.get();
        DWORD got = 0;
        if (!::ReadFile(pipe.get(), in.data(), static_cast<DWORD>(in.size()), &got, &read_state)) {
            const DWORD error = ::GetLastError();
            if (error != ERROR_IO_PENDING && error != ERROR_MORE_DATA) {
                read_error = error;
                return false;
            }
        }
        reading = true;
        return true;
    }

    OwnedHandle pipe;
    OwnedHandle read_event;
    OwnedHandle write_event;
    OVERLAPPED read_state{};
    OVERLAPPED write_state{};
    std::vector<uint8_t> in;
    std::vector<uint8_t> out;
    bool reading = false;
    bool writing = false;
    DWORD read_error = 0;
};

void GatewaySocketCloser::operator()(GatewaySocket *socket) const noexcept {
    std::unique_ptr<GatewaySocket> closing(socket);
}

GatewaySocketPtr AdoptGatewaySocket(std::intptr_t native) {
    auto socket = std::make_unique<GatewaySocket>(reinterpret_cast<HANDLE>(native));
    if (!socket->usable())
        return nullptr;
    return GatewaySocketPtr(socket.release());
}

namespace {

// An inherited handle: a named pipe of message type, read as messages.
GatewaySocketPtr inherited_pipe(const char *named, ConnectFailure *failure) {
    char *end = nullptr;
    errno = 0;
    const unsigned long long number = std::strtoull(named + 7, &end, 10);
    if (errno != 0 || end == named + 7 || *end != '\0' || named[7] == '-' || number == 0) {
        *failure = ConnectFailure{"KORVO_GATEWAY names no handle", named};
        return nullptr;
    }
    const auto handle = reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(number));
    DWORD flags = 0;
    DWORD mode = PIPE_READMODE_MESSAGE;
    if (::GetFileType(handle) != FILE_TYPE_PIPE ||
        !::GetNamedPipeInfo(handle, &flags, nullptr, nullptr, nullptr) ||
        (flags & PIPE_TYPE_MESSAGE) == 0 || !is_overlapped(handle) ||
        !::SetNamedPipeHandleState(handle, &mode, nullptr, nullptr)) {
        *failure =
            ConnectFailure{"KORVO_GATEWAY is not an overlapped message-mode named pipe", named};
        return nullptr;
    }
    // Programs the method starts do not inherit its channel.
    ::SetHandleInformation(handle, HANDLE_FLAG_INHERIT, 0);
    GatewaySocketPtr socket = AdoptGatewaySocket(reinterpret_cast<std::intptr_t>(handle));
    if (!socket)
        *failure = ConnectFailure{"cannot connect", error_text(::GetLastError())};
    return socket;
}

}  // namespace

GatewaySocketPtr ConnectGatewaySocket(const char *named, ConnectFailure *failure) {
    if (std::strncmp(named, "handle:", 7) == 0)
        return inherited_pipe(named, failure);
    std::string name = named;
    if (name.find('\\') == std::string::npos && name.find('/') == std::string::npos)
        name = "\\\\.\\pipe\\" + name;
    else if (name.rfind("\\\\.\\pipe\\", 0) != 0) {
        *failure = ConnectFailure{"KORVO_GATEWAY names no pipe", named};
        return nullptr;
    }
    if (name.size() > 256) {
        *failure = ConnectFailure{"the pipe name of KORVO_GATEWAY is too long", named};
        return nullptr;
    }
    HANDLE handle = INVALID_HANDLE_VALUE;
    // All instances busy: the gateway serves one method, so one wait for it
    // to free an instance is enough.
    for (int attempt = 0; attempt < 2; ++attempt) {
        handle = ::CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                               OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
        if (handle != INVALID_HANDLE_VALUE || ::GetLastError() != ERROR_PIPE_BUSY)
            break;
        ::WaitNamedPipeA(name.c_str(), 1000);
    }
    if (handle == INVALID_HANDLE_VALUE) {
        *failure = ConnectFailure{"cannot connect", name + ": " + error_text(::GetLastError())};
        return nullptr;
    }
    DWORD mode = PIPE_READMODE_MESSAGE;
    if (!::SetNamedPipeHandleState(handle, &mode, nullptr, nullptr)) {
        const DWORD error = ::GetLastError();
        ::CloseHandle(handle);
        *failure = ConnectFailure{"cannot connect", name + ": " + error_text(error)};
        return nullptr;
    }
    GatewaySocketPtr socket = AdoptGatewaySocket(reinterpret_cast<std::intptr_t>(handle));
    if (!socket)
        *failure = ConnectFailure{"cannot connect", error_text(::GetLastError())};
    return socket;
}

SocketWait WaitForGatewaySocket(GatewaySocket &socket, bool input, bool output, int timeout_ms,
                                std::string *error) {
    HANDLE events[2];
    DWORD count = 0;
    if (input) {
        // A read that failed at once or has completed is news to receive.
        if (!socket.start_read() || HasOverlappedIoCompleted(&socket.read_state))
            return SocketWait::Ready;
        events[count++] = socket.read_event.get();
    }
    if (output) {
        if (!socket.writing || HasOverlappedIoCompleted(&socket.write_state))
            return SocketWait::Ready;
        events[count++] = socket.write_event.get();
    }
    if (count == 0)
        return SocketWait::Ready;
    const DWORD waited = ::WaitForMultipleObjects(
        count, events, FALSE, timeout_ms < 0 ? INFINITE : static_cast<DWORD>(timeout_ms));
    if (waited < WAIT_OBJECT_0 + count)
        return SocketWait::Ready;
    if (waited == WAIT_TIMEOUT)
        return SocketWait::TimedOut;
    *error = error_text(::GetLastError());
    return SocketWait::Failed;
}

SocketSend SendGatewayPacket(GatewaySocket &socket, const uint8_t *head, std::size_t head_size,
                             const uint8_t *payload, std::size_t length, std::string *error) {
    if (socket.writing) {
        DWORD written = 0;
        if (!::GetOverlappedResult(socket.pipe.get(), &socket.write_state, &written, FALSE)) {
            const DWORD failed = ::GetLastError();
            if (failed == ERROR_IO_INCOMPLETE)
                return SocketSend::Full;
            socket.writing = false;
            *error = error_text(failed);
            return is_closed_error(failed) ? SocketSend::Closed : SocketSend::Failed;
        }
        socket.writing = false;
    }
    socket.out.assign(head, head + head_size);
    if (length != 0)
        socket.out.insert(socket.out.end(), payload, payload + length);
    socket.write_state = OVERLAPPED{};
    socket.write_state.hEvent = socket.write_event.get();
    DWORD written = 0;
    if (!::WriteFile(socket.pipe.get(), socket.out.data(), static_cast<DWORD>(socket.out.size()),
                     &written, &socket.write_state)) {
        const DWORD failed = ::GetLastError();
        if (failed != ERROR_IO_PENDING) {
            *error = error_text(failed);
            return is_closed_error(failed) ? SocketSend::Closed : SocketSend::Failed;
        }
        // The packet is the pipe's now; the next send or wait finds out
        // when the other side has taken it.
        socket.writing = true;
    }
    return SocketSend::Sent;
}

Arrival ReceiveGatewayPacket(GatewaySocket &socket, channel::Assembler &assembler, Fault &fault) {
    fault = Fault::None;
    uint8_t *room = assembler.room();
    if (room == nullptr) {
        fault = Fault::NoMemory;
        return Arrival::Failed;
    }
    if (!socket.start_read()) {
        const DWORD failed = socket.read_error;
        ::SetLastError(failed);
        return is_closed_error(failed) ? Arrival::Closed : Arrival::Failed;
    }
    DWORD got = 0;
    bool cut = false;
    if (!::GetOverlappedResult(socket.pipe.get(), &socket.read_state, &got, FALSE)) {
        const DWORD failed = ::GetLastError();
        if (failed == ERROR_IO_INCOMPLETE)
            return Arrival::Nothing;
        socket.reading = false;
        if (failed != ERROR_MORE_DATA) {
            ::SetLastError(failed);
            return is_closed_error(failed) ? Arrival::Closed : Arrival::Failed;
        }
        cut = true;
    }
    socket.reading = false;
    if (cut) {
        // The rest of the message is in the pipe already: read and dropped.
        std::vector<uint8_t> rest(kPacketMax);
        for (;;) {
            OVERLAPPED drain{};
            drain.hEvent = socket.read_event.get();
            DWORD dropped = 0;
            BOOL done = ::ReadFile(socket.pipe.get(), rest.data(), static_cast<DWORD>(rest.size()),
                                   &dropped, &drain);
            if (!done && ::GetLastError() == ERROR_IO_PENDING)
                done = ::GetOverlappedResult(socket.pipe.get(), &drain, &dropped, TRUE);
            if (done || ::GetLastError() != ERROR_MORE_DATA)
                break;
        }
    }
    if (got > kHeaderSize)
        std::memcpy(room, socket.in.data() + kHeaderSize, got - kHeaderSize);
    return channel::accept_packet(socket.in.data(), got, cut, assembler, fault);
}

std::string LastGatewayErrorText() {
    return error_text(::GetLastError());
}

}  // namespace korvo::rt::gateway
