#include "progress_bar.hpp"

#include <algorithm>
#include <cstdlib>

#include "host_system.hpp"
#include "output.hpp"
#include "units.hpp"

namespace korvo::cli {
namespace {

constexpr double kTerminalRedrawSeconds = 0.1;
constexpr double kDefaultPlainInterval = 5;
constexpr double kRateWindowSeconds = 5;
constexpr double kTransientDelaySeconds = 0.5;

double plain_interval() {
    const char *text = std::getenv("KORVO_PROGRESS_INTERVAL");
    if (text == nullptr || *text == '\0')
        return kDefaultPlainInterval;
    char *end = nullptr;
    double seconds = std::strtod(text, &end);
    return end != text && seconds >= 0 ? seconds : kDefaultPlainInterval;
}

// "0.4s" for short work, "3m05s" for long.
std::string elapsed_text(double seconds) {
    if (seconds >= 10)
        return format_duration(seconds);
    char text[16];
    std::snprintf(text, sizeof text, "%.1fs", seconds);
    return text;
}

double seconds_between(std::chrono::steady_clock::time_point a,
                       std::chrono::steady_clock::time_point b) {
    return std::chrono::duration<double>(b - a).count();
}

}  // namespace

ProgressBar::ProgressBar(std::string label, ProgressUnit unit, uint64_t total, bool enabled,
                         std::FILE *out)
    : label_(std::move(label)),
      unit_(unit),
      total_(total),
      enabled_(enabled),
      terminal_(host::is_terminal(fileno(out))),
      out_(out),
      interval_(plain_interval()),
      start_(Clock::now()),
      // On a terminal the first update draws; plain lines wait an interval.
      last_draw_(terminal_ ? start_ - std::chrono::hours(1) : start_) {
    samples_.push_back({start_, 0});
}

ProgressBar::ProgressBar(std::string label, ProgressUnit unit, uint64_t total, bool enabled,
                         Transient)
    : ProgressBar(std::move(label), unit, total, enabled) {
    transient_ = true;
    enabled_ = enabled_ && terminal_;
    last_draw_ = start_ -
                 std::chrono::duration_cast<Clock::duration>(
                     std::chrono::duration<double>(kTerminalRedrawSeconds)) +
                 std::chrono::duration_cast<Clock::duration>(
                     std::chrono::duration<double>(kTransientDelaySeconds));
}

ProgressBar::~ProgressBar() {
    if (transient_)
        clear();
    else if (!finished_)
        finish("stopped");
}

void ProgressBar::clear() {
    std::lock_guard lock(mutex_);
    finished_ = true;
    if (drawn_) {
        std::fprintf(out_, "\r\033[K");
        std::fflush(out_);
        drawn_ = false;
    }
}

void ProgressBar::set_total(uint64_t total) {
    std::lock_guard lock(mutex_);
    total_ = total;
}

void ProgressBar::resume_from(uint64_t done) {
    std::lock_guard lock(mutex_);
    base_ = done;
    done_ = done;
    samples_.assign(1, Sample{start_, done});
}

void ProgressBar::update(uint64_t done) {
    std::lock_guard lock(mutex_);
    if (finished_)
        return;
    Clock::time_point now = Clock::now();
    done_ = done;
    samples_.push_back({now, done});
    while (samples_.size() > 2 && seconds_between(samples_[1].when, now) >= kRateWindowSeconds)
        samples_.pop_front();
    double since = seconds_between(last_draw_, now);
    if (!enabled_ || since < (terminal_ ? kTerminalRedrawSeconds : interval_))
        return;
    draw(now, false, "");
}

void ProgressBar::finish(const std::string &outcome) {
    if (transient_) {
        clear();
        return;
    }
    std::lock_guard lock(mutex_);
    if (finished_)
        return;
    finished_ = true;
    if (enabled_)
        draw(Clock::now(), true, outcome);
}

std::string ProgressBar::amount(uint64_t value) const {
    return unit_ == ProgressUnit::kBytes ? format_bytes(value) : std::to_string(value);
}

double ProgressBar::rate(Clock::time_point now) const {
    const Sample &oldest = samples_.front();
    double seconds = seconds_between(oldest.when, now);
    if (seconds < 0.05)
        return 0;
    return static_cast<double>(done_ - std::min(done_, oldest.done)) / seconds;
}

ProgressBar::Figures ProgressBar::figures(Clock::time_point now) const {
    Figures figures;
    figures.counts = amount(done_);
    if (total_ > 0)
        figures.counts += "/" + amount(total_);
    if (unit_ == ProgressUnit::kEntries)
        figures.counts += " entries";
    double per_second = rate(now);
    figures.rate = unit_ == ProgressUnit::kBytes
                       ? format_bytes(static_cast<uint64_t>(per_second)) + "/s"
                       : std::to_string(static_cast<uint64_t>(per_second)) + " entries/s";
    if (total_ > 0 && per_second > 0 && done_ <= total_)
        figures.left = format_duration(static_cast<double>(total_ - done_) / per_second) + " left";
    if (total_ > 0) {
        char percent[8];
        std::snprintf(percent, sizeof percent, "%3d%%",
                      static_cast<int>(std::min<uint64_t>(100, done_ * 100 / total_)));
        figures.percent = percent;
    }
    return figures;
}

size_t ProgressBar::tail_reserve() const {
    // The widest the figures after the bar get for this total: the amount
    // done is never wider than "1023 MiB" or the total's digits, the rate
    // than "1023 MiB/s" or "999999 entries/s", the estimate than
    // "99h59m left".
    std::string total = amount(total_);
    size_t counts = std::max<size_t>(unit_ == ProgressUnit::kBytes ? 8 : 0, total.size()) + 1 +
                    total.size() + (unit_ == ProgressUnit::kEntries ? 8 : 0);
    size_t rate = unit_ == ProgressUnit::kBytes ? 10 : 16;
    return counts + 2 + rate + 2 + 11;
}

std::string ProgressBar::bar_line(Clock::time_point now, int width) const {
    Figures f = figures(now);
    std::string tail = f.counts + "  " + f.rate + (f.left.empty() ? "" : "  " + f.left);
    // One column stays free: a line that fills the last column makes some
    // terminals wrap, and the next redraw would start on a new line.
    size_t columns = static_cast<size_t>(std::max(width - 1, 1));
    if (total_ == 0)
        return cut_to_width(label_ + "  " + tail, columns);
    // label [####....] 100%  tail. The bar's width depends on the
    // terminal's alone, so it stays put while the figures change.
    long room = static_cast<long>(columns) - static_cast<long>(label_.size() + 2 + 2 + 4 + 2) -
                static_cast<long>(tail_reserve());
    if (room < 10)
        return cut_to_width(label_ + " " + f.percent + "  " + tail, columns);
    int cells = static_cast<int>(std::min(room, 40L));
    int filled = static_cast<int>(static_cast<uint64_t>(cells) * std::min(done_, total_) / total_);
    return cut_to_width(label_ + " [" + std::string(filled, '#') +
                            std::string(cells - filled, '.') + "] " + f.percent + "  " + tail,
                        columns);
}

std::string ProgressBar::plain_line(Clock::time_point now) const {
    Figures f = figures(now);
    std::string line = label_ + ": ";
    if (total_ > 0) {
        std::string percent = f.percent;
        line += percent.erase(0, percent.find_first_not_of(' ')) + " (" + f.counts + ")";
    } else {
        line += f.counts;
    }
    line += ", " + f.rate;
    if (!f.left.empty())
        line += ", " + f.left;
    return line;
}

void ProgressBar::draw(Clock::time_point now, bool final, const std::string &outcome) {
    last_draw_ = now;
    if (final) {
        double elapsed = seconds_between(start_, now);
        std::string line = label_ + " " + outcome + ": " + amount(done_);
        if (total_ > 0)
            line += "/" + amount(total_);
        if (unit_ == ProgressUnit::kEntries)
            line += " entries";
        line += " in " + elapsed_text(elapsed);
        if (elapsed > 0 && unit_ == ProgressUnit::kBytes)
            line +=
                ", " +
                format_bytes(static_cast<uint64_t>((done_ - std::min(done_, base_)) / elapsed)) +
                "/s";
        if (drawn_)
            std::fprintf(out_, "\r\033[K%s\n", line.c_str());
        else
            std::fprintf(out_, "%s\n", line.c_str());
    } else if (terminal_) {
        std::fprintf(out_, "\r\033[K%s",
                     bar_line(now, host::terminal_columns(fileno(out_))).c_str());
        drawn_ = true;
    } else {
        std::fprintf(out_, "%s\n", plain_line(now).c_str());
    }
    std::fflush(out_);
}

}  // namespace korvo::cli
