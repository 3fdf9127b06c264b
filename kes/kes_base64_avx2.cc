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
// it stops at the first group that holds anything else.
#include "kes/kes_base64_kernels.hpp"

#if defined(__x86_64__) || defined(__i386__)

#include <immintrin.h>

#include <cstdint>

#include "kes/kes_base64_tables.hpp"

#define KORVO_AVX2 __attribute__((target("avx2")))

namespace korvo::kes::base64 {
namespace {

KORVO_AVX2 __m256i twice(__m128i half) {
    return _mm256_broadcastsi128_si256(half);
}

// The 32 characters of 24 bytes: the first 12 in the low lane, the next 12
// in the high one.
KORVO_AVX2 __m256i encode24(const unsigned char *in) {
    const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i *>(in));
    const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i *>(in + 12));
    __m256i bytes = _mm256_inserti128_si256(_mm256_castsi128_si256(low), high, 1);
    // Each 32-bit lane gets bytes b1 b0 b2 b1 of its group, so that every
    // 6-bit value lies in one 16-bit half.
    bytes = _mm256_shuffle_epi8(
        bytes, twice(_mm_setr_epi8(1, 0, 2, 1, 4, 3, 5, 4, 7, 6, 8, 7, 10, 9, 11, 10)));
    const __m256i first = _mm256_mulhi_epu16(_mm256_and_si256(bytes, _mm256_set1_epi32(0x0fc0fc00)),
                                             _mm256_set1_epi32(0x04000040));
    const __m256i second = _mm256_mullo_epi16(
        _mm256_and_si256(bytes, _mm256_set1_epi32(0x003f03f0)), _mm256_set1_epi32(0x01000010));
    const __m256i values = _mm256_or_si256(first, second);
    // Digit = value + offset of its range: 0-25 'A', 26-51 'a' - 26, 52-61
    // '0' - 52, 62 '+' - 62, 63 '/' - 63. The range's index: values above 51
    // give 1 to 12 by a saturating subtraction, those below 26 the index 13.
    __m256i range = _mm256_subs_epu8(values, _mm256_set1_epi8(51));
    const __m256i letters = _mm256_cmpgt_epi8(_mm256_set1_epi8(26), values);
    range = _mm256_or_si256(range, _mm256_and_si256(letters, _mm256_set1_epi8(13)));
    const __m256i offsets =
        twice(_mm_setr_epi8('a' - 26, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52,
                            '0' - 52, '0' - 52, '0' - 52, '0' - 52, '+' - 62, '/' - 63, 'A', 0, 0));
    return _mm256_add_epi8(values, _mm256_shuffle_epi8(offsets, range));
}

KORVO_AVX2 void encodeAvx2(const unsigned char *in, size_t length, char *out) {
    size_t i = 0;
    for (; length - i >= 32; i += 24, out += 32)  // reads 28 bytes, uses 24
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(out), encode24(in + i));
    kScalarKernels.encode(in + i, length - i, out);
}

// The bytes of 32 characters in the low 24 bytes of `bytes`, and how many
// of the 8 groups, from the first, are plain digits (the bytes of those
// are right; the rest are not).
KORVO_AVX2 unsigned decode32(const unsigned char *in, __m256i &bytes) {
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
    bytes = _mm256_permutevar8x32_epi32(packed, _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 7, 7));
    return bad == 0 ? 8 : static_cast<unsigned>(__builtin_ctz(bad)) / 4;
}

KORVO_AVX2 size_t decodePlainAvx2(const unsigned char *in, size_t length, unsigned char *out,
                                  size_t &made) {
    size_t i = 0;
    size_t produced = 0;
    while (length - i >= 32) {
        __m256i bytes;
        const unsigned plain = decode32(in + i, bytes);
        // All 24 bytes are stored; those of groups that are not plain are
        // overwritten later.
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + produced), bytes);
        i += 4 * plain;
        produced += 3 * plain;
        if (plain == 8)
            continue;
        if (!isWhiteSpace(in[i])) {
            made = produced;
            return i;
        }
        do  // a line break between two groups
            ++i;
        while (i < length && isWhiteSpace(in[i]));
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
