// Child processes, pipes and shared memory of the tests on POSIX hosts: a
// child is /proc/self/exe spawned again, pipe ends are descriptors opened
// close-on-exec and handed over by number, shared memory is a POSIX shared
// memory object. Children that must be copies of the test process fork.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <string_view>
#include <system_error>

#include "tests/support/test_process.hpp"
#include "tests/support/test_process_bodies.hpp"

extern char **environ;

namespace korvo::test {
namespace {

// Starts the program that follows with a file size limit: posix_spawn sets
// no resource limits, so the test program is spawned first, sets them on
// itself and becomes the program (the limits survive the exec). Setting
// them on the started process from outside would race with its first write.
constexpr std::string_view kLimitOption = "--korvo-file-size-limit=";

int fd(PipeHandle handle) {
    return static_cast<int>(handle.value);
}

// Waits for `pid` to end within the bounded wait and reaps it.
int reap(pid_t pid, int milliseconds) {
    const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (pidfd >= 0) {
        pollfd ended{pidfd, POLLIN, 0};
        const int ready = ::poll(&ended, 1, milliseconds);
        ::close(pidfd);
        if (ready != 1)
            return -1;
    }
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Starts `argv` with the descriptors `ends` kept open at their numbers and
// `overrides` set in the environment; -1 when it cannot start.
pid_t spawn(const std::string &path, const std::vector<std::string> &argv,
            const std::vector<PipeHandle> &ends, const EnvironmentChanges &overrides,
            const ChildStart &output = {}) {
    std::vector<std::string> environment;
    for (char **entry = environ; *entry != nullptr; ++entry) {
        const std::string_view text(*entry);
        const std::string name(text.substr(0, text.find('=')));
        if (!overrides.contains(name))
            environment.emplace_back(text);
    }
    for (const auto &[name, value] : overrides)
        if (value)
            environment.push_back(name + "=" + *value);

    auto pointers = [](const std::vector<std::string> &texts) {
        std::vector<char *> list;
        for (const std::string &text : texts)
            list.push_back(const_cast<char *>(text.c_str()));
        list.push_back(nullptr);
        return list;
    };
    std::vector<char *> args = pointers(argv), env = pointers(environment);

    posix_spawn_file_actions_t actions;
    if (::posix_spawn_file_actions_init(&actions) != 0)
        return -1;
    // A descriptor duplicated onto itself loses its close-on-exec flag.
    for (const PipeHandle end : ends)
        ::posix_spawn_file_actions_adddup2(&actions, fd(end), fd(end));
    if (output.standardOutput)
        ::posix_spawn_file_actions_adddup2(&actions, fd(*output.standardOutput), STDOUT_FILENO);
    else if (!output.outputFile.empty())
        ::posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.outputFile.c_str(),
                                           O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (output.standardError)
        ::posix_spawn_file_actions_adddup2(&actions, fd(*output.standardError), STDERR_FILENO);
    else if (!output.errorFile.empty())
        ::posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, output.errorFile.c_str(),
                                           O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (output.emptyInput)
        ::posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    std::string limited = path, limit;
    if (output.fileSizeLimit) {
        limited = "/proc/self/exe";
        limit = std::string(kLimitOption) + std::to_string(*output.fileSizeLimit);
        args.insert(args.begin(),
                    {const_cast<char *>(limited.c_str()), const_cast<char *>(limit.c_str()),
                     const_cast<char *>(path.c_str())});
    }
    pid_t pid = -1;
    const int failed =
        ::posix_spawn(&pid, limited.c_str(), &actions, nullptr, args.data(), env.data());
    ::posix_spawn_file_actions_destroy(&actions);
    return failed == 0 ? pid : -1;
}

}  // namespace

const int kKilled = 128 + SIGKILL;

void PipeEnd::send(char byte) {
    if (isOpen())
        static_cast<void>(::write(fd(handle_), &byte, 1));
}

bool PipeEnd::sendAll(const std::string &bytes) {
    std::size_t sent = 0;
    while (isOpen() && sent < bytes.size()) {
        const ssize_t n = ::write(fd(handle_), bytes.data() + sent, bytes.size() - sent);
        if (n <= 0)
            return false;
        sent += static_cast<std::size_t>(n);
    }
    return sent == bytes.size();
}

int PipeEnd::receive(int milliseconds) {
    pollfd ready{fd(handle_), POLLIN, 0};
    char byte;
    if (!isOpen() || ::poll(&ready, 1, milliseconds) != 1 || ::read(fd(handle_), &byte, 1) != 1)
        return -1;
    return static_cast<unsigned char>(byte);
}

std::string PipeEnd::receiveAll(int milliseconds) {
    std::string bytes;
    pollfd ready{fd(handle_), POLLIN, 0};
    char buffer[4096];
    while (isOpen() && ::poll(&ready, 1, milliseconds) == 1) {
        const ssize_t n = ::read(fd(handle_), buffer, sizeof(buffer));
        if (n <= 0)
            break;
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
    return bytes;
}

std::string PipeEnd::receiveSome(int milliseconds) {
    pollfd ready{fd(handle_), POLLIN, 0};
    char buffer[4096];
    if (!isOpen() || ::poll(&ready, 1, milliseconds) != 1)
        return std::string();
    const ssize_t n = ::read(fd(handle_), buffer, sizeof(buffer));
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

bool PipeEnd::becomeStandardOutput() {
    const bool moved = isOpen() && ::dup2(fd(handle_), STDOUT_FILENO) == STDOUT_FILENO;
    close();
    return moved;
}

void PipeEnd::close() {
    if (isOpen())
        ::close(fd(handle_));
    handle_ = PipeHandle{};
}

Pipe::Pipe() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        std::abort();
    read_ = PipeEnd(PipeHandle{fds[0]});
    write_ = PipeEnd(PipeHandle{fds[1]});
}

ChildContext::ChildContext(std::vector<std::string> args, std::vector<PipeHandle> ends)
    : args_(std::move(args)) {
    for (const PipeHandle end : ends) {
        // Handed-over ends are not passed on to what this child starts.
        ::fcntl(fd(end), F_SETFD, FD_CLOEXEC);
        ends_.emplace_back(end);
    }
}

// Sets the limits of kLimitOption and becomes `argv[2]` with the arguments
// after it; 126 when a limit cannot be set, 127 when the program cannot start.
namespace {
[[noreturn]] void execLimited(char **argv) {
    const rlim_t bytes = std::strtoull(argv[1] + kLimitOption.size(), nullptr, 10);
    const rlimit size{bytes, bytes}, core{0, 0};
    if (::setrlimit(RLIMIT_FSIZE, &size) != 0 || ::setrlimit(RLIMIT_CORE, &core) != 0)
        ::_exit(126);
    ::execv(argv[2], argv + 3);
    ::_exit(127);
}
}  // namespace

bool runChildIfAsked(int argc, char **argv, int &status) {
    if (argc >= 4 && std::string_view(argv[1]).starts_with(kLimitOption))
        execLimited(argv);
    if (!bodies::namesBody(argc, argv))
        return false;
    // The watchdog: a child that outlives every bounded wait ends itself.
    ::alarm(kWaitMilliseconds / 1000 + 5);
    status = bodies::runNamedBody(argc, argv);
    return true;
}

Child::Child(const char *name, ChildStart start) {
    const std::vector<std::string> argv =
        bodies::commandLine("/proc/self/exe", name, start.ends, start.args);
    process_ = spawn("/proc/self/exe", argv, start.ends, start.environment, start);
    if (process_ < 0)
        std::abort();
    id_ = process_;
}

Child::Child(const ProgramArgs &program, const ChildStart &start) {
    // A program that cannot start ends as the shell's "not found" would.
    process_ = program.argv.empty() ? -1
                                    : spawn(program.argv.front(), program.argv, start.ends,
                                            start.environment, start);
    if (process_ < 0)
        process_ = spawn("/bin/sh", {"/bin/sh", "-c", "exit 127"}, {}, {});
    if (process_ < 0)
        std::abort();
    id_ = process_;
}

Child::~Child() {
    if (process_ > 0) {
        kill();
        ::waitpid(static_cast<pid_t>(process_), nullptr, 0);
    }
}

int Child::wait(int milliseconds) {
    if (process_ <= 0)
        return -1;
    const int status = reap(static_cast<pid_t>(process_), milliseconds);
    if (status != -1)
        process_ = -1;
    return status;
}

void Child::kill() {
    if (process_ > 0)
        ::kill(static_cast<pid_t>(process_), SIGKILL);
}

Child::Child(const std::function<int()> &body) {
    const pid_t pid = ::fork();
    if (pid < 0)
        std::abort();
    if (pid == 0) {
        ::alarm(kWaitMilliseconds / 1000 + 5);
        int status = 125;
        try {
            status = body();
        } catch (const std::exception &e) {
            std::fprintf(stderr, "child process threw: %s\n", e.what());
        } catch (...) {
            std::fprintf(stderr, "child process threw\n");
        }
        // Not exit(): the copied frames of the test must not unwind, nor the
        // test program's exit handlers run a second time.
        ::_exit(status);
    }
    process_ = id_ = pid;
}

ProgramArgs childProgram(const char *name, std::vector<std::string> args) {
    std::error_code error;
    return ProgramArgs{bodies::commandLine(
        std::filesystem::read_symlink("/proc/self/exe", error).string(), name, {}, args)};
}

bool forkingHost() {
    return true;
}

bool fileSizeLimitHost() {
    return true;
}

int runProgram(const std::vector<std::string> &argv, const EnvironmentChanges &environment) {
    if (argv.empty())
        return -1;
    const pid_t pid = spawn(argv.front(), argv, {}, environment);
    if (pid < 0)
        return -1;
    const int status = reap(pid, kWaitMilliseconds);
    if (status == -1) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
    return status;
}

bool receiveAllOf(const std::vector<std::pair<PipeHandle, std::string *>> &sources,
                  int milliseconds) {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    std::vector<std::pair<PipeHandle, std::string *>> open = sources;
    while (!open.empty()) {
        std::vector<pollfd> polled;
        for (const auto &[handle, sink] : open)
            polled.push_back({fd(handle), POLLIN, 0});
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0)
            return false;
        const int ready = ::poll(polled.data(), polled.size(), static_cast<int>(left));
        if (ready == 0)
            return false;
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        for (std::size_t i = polled.size(); i-- > 0;) {
            if (polled[i].revents == 0)
                continue;
            char buffer[4096];
            const ssize_t got = ::read(polled[i].fd, buffer, sizeof buffer);
            if (got > 0)
                open[i].second->append(buffer, static_cast<std::size_t>(got));
            else if (got == 0 || errno != EINTR)
                open.erase(open.begin() + static_cast<std::ptrdiff_t>(i));
        }
    }
    return true;
}

SharedMemory::SharedMemory(std::size_t size) : size_(size), creator_(true) {
    static std::atomic<unsigned> made{0};
    name_ = "/korvo-test." + std::to_string(::getpid()) + "." + std::to_string(made++);
    const int object = ::shm_open(name_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (object < 0 || ::ftruncate(object, static_cast<off_t>(size_)) != 0)
        std::abort();
    data_ = ::mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_SHARED, object, 0);
    ::close(object);
    if (data_ == MAP_FAILED)
        std::abort();
}

SharedMemory::SharedMemory(const std::string &name, std::size_t size)
    : name_(name), size_(size), creator_(false) {
    const int object = ::shm_open(name_.c_str(), O_RDWR | O_CLOEXEC, 0);
    if (object < 0)
        std::abort();
    data_ = ::mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_SHARED, object, 0);
    ::close(object);
    if (data_ == MAP_FAILED)
        std::abort();
}

SharedMemory::~SharedMemory() {
    ::munmap(data_, size_);
    if (creator_)
        ::shm_unlink(name_.c_str());
}

}  // namespace korvo::test
