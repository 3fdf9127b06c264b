// The conversions between UTF-8, the narrow text of korvo on every host,
// and the UTF-16 that the wide Win32 calls take. Text that has no form in
// the other encoding (a stray byte, an unpaired surrogate) is refused
// rather than replaced, so that a malformed name is never read as another
// file's.
//
// Header-only and without state, so that the host layer of the library and
// the Windows host files of the programs share one copy: it includes
// nothing but windows.h and the standard library. Any thread may call; the
// results are the caller's.
#pragma once

#include <windows.h>

#include <cerrno>
#include <string>

namespace korvo::host {

// The UTF-16 form of the UTF-8 text `text` into `wide`. False with errno
// EILSEQ when `text` is not well-formed UTF-8.
inline bool WideOfUtf8(const char *text, std::wstring *wide) {
    wide->clear();
    if (*text == '\0')
        return true;
    // MB_ERR_INVALID_CHARS: a stray byte fails the conversion instead of
    // becoming U+FFFD, which would name another file.
    const int length = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, nullptr, 0);
    if (length <= 0) {
        errno = EILSEQ;
        return false;
    }
    wide->resize(static_cast<size_t>(length));
    if (::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, wide->data(), length) !=
        length) {
        wide->clear();
        errno = EILSEQ;
        return false;
    }
    wide->resize(static_cast<size_t>(length) - 1);
    return true;
}

// The UTF-8 form of the UTF-16 text `wide` into `text`. False with errno
// EILSEQ for text holding an unpaired surrogate, which has no UTF-8 form.
inline bool Utf8OfWide(const wchar_t *wide, std::string *text) {
    text->clear();
    if (*wide == L'\0')
        return true;
    const int length = ::WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide, -1, nullptr, 0,
                                             nullptr, nullptr);
    if (length <= 0) {
        errno = EILSEQ;
        return false;
    }
    text->resize(static_cast<size_t>(length));
    if (::WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide, -1, text->data(), length,
                              nullptr, nullptr) != length) {
        text->clear();
        errno = EILSEQ;
        return false;
    }
    text->resize(static_cast<size_t>(length) - 1);
    return true;
}

}  // namespace korvo::host
