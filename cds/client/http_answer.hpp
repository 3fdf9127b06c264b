// Reading the head of an HTTP answer line by line, as libcurl hands the
// lines over: the status line, then header lines, then an empty line. What
// the client needs from it is the final status code and how the body's end
// is marked: by a stated length or by chunked transfer coding.
// An interim answer (1xx) or a second status line starts the head anew.
// Anything a server may get wrong (a status line that is not HTTP, a header
// without a colon, a length that is not a decimal number, overflows, two
// different lengths) marks the answer malformed instead of being guessed at.
// Pure text work: no allocation, no system calls; one object per answer,
// used by one thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace cdsclient {

class HttpAnswer {
  public:
    // Takes one line, with or without its CR LF.
    void take_line(std::string_view line) {
        line = strip_line_end(line);
        if (malformed_ || complete_)
            return;
        if (status_ == 0) {
            take_status_line(line);
            return;
        }
        if (line.empty()) {
            if (status_ < 200) {  // interim answer: the real one follows
                status_ = 0;
                length_.reset();
                chunked_ = false;
            } else {
                complete_ = true;
            }
            return;
        }
        if (line.front() == ' ' || line.front() == '\t')
            return;  // continuation of a folded header: nothing the client reads
        take_header(line);
    }

    // The final status code, 0 until a status line came.
    int status() const { return status_; }
    // The body's length, when the answer stated one.
    std::optional<uint64_t> content_length() const { return length_; }
    // Whether the body comes in chunks (its end is then marked in the body).
    bool chunked() const { return chunked_; }
    // True once the empty line after a final status line came.
    bool complete() const { return complete_; }
    bool malformed() const { return malformed_; }

  private:
    static std::string_view strip_line_end(std::string_view line) {
        if (!line.empty() && line.back() == '\n')
            line.remove_suffix(1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        return line;
    }

    static bool is_digit(char c) { return c >= '0' && c <= '9'; }

    static std::string_view trim(std::string_view text) {
        while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
            text.remove_prefix(1);
        while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
            text.remove_suffix(1);
        return text;
    }

    static bool equals_ignoring_case(std::string_view a, std::string_view b) {
        if (a.size() != b.size())
            return false;
        for (size_t i = 0; i < a.size(); ++i) {
            char x = a[i], y = b[i];
            if (x >= 'A' && x <= 'Z')
                x = static_cast<char>(x - 'A' + 'a');
            if (y >= 'A' && y <= 'Z')
                y = static_cast<char>(y - 'A' + 'a');
            if (x != y)
                return false;
        }
        return true;
    }

    // "HTTP/<version> <three digits>[ <reason>]"
    void take_status_line(std::string_view line) {
        constexpr std::string_view kPrefix = "HTTP/";
        if (line.substr(0, kPrefix.size()) != kPrefix) {
            malformed_ = true;
            return;
        }
        const size_t space = line.find(' ');
        if (space == std::string_view::npos || space == kPrefix.size() || line.size() < space + 4) {
            malformed_ = true;
            return;
        }
        const std::string_view code = line.substr(space + 1, 3);
        if (!is_digit(code[0]) || !is_digit(code[1]) || !is_digit(code[2]) || code[0] == '0' ||
            (line.size() > space + 4 && line[space + 4] != ' ')) {
            malformed_ = true;
            return;
        }
        status_ = (code[0] - '0') * 100 + (code[1] - '0') * 10 + (code[2] - '0');
        length_.reset();
        chunked_ = false;
    }

    void take_header(std::string_view line) {
        const size_t colon = line.find(':');
        if (colon == std::string_view::npos || colon == 0) {
            malformed_ = true;
            return;
        }
        const std::string_view name = line.substr(0, colon);
        const std::string_view value = trim(line.substr(colon + 1));
        if (equals_ignoring_case(name, "Transfer-Encoding")) {
            // The last coding decides how the body ends.
            constexpr std::string_view kChunked = "chunked";
            chunked_ = value.size() >= kChunked.size() &&
                       equals_ignoring_case(value.substr(value.size() - kChunked.size()), kChunked);
            return;
        }
        if (!equals_ignoring_case(name, "Content-Length"))
            return;
        if (value.empty()) {
            malformed_ = true;
            return;
        }
        uint64_t length = 0;
        for (char c : value) {
            if (!is_digit(c) || length > (UINT64_MAX - 9) / 10) {
                malformed_ = true;
                return;
            }
            length = length * 10 + static_cast<uint64_t>(c - '0');
        }
        if (length_ && *length_ != length) {
            malformed_ = true;
            return;
        }
        length_ = length;
    }

    int status_ = 0;
    std::optional<uint64_t> length_;
    bool chunked_ = false;
    bool complete_ = false;
    bool malformed_ = false;
};

}  // namespace cdsclient
