// The AVX2 kernels of the Base64 codec: 24 bytes become 32 characters per
// step and back. Only the functions marked for AVX2 use it, so the rest of
// the library runs on any x86-64 processor; kes_base64.cc calls them only
// when the processor has AVX2. Other processors get the portable kernels.
//
// Encoding spreads each 3 bytes over 4 lanes of 6 bits with one byte shuffle
// and two multiplications, then turns the values into digits with a 16-entry
// table of offsets. Decoding checks that 32 characters are all plain digits
// by looking up both halves of each byte, turns them into values with a
// table of offsets, and packs 4 values into 3 bytes with two multiply-adds;
// it stops at the first group that holds anything else. Text in lines of one
// length and one break (as MIME and PEM write it) is decoded a whole line at
// a time, so that where each line starts is known without looking for its
// break first.
#include "kes/kes_base64_kernels.hpp"

#if defined(__x86_64__) || defined(__i386__)

#include <immintrin.h>

#include <cstdint>

#include "kes/kes_base64_tables.hpp"

#define KORVO_AVX2 __attribute__((target("avx2")))
// For the steps inside the loops, so that each loop gets its constants in
// registers (and the line loops their line length as a constant).
#define KORVO_AVX2_STEP __attribute__((target("avx2"), always_inline)) inline

namespace korvo::kes::base64 {
namespace {

KORVO_AVX2 __m256i twice(__m128i half) {
    return _mm256_broadcastsi128_si256(half);
}

// The 6-bit values of 24 bytes, one to a byte: those of the first 12 bytes
// in the low 128-bit lane, of the next 12 in the high one. `order` picks the
// 12 bytes of each lane out of `bytes`.
KORVO_AVX2_STEP __m256i spread24(__m256i bytes, __m256i order) {
    // Each 32-bit lane gets bytes b1 b0 b2 b1 of its group, so that every
    // 6-bit value lies in one 16-bit half; two multiplications move them
    // into place.
    bytes = _mm256_shuffle_epi8(bytes, order);
    const __m256i first = _mm256_mulhi_epu16(_mm256_and_si256(bytes, _mm256_set1_epi32(0x0fc0fc00)),
                                             _mm256_set1_epi32(0x04000040));
    const __m256i second = _mm256_mullo_epi16(
        _mm256_and_si256(bytes, _mm256_set1_epi32(0x003f03f0)), _mm256_set1_epi32(0x01000010));
    return _mm256_or_si256(first, second);
}

// The digits of 32 values of 6 bits: digit = value + offset of its range,
// found in a 16-entry table. The index: 0 for values below 26, 1 for 26 to
// 51, and 2 to 13 for 52 to 63 (one saturating subtraction and one
// comparison).
KORVO_AVX2_STEP __m256i digits32(__m256i values) {
    const __m256i above = _mm256_cmpgt_epi8(values, _mm256_set1_epi8(25));
    const __m256i index = _mm256_sub_epi8(_mm256_subs_epu8(values, _mm256_set1_epi8(51)), above);
    const __m256i offsets = twice(_mm_setr_epi8('A', 'a' - 26, '0' - 52, '0' - 52, '0' - 52,
                                                '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52,
                                                '0' - 52, '0' - 52, '+' - 62, '/' - 63, 0, 0));
    return _mm256_add_epi8(values, _mm256_shuffle_epi8(offsets, index));
}

KORVO_AVX2 void encodeAvx2(const unsigned char *in, size_t length, char *out) {
    // Up to 15 groups first, so that the stores of the steps are aligned:
    // none straddles two cache lines, and after the first step (32
    // characters) each turn of the two-step loop fills one line whole.
    const size_t misaligned = (32 - reinterpret_cast<uintptr_t>(out)) & 63;
    if (misaligned % 4 == 0 && length >= 32 + misaligned / 4 * 3) {
        kScalarKernels.encode(in, misaligned / 4 * 3, out);
        in += misaligned / 4 * 3;
        length -= misaligned / 4 * 3;
        out += misaligned;
    }
    if (length < 32) {
        kScalarKernels.encode(in, length, out);
        return;
    }
    // The first 24 bytes from two 16-byte loads; after them every step loads
    // 32 bytes starting 4 before its own, so that its first 12 bytes sit at
    // the top of the low lane and the next 12 at the bottom of the high one.
    const __m256i first = _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i *>(in))),
        _mm_loadu_si128(reinterpret_cast<const __m128i *>(in + 12)), 1);
    const __m256i fromStart =
        twice(_mm_setr_epi8(1, 0, 2, 1, 4, 3, 5, 4, 7, 6, 8, 7, 10, 9, 11, 10));
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(out), digits32(spread24(first, fromStart)));
    const __m256i shifted = _mm256_setr_epi8(5, 4, 6, 5, 8, 7, 9, 8, 11, 10, 12, 11, 14, 13, 15, 14,
                                             1, 0, 2, 1, 4, 3, 5, 4, 7, 6, 8, 7, 10, 9, 11, 10);
    size_t i = 24;
    out += 32;
    // Two steps at a time (reads up to 4 bytes before and 4 after the 48).
    for (; length - i >= 52; i += 48, out += 64) {
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(in + i - 4));
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(in + i + 20));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(out), digits32(spread24(a, shifted)));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + 32), digits32(spread24(b, shifted)));
    }
    for (; length - i >= 28; i += 24, out += 32) {
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(in + i - 4));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(out), digits32(spread24(a, shifted)));
    }
    kScalarKernels.encode(in + i, length - i, out);
}

