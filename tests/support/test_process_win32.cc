// Child processes, pipes and shared memory of the tests on Windows: a child
// is this program started again by CreateProcess, pipe ends are anonymous
// pipe handles made uninheritable and handed over through the process's
// handle list (PROC_THREAD_ATTRIBUTE_HANDLE_LIST, so a child gets those and
// no others), shared memory is a paging-file mapping with a name. Windows
// has no fork, and no limit on the size of the files a process writes.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string_view>
#include <thread>

#include "tests/support/test_process.hpp"
#include "tests/support/test_process_bodies.hpp"

namespace korvo::test {
namespace {

// Ends the program at once with the status that follows: what a program
// that cannot start is replaced with, as a shell's "not found" would be.
constexpr std::string_view kExitOption = "--korvo-child-exit=";
// The local namespace of kernel objects: a test's mappings are its session's.
constexpr std::string_view kMappingPrefix = "Local\\";

HANDLE handleOf(PipeHandle end) {
    return reinterpret_cast<HANDLE>(end.value);
}

PipeHandle pipeHandle(HANDLE handle) {
    return PipeHandle{reinterpret_cast<std::intptr_t>(handle)};
}

// One owned kernel handle, closed when the object goes.
class OwnedHandle {
  public:
    OwnedHandle() = default;
    explicit OwnedHandle(HANDLE handle) : handle_(handle) {}
    ~OwnedHandle() { reset(); }
    OwnedHandle(OwnedHandle &&other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
    OwnedHandle &operator=(OwnedHandle &&other) noexcept {
        if (this != &other)
            reset(), handle_ = std::exchange(other.handle_, nullptr);
        return *this;
    }
    HANDLE get() const { return handle_; }
    HANDLE release() { return std::exchange(handle_, nullptr); }
    explicit operator bool() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
    void reset() {
        if (*this)
            ::CloseHandle(handle_);
        handle_ = nullptr;
    }

  private:
    HANDLE handle_ = nullptr;
};

// The path of this program.
std::string selfPath() {
    std::string path(MAX_PATH, '\0');
    for (;;) {
        const DWORD length =
            ::GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0)
            std::abort();
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

// `argument` quoted for the command line so that the C runtime's parser of
// the started program gives it back unchanged: backslashes double only
// before a quote, and quotes are escaped.
void appendQuoted(std::string &line, const std::string &argument) {
    if (!line.empty())
        line += ' ';
    if (!argument.empty() && argument.find_first_of(" \t\n\v\"") == std::string::npos) {
        line += argument;
        return;
    }
    line += '"';
    std::size_t backslashes = 0;
    for (const char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        line.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        line += c;
    }
    line.append(backslashes * 2, '\\');
    line += '"';
}

bool sameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::toupper(static_cast<unsigned char>(x)) ==
                      std::toupper(static_cast<unsigned char>(y));
           });
}

// This process's environment with `overrides` applied, as the block
// CreateProcess takes: NAME=value strings, each ended by a NUL, then a NUL.
// Names compare without case, as Windows compares them.
std::string environmentBlock(const EnvironmentChanges &overrides) {
    std::string block;
    char *const strings = ::GetEnvironmentStringsA();
    for (const char *entry = strings; entry != nullptr && *entry != '\0';
         entry += std::strlen(entry) + 1) {
        const std::string_view text(entry);
        // Entries of the hidden "=C:" kind name the current folder per drive.
        const std::size_t equals = text.find('=', 1);
        const std::string_view name = text.substr(0, equals);
        const bool replaced =
            std::any_of(overrides.begin(), overrides.end(),
                        [&](const auto &change) { return sameName(change.first, name); });
        if (!replaced)
            block.append(text).push_back('\0');
    }
    if (strings != nullptr)
        ::FreeEnvironmentStringsA(strings);
    for (const auto &[name, value] : overrides)
        if (value)
            block.append(name + "=" + *value).push_back('\0');
    block.push_back('\0');
    return block;
}

// An inheritable copy of `handle`, for a child's standard handle.
OwnedHandle inheritableCopy(HANDLE handle) {
    HANDLE copy = nullptr;
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE ||
        !::DuplicateHandle(::GetCurrentProcess(), handle, ::GetCurrentProcess(), &copy, 0, TRUE,
                           DUPLICATE_SAME_ACCESS))
        return OwnedHandle();
    return OwnedHandle(copy);
}

