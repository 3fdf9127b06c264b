// int64_length: a byte count kept as thousands and units, summed with 64-bit
// arithmetic so that no carry between the two words is lost.
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>

#include "records/korvo_length.h"
#include "runtime/mg_memory.h"

namespace {

constexpr uint64_t kUnitsPerThousand = 1000;
constexpr uint64_t kLargest = UINT32_MAX * kUnitsPerThousand + (kUnitsPerThousand - 1);

// Decimal text as one word: below 0 gives 0, above the word's range its
// largest value. The caller's errno is left as it was.
uint32_t word_of(const char *text) {
    if (text == nullptr)
        return 0;
    const int saved = errno;
    const long long value = std::strtoll(text, nullptr, 10);
    errno = saved;
    if (value < 0)
        return 0;
    if (static_cast<unsigned long long>(value) > UINT32_MAX)
        return UINT32_MAX;
    return static_cast<uint32_t>(value);
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
    // At most 4.3e12 + 4.3e9 + 2.1e9: far inside 64 bits.
    uint64_t total =
        length->thousands * kUnitsPerThousand + length->units + static_cast<uint64_t>(n);
    if (total > kLargest)
        total = kLargest;
    length->thousands = static_cast<uint32_t>(total / kUnitsPerThousand);
    length->units = static_cast<uint32_t>(total % kUnitsPerThousand);
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