// Decodes 32 characters into 24 bytes and stores them with 8 more after
// them (whatever they are; the caller leaves room). Returns a bit for each
// character that is not a plain digit; the bytes of a group with such a
// character are wrong.
KORVO_AVX2_STEP uint32_t decode32(const unsigned char *in, unsigned char *out) {
    const __m256i text = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(in));
    const __m256i high = _mm256_and_si256(_mm256_srli_epi32(text, 4), _mm256_set1_epi8(0x0f));
    const __m256i low = _mm256_and_si256(text, _mm256_set1_epi8(0x0f));
    // A bit per class of low half and of high half; a byte is a digit when
    // its two halves share no bit. Bytes of 128 and above share 0x10.
    const __m256i lowClasses =
        _mm256_shuffle_epi8(twice(_mm_setr_epi8(0x15, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11,
                                                0x11, 0x11, 0x13, 0x1a, 0x1b, 0x1b, 0x1b, 0x1a)),
                            low);
    const __m256i highClasses =
        _mm256_shuffle_epi8(twice(_mm_setr_epi8(0x10, 0x10, 0x01, 0x02, 0x04, 0x08, 0x04, 0x08,
                                                0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10)),
                            high);
    const auto bad = ~static_cast<uint32_t>(_mm256_movemask_epi8(
        _mm256_cmpeq_epi8(_mm256_and_si256(lowClasses, highClasses), _mm256_setzero_si256())));
    // Value = character + offset of its range, chosen by the high half ('/'
    // shares its high half with '+' and takes the entry before it).
    const __m256i slash = _mm256_cmpeq_epi8(text, _mm256_set1_epi8('/'));
    const __m256i offsets = _mm256_shuffle_epi8(
        twice(_mm_setr_epi8(0, 16, 19, 4, -65, -65, -71, -71, 0, 0, 0, 0, 0, 0, 0, 0)),
        _mm256_add_epi8(slash, high));
    const __m256i values = _mm256_add_epi8(text, offsets);
    // 4 values of 6 bits into 24 bits: pairs first, then pairs of pairs.
    const __m256i pairs = _mm256_maddubs_epi16(values, _mm256_set1_epi32(0x01400140));
    const __m256i groups = _mm256_madd_epi16(pairs, _mm256_set1_epi32(0x00011000));
    // The 3 bytes of each group, most significant first, 12 to a lane, then
    // the two lanes' 12 side by side.
    const __m256i packed = _mm256_shuffle_epi8(
        groups, twice(_mm_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1)));
    _mm256_storeu_si256(
        reinterpret_cast<__m256i *>(out),
        _mm256_permutevar8x32_epi32(packed, _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 7, 7)));
    return bad;
}

