// int64_length: a byte count kept as thousands and units, two unsigned 32-bit
// words with the record's own carry rule.
#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>

#include "records/korvo_length.h"
#include "runtime/mg_memory.h"

namespace {

constexpr uint32_t kUnitsPerThousand = 1000;

// Decimal text as strtol reads it into the runtime's 32-bit long (numbers
// beyond its range stop at its ends), stored as an unsigned word: "-1" is
// 4294967295. The caller's errno is left as it was.
uint32_t word_of(const char *text) {
    if (text == nullptr)
        return 0;
    const int saved = errno;
    const long long value = std::strtoll(text, nullptr, 10);
    errno = saved;
    return static_cast<uint32_t>(
        static_cast<int32_t>(std::clamp<long long>(value, INT32_MIN, INT32_MAX)));
}

int64_length *new_length(uint32_t thousands, uint32_t units) {
    auto *length = static_cast<int64_length *>(mg_malloc(sizeof(int64_length)));
    if (length != nullptr)
        *length = int64_length{thousands, units};
    return length;
}

}  // namespace

extern "C" {

int64_length *int64_length_new(void) {
    return new_length(0, 0);
}

int64_length *int64_length_new2(const char *thousands, const char *units) {
    return new_length(word_of(thousands), word_of(units));
}

int64_length *int64_length_clone(const int64_length *length) {
    return length != nullptr ? new_length(length->thousands, length->units) : nullptr;
}

void int64_length_delete(int64_length *length) {
    mg_free(length);
}

int32_t int64_length_equal(const int64_length *a, const int64_length *b) {
    if (a == b)
        return 1;
    if (a == nullptr || b == nullptr)
        return 0;
    return a->thousands == b->thousands && a->units == b->units ? 1 : 0;
}

void int64_length_add(int64_length *length, int32_t n) {
    if (length == nullptr || n < 0)
        return;
    // Unsigned 32-bit arithmetic: the words wrap round as such words do.
    const auto count = static_cast<uint32_t>(n);
    length->thousands += count / kUnitsPerThousand;
    length->units += count % kUnitsPerThousand;
    if (length->units >= kUnitsPerThousand) {
        length->units -= kUnitsPerThousand;
        length->thousands += 1;
    }
}

char *int64_length_to_string(const int64_length *length) {
    constexpr size_t kTextSize = 32;  // the longest text, 21 bytes, fits
    if (length == nullptr)
        return nullptr;
    auto *text = static_cast<char *>(mg_calloc(1, kTextSize));
    if (text != nullptr)
        std::snprintf(text, kTextSize, "%" PRIu32 "%03" PRIu32 "\n", length->thousands,
                      length->units);
    return text;
}
}