// A file opened for a child's standard handle: `path` made or emptied for
// writing, or the null device for reading.
OwnedHandle inheritableFile(const std::string &path, bool forWriting) {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    const HANDLE file =
        ::CreateFileA(path.c_str(), forWriting ? GENERIC_WRITE : GENERIC_READ,
                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit,
                      forWriting ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    return OwnedHandle(file == INVALID_HANDLE_VALUE ? nullptr : file);
}

// Starts `path` with the command line `argv`, the handles `ends` inherited
// at their values and `overrides` set in the environment; an empty object
// when it cannot start. The child inherits exactly the handles of its list.
OwnedHandle spawn(const std::string &path, const std::vector<std::string> &argv,
                  const std::vector<PipeHandle> &ends, const EnvironmentChanges &overrides,
                  const ChildStart &start, DWORD *processId) {
    if (start.fileSizeLimit) {
        std::fprintf(stderr,
                     "this host cannot limit the size of a child's files: the test must skip "
                     "where fileSizeLimitHost() is false\n");
        std::abort();
    }
    OwnedHandle input = start.emptyInput ? inheritableFile("NUL", false)
                                         : inheritableCopy(::GetStdHandle(STD_INPUT_HANDLE));
    OwnedHandle output = start.standardOutput ? inheritableCopy(handleOf(*start.standardOutput))
                         : !start.outputFile.empty()
                             ? inheritableFile(start.outputFile, true)
                             : inheritableCopy(::GetStdHandle(STD_OUTPUT_HANDLE));
    OwnedHandle error = start.standardError ? inheritableCopy(handleOf(*start.standardError))
                        : !start.errorFile.empty()
                            ? inheritableFile(start.errorFile, true)
                            : inheritableCopy(::GetStdHandle(STD_ERROR_HANDLE));
    if ((start.standardOutput || !start.outputFile.empty()) && !output)
        return OwnedHandle();
    if ((start.standardError || !start.errorFile.empty()) && !error)
        return OwnedHandle();

    // Handed-over ends are inheritable only while the child starts; the
    // list keeps them from any other child started meanwhile.
    std::vector<HANDLE> inherited;
    for (const PipeHandle end : ends) {
        if (::SetHandleInformation(handleOf(end), HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT))
            inherited.push_back(handleOf(end));
    }
    std::vector<HANDLE> listed = inherited;
    for (const OwnedHandle *standard : {&input, &output, &error})
        if (*standard)
            listed.push_back(standard->get());
    std::sort(listed.begin(), listed.end());
    listed.erase(std::unique(listed.begin(), listed.end()), listed.end());

    SIZE_T attributesSize = 0;
    ::InitializeProcThreadAttributeList(nullptr, 1, 0, &attributesSize);
    std::vector<unsigned char> attributesBytes(attributesSize);
    auto *attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributesBytes.data());
    bool started = false;
    PROCESS_INFORMATION process{};
    if (::InitializeProcThreadAttributeList(attributes, 1, 0, &attributesSize)) {
        const bool listedOk =
            listed.empty() || ::UpdateProcThreadAttribute(
                                  attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, listed.data(),
                                  listed.size() * sizeof(HANDLE), nullptr, nullptr);
        STARTUPINFOEXA info{};
        info.StartupInfo.cb = sizeof(info);
        info.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
        info.StartupInfo.hStdInput = input.get();
        info.StartupInfo.hStdOutput = output.get();
        info.StartupInfo.hStdError = error.get();
        info.lpAttributeList = listed.empty() ? nullptr : attributes;
        std::string line;
        for (const std::string &argument : argv)
            appendQuoted(line, argument);
        std::string environment = environmentBlock(overrides);
        // A bare name is looked for on the search path; a path is taken as is.
        const bool bare = path.find_first_of("\\/:") == std::string::npos;
        started = listedOk &&
                  ::CreateProcessA(bare ? nullptr : path.c_str(), line.data(), nullptr, nullptr,
                                   listed.empty() ? FALSE : TRUE, EXTENDED_STARTUPINFO_PRESENT,
                                   environment.data(), nullptr, &info.StartupInfo, &process);
        ::DeleteProcThreadAttributeList(attributes);
    }
    for (const HANDLE handle : inherited)
        ::SetHandleInformation(handle, HANDLE_FLAG_INHERIT, 0);
    if (!started)
        return OwnedHandle();
    ::CloseHandle(process.hThread);
    if (processId != nullptr)
        *processId = process.dwProcessId;
    return OwnedHandle(process.hProcess);
}

