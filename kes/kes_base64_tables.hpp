// Lookup tables of the Base64 codec, built at compile time.
#pragma once

#include <array>
#include <cstdint>

namespace korvo::kes::base64 {

inline constexpr char kDigits[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

inline constexpr uint8_t kNotDigit = 254;
inline constexpr uint8_t kPadding = 255;

// Digit value of every byte: a digit and the byte 128 above it give the
// digit's value, '=' and the byte 128 above it kPadding, every other byte
// kNotDigit.
inline constexpr std::array<uint8_t, 256> kValues = [] {
    std::array<uint8_t, 256> values{};
    values.fill(kNotDigit);
    for (int i = 0; i < 64; ++i) {
        const auto digit = static_cast<unsigned char>(kDigits[i]);
        values[digit] = static_cast<uint8_t>(i);
        values[digit + 128] = static_cast<uint8_t>(i);
    }
    values['='] = kPadding;
    values['=' + 128] = kPadding;
    return values;
}();

// The white space a decoder skips: the values 7 to 13 and the space.
inline constexpr bool isWhiteSpace(unsigned char c) {
    return (c >= 7 && c <= 13) || c == ' ';
}

// Two characters for every 12-bit value, so that encoding 3 bytes takes two
// lookups.
struct DigitPair {
    char first;
    char second;
};
inline constexpr std::array<DigitPair, 4096> kPairs = [] {
    std::array<DigitPair, 4096> pairs{};
    for (int i = 0; i < 4096; ++i)
        pairs[i] = DigitPair{kDigits[i >> 6], kDigits[i & 63]};
    return pairs;
}();

// Decoding 4 characters at a time: kShifted[p][c] is the value of character
// c in place p of a group, shifted into its place of the group's 24 bits, or
// kSpecial for anything that is not a plain digit (white space, padding,
// other bytes), which the careful path handles.
inline constexpr uint32_t kSpecial = 0x80000000u;
inline constexpr std::array<std::array<uint32_t, 256>, 4> kShifted = [] {
    std::array<std::array<uint32_t, 256>, 4> shifted{};
    for (int place = 0; place < 4; ++place) {
        for (int c = 0; c < 256; ++c) {
            const uint8_t value = kValues[c];
            shifted[place][c] = value < 64 ? uint32_t{value} << (18 - 6 * place) : kSpecial;
        }
    }
    return shifted;
}();

}  // namespace korvo::kes::base64
