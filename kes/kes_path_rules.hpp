// The Kes path rules as pure text functions. Two styles exist:
//   Windows: '\' is the native separator; a path is absolute when it begins
//     with '/' (or is empty), with two backslashes (a UNC name) or holds ":\"
//     (a drive letter); only a path that begins with a single '/' (or is
//     empty) is not native; localising turns every '/' of a native path
//     into '\'.
//   POSIX: '/' is the separator; a path is absolute when it begins with '/';
//     every path is native and localising changes nothing.
// Prefix, name and parent follow the same text rules in both styles (either
// separator counts). The Kes operations use the host's style; tests check
// both everywhere. Nothing here looks at the disk or allocates.
#pragma once

#include <cstddef>
#include <cstring>
#include <optional>
#include <string_view>

namespace korvo::kes {

enum class PathStyle { kWindows, kPosix };

#if defined(_WIN32)
inline constexpr PathStyle kHostPathStyle = PathStyle::kWindows;
#else
inline constexpr PathStyle kHostPathStyle = PathStyle::kPosix;
#endif

inline constexpr std::string_view kPathSeparators = "/\\";
// The characters that end a directory's name in a path the host opens: both
// separators on Windows, only '/' where '\\' is a character of names.
inline constexpr std::string_view kHostPathSeparators =
    kHostPathStyle == PathStyle::kWindows ? kPathSeparators : std::string_view("/");
// What KesPathGetName gives for a path without a separator.
inline constexpr std::string_view kNoNameText = "Failure";

inline char NativeSeparator(PathStyle style) {
    return style == PathStyle::kWindows ? '\\' : '/';
}

inline bool IsUncName(std::string_view path) {
    return path.starts_with("\\\\");
}
inline bool HasDriveMark(std::string_view path) {
    return path.find(":\\") != std::string_view::npos;
}

inline bool IsAbsolutePath(PathStyle style, std::string_view path) {
    if (style == PathStyle::kPosix)
        return path.starts_with('/');
    return path.empty() || path[0] == '/' || IsUncName(path) || HasDriveMark(path);
}

inline bool IsNativePath(PathStyle style, std::string_view path) {
    if (style == PathStyle::kPosix)
        return true;
    return !IsAbsolutePath(style, path) || IsUncName(path) || HasDriveMark(path);
}

// Length of the path's prefix: "/name" for a path that begins with '/', the
// two backslashes and the server of a UNC name, the text before the first
// backslash of a path holding ":\". None for any other path.
inline std::optional<size_t> PrefixLength(std::string_view path) {
    if (path.empty())
        return std::nullopt;
    auto upTo = [&](char separator, size_t from) {
        const size_t end = path.find(separator, from);
        return end == std::string_view::npos ? path.size() : end;
    };
    if (path[0] == '/')
        return upTo('/', 1);
    if (IsUncName(path))
        return upTo('\\', 2);
    if (HasDriveMark(path))
        return path.find('\\');
    return std::nullopt;
}

// The text after the last separator of either kind; none without separator.
inline std::optional<std::string_view> NameOf(std::string_view path) {
    const size_t last = path.find_last_of(kPathSeparators);
    if (last == std::string_view::npos)
        return std::nullopt;
    return path.substr(last + 1);
}

// The path cut at its last separator of either kind (the separator removed);
// the whole path when it has none.
inline std::string_view ParentOf(std::string_view path) {
    const size_t last = path.find_last_of(kPathSeparators);
    return last == std::string_view::npos ? path : path.substr(0, last);
}

// Localises `path` in place: true, with every '/' turned into the native
// separator, when the path is native; false, and the text unchanged, when it
// is not.
inline bool LocalizePath(PathStyle style, char *path) {
    if (!IsNativePath(style, path))
        return false;
    if (style == PathStyle::kWindows) {
        for (char *c = path; *c != '\0'; ++c) {
            if (*c == '/')
                *c = '\\';
        }
    }
    return true;
}

// Copies `text` into `buffer` of `size` bytes, cut to size - 1 bytes and
// terminated; returns the length copied. `text` may lie inside `buffer`.
inline size_t CopyCut(char *buffer, size_t size, std::string_view text) {
    if (size == 0)
        return 0;
    const size_t length = text.size() < size ? text.size() : size - 1;
    if (length > 0)
        std::memmove(buffer, text.data(), length);  // an empty view may have no data
    buffer[length] = '\0';
    return length;
}

// Appends `text` to the `length` bytes already in `buffer`, cut so that the
// buffer never holds more than size - 1 bytes; returns the new length.
inline size_t AppendCut(char *buffer, size_t size, size_t length, std::string_view text) {
    if (length + 1 >= size)
        return length;
    return length + CopyCut(buffer + length, size - length, text);
}

// An absolute form of `path` in `buffer`: the path itself when absolute,
// else `cwd`, the native separator (unless `cwd` already ends with it) and
// the path. What does not fit in size - 1 bytes is cut. `cwd` may be the
// buffer's own text.
inline void JoinAbsolute(PathStyle style, std::string_view cwd, std::string_view path, char *buffer,
                         size_t size) {
    if (IsAbsolutePath(style, path)) {
        CopyCut(buffer, size, path);
        return;
    }
    const char separator = NativeSeparator(style);
    size_t length = CopyCut(buffer, size, cwd);
    if (length == 0 || buffer[length - 1] != separator)
        length = AppendCut(buffer, size, length, std::string_view(&separator, 1));
    AppendCut(buffer, size, length, path);
}

}  // namespace korvo::kes
