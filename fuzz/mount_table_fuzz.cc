// Fuzzes the reading of the mount table for the CD search: whatever the
// text, the mount points found are at most one per line, hold no NUL, and a
// table that names them again (escaped as the kernel escapes) gives them
// back unchanged.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.hpp"
#include "stream/mount_table.hpp"

namespace {

// A blank, tab, line feed or backslash as a backslash and three octal digits.
std::string escaped(const std::string &point) {
    std::string text;
    for (const char c : point) {
        if (c == ' ' || c == '\t' || c == '\n' || c == '\\') {
            char code[5];
            std::snprintf(code, sizeof code, "\\%03o", static_cast<unsigned char>(c));
            text += code;
        } else {
            text += c;
        }
    }
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    using korvo::fuzz::check;
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    const auto points = korvo::stream::cd_mount_points(text);
    check(points.size() <= static_cast<size_t>(std::count(text.begin(), text.end(), '\n')) + 1);
    std::string table;
    for (const std::string &point : points) {
        check(!point.empty() && point.find('\0') == std::string::npos);
        table += "/dev/sr0 " + escaped(point) + " udf ro 0 0\n";
    }
    check(korvo::stream::cd_mount_points(table) == points);
    return 0;
}
