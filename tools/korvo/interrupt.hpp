// Ctrl-C (SIGINT), SIGTERM and SIGHUP for long work; on Windows the console
// events Ctrl-C, Ctrl-Break and close, counted as SIGINT, SIGTERM and SIGHUP.
// While an InterruptScope lives, the first such signal only sets a flag
// that the work polls (InterruptScope::requested) so that it can stop at a
// safe point: close its stream (the progress record then says where to
// resume), end a depot walk, release its locks. A short notice goes to standard error at once. A second
// signal ends the process as the signal normally does.
//
// Threads: one scope at a time, made and destroyed on the main thread; the
// flag may be read from any thread.
#pragma once

namespace korvo::cli {

class InterruptScope {
  public:
    // `notice` (a string that outlives the scope) is what the first signal
    // shows; the default tells that the work stops at its next safe point.
    explicit InterruptScope(const char *notice = kStopNotice);
    ~InterruptScope();
    InterruptScope(const InterruptScope &) = delete;
    InterruptScope &operator=(const InterruptScope &) = delete;

    static constexpr const char *kStopNotice =
        "korvo: stopping at the next safe point (press Ctrl-C again to stop at once)";

    // True once a signal arrived.
    static bool requested();
    // The signal that arrived, or 0.
    static int signal();
    // The exit code for the interrupted work: 128 + the signal.
    static int exit_code();
};

}  // namespace korvo::cli
