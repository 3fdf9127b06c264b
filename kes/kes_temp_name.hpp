// Names of temporary files: "kes" and eight letters and digits drawn from
// random bits that the host gives (kes_file_temp_<host>.cc). Values only.
//
// Threads: any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace korvo::kes {

inline constexpr char kTempNamePrefix[] = "kes";
inline constexpr size_t kTempRandomLetters = 8;
inline constexpr size_t kTempNameSize = sizeof(kTempNamePrefix) - 1 + kTempRandomLetters + 1;
// Names tried before giving up; with 62^8 names a clash is already rare.
inline constexpr int kTempNameAttempts = 100;

struct TempName {
    char text[kTempNameSize];
};

// Spreads bits that differ only a little (a clock, a counter) over the word.
inline uint64_t MixTempBits(uint64_t x) {
    x += 0x9e3779b97f4a7c15u;
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9u;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebu;
    return x ^ (x >> 31);
}

inline TempName TempNameFrom(uint64_t bits) {
    static constexpr char kLetters[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    TempName name;
    std::memcpy(name.text, kTempNamePrefix, sizeof(kTempNamePrefix) - 1);
    for (size_t i = 0; i < kTempRandomLetters; ++i) {
        name.text[sizeof(kTempNamePrefix) - 1 + i] = kLetters[bits % 62];
        bits /= 62;
    }
    name.text[kTempNameSize - 1] = '\0';
    return name;
}

}  // namespace korvo::kes