// The exit status of an ended process; exceptions that end a process (the
// NTSTATUS codes with the high bit) read as the signals that would end a
// POSIX process for the same fault.
int exitStatus(HANDLE process) {
    DWORD code = 0;
    if (!::GetExitCodeProcess(process, &code))
        return -1;
    if (code == static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION))
        return 128 + 11;
    if ((code & 0x80000000u) != 0)
        return 128 + 6;
    return static_cast<int>(code);
}

// Waits for `process` to end within `milliseconds`: its status, or -1.
int waitFor(HANDLE process, int milliseconds) {
    if (::WaitForSingleObject(process, static_cast<DWORD>(std::max(milliseconds, 0))) !=
        WAIT_OBJECT_0)
        return -1;
    return exitStatus(process);
}

// What a pipe holds now: > 0 bytes waiting, 0 none yet, -1 at its end (every
// write end closed) or when the handle is no pipe.
long long available(HANDLE handle) {
    DWORD bytes = 0;
    if (!::PeekNamedPipe(handle, nullptr, 0, nullptr, &bytes, nullptr))
        return -1;
    return bytes;
}

// Waits, within the time left until `deadline`, for `handle` to hold bytes
// or reach its end: true when it does. Anonymous pipes offer no waitable
// readiness, so the wait looks again after yielding the processor, briefly
// at first and then a millisecond at a time.
bool awaitReadable(HANDLE handle, std::chrono::steady_clock::time_point deadline) {
    for (int round = 0;; ++round) {
        if (available(handle) != 0)
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        ::Sleep(round < 64 ? 0 : 1);
    }
}

std::chrono::steady_clock::time_point deadlineAfter(int milliseconds) {
    return std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(milliseconds, 0));
}

// Ends this process when it outlives every bounded wait of its parent.
void armChildWatchdog() {
    std::thread([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(kWaitMilliseconds + 5000));
        std::fprintf(stderr, "child process outlived its watchdog\n");
        std::fflush(nullptr);
        ::TerminateProcess(::GetCurrentProcess(), 128 + 14);
    }).detach();
}

}  // namespace

const int kKilled = 128 + 9;

void PipeEnd::send(char byte) {
    DWORD written = 0;
    if (isOpen())
        static_cast<void>(::WriteFile(handleOf(handle_), &byte, 1, &written, nullptr));
}

bool PipeEnd::sendAll(const std::string &bytes) {
    std::size_t sent = 0;
    while (isOpen() && sent < bytes.size()) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - sent, 1 << 20));
        if (!::WriteFile(handleOf(handle_), bytes.data() + sent, chunk, &written, nullptr) ||
            written == 0)
            return false;
        sent += written;
    }
    return sent == bytes.size();
}

int PipeEnd::receive(int milliseconds) {
    char byte;
    DWORD got = 0;
    if (!isOpen() || !awaitReadable(handleOf(handle_), deadlineAfter(milliseconds)) ||
        !::ReadFile(handleOf(handle_), &byte, 1, &got, nullptr) || got != 1)
        return -1;
    return static_cast<unsigned char>(byte);
}

std::string PipeEnd::receiveAll(int milliseconds) {
    std::string bytes;
    char buffer[4096];
    // Each read waits up to `milliseconds`, as the POSIX twin's poll does.
    while (isOpen() && awaitReadable(handleOf(handle_), deadlineAfter(milliseconds))) {
        DWORD got = 0;
        if (!::ReadFile(handleOf(handle_), buffer, sizeof(buffer), &got, nullptr) || got == 0)
            break;
        bytes.append(buffer, got);
    }
    return bytes;
}