// Decodes whole lines of `line` plain digits (a multiple of 4, at least 32),
// each followed by the `breakLength` (1 or 2) characters at `lineBreak`, from
// the start of `in` until a line that is not like that, or one that does not
// fit; returns how many characters it read and puts the bytes it wrote in
// `made`. A line takes line / 32 steps and, when 32 does not divide it, one
// more over its last 32 characters (which overlaps the step before and
// rewrites the same bytes). The stores of a line that is not taken leave
// bytes past `made`, within the room of the characters that follow.
//
// The common line lengths get a loop of their own (kLine), with the length
// known to the compiler; kLine 0 takes it from `line`. Each is kept out of
// line so that every loop has the registers to itself.
template <size_t kLine>
__attribute__((noinline)) KORVO_AVX2 size_t decodeLines(const unsigned char *in, size_t length,
                                                        size_t line, const unsigned char *lineBreak,
                                                        size_t breakLength, unsigned char *out,
                                                        size_t &made) {
    if constexpr (kLine != 0)
        line = kLine;
    const size_t stride = line + breakLength;
    const size_t last = line - 32;
    const unsigned char first = lineBreak[0];
    const unsigned char second = breakLength == 2 ? lineBreak[1] : 0;
    size_t i = 0;
    size_t produced = 0;
    while (length - i >= stride) {
        const unsigned char *text = in + i;
        unsigned char *bytes = out + produced;
        uint32_t bad = 0;
        for (size_t at = 0; at + 32 <= line; at += 32)
            bad |= decode32(text + at, bytes + at / 4 * 3);
        if (line % 32 != 0)
            bad |= decode32(text + last, bytes + last / 4 * 3);
        if (bad != 0 || text[line] != first || (breakLength == 2 && text[line + 1] != second))
            break;
        i += stride;
        produced += line / 4 * 3;
    }
    made = produced;
    return i;
}

KORVO_AVX2 size_t decodeLinesOf(const unsigned char *in, size_t length, size_t line,
                                const unsigned char *lineBreak, size_t breakLength,
                                unsigned char *out, size_t &made) {
    if (line == 76)
        return decodeLines<76>(in, length, line, lineBreak, breakLength, out, made);
    if (line == 64)
        return decodeLines<64>(in, length, line, lineBreak, breakLength, out, made);
    return decodeLines<0>(in, length, line, lineBreak, breakLength, out, made);
}

KORVO_AVX2 size_t decodePlainAvx2(const unsigned char *in, size_t length, unsigned char *out,
                                  size_t &made) {
    size_t i = 0;
    size_t produced = 0;
    // Where the current line began and how long the one before it was.
    size_t lineStart = 0;
    size_t previousLine = 0;
    while (length - i >= 32) {
        // All 24 bytes are stored; those of groups that are not plain are
        // overwritten later.
        const uint32_t bad = decode32(in + i, out + produced);
        if (bad == 0) {
            i += 32;
            produced += 24;
            continue;
        }
        const unsigned plain = static_cast<unsigned>(__builtin_ctz(bad)) / 4;
        i += 4 * plain;
        produced += 3 * plain;
        if (!isWhiteSpace(in[i])) {
            made = produced;
            return i;
        }
        // White space between two groups: a line break.
        const size_t lineEnd = i;
        do
            ++i;
        while (i < length && isWhiteSpace(in[i]));
        const size_t line = lineEnd - lineStart;
        const size_t breakLength = i - lineEnd;
        // Two lines of the same length in a row: take the lines that follow
        // whole while they keep that shape.
        if (line == previousLine && line >= 32 && line % 4 == 0 && breakLength <= 2) {
            size_t more = 0;
            i += decodeLinesOf(in + i, length - i, line, in + lineEnd, breakLength, out + produced,
                               more);
            produced += more;
        }
        previousLine = line;
        lineStart = i;
    }
    // Fewer than 32 characters left.
    size_t more = 0;
    i += kScalarKernels.decodePlain(in + i, length - i, out + produced, more);
    made = produced + more;
    return i;
}

}  // namespace

bool avx2Supported() {
    return __builtin_cpu_supports("avx2");
}

const Kernels kAvx2Kernels = {encodeAvx2, decodePlainAvx2};

}  // namespace korvo::kes::base64

#else

namespace korvo::kes::base64 {

bool avx2Supported() {
    return false;
}

const Kernels kAvx2Kernels = kScalarKernels;

}  // namespace korvo::kes::base64

#endif
