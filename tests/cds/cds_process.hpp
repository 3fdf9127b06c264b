// Running a program of the CDS tests as a child process with an environment
// of the test's choosing, and reading what it printed. The wait is bounded:
// a child that hangs is killed and the run fails.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "tests/cds_client/cds_test_support.hpp"

extern char **environ;

namespace cds_test {

struct ProgramRun {
    int status = -1;  // exit status; -1 when the child did not end in time
    std::string out;
    std::string err;

    // The library's lines on standard error, each from its "korvo: " on
    // (the runtime log puts a time stamp, the process id and the level in
    // front of its own lines).
    std::vector<std::string> korvo_lines() const {
        std::vector<std::string> lines;
        std::istringstream stream(err);
        for (std::string line; std::getline(stream, line);) {
            const size_t start = line.find("korvo: ");
            if (start != std::string::npos)
                lines.push_back(line.substr(start));
        }
        return lines;
    }
    // The value printed as "<name>=<value>", if any.
    std::optional<std::string> printed(const std::string &name) const {
        std::istringstream stream(out);
        for (std::string line; std::getline(stream, line);)
            if (line.compare(0, name.size() + 1, name + "=") == 0)
                return line.substr(name.size() + 1);
        return std::nullopt;
    }
};

// The environment changes of a run: a value sets the variable, nullopt
// removes it; the rest of the test's environment is inherited.
using EnvChanges = std::map<std::string, std::optional<std::string>>;

inline ProgramRun run_program(const std::string &program, const std::vector<std::string> &arguments,
                              const EnvChanges &changes, const std::string &scratch) {
    std::vector<std::string> environment;
    for (char **entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        if (changes.count(text.substr(0, text.find('='))) == 0)
            environment.push_back(text);
    }
    for (const auto &[name, value] : changes)
        if (value)
            environment.push_back(name + "=" + *value);
    std::vector<char *> env_pointers;
    for (std::string &text : environment)
        env_pointers.push_back(text.data());
    env_pointers.push_back(nullptr);
    std::vector<std::string> argv_text{program};
    argv_text.insert(argv_text.end(), arguments.begin(), arguments.end());
    std::vector<char *> argv_pointers;
    for (std::string &text : argv_text)
        argv_pointers.push_back(text.data());
    argv_pointers.push_back(nullptr);

    const std::string out_path = scratch + "/probe.out";
    const std::string err_path = scratch + "/probe.err";
    ProgramRun run;
    const pid_t pid = ::fork();
    if (pid < 0)
        return run;
    if (pid == 0) {
        const int out = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (out < 0 || err < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0)
            ::_exit(126);
        ::execve(program.c_str(), argv_pointers.data(), env_pointers.data());
        ::_exit(127);
    }
    const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    pollfd ended{pidfd, POLLIN, 0};
    const bool in_time =
        pidfd >= 0 && ::poll(&ended, 1, static_cast<int>(kBoundedWait.count() * 1000)) == 1;
    if (pidfd >= 0)
        ::close(pidfd);
    if (!in_time)
        ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (in_time && WIFEXITED(status))
        run.status = WEXITSTATUS(status);
    run.out = read_file(out_path);
    run.err = read_file(err_path);
    return run;
}

}  // namespace cds_test