std::string PipeEnd::receiveSome(int milliseconds) {
    char buffer[4096];
    DWORD got = 0;
    if (!isOpen() || !awaitReadable(handleOf(handle_), deadlineAfter(milliseconds)) ||
        !::ReadFile(handleOf(handle_), buffer, sizeof(buffer), &got, nullptr))
        return std::string();
    return std::string(buffer, got);
}

bool PipeEnd::becomeStandardOutput() {
    if (!isOpen())
        return false;
    std::fflush(stdout);
    // The C runtime's descriptor takes the handle over; descriptor 1 and the
    // process's standard handle then both write to the pipe.
    const int descriptor = ::_open_osfhandle(handle_.value, _O_WRONLY | _O_BINARY);
    if (descriptor < 0) {
        close();
        return false;
    }
    handle_ = PipeHandle{};
    const bool moved = ::_dup2(descriptor, 1) == 0;
    ::_close(descriptor);
    if (moved)
        ::SetStdHandle(STD_OUTPUT_HANDLE, reinterpret_cast<HANDLE>(::_get_osfhandle(1)));
    return moved;
}

void PipeEnd::close() {
    if (isOpen())
        ::CloseHandle(handleOf(handle_));
    handle_ = PipeHandle{};
}

Pipe::Pipe() {
    HANDLE read = nullptr, write = nullptr;
    if (!::CreatePipe(&read, &write, nullptr, 0))
        std::abort();
    read_ = PipeEnd(pipeHandle(read));
    write_ = PipeEnd(pipeHandle(write));
}

ChildContext::ChildContext(std::vector<std::string> args, std::vector<PipeHandle> ends)
    : args_(std::move(args)) {
    for (const PipeHandle end : ends) {
        // Handed-over ends are not passed on to what this child starts.
        ::SetHandleInformation(handleOf(end), HANDLE_FLAG_INHERIT, 0);
        ends_.emplace_back(end);
    }
}

bool runChildIfAsked(int argc, char **argv, int &status) {
    if (argc >= 2 && std::string_view(argv[1]).starts_with(kExitOption)) {
        status = std::atoi(argv[1] + kExitOption.size());
        return true;
    }
    if (!bodies::namesBody(argc, argv))
        return false;
    armChildWatchdog();
    // Standard streams in binary mode, as on POSIX hosts: what a body writes
    // reaches its parent byte for byte.
    ::_setmode(0, _O_BINARY);
    ::_setmode(1, _O_BINARY);
    ::_setmode(2, _O_BINARY);
    status = bodies::runNamedBody(argc, argv);
    return true;
}

Child::Child(const char *name, ChildStart start) {
    const std::string self = selfPath();
    const std::vector<std::string> argv = bodies::commandLine(self, name, start.ends, start.args);
    DWORD pid = 0;
    OwnedHandle process = spawn(self, argv, start.ends, start.environment, start, &pid);
    if (!process)
        std::abort();
    // This object closes the handle from here on.
    process_ = reinterpret_cast<std::intptr_t>(process.release());
    id_ = pid;
}

Child::Child(const ProgramArgs &program, const ChildStart &start) {
    DWORD pid = 0;
    OwnedHandle process;
    if (!program.argv.empty())
        process =
            spawn(program.argv.front(), program.argv, start.ends, start.environment, start, &pid);
    if (!process) {
        const std::string self = selfPath();
        process = spawn(self, {self, std::string(kExitOption) + "127"}, {}, {}, {}, &pid);
    }
    if (!process)
        std::abort();
    process_ = reinterpret_cast<std::intptr_t>(process.release());
    id_ = pid;
}

Child::Child(const std::function<int()> &) {
    std::fprintf(stderr,
                 "this host cannot copy a process: the test must skip where "
                 "forkingHost() is false\n");
    std::abort();
}

