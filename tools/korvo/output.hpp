// Writing results: JSON documents (--json), aligned text tables, and quoted
// texts that show control bytes instead of sending them to the terminal.
//
// Threads: main thread (standard output).
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

namespace korvo::cli {

using Json = nlohmann::ordered_json;

// The document on standard output, indented, with bytes that are not UTF-8
// replaced (file names and ids are bytes, JSON is text).
void print_json(const Json &document);

// "text" with \", \\, \n, \t and \xNN escapes.
std::string quote_text(std::string_view text);
// A path in quotes, as quote_text shows it; where '\\' separates names
// (Windows, whose names hold no '"' either) it stays as it is, so that
// "C:\work\a.bin" reads as the user wrote it.
std::string quote_path(std::string_view path);
// The text with control bytes shown as \n, \t, \xNN (no quotes).
std::string printable(std::string_view text);

// The columns a terminal gives `text` (UTF-8): two for wide characters
// (CJK, emoji), none for combining marks, one for anything else, including
// each byte that is not UTF-8.
size_t display_width(std::string_view text);
// The longest start of `text` that fits `columns`, never cutting a
// character in two.
std::string cut_to_width(std::string_view text, size_t columns);

// Columns padded to their widest cell (in display columns), two blanks
// apart; the last column is not padded. Cells are shown with printable().
class Table {
  public:
    explicit Table(std::vector<std::string> headings);
    void add(std::vector<std::string> row);
    // Right-aligns the column (numbers).
    void align_right(size_t column);
    void print() const;
    bool empty() const { return rows_.empty(); }

  private:
    std::vector<std::string> headings_;
    std::vector<std::vector<std::string>> rows_;
    std::vector<bool> right_;
};

}  // namespace korvo::cli
