// Reading the head of an HTTP answer line by line, as libcurl hands the
// lines over: the status line, then header lines, then an empty line. What
// the client needs from it is the final status code, how the body's end is
// marked (a stated length or chunked transfer coding), and what lets it check
// a package later: the validators (ETag, Last-Modified) and a SHA-256 digest
// of the body when the server states one (Repr-Digest or Content-Digest
// "sha-256=:<base64>:", or Digest "SHA-256=<base64>").
// An interim answer (1xx) or a second status line starts the head anew.
// Anything a server may get wrong (a status line that is not HTTP, a header
// without a colon, a length that is not a decimal number, overflows, two
// different lengths) marks the answer malformed instead of being guessed at.
// Validators that are not printable text or longer than 256 bytes, and
// digests that do not decode to 32 bytes, count as not given.
// Pure text work, no system calls; one object per answer,
// used by one thread.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
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
                reset_headers();
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
    // The validators, empty when not given.
    const std::string &etag() const { return etag_; }
    const std::string &last_modified() const { return last_modified_; }
    // The body's SHA-256, when the server stated one.
    const std::optional<std::array<uint8_t, 32>> &sha256() const { return sha256_; }

    // Longest validator the client keeps.
    static constexpr size_t kMaxValidator = 256;

  private:
    static std::string_view strip_line_end(std::string_view line) {
        if (!line.empty() && line.back() == '\n')
            line.remove_suffix(1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        return line;
    }

    static bool is_digit(char c) { return c >= '0' && c <= '9'; }

    void reset_headers() {
        length_.reset();
        chunked_ = false;
        etag_.clear();
        last_modified_.clear();
        sha256_.reset();
    }

    // A validator is kept byte for byte: printable ASCII, at most 256 bytes.
    static bool usable_validator(std::string_view value) {
        if (value.empty() || value.size() > kMaxValidator)
            return false;
        for (const char c : value)
            if (c < 0x20 || c > 0x7e)
                return false;
        return true;
    }

    static int base64_value(char c) {
        if (c >= 'A' && c <= 'Z')
            return c - 'A';
        if (c >= 'a' && c <= 'z')
            return c - 'a' + 26;
        if (c >= '0' && c <= '9')
            return c - '0' + 52;
        if (c == '+')
            return 62;
        if (c == '/')
            return 63;
        return -1;
    }

    // The 32 bytes of a SHA-256 digest in base64 (44 characters, one '='),
    // or nullopt.
    static std::optional<std::array<uint8_t, 32>> decode_digest(std::string_view text) {
        if (text.size() != 44 || text[43] != '=')
            return std::nullopt;
        std::array<uint8_t, 32> digest{};
        uint32_t bits = 0;
        int held = 0;
        size_t out = 0;
        for (size_t i = 0; i < 43; ++i) {
            const int value = base64_value(text[i]);
            if (value < 0)
                return std::nullopt;
            bits = (bits << 6) | static_cast<uint32_t>(value);
            held += 6;
            if (held >= 8) {
                held -= 8;
                if (out == digest.size())
                    return std::nullopt;
                digest[out++] = static_cast<uint8_t>(bits >> held);
            }
        }
        if (out != digest.size() || (bits & ((1u << held) - 1)) != 0)
            return std::nullopt;
        return digest;
    }

    // The sha-256 member of a digest list: "alg=value, alg=value". In the
    // structured form the value is wrapped in colons.
    static std::optional<std::array<uint8_t, 32>> sha256_member(std::string_view list,
                                                                bool structured) {
        while (!list.empty()) {
            const size_t comma = list.find(',');
            const std::string_view member = trim(list.substr(0, comma));
            list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
            const size_t equals = member.find('=');
            if (equals == std::string_view::npos ||
                !equals_ignoring_case(trim(member.substr(0, equals)), "sha-256"))
                continue;
            std::string_view value = trim(member.substr(equals + 1));
            if (structured) {
                if (value.size() < 2 || value.front() != ':' || value.back() != ':')
                    return std::nullopt;
                value = value.substr(1, value.size() - 2);
            }
            return decode_digest(value);
        }
        return std::nullopt;
    }

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
        reset_headers();
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
        if (equals_ignoring_case(name, "ETag")) {
            etag_ = usable_validator(value) ? std::string(value) : std::string();
            return;
        }
        if (equals_ignoring_case(name, "Last-Modified")) {
            last_modified_ = usable_validator(value) ? std::string(value) : std::string();
            return;
        }
        if (equals_ignoring_case(name, "Repr-Digest") ||
            equals_ignoring_case(name, "Content-Digest") || equals_ignoring_case(name, "Digest")) {
            // The first usable sha-256 the head states is the one kept.
            if (!sha256_)
                sha256_ = sha256_member(value, !equals_ignoring_case(name, "Digest"));
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
    std::string etag_;
    std::string last_modified_;
    std::optional<std::array<uint8_t, 32>> sha256_;
};

}  // namespace cdsclient
