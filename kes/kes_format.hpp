// The rewriting pass of the Kes printf front ends (KesStringSprintf and
// KesFilePrintf): in each conversion the length modifier "ll" becomes the
// host C library's spelling of a 64-bit integer, "I64" for the Windows C
// runtime and "ll" (the text unchanged) for glibc. The pass itself is a pure
// function of the format and that target so both forms can be checked on any
// host.
#pragma once

#include <cstddef>
#include <cstring>
#include <string_view>

#include "kes/kes_block.hpp"

namespace korvo::kes {

// Length modifiers and conversion characters of the printf family. From each
// '%' only the first of these letters is examined.
inline constexpr std::string_view kConversionLetters = "lhdiouxXLeEfgGcCsSpn";

#if defined(_WIN32)
inline constexpr std::string_view kHostLongLong = "I64";
#else
inline constexpr std::string_view kHostLongLong = "ll";
#endif

inline bool IsLongLongAt(std::string_view format, size_t pos) {
    return pos + 1 < format.size() && format[pos] == 'l' && format[pos + 1] == 'l';
}

// Counting pass: the number of '%' whose first conversion letter begins "ll".
// Every '%' is visited, so this is never below the number of replacements
// the copy pass makes.
inline size_t CountLongLong(std::string_view format) {
    size_t count = 0;
    for (size_t pct = format.find('%'); pct != std::string_view::npos;
         pct = format.find('%', pct + 1)) {
        const size_t letter = format.find_first_of(kConversionLetters, pct);
        if (letter != std::string_view::npos && IsLongLongAt(format, letter))
            ++count;
    }
    return count;
}

// Bytes the rewritten format needs, terminator included.
inline size_t RewrittenFormatSize(std::string_view format, std::string_view target) {
    return format.size() + CountLongLong(format) * target.size() + 1;
}

// Copy pass: writes the rewritten format and its terminator into `out`, which
// holds RewrittenFormatSize(format, target) bytes, and returns its length. The
// scan stops at a '%' with no conversion letter after it (a lone '%' at the
// end), and the rest of the format is copied as it stands.
inline size_t RewriteFormat(std::string_view format, std::string_view target, char *out) {
    size_t length = 0;
    auto append = [&](std::string_view piece) {
        if (piece.empty())
            return;
        std::memcpy(out + length, piece.data(), piece.size());
        length += piece.size();
    };
    size_t cursor = 0;
    for (;;) {
        const size_t pct = format.find('%', cursor);
        if (pct == std::string_view::npos)
            break;
        const size_t letter = format.find_first_of(kConversionLetters, pct);
        if (letter == std::string_view::npos)
            break;
        append(format.substr(cursor, letter - cursor));
        if (IsLongLongAt(format, letter)) {
            append(target);
            cursor = letter + 2;
        } else {
            cursor = letter;  // copied with the next piece
        }
    }
    append(format.substr(cursor));
    out[length] = '\0';
    return length;
}

// `format` rewritten for the host's C library, in a Kes block; null when
// memory is exhausted.
KesText HostFormat(const char *format) noexcept;

}  // namespace korvo::kes
