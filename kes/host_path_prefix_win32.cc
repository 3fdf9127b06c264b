// Paths on a Windows host name one file whatever the case of their letters
// (the drive letter's too) and whichever separator they use: both sides are
// compared in UTF-16, separators made one, with the file system's own
// case-insensitive ordinal comparison.
#include <windows.h>

#include <cstring>
#include <new>
#include <string>

#include "kes/host_path_prefix.hpp"

namespace korvo::host {

namespace {

// The UTF-16 form of the `length` bytes of `text`, `/` made `\`;
// false for bytes that are not UTF-8.
bool WideOf(const char *text, std::size_t length, std::wstring *wide) {
    wide->clear();
    if (length == 0)
        return true;
    const int size = static_cast<int>(length);
    const int units = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, size, nullptr, 0);
    if (units <= 0)
        return false;
    wide->resize(static_cast<std::size_t>(units));
    if (::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, size, wide->data(), units) !=
        units)
        return false;
    for (wchar_t &c : *wide)
        if (c == L'/')
            c = L'\\';
    return true;
}

}  // namespace

bool PathBeginsWith(const char *path, const char *dir, std::size_t length) noexcept {
    try {
        // Bytes that are not UTF-8 name no file a Windows call can reach:
        // they are compared as bytes.
        std::wstring widePath, wideDir;
        if (!WideOf(dir, length, &wideDir) || !WideOf(path, std::strlen(path), &widePath))
            return std::strncmp(path, dir, length) == 0;
        if (widePath.size() < wideDir.size())
            return false;
        return ::CompareStringOrdinal(widePath.data(), static_cast<int>(wideDir.size()),
                                      wideDir.data(), static_cast<int>(wideDir.size()),
                                      TRUE) == CSTR_EQUAL;
    } catch (const std::bad_alloc &) {
        return std::strncmp(path, dir, length) == 0;
    }
}

}  // namespace korvo::host
