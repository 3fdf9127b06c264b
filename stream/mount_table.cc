// The CD file systems of a mount table's text.
#include "stream/mount_table.hpp"

namespace korvo::stream {

namespace {

bool is_blank(char c) {
    return c == ' ' || c == '\t';
}

bool is_octal(char c) {
    return c >= '0' && c <= '7';
}

// A field with its octal escapes ("\040" is a blank) decoded.
std::string decoded(std::string_view field) {
    std::string text;
    text.reserve(field.size());
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && is_octal(field[i + 1]) &&
            is_octal(field[i + 2]) && is_octal(field[i + 3])) {
            text += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 +
                                      (field[i + 3] - '0'));
            i += 3;
        } else {
            text += field[i];
        }
    }
    return text;
}

// The first `count` blank-separated fields of a line (fewer when it has
// fewer).
std::vector<std::string_view> fields(std::string_view line, std::size_t count) {
    std::vector<std::string_view> found;
    std::size_t at = 0;
    while (found.size() < count) {
        while (at < line.size() && is_blank(line[at]))
            ++at;
        if (at == line.size())
            break;
        const std::size_t start = at;
        while (at < line.size() && !is_blank(line[at]))
            ++at;
        found.push_back(line.substr(start, at - start));
    }
    return found;
}

}  // namespace

std::vector<std::string> cd_mount_points(std::string_view table) {
    std::vector<std::string> points;
    while (!table.empty()) {
        const std::size_t end = table.find('\n');
        const std::string_view line = table.substr(0, end);
        table = end == std::string_view::npos ? std::string_view() : table.substr(end + 1);
        const std::vector<std::string_view> parts = fields(line, 3);
        if (parts.size() < 3 || (parts[2] != "iso9660" && parts[2] != "udf"))
            continue;
        std::string point = decoded(parts[1]);
        if (point.find('\0') == std::string::npos)
            points.push_back(std::move(point));
    }
    return points;
}

}  // namespace korvo::stream
