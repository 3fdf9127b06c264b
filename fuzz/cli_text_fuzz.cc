// Fuzzes the korvo command's text readers. The input is any bytes:
// - as a byte amount: parse_byte_amount never crashes, and an amount of
//   digits alone reads as that number;
// - as text to show: cut_to_width gives a start of the text no wider than
//   asked, never cutting a character, and the whole text fits its own
//   display width.
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.hpp"
#include "tools/korvo/output.hpp"
#include "tools/korvo/units.hpp"

using korvo::fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string_view text(reinterpret_cast<const char *>(data), size);

    std::optional<uint64_t> amount = korvo::cli::parse_byte_amount(text);
    if (!text.empty() && text.size() <= 19 && text.find_first_not_of("0123456789") == text.npos)
        check(amount && *amount == std::stoull(std::string(text)));
    if (amount && text.find_first_not_of("0123456789.") == text.npos && text.find('.') == text.npos)
        check(*amount == std::stoull(std::string(text)));

    size_t width = korvo::cli::display_width(text);
    check(width <= 2 * text.size());
    check(korvo::cli::cut_to_width(text, width) == text);
    for (size_t columns : {size_t{0}, size_t{1}, width / 2, width > 0 ? width - 1 : 0}) {
        std::string cut = korvo::cli::cut_to_width(text, columns);
        check(text.substr(0, cut.size()) == cut);
        check(korvo::cli::display_width(cut) <= columns);
        // The cut ends between characters: what follows is measured alone.
        check(korvo::cli::display_width(cut) + korvo::cli::display_width(text.substr(cut.size())) ==
              width);
    }
    return 0;
}
