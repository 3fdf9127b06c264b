// Runs the korvo program with a limit on the size of the files it writes:
// the write, or in-kernel copy, that would pass it ends the process there
// (SIGXFSZ), in the middle of its work, at a byte the test chooses, without
// any timing. No core file is written. Only where
// korvo::test::fileSizeLimitHost() is true: the tests skip elsewhere.
#pragma once

#include <cstdint>

#include "cli_test_support.hpp"
#include "tests/support/test_host.hpp"
#include "tests/support/test_process.hpp"

namespace cli_test {

// The exit code of `korvo args...` with files limited to `bytes` (128 +
// the signal when one ended it: korvo::test::fileSizeExceededStatus() when
// the limit did); its output and error are dropped.
inline int korvo_with_file_limit(const std::vector<std::string> &args, const Options &options,
                                 std::uint64_t bytes) {
    return run_program(KORVO_PROGRAM, args, options, bytes).exit_code;
}

}  // namespace cli_test
