// The cli tests' host calls on POSIX hosts: the pseudo-terminal run
// (forkpty, the handlers a process installed as /proc shows them), and
// processes found by their number through /proc.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <sstream>
#include <stdexcept>

#include "cli_test_support.hpp"

extern char **environ;

namespace cli_test {
namespace {

std::vector<std::string> environment(const Options &options) {
    std::map<std::string, std::string> merged;
    for (char **item = environ; *item != nullptr; ++item) {
        std::string text = *item;
        size_t equals = text.find('=');
        if (equals != std::string::npos)
            merged[text.substr(0, equals)] = text.substr(equals + 1);
    }
    for (const auto &[name, value] : options.env)
        merged[name] = value;
    std::vector<std::string> result;
    for (const auto &[name, value] : merged)
        result.push_back(name + "=" + value);
    return result;
}

// In the forked child: becomes `program args...`.
[[noreturn]] void exec_program(const char *program, const std::vector<std::string> &args,
                               const Options &options) {
    std::vector<std::string> env = environment(options);
    std::vector<char *> argv{const_cast<char *>(program)};
    for (const std::string &arg : args)
        argv.push_back(const_cast<char *>(arg.c_str()));
    argv.push_back(nullptr);
    std::vector<char *> envp;
    for (std::string &item : env)
        envp.push_back(item.data());
    envp.push_back(nullptr);
    execve(program, argv.data(), envp.data());
    _exit(127);
}

int wait_exit(pid_t child) {
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Reads the terminal until its last writer left or the deadline passes
// (then the child is killed and the test fails).
void drain(pid_t child, int fd, std::string &sink, int seconds) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    for (;;) {
        pollfd polled{fd, POLLIN, 0};
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || poll(&polled, 1, static_cast<int>(left.count())) == 0) {
            kill(child, SIGKILL);
            ADD_FAILURE() << "the program did not end within " << seconds << " s";
            return;
        }
        char buffer[4096];
        ssize_t got = read(fd, buffer, sizeof buffer);
        if (got > 0) {
            sink.append(buffer, static_cast<size_t>(got));
        } else if (got == 0 || errno != EINTR) {  // EIO: the terminal's last writer left
            close(fd);
            return;
        }
    }
}

// The fields of /proc/<pid>/stat after the command's name: state, parent.
bool process_state(std::int64_t pid, char &state, std::int64_t &parent) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    size_t close = text.rfind(')');
    if (close == std::string::npos)
        return false;
    std::istringstream rest(text.substr(close + 2));
    return static_cast<bool>(rest >> state >> parent);
}

}  // namespace

bool runningChildOf(std::int64_t pid, std::int64_t parent) {
    char state = 0;
    std::int64_t found = 0;
    return pid > 0 && process_state(pid, state, found) && found == parent && state != 'Z';
}

bool killProcess(std::int64_t pid) {
    return pid > 0 && ::kill(static_cast<pid_t>(pid), SIGKILL) == 0;
}

std::string fullDevice() {
    return "/dev/full";
}

bool terminalHost() {
    return true;
}

TerminalRun::TerminalRun(const std::vector<std::string> &args, const Options &options,
                         unsigned short columns)
    : options_(options) {
    struct winsize size = {24, columns, 0, 0};
    const pid_t child = forkpty(&master_, nullptr, nullptr, &size);
    if (child < 0)
        throw std::runtime_error("forkpty");
    if (child == 0)
        exec_program(KORVO_PROGRAM, args, options);
    child_ = child;
}

TerminalRun::~TerminalRun() {
    if (child_ > 0 && !finished_) {
        ::kill(static_cast<pid_t>(child_), SIGKILL);
        wait_exit(static_cast<pid_t>(child_));
    }
    if (master_ >= 0 && !finished_)
        ::close(master_);
}

bool TerminalRun::catchesInterrupt(int seconds) const {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < deadline) {
        std::ifstream status("/proc/" + std::to_string(child_) + "/status");
        std::string line;
        while (std::getline(status, line))
            if (line.rfind("SigCgt:", 0) == 0 &&
                (std::stoull(line.substr(7), nullptr, 16) >> (SIGINT - 1) & 1))
                return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

bool TerminalRun::interrupt() {
    return ::kill(static_cast<pid_t>(child_), SIGINT) == 0;
}

Outcome TerminalRun::finish() {
    Outcome run;
    drain(static_cast<pid_t>(child_), master_, run.out, options_.timeout_seconds);
    run.exit_code = wait_exit(static_cast<pid_t>(child_));
    finished_ = true;
    return run;
}

}  // namespace cli_test
