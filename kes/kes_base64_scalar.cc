// The portable kernels of the Base64 codec, and the group rules every
// kernel shares. Encoding turns 6 bytes into 8 characters per step with four
// 12-bit lookups; decoding turns 8 plain digits into 6 bytes per step with
// one lookup per character.
#include <bit>
#include <cstdint>
#include <cstring>

#include "kes/kes_base64_kernels.hpp"
#include "kes/kes_base64_tables.hpp"

namespace korvo::kes::base64 {
namespace {

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

void putPair(char *out, uint32_t twelveBits) {
    std::memcpy(out, &kPairs[twelveBits], 2);
}

void encodeScalar(const unsigned char *in, size_t length, char *out) {
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
        const unsigned char rest[3] = {in[i], length - i == 2 ? in[i + 1] : uint8_t{0}, 0};
        encodeGroup(rest, static_cast<int>(length - i), out);
    }
}

uint32_t shiftedGroup(const unsigned char *in) {
    return kShifted[0][in[0]] | kShifted[1][in[1]] | kShifted[2][in[2]] | kShifted[3][in[3]];
}

size_t decodePlainScalar(const unsigned char *in, size_t length, unsigned char *out, size_t &made) {
    size_t i = 0;
    size_t produced = 0;
    for (;;) {
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
        if (i == length || !isWhiteSpace(in[i]))
            break;
        do  // a line break between two groups
            ++i;
        while (i < length && isWhiteSpace(in[i]));
    }
    made = produced;
    return i;
}

}  // namespace

void encodeGroup(const unsigned char bytes[3], int count, char *out) {
    const unsigned b0 = bytes[0];
    const unsigned b1 = count >= 2 ? bytes[1] : 0;
    const unsigned b2 = count >= 3 ? bytes[2] : 0;
    out[0] = kDigits[b0 >> 2];
    out[1] = kDigits[((b0 << 4) | (b1 >> 4)) & 63];
    out[2] = count == 1 ? '=' : kDigits[((b1 << 2) | (b2 >> 6)) & 63];
    out[3] = count == 1 || count == 2 ? '=' : kDigits[b2 & 63];
}

void decodeValues(const uint8_t value[4], unsigned char *out) {
    out[0] = static_cast<unsigned char>(value[0] << 2 | ((value[1] >> 4) & 3));
    out[1] = static_cast<unsigned char>(value[1] << 4 | ((value[2] >> 2) & 15));
    out[2] = static_cast<unsigned char>(value[2] << 6 | (value[3] & 63));
}

size_t decodeSpecialGroup(const unsigned char *group, unsigned char *out) {
    uint8_t value[4] = {kValues[group[0]], kValues[group[1]], kValues[group[2]], kValues[group[3]]};
    // Padding counts as 0 in the last two places and shortens the group.
    size_t padding = 0;
    for (int place = 2; place < 4; ++place) {
        if (value[place] == kPadding) {
            value[place] = 0;
            ++padding;
        }
    }
    decodeValues(value, out);
    return 3 - padding;
}

size_t decodeTail(const unsigned char *tail, size_t count, unsigned char *out) {
    if (count < 2)
        return 0;  // a single character carries no whole byte
    uint8_t value[4] = {kValues[tail[0]], kValues[tail[1]], 0, 0};
    if (count == 3)
        value[2] = kValues[tail[2]];
    decodeValues(value, out);
    return count - 1;
}

size_t decodeText(const Kernels &kernels, const unsigned char *in, size_t length,
                  unsigned char *out) {
    size_t produced = 0;
    for (size_t at = 0;;) {
        size_t made = 0;
        at += kernels.decodePlain(in + at, length - at, out + produced, made);
        produced += made;
        // A group that is not plain: its 4 characters that are not white
        // space, gathered one at a time.
        unsigned char group[4];
        size_t count = 0;
        while (at < length && count < 4) {
            const unsigned char c = in[at++];
            if (!isWhiteSpace(c))
                group[count++] = c;
        }
        if (count < 4)
            return produced + decodeTail(group, count, out + produced);
        produced += decodeSpecialGroup(group, out + produced);
    }
}

const Kernels kScalarKernels = {encodeScalar, decodePlainScalar};

}  // namespace korvo::kes::base64
