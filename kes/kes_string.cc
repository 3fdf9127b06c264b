// Kes string operations: the C library's functions behind the layer's null
// rules.
#include "kes/kes_string.h"

#include <cstring>

#include "kes/kes_memory.h"

namespace {

int FoldAscii(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c;
}

// Case-insensitive comparison of at most `n` bytes, ASCII letters folded to
// lower case, as the Windows C library does in its default locale.
int CompareFolded(const char *a, const char *b, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        const int ca = FoldAscii(static_cast<unsigned char>(a[i]));
        const int cb = FoldAscii(static_cast<unsigned char>(b[i]));
        if (ca != cb || ca == 0)
            return ca - cb;
    }
    return 0;
}

// The common null rule of the comparisons; returns true when it decided.
bool NullOrder(const char *a, const char *b, int *result) {
    if (a == nullptr) {
        *result = 1;
        return true;
    }
    if (b == nullptr) {
        *result = -1;
        return true;
    }
    return false;
}

}  // namespace

extern "C" {

int KesStringCmp(const char *a, const char *b) {
    int result;
    return NullOrder(a, b, &result) ? result : std::strcmp(a, b);
}

int KesStringNCmp(const char *a, const char *b, size_t n) {
    int result;
    return NullOrder(a, b, &result) ? result : std::strncmp(a, b, n);
}

int KesStringICmp(const char *a, const char *b) {
    int result;
    return NullOrder(a, b, &result) ? result : CompareFolded(a, b, static_cast<size_t>(-1));
}

int KesStringNICmp(const char *a, const char *b, size_t n) {
    int result;
    return NullOrder(a, b, &result) ? result : CompareFolded(a, b, n);
}

char *KesStringCat(char *dst, const char *src) {
    if (dst == nullptr || src == nullptr)
        return dst;
    return std::strcat(dst, src);
}

char *KesStringNCat(char *dst, const char *src, size_t n) {
    if (dst == nullptr || src == nullptr)
        return dst;
    return std::strncat(dst, src, n);
}

char *KesStringCpy(char *dst, const char *src) {
    if (dst == nullptr)
        return nullptr;
    if (src == nullptr) {
        dst[0] = '\0';
        return dst;
    }
    return std::strcpy(dst, src);
}

char *KesStringNCpy(char *dst, const char *src, size_t n) {
    if (dst == nullptr)
        return nullptr;
    if (n == 0)
        return dst;
    if (src == nullptr) {
        dst[0] = '\0';
        return dst;
    }
    return std::strncpy(dst, src, n);
}

char *KesStringDup(const char *s) {
    if (s == nullptr)
        return nullptr;
    const size_t size = std::strlen(s) + 1;
    auto *copy = static_cast<char *>(KesMemoryMalloc(size));
    if (copy != nullptr)
        std::memcpy(copy, s, size);
    return copy;
}

size_t KesStringLen(const char *s) {
    return s == nullptr ? 0 : std::strlen(s);
}

char *KesStringChr(const char *s, int c) {
    return s == nullptr ? nullptr : const_cast<char *>(std::strchr(s, c));
}

char *KesStringRChr(const char *s, int c) {
    return s == nullptr ? nullptr : const_cast<char *>(std::strrchr(s, c));
}

char *KesStringStr(const char *haystack, const char *needle) {
    if (haystack == nullptr || needle == nullptr)
        return nullptr;
    return const_cast<char *>(std::strstr(haystack, needle));
}

char *KesStringStrpbrk(const char *s, const char *set) {
    if (s == nullptr || set == nullptr)
        return nullptr;
    return const_cast<char *>(std::strpbrk(s, set));
}

size_t KesStringStrcspn(const char *s, const char *set) {
    if (s == nullptr)
        return static_cast<size_t>(-1);
    if (set == nullptr)
        return std::strlen(s);
    return std::strcspn(s, set);
}

size_t KesStringStrspn(const char *s, const char *set) {
    if (s == nullptr)
        return static_cast<size_t>(-1);
    if (set == nullptr)
        return 0;
    return std::strspn(s, set);
}
}
