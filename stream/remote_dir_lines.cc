// Reading the lines of the "remote.dir" list.
#include "stream/remote_dir_lines.hpp"

namespace korvo::stream {

namespace {

// The longest line taken: what a 1024-byte buffer holds with its NUL.
constexpr std::size_t kLongestLine = 1023;

}  // namespace

void DirectoryLines::skip_rest() {
    for (int c = std::getc(file_); c != EOF && c != '\n'; c = std::getc(file_)) {
    }
}

bool DirectoryLines::next(std::string &line) {
    for (;;) {
        line.clear();
        int c = std::getc(file_);
        if (c == EOF)
            return false;
        // Room for the longest line and a carriage return before its end.
        while (c != EOF && c != '\n' && line.size() <= kLongestLine + 1) {
            line += static_cast<char>(c);
            c = std::getc(file_);
        }
        const bool whole = c == EOF || c == '\n';
        if (whole && !line.empty() && line.back() == '\r')
            line.pop_back();
        if (!whole || line.size() > kLongestLine) {
            ++skipped_;
            if (!whole)
                skip_rest();
            continue;
        }
        if (!line.empty() && line[0] == '#')
            continue;
        return true;
    }
}

}  // namespace korvo::stream
