// Capturing log lines in C++ (tests): while a LogCapture lives, every line
// of every level goes to it instead of the log's sink.
//
//   korvo::rt::LogCapture capture;
//   LogMsg(3, 0, 0, -1, "%s", "DepotNew entry\n");
//   EXPECT_EQ(capture.lines(), (std::vector<korvo::rt::LogLine>{{3, "DepotNew entry\n"}}));
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "runtime/log.h"

namespace korvo::rt {

struct LogLine {
    int32_t level;
    std::string text;
    bool operator==(const LogLine &) const = default;
};

class LogCapture {
  public:
    LogCapture() { log_set_capture(&LogCapture::take, this); }
    ~LogCapture() { log_set_capture(nullptr, nullptr); }
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    std::vector<LogLine> lines() const {
        std::lock_guard guard(lock_);
        return lines_;
    }

    // The texts of the lines at `level`, in order.
    std::vector<std::string> texts(int32_t level) const {
        std::lock_guard guard(lock_);
        std::vector<std::string> out;
        for (const LogLine &line : lines_)
            if (line.level == level)
                out.push_back(line.text);
        return out;
    }

    void clear() {
        std::lock_guard guard(lock_);
        lines_.clear();
    }

  private:
    static void take(void *context, int32_t level, const char *text) {
        auto *self = static_cast<LogCapture *>(context);
        std::lock_guard guard(self->lock_);
        self->lines_.push_back(LogLine{level, text});
    }

    mutable std::mutex lock_;
    std::vector<LogLine> lines_;
};

}  // namespace korvo::rt
