// The exit codes of the korvo command (listed in the README too). A script
// can tell "the command could not run" (1, 2) from "it ran and found
// something" (3, 4), from the gateway's answers (5, 6) and from an
// interrupted run (128 + the signal).
#pragma once

namespace korvo::cli {

enum ExitCode : int {
    kExitOk = 0,            // done
    kExitFailed = 1,        // the operation failed (the message says why)
    kExitUsage = 2,         // the command line is wrong
    kExitNotFound = 3,      // what was asked for does not exist
    kExitProblems = 4,      // verify found problems or stray files
    kExitNoGateway = 5,     // no gateway channel: KORVO_GATEWAY unset, or the channel failed
    kExitRefused = 6,       // the gateway refused an upload or stopped a receive
    kExitInterrupted = 128  // plus the signal's number: 130 for Ctrl-C, 143 for SIGTERM
};

}  // namespace korvo::cli
