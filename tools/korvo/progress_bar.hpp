// The progress display of long work (receive, send, verify, purge). On a
// terminal (standard error is a tty) one line is redrawn in place, at most
// ten times a second, cut to the terminal's width so that it never wraps
// (a wrapped line would leave a new line at each redraw), with a bar whose
// width depends on the terminal's width alone; a terminal too narrow for a
// bar gets the figures only:
//
//   verifying [##########..........]  50%  120/240 entries  800 entries/s  <1s left
//   receiving [###.................]  17%  2.0 MiB/11.7 MiB  4.1 MiB/s  2s left
//
// Otherwise (a pipe, a file, a log) a plain line is written now and then:
// every 5 seconds, or every KORVO_PROGRESS_INTERVAL seconds (0: at every
// update):
//
//   receiving: 17% (2.0 MiB/11.7 MiB), 4.1 MiB/s, 2s left
// Both end with one summary line from finish(). A total of 0 means
// "unknown": the display shows the amount and the rate only.
//
// Threads: update() may be called from any thread (a watcher thread during
// a purge); the display is drawn under the bar's own lock.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>

namespace korvo::cli {

enum class ProgressUnit { kBytes, kEntries };

class ProgressBar {
  public:
    // `enabled` false shows nothing at all (--quiet).
    ProgressBar(std::string label, ProgressUnit unit, uint64_t total, bool enabled = true,
                std::FILE *out = stderr);

    // A display for work that is usually quick (reading a depot before
    // listing it): it appears only on a terminal, only once the work has
    // taken half a second, and goes without a summary line.
    struct Transient {};
    ProgressBar(std::string label, ProgressUnit unit, uint64_t total, bool enabled, Transient);
    ~ProgressBar();
    ProgressBar(const ProgressBar &) = delete;
    ProgressBar &operator=(const ProgressBar &) = delete;

    void set_total(uint64_t total);
    // Work done before this run (a resumed receive): shown in the amount,
    // left out of the rate. Call before the first update.
    void resume_from(uint64_t done);
    // `done` so far (not an increment).
    void update(uint64_t done);
    // The summary line: "<label> <outcome>: 240/240 entries in 1.2s, 200 entries/s".
    // Later updates are ignored. The destructor finishes with "stopped" when
    // nobody did (a transient display is cleared).
    void finish(const std::string &outcome);
    // Ends the display leaving no line behind.
    void clear();

  private:
    using Clock = std::chrono::steady_clock;
    struct Sample {
        Clock::time_point when;
        uint64_t done;
    };

    void draw(Clock::time_point now, bool final, const std::string &outcome);
    std::string amount(uint64_t value) const;
    double rate(Clock::time_point now) const;
    struct Figures {
        std::string counts;   // "2.0 MiB/11.7 MiB", "120/240 entries"
        std::string rate;     // "4.1 MiB/s"
        std::string left;     // "2s left", or empty when unknown
        std::string percent;  // " 17%", or empty when the total is unknown
    };
    Figures figures(Clock::time_point now) const;
    // The widest the figures after the bar can get for the current total.
    size_t tail_reserve() const;
    std::string bar_line(Clock::time_point now, int width) const;
    std::string plain_line(Clock::time_point now) const;

    std::mutex mutex_;
    std::string label_;
    ProgressUnit unit_;
    uint64_t total_;
    uint64_t done_ = 0;
    uint64_t base_ = 0;  // done before this run
    bool enabled_;
    bool terminal_;
    bool finished_ = false;
    bool drawn_ = false;
    bool transient_ = false;
    std::FILE *out_;
    double interval_;
    Clock::time_point start_;
    Clock::time_point last_draw_;
    std::deque<Sample> samples_;
};

}  // namespace korvo::cli
