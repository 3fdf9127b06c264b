// Multibyte byte types and ASCII upper-casing over the C library's locale.
#include "runtime/vri.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwchar>

extern "C" {

int vri_mbsbtype(void *context, const char *text, size_t offset) {
    if (context != nullptr || text == nullptr)
        return VRI_MBC_ILLEGAL;
    // The offset must address a byte before the terminator.
    if (offset == SIZE_MAX || strnlen(text, offset + 1) <= offset)
        return VRI_MBC_ILLEGAL;
    const size_t longest = MB_CUR_MAX;
    if (longest == 1)
        return VRI_MBC_SINGLE;

    // Only a walk from a known character boundary, the start of the text,
    // tells a trailing byte from a lead or a single byte.
    std::mbstate_t state{};
    for (size_t at = 0;;) {
        // Never let the decoder look past the terminator.
        const size_t available = strnlen(text + at, longest);
        size_t length = std::mbrlen(text + at, available, &state);
        if (length == static_cast<size_t>(-1) || length == static_cast<size_t>(-2) || length == 0) {
            // An invalid or truncated sequence: its first byte stands alone.
            if (at == offset)
                return VRI_MBC_ILLEGAL;
            state = std::mbstate_t{};
            length = 1;
        } else if (offset < at + length) {
            if (at != offset)
                return VRI_MBC_TRAIL;
            return length == 1 ? VRI_MBC_SINGLE : VRI_MBC_LEAD;
        }
        at += length;
    }
}

char *vri_strupper(void *context, int flags, char *text) {
    if (context != nullptr || flags != 0 || text == nullptr)
        return text;
    for (char *at = text; *at != '\0'; ++at) {
        if (*at >= 'a' && *at <= 'z')
            *at = static_cast<char>(*at - 'a' + 'A');
    }
    return text;
}
}
