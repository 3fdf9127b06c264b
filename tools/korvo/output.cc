#include "output.hpp"

#include <cstdio>
#include <iostream>

namespace korvo::cli {

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
        widths[i] = headings_[i].size();
    for (const auto &row : rows_)
        for (size_t i = 0; i < row.size(); ++i)
            widths[i] = std::max(widths[i], row[i].size());
    auto print_row = [&](const std::vector<std::string> &row) {
        std::string line;
        for (size_t i = 0; i < row.size(); ++i) {
            bool last = i + 1 == row.size();
            std::string pad(widths[i] - row[i].size(), ' ');
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
