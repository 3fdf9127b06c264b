// The Base64 codec. Both directions work on whole groups through lookup
// tables: encoding turns 6 bytes into 8 characters per step with four 12-bit
// lookups; decoding turns 8 plain digits into 6 bytes per step and leaves
// every group that holds anything else (white space, padding, bytes outside
// the alphabet) to a careful path that follows the character-by-character
// rules exactly.
#include "kes/kes_base64.h"

#include <bit>
#include <cstddef>
#include <cstring>

#include "kes/kes_base64_tables.hpp"
#include "kes/kes_memory.h"
#include "kes/kes_status.hpp"

extern "C" const char Base64Digits[65] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

namespace {

using korvo::kes::FillStatus;

using namespace korvo::kes::base64;

constexpr bool kLittleEndian = std::endian::native == std::endian::little;

uint64_t loadBigEndian64(const unsigned char *in) {
    uint64_t word;
    std::memcpy(&word, in, sizeof word);
    return kLittleEndian ? __builtin_bswap64(word) : word;
}

// Stores all 8 bytes of `word`, most significant first; callers use the
// leading ones and leave room for the rest.
void storeBigEndian64(unsigned char *out, uint64_t word) {
    if constexpr (kLittleEndian)
        word = __builtin_bswap64(word);
    std::memcpy(out, &word, sizeof word);
}

// The 4 characters of 1 to 3 bytes (`count`); bytes past the count are taken
// as 0 and their characters become padding.
void encodeGroup(const unsigned char bytes[3], int count, char *out) {
    const unsigned b0 = bytes[0];
    const unsigned b1 = count >= 2 ? bytes[1] : 0;
    const unsigned b2 = count >= 3 ? bytes[2] : 0;
    out[0] = kDigits[b0 >> 2];
    out[1] = kDigits[((b0 << 4) | (b1 >> 4)) & 63];
    out[2] = count == 1 ? '=' : kDigits[((b1 << 2) | (b2 >> 6)) & 63];
    out[3] = count == 1 || count == 2 ? '=' : kDigits[b2 & 63];
}

void putPair(char *out, uint32_t twelveBits) {
    std::memcpy(out, &kPairs[twelveBits], 2);
}

// Writes the 4 * ceil(length / 3) characters of `in`.
void encodeAll(const unsigned char *in, size_t length, char *out) {
    size_t i = 0;
    for (; length - i >= 8; i += 6, out += 8) {  // reads 8 bytes, uses 6
        const uint64_t word = loadBigEndian64(in + i);
        const auto high = static_cast<uint32_t>(word >> 40);
        const auto low = static_cast<uint32_t>(word >> 16) & 0xffffff;
        putPair(out, high >> 12);
        putPair(out + 2, high & 0xfff);
        putPair(out + 4, low >> 12);
        putPair(out + 6, low & 0xfff);
    }
    for (; length - i >= 3; i += 3, out += 4) {
        const uint32_t bits = uint32_t{in[i]} << 16 | uint32_t{in[i + 1]} << 8 | in[i + 2];
        putPair(out, bits >> 12);
        putPair(out + 2, bits & 0xfff);
    }
    if (length > i) {
        unsigned char rest[3] = {0, 0, 0};
        std::memcpy(rest, in + i, length - i);
        encodeGroup(rest, static_cast<int>(length - i), out);
    }
}

// The 3 bytes of 4 digit values, each kept to its low 8 bits.
void decodeGroup(const uint8_t value[4], unsigned char *out) {
    out[0] = static_cast<unsigned char>(value[0] << 2 | ((value[1] >> 4) & 3));
    out[1] = static_cast<unsigned char>(value[1] << 4 | ((value[2] >> 2) & 15));
    out[2] = static_cast<unsigned char>(value[2] << 6 | (value[3] & 63));
}

uint32_t shiftedGroup(const unsigned char *in) {
    return kShifted[0][in[0]] | kShifted[1][in[1]] | kShifted[2][in[2]] | kShifted[3][in[3]];
}

bool isWhiteSpace(unsigned char c) {
    return (c >= 7 && c <= 13) || c == ' ';
}

// Decodes `length` characters into `out`, which has room for
// 3 * (length / 4) + 8 bytes; returns the number of bytes.
size_t decodeAll(const unsigned char *in, size_t length, unsigned char *out) {
    size_t i = 0;
    size_t produced = 0;
    for (;;) {
        // Plain digits, 8 and then 4 at a time.
        for (; length - i >= 8; i += 8, produced += 6) {
            const uint32_t first = shiftedGroup(in + i);
            const uint32_t second = shiftedGroup(in + i + 4);
            if ((first | second) & kSpecial)
                break;
            storeBigEndian64(out + produced, uint64_t{first} << 40 | uint64_t{second} << 16);
        }
        for (; length - i >= 4; i += 4, produced += 3) {
            const uint32_t bits = shiftedGroup(in + i);
            if (bits & kSpecial)
                break;
            storeBigEndian64(out + produced, uint64_t{bits} << 40);
        }
        if (i >= length)
            return produced;

        // The next group holds something else: gather 4 characters that are
        // not white space.
        uint8_t value[4] = {0, 0, 0, 0};
        int kept = 0;
        while (i < length && kept < 4) {
            const unsigned char c = in[i++];
            if (!isWhiteSpace(c))
                value[kept++] = kValues[c];
        }
        if (kept == 4) {
            // Padding counts as 0 in the last two places and shortens the group.
            int padding = 0;
            for (int place = 2; place < 4; ++place) {
                if (value[place] == kPadding) {
                    value[place] = 0;
                    ++padding;
                }
            }
            decodeGroup(value, out + produced);
            produced += 3 - padding;
            continue;
        }
        // A last group of 2 or 3 characters without padding; a single
        // character carries no whole byte.
        if (kept >= 2) {
            decodeGroup(value, out + produced);
            produced += kept - 1;
        }
        return produced;
    }
}

template <typename Byte>
void allocateWork(Byte **buffer, uint32_t *capacity, uint32_t *count, uint32_t need) {
    if (buffer == nullptr || capacity == nullptr || count == nullptr)
        return;
    if (*capacity < need) {
        KesMemoryFree(*buffer);
        *buffer = nullptr;
        *capacity = 0;
        const uint64_t size = (uint64_t{need} / 4096 + 1) * 4096;
        if (size <= UINT32_MAX) {
            *buffer = static_cast<Byte *>(KesMemoryMalloc(size));
            if (*buffer != nullptr)
                *capacity = static_cast<uint32_t>(size);
        }
    }
    if (*buffer != nullptr)
        std::memset(*buffer, 0, *capacity);
    *count = 0;
}

}  // namespace

