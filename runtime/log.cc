// The runtime log: formatting, the level filter, the sink (a file or
// standard error) and capturing for tests. Each kept line is written with a
// single write, so lines of several processes sharing a file do not mix.
#include "runtime/log.h"

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <string>

#include "runtime/host_io.hpp"

namespace korvo::rt {
namespace {

constexpr int32_t kDefaultLevel = LOG_LEVEL_NOTICE;

class Log {
  public:
    Log() { configure(); }
    ~Log() { close_file(); }

    void configure() {
        std::lock_guard guard(lock_);
        env_level_ = kDefaultLevel;
        if (const char *text = std::getenv("KORVO_LOG_LEVEL"); text != nullptr && *text != '\0') {
            char *end = nullptr;
            const long level = std::strtol(text, &end, 10);
            if (*end == '\0' && level >= 0 && level <= 1000)
                env_level_ = static_cast<int32_t>(level);
        }
        if (!level_set_)
            level_.store(env_level_);
        close_file();
        if (const char *path = std::getenv("KORVO_LOG_FILE"); path != nullptr && *path != '\0') {
            fd_ = host::open_append_file(path);
            if (fd_ < 0) {
                const std::string note = "korvo_runtime: cannot open the log file " +
                                         std::string(path) + "; logging to standard error\n";
                write_all(host::standard_error_fd(), note);
            }
        }
    }

    void set_level(int32_t level) {
        std::lock_guard guard(lock_);
        level_set_ = level >= 0;
        level_.store(level >= 0 ? level : env_level_);
    }

    int32_t level() const { return level_.load(std::memory_order_relaxed); }

    void set_capture(LogCaptureFn fn, void *context) {
        std::lock_guard guard(lock_);
        capture_ = fn;
        capture_context_ = context;
        capturing_.store(fn != nullptr);
    }

    // Whether a line of `level` goes anywhere; lets callers skip formatting.
    bool wanted(int32_t level) const {
        return capturing_.load(std::memory_order_relaxed) || level <= this->level();
    }

    void emit(int32_t level, const char *text) {
        thread_local bool inside = false;
        if (inside)
            return;  // a line logged by a capture function
        std::lock_guard guard(lock_);
        if (capture_ != nullptr) {
            inside = true;
            try {
                capture_(capture_context_, level, text);
            } catch (...) {
            }
            inside = false;
            return;
        }
        if (level > this->level())
            return;
        write_all(fd_ >= 0 ? fd_ : host::standard_error_fd(), format_line(level, text));
    }

  private:
    static std::string format_line(int32_t level, const char *text) {
        char stamp[32] = "";
        const std::time_t now = std::time(nullptr);
        std::tm utc{};
        if (host::utc_time(now, &utc))
            std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &utc);
        std::string line = stamp;
        line += ' ';
        line += std::to_string(host::process_id());
        line += " L";
        line += std::to_string(level);
        line += ' ';
        line += text;
        if (line.back() != '\n')
            line += '\n';
        return line;
    }

    static void write_all(int fd, const std::string &line) {
        const char *p = line.data();
        size_t left = line.size();
        while (left > 0) {
            const int64_t written = host::write_some(fd, p, left);
            if (written <= 0)
                return;
            p += written;
            left -= static_cast<size_t>(written);
        }
    }

    void close_file() {
        host::close_file(fd_);
        fd_ = -1;
    }

    std::mutex lock_;
    std::atomic<int32_t> level_{kDefaultLevel};
    int32_t env_level_ = kDefaultLevel;
    bool level_set_ = false;
    int fd_ = -1;
    LogCaptureFn capture_ = nullptr;
    void *capture_context_ = nullptr;
    std::atomic<bool> capturing_{false};
};

Log &log() {
    static Log instance;
    return instance;
}

void vlog(int32_t level, const char *format, va_list arguments) noexcept try {
    Log &sink = log();
    if (format == nullptr || !sink.wanted(level))
        return;
    char small[1024];
    va_list copy;
    va_copy(copy, arguments);
    const int needed = std::vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    if (needed < 0)
        return;
    if (static_cast<size_t>(needed) < sizeof small) {
        sink.emit(level, small);
        return;
    }
    std::string large(static_cast<size_t>(needed) + 1, '\0');
    std::vsnprintf(large.data(), large.size(), format, arguments);
    large.resize(static_cast<size_t>(needed));
    sink.emit(level, large.c_str());
} catch (...) {
    // The log never fails its caller: a line that cannot be made is dropped.
}

}  // namespace
}  // namespace korvo::rt

extern "C" {

void LogQ(const char *format, ...) {
    va_list arguments;
    va_start(arguments, format);
    korvo::rt::vlog(LOG_LEVEL_NOTICE, format, arguments);
    va_end(arguments);
}

void LogMsg(int32_t level, int32_t, int32_t, int32_t, const char *format, ...) {
    va_list arguments;
    va_start(arguments, format);
    korvo::rt::vlog(level, format, arguments);
    va_end(arguments);
}

void log_set_level(int32_t level) {
    korvo::rt::log().set_level(level);
}

int32_t log_get_level(void) {
    return korvo::rt::log().level();
}

void log_configure(void) {
    korvo::rt::log().configure();
}

void log_set_capture(LogCaptureFn fn, void *context) {
    korvo::rt::log().set_capture(fn, context);
}
}
