#include "units.hpp"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "host_system.hpp"

namespace korvo::cli {

std::string format_bytes(uint64_t bytes) {
    static const char *const kUnits[] = {"B", "KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
    if (bytes < 1024)
        return std::to_string(bytes) + " B";
    double value = static_cast<double>(bytes);
    int unit = 0;
    while (value >= 1024 && unit < 6) {
        value /= 1024;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text,
                  value < 10    ? "%.2f %s"
                  : value < 100 ? "%.1f %s"
                                : "%.0f %s",
                  value, kUnits[unit]);
    return text;
}

std::string format_duration(double seconds) {
    if (!(seconds >= 1))  // also NaN
        return "<1s";
    if (seconds > 359999)
        seconds = 359999;  // 99h59m59s: an estimate beyond is no estimate
    auto whole = static_cast<long>(std::lround(seconds));
    char text[32];
    if (whole < 60)
        std::snprintf(text, sizeof text, "%lds", whole);
    else if (whole < 3600)
        std::snprintf(text, sizeof text, "%ldm%02lds", whole / 60, whole % 60);
    else
        std::snprintf(text, sizeof text, "%ldh%02ldm", whole / 3600, whole % 3600 / 60);
    return text;
}

std::string format_local_time(std::time_t when) {
    std::tm local{};
    if (!host::local_time(when, local))
        return std::to_string(static_cast<long long>(when));
    char text[40];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

const char *const kByteAmountForms = "65536, 64K, 1.5M, 2G, 1T";

std::optional<uint64_t> parse_byte_amount(std::string_view text) {
    // Digits with at most one decimal point; strtod alone would take signs,
    // blanks, hexadecimal and "inf".
    size_t digits = 0;
    bool point = false;
    while (digits < text.size() && (std::isdigit(static_cast<unsigned char>(text[digits])) ||
                                    (text[digits] == '.' && !point))) {
        point = point || text[digits] == '.';
        ++digits;
    }
    std::string number(text.substr(0, digits));
    if (number.empty() || number == ".")
        return std::nullopt;
    std::string suffix(text.substr(digits));
    if (suffix.size() > 1 && (suffix.substr(1) == "iB" || suffix.substr(1) == "B"))
        suffix.resize(1);
    static const std::string_view kLetters = "KMGT";
    int power = 0;
    if (suffix == "B") {
        power = 0;
    } else if (suffix.size() == 1) {
        size_t at =
            kLetters.find(static_cast<char>(std::toupper(static_cast<unsigned char>(suffix[0]))));
        if (at == std::string_view::npos)
            return std::nullopt;
        power = static_cast<int>(at) + 1;
    } else if (!suffix.empty()) {
        return std::nullopt;
    }
    long double value = std::strtold(number.c_str(), nullptr) * std::pow(1024.0L, power);
    // 2^64 itself does not fit.
    if (!(value < 18446744073709551616.0L))
        return std::nullopt;
    return static_cast<uint64_t>(value);
}

}  // namespace korvo::cli
