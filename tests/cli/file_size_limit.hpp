// Runs the korvo program with a limit on the size of the files it writes
// (RLIMIT_FSIZE): the write, or in-kernel copy, that would pass it raises
// SIGXFSZ and the process dies there, in the middle of its work, at a byte
// the test chooses, without any timing. No core file is written.
#pragma once

#include <sys/resource.h>

#include "cli_test_support.hpp"

namespace cli_test {

// The exit code of `korvo args...` with files limited to `bytes` (128 +
// the signal when one ended it); its output and error are dropped.
inline int korvo_with_file_limit(const std::vector<std::string> &args, const Options &options,
                                 rlim_t bytes) {
    const pid_t child = fork();
    if (child == 0) {
        const rlimit size{bytes, bytes}, core{0, 0};
        if (setrlimit(RLIMIT_FSIZE, &size) != 0 || setrlimit(RLIMIT_CORE, &core) != 0)
            _exit(126);
        const int devnull = open("/dev/null", O_RDWR);
        dup2(devnull, STDIN_FILENO);
        dup2(devnull, STDOUT_FILENO);
        dup2(devnull, STDERR_FILENO);
        detail::exec_program(KORVO_PROGRAM, args, options);
    }
    return detail::wait_exit(child);
}

}  // namespace cli_test