extern "C" {

void Encode(const void *data, uint32_t length, char **text, uint32_t *textLength) {
    if (text == nullptr || textLength == nullptr)
        return;
    *text = nullptr;
    *textLength = 0;
    if (data == nullptr || length == 0)
        return;
    const uint64_t characters = 4 * ((uint64_t{length} + 2) / 3);
    if (characters > UINT32_MAX)
        return;
    auto *out = static_cast<char *>(KesMemoryMalloc(characters + 1));
    if (out == nullptr)
        return;
    encodeAll(static_cast<const unsigned char *>(data), length, out);
    out[characters] = '\0';
    *text = out;
    *textLength = static_cast<uint32_t>(characters);
}

KesStatus *Decode(KesStatus *status, const char *text, uint32_t length, unsigned char **data,
                  uint32_t *dataLength) {
    if (status == nullptr)
        return nullptr;
    if (data == nullptr || dataLength == nullptr)
        return FillStatus(status, KES_INVALID);
    *data = nullptr;
    *dataLength = 0;
    if (length == 0)
        return FillStatus(status, KES_OK);
    if (text == nullptr)
        return FillStatus(status, KES_INVALID);
    auto *out = static_cast<unsigned char *>(KesMemoryMalloc(size_t{length} / 4 * 3 + 8));
    if (out == nullptr)
        return FillStatus(status, KES_NO_MEMORY);
    const size_t produced = decodeAll(reinterpret_cast<const unsigned char *>(text), length, out);
    out[produced] = 0;  // not counted; a convenience for callers that print the bytes
    *data = out;
    *dataLength = static_cast<uint32_t>(produced);
    return FillStatus(status, KES_OK);
}

void EncodeToBuffer(Base64Group group, char *out) {
    if (out != nullptr)
        encodeGroup(group.bytes, group.count, out);
}

int DecodeToBuffer(Base64Group group, unsigned char *out) {
    if (out != nullptr)
        decodeGroup(group.bytes, out);
    return 3;
}

void EncodeRaw(unsigned char *out, Base64Group group) {
    if (out == nullptr)
        return;
    const unsigned b0 = group.bytes[0], b1 = group.bytes[1], b2 = group.bytes[2];
    out[0] = static_cast<unsigned char>(b0 >> 2);
    out[1] = static_cast<unsigned char>(((b0 << 4) | (b1 >> 4)) & 63);
    out[2] = static_cast<unsigned char>(((b1 << 2) | (b2 >> 6)) & 63);
    out[3] = static_cast<unsigned char>(b2 & 63);
}

void DecodeRaw(unsigned char *out, Base64Group group) {
    if (out != nullptr)
        decodeGroup(group.bytes, out);
}

int IsBadMimeChar(signed char c) {
    return c >= 0 && isWhiteSpace(static_cast<unsigned char>(c));
}

void Clear(Base64Group *group) {
    if (group != nullptr)
        *group = Base64Group{};
}

KesStatus *init(KesStatus *status) {
    return status == nullptr ? nullptr : FillStatus(status, KES_OK);
}

void AllocEncode(char **buffer, uint32_t *capacity, uint32_t *count, uint32_t need) {
    allocateWork(buffer, capacity, count, need);
}

void AllocDecode(unsigned char **buffer, uint32_t *capacity, uint32_t *count, uint32_t need) {
    allocateWork(buffer, capacity, count, need);
}
}
