// The bulk loops of the Base64 codec, in a portable version
// (kes_base64_scalar.cc) and one for processors with AVX2
// (kes_base64_avx2.cc); kes_base64.cc picks one when it is first used. Both
// give the same bytes for every input.
//
// Decoding reads runs of groups of 4 plain digits with decodePlain (3 bytes
// a group). White space between two groups (line breaks) is passed over
// where it lies; any other group (padding, characters outside the alphabet,
// white space inside it) is gathered character by character, white space
// skipped, and decoded by decodeSpecialGroup, which follows the
// character-by-character rules; then the runs go on. The AVX2 kernel, once
// two lines of the same length have gone by, takes the lines that follow
// whole while each has that length, only plain digits and the same break.
#pragma once

#include <cstddef>

namespace korvo::kes::base64 {

struct Kernels {
    // Writes the 4 * ceil(length / 3) characters of `in`.
    void (*encode)(const unsigned char *in, size_t length, char *out);
    // Decodes the groups at the start of `in` (of `length` characters) while
    // they are 4 plain digits, passing over white space between two groups;
    // returns how many characters it read and puts the bytes it wrote in
    // `made`. `out` has room for 3 bytes a group and 8
    // more for the runs of groups that are read: the loops store whole words
    // and leave what follows the bytes to be overwritten.
    size_t (*decodePlain)(const unsigned char *in, size_t length, unsigned char *out, size_t &made);
};

extern const Kernels kScalarKernels;
extern const Kernels kAvx2Kernels;

// Whether this processor runs the AVX2 kernels.
bool avx2Supported();

// The 4 characters of 1 to 3 bytes (`count`); bytes past the count are
// taken as 0 and their characters become padding.
void encodeGroup(const unsigned char bytes[3], int count, char *out);

// The 3 bytes of 4 digit values, each kept to its low 8 bits.
void decodeValues(const unsigned char value[4], unsigned char *out);

// The bytes of one group of 4 kept characters; returns how many (3, less
// one for each '=' in the last two places).
size_t decodeSpecialGroup(const unsigned char *group, unsigned char *out);

// The 1 or 2 bytes of the last 2 or 3 kept characters of a text; returns
// `count` - 1 (nothing for a single character).
size_t decodeTail(const unsigned char *tail, size_t count, unsigned char *out);

// Decodes a whole text with the given kernels; `out` has room for
// 3 * (length / 4) + 8 bytes. Returns the bytes written.
size_t decodeText(const Kernels &kernels, const unsigned char *in, size_t length,
                  unsigned char *out);

}  // namespace korvo::kes::base64