Child::~Child() {
    if (process_ > 0) {
        kill();
        ::WaitForSingleObject(reinterpret_cast<HANDLE>(process_), kWaitMilliseconds);
        ::CloseHandle(reinterpret_cast<HANDLE>(process_));
    }
}

int Child::wait(int milliseconds) {
    if (process_ <= 0)
        return -1;
    const int status = waitFor(reinterpret_cast<HANDLE>(process_), milliseconds);
    if (status != -1) {
        ::CloseHandle(reinterpret_cast<HANDLE>(process_));
        process_ = -1;
    }
    return status;
}

void Child::kill() {
    if (process_ > 0)
        ::TerminateProcess(reinterpret_cast<HANDLE>(process_), static_cast<UINT>(kKilled));
}

ProgramArgs childProgram(const char *name, std::vector<std::string> args) {
    return ProgramArgs{bodies::commandLine(selfPath(), name, {}, args)};
}

bool forkingHost() {
    return false;
}

bool fileSizeLimitHost() {
    return false;
}

int runProgram(const std::vector<std::string> &argv, const EnvironmentChanges &environment) {
    if (argv.empty())
        return -1;
    OwnedHandle process = spawn(argv.front(), argv, {}, environment, {}, nullptr);
    if (!process)
        return -1;
    const int status = waitFor(process.get(), kWaitMilliseconds);
    if (status == -1) {
        ::TerminateProcess(process.get(), static_cast<UINT>(kKilled));
        ::WaitForSingleObject(process.get(), kWaitMilliseconds);
    }
    return status;
}

bool receiveAllOf(const std::vector<std::pair<PipeHandle, std::string *>> &sources,
                  int milliseconds) {
    const auto deadline = deadlineAfter(milliseconds);
    std::vector<std::pair<PipeHandle, std::string *>> open = sources;
    for (int round = 0; !open.empty(); ++round) {
        bool progressed = false;
        for (std::size_t i = open.size(); i-- > 0;) {
            const HANDLE handle = handleOf(open[i].first);
            const long long waiting = available(handle);
            if (waiting == 0)
                continue;
            char buffer[4096];
            DWORD got = 0;
            if (waiting > 0 && ::ReadFile(handle, buffer, sizeof buffer, &got, nullptr) && got > 0)
                open[i].second->append(buffer, got);
            else
                open.erase(open.begin() + static_cast<std::ptrdiff_t>(i));
            progressed = true;
        }
        if (progressed) {
            round = 0;
            continue;
        }
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        ::Sleep(round < 64 ? 0 : 1);
    }
    return true;
}

SharedMemory::SharedMemory(std::size_t size) : size_(size), creator_(true) {
    static std::atomic<unsigned> made{0};
    name_ = "korvo-test." + std::to_string(::GetCurrentProcessId()) + "." + std::to_string(made++);
    const std::uint64_t bytes = size_;
    const HANDLE mapping = ::CreateFileMappingA(
        INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, static_cast<DWORD>(bytes >> 32),
        static_cast<DWORD>(bytes & 0xffffffffu), (std::string(kMappingPrefix) + name_).c_str());
    if (mapping == nullptr || ::GetLastError() == ERROR_ALREADY_EXISTS)
        std::abort();
    data_ = ::MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, size_);
    if (data_ == nullptr)
        std::abort();
    // The name lasts only while a handle to the mapping is open (a view does
    // not keep it under Wine): the creator holds one until its object goes.
    object_ = reinterpret_cast<std::intptr_t>(mapping);
}

SharedMemory::SharedMemory(const std::string &name, std::size_t size)
    : name_(name), size_(size), creator_(false) {
    const HANDLE mapping = ::OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE,
                                              (std::string(kMappingPrefix) + name_).c_str());
    if (mapping == nullptr)
        std::abort();
    data_ = ::MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, size_);
    ::CloseHandle(mapping);
    if (data_ == nullptr)
        std::abort();
}

SharedMemory::~SharedMemory() {
    ::UnmapViewOfFile(data_);
    if (object_ != 0)
        ::CloseHandle(reinterpret_cast<HANDLE>(object_));
}

}  // namespace korvo::test
