#include "output.hpp"

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <utility>

#include "host_files.hpp"

namespace korvo::cli {

namespace {

struct Range {
    char32_t first, last;
};

// Characters a terminal shows two columns wide (East Asian wide and full
// width, emoji).
constexpr Range kWide[] = {
    {0x1100, 0x115F},   {0x231A, 0x231B},   {0x2329, 0x232A},   {0x23E9, 0x23EC},
    {0x2E80, 0x303E},   {0x3041, 0x33FF},   {0x3400, 0x4DBF},   {0x4E00, 0x9FFF},
    {0xA000, 0xA4CF},   {0xA960, 0xA97F},   {0xAC00, 0xD7A3},   {0xF900, 0xFAFF},
    {0xFE10, 0xFE19},   {0xFE30, 0xFE6F},   {0xFF00, 0xFF60},   {0xFFE0, 0xFFE6},
    {0x1F300, 0x1F64F}, {0x1F900, 0x1F9FF}, {0x20000, 0x2FFFD}, {0x30000, 0x3FFFD}};
// Characters that take no column of their own (combining marks, zero-width
// spaces and joiners, variation selectors).
constexpr Range kZero[] = {{0x0300, 0x036F}, {0x0483, 0x0489}, {0x0591, 0x05BD},
                           {0x1AB0, 0x1AFF}, {0x1DC0, 0x1DFF}, {0x200B, 0x200F},
                           {0x20D0, 0x20FF}, {0xFE00, 0xFE0F}, {0xFE20, 0xFE2F}};

bool in(const Range *begin, const Range *end, char32_t c) {
    return std::any_of(begin, end, [c](const Range &r) { return c >= r.first && c <= r.last; });
}

// The character at `text[at]`: its length in bytes and its columns. A byte
// that does not start a well-formed UTF-8 sequence is one byte, one column.
std::pair<size_t, size_t> next_character(std::string_view text, size_t at) {
    auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    unsigned char lead = byte(at);
    size_t length = lead < 0x80                   ? 1
                    : lead >= 0xC2 && lead < 0xE0 ? 2
                    : lead >= 0xE0 && lead < 0xF0 ? 3
                    : lead >= 0xF0 && lead < 0xF5 ? 4
                                                  : 0;
    if (length <= 1 || at + length > text.size())
        return {1, 1};
    char32_t c = lead & (0x7F >> length);
    for (size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80)
            return {1, 1};
        c = c << 6 | (byte(at + i) & 0x3F);
    }
    if ((length == 3 && c < 0x800) || (length == 4 && (c < 0x10000 || c > 0x10FFFF)) ||
        (c >= 0xD800 && c <= 0xDFFF))
        return {1, 1};
    if (in(std::begin(kZero), std::end(kZero), c))
        return {length, 0};
    return {length, in(std::begin(kWide), std::end(kWide), c) ? 2 : 1};
}

}  // namespace

size_t display_width(std::string_view text) {
    size_t columns = 0;
    for (size_t at = 0; at < text.size();) {
        auto [length, width] = next_character(text, at);
        columns += width;
        at += length;
    }
    return columns;
}

std::string cut_to_width(std::string_view text, size_t columns) {
    size_t used = 0, at = 0;
    while (at < text.size()) {
        auto [length, width] = next_character(text, at);
        if (used + width > columns)
            break;
        used += width;
        at += length;
    }
    return std::string(text.substr(0, at));
}

void print_json(const Json &document) {
    std::cout << document.dump(2, ' ', false, Json::error_handler_t::replace) << '\n';
}

std::string printable(std::string_view text) {
    std::string shown;
    shown.reserve(text.size());
    for (unsigned char c : text) {
        if (c == '\n') {
            shown += "\\n";
        } else if (c == '\t') {
            shown += "\\t";
        } else if (c < 0x20 || c == 0x7f) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02x", c);
            shown += escape;
        } else {
            shown += static_cast<char>(c);
        }
    }
    return shown;
}

std::string quote_text(std::string_view text) {
    std::string shown = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\')
            shown += '\\';
        shown += c;
    }
    return printable(shown) + "\"";
}

std::string quote_path(std::string_view path) {
    if (!host::kBackslashSeparates)
        return quote_text(path);
    return "\"" + printable(path) + "\"";
}

Table::Table(std::vector<std::string> headings)
    : headings_(std::move(headings)), right_(headings_.size(), false) {}

void Table::add(std::vector<std::string> row) {
    for (std::string &cell : row)
        cell = printable(cell);
    row.resize(headings_.size());
    rows_.push_back(std::move(row));
}

void Table::align_right(size_t column) {
    right_.at(column) = true;
}

void Table::print() const {
    std::vector<size_t> widths(headings_.size());
    for (size_t i = 0; i < headings_.size(); ++i)
        widths[i] = display_width(headings_[i]);
    for (const auto &row : rows_)
        for (size_t i = 0; i < row.size(); ++i)
            widths[i] = std::max(widths[i], display_width(row[i]));
    auto print_row = [&](const std::vector<std::string> &row) {
        std::string line;
        for (size_t i = 0; i < row.size(); ++i) {
            bool last = i + 1 == row.size();
            std::string pad(widths[i] - display_width(row[i]), ' ');
            if (right_[i])
                line += pad + row[i];
            else
                line += last ? row[i] : row[i] + pad;
            if (!last)
                line += "  ";
        }
        std::cout << line << '\n';
    };
    print_row(headings_);
    for (const auto &row : rows_)
        print_row(row);
}

}  // namespace korvo::cli
