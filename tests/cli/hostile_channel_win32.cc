// The scripted gateway's channel on Windows: a message-mode named pipe of
// a name of this process's own, both ends opened for overlapped use (the
// runtime's channel refuses any other), the program's end inheritable only
// through the handle list of the Child that starts it. Reads and writes are
// overlapped, so that each wait has its bound.
#include <windows.h>

#include <atomic>
#include <stdexcept>

#include "hostile_channel.hpp"

namespace cli_test {

namespace {

constexpr DWORD kPipeBuffer = 1 << 20;
constexpr DWORD kPacketMax = 12 + 65536;
constexpr int kSendMilliseconds = 30000;

HANDLE handle(std::intptr_t value) {
    return reinterpret_cast<HANDLE>(value);
}

// One overlapped transfer on `pipe`, waited for within `milliseconds`: the
// bytes moved, or -1 (failed, broken, or cancelled at the bound). A message
// longer than `size` leaves `more` set and its rest in the pipe.
long long transfer(HANDLE pipe, bool reading, void *bytes, DWORD size, int milliseconds,
                   bool &more) {
    more = false;
    const HANDLE event = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (event == nullptr)
        return -1;
    OVERLAPPED state{};
    state.hEvent = event;
    DWORD moved = 0;
    BOOL done = reading ? ::ReadFile(pipe, bytes, size, &moved, &state)
                        : ::WriteFile(pipe, bytes, size, &moved, &state);
    DWORD error = done ? ERROR_SUCCESS : ::GetLastError();
    if (!done && error == ERROR_IO_PENDING) {
        if (::WaitForSingleObject(event, static_cast<DWORD>(milliseconds)) != WAIT_OBJECT_0)
            ::CancelIoEx(pipe, &state);
        done = ::GetOverlappedResult(pipe, &state, &moved, TRUE);
        error = done ? ERROR_SUCCESS : ::GetLastError();
    }
    ::CloseHandle(event);
    if (error == ERROR_MORE_DATA) {
        more = true;
        return moved;
    }
    return error == ERROR_SUCCESS ? static_cast<long long>(moved) : -1;
}

}  // namespace

HostileChannel::HostileChannel() {
    static std::atomic<unsigned> made{0};
    const std::string name = "\\\\.\\pipe\\korvo-cli-test-" +
                             std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(made++);
    const HANDLE server = ::CreateNamedPipeA(
        name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
        PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1,
        kPipeBuffer, kPipeBuffer, 0, nullptr);
    if (server == INVALID_HANDLE_VALUE)
        throw std::runtime_error("CreateNamedPipe " + name);
    ours_ = reinterpret_cast<std::intptr_t>(server);
    const HANDLE client = ::CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (client == INVALID_HANDLE_VALUE) {
        close();
        throw std::runtime_error("CreateFile " + name);
    }
    theirs_ = reinterpret_cast<std::intptr_t>(client);
    // The client opened it, so the server's end is connected already.
    OVERLAPPED state{};
    state.hEvent = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!::ConnectNamedPipe(server, &state) && ::GetLastError() != ERROR_PIPE_CONNECTED) {
        ::CancelIoEx(server, &state);
        ::CloseHandle(state.hEvent);
        close();
        closeProgramEnd();
        throw std::runtime_error("ConnectNamedPipe " + name);
    }
    ::CloseHandle(state.hEvent);
    program_name_ = "handle:" + std::to_string(static_cast<unsigned long long>(theirs_));
}

HostileChannel::~HostileChannel() {
    close();
    closeProgramEnd();
}

void HostileChannel::closeProgramEnd() {
    if (theirs_ != -1)
        ::CloseHandle(handle(theirs_));
    theirs_ = -1;
}

std::optional<std::vector<std::uint8_t>> HostileChannel::receive(int milliseconds) {
    if (ours_ == -1)
        return std::nullopt;
    std::vector<std::uint8_t> packet(kPacketMax);
    bool more = false;
    long long got = transfer(handle(ours_), true, packet.data(), kPacketMax, milliseconds, more);
    if (got < 0)
        return std::nullopt;
    std::size_t length = static_cast<std::size_t>(got);
    // A packet longer than any the channel sends: take it whole all the same.
    while (more) {
        packet.resize(length + kPacketMax);
        got = transfer(handle(ours_), true, packet.data() + length, kPacketMax, milliseconds, more);
        if (got < 0)
            return std::nullopt;
        length += static_cast<std::size_t>(got);
    }
    packet.resize(length);
    return packet;
}

bool HostileChannel::send(const std::string &packet) {
    if (ours_ == -1)
        return false;
    std::string bytes = packet;
    bool more = false;
    return transfer(handle(ours_), false, bytes.data(), static_cast<DWORD>(bytes.size()),
                    kSendMilliseconds, more) == static_cast<long long>(bytes.size());
}

void HostileChannel::close() {
    if (ours_ != -1)
        ::CloseHandle(handle(ours_));
    ours_ = -1;
}

}  // namespace cli_test
