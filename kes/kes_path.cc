// The exported Kes path operations: the path rules in the host's style,
// written into the caller's buffers.
#include "kes/kes_path.h"

#include <unistd.h>

#include "kes/kes_path_rules.hpp"

using korvo::kes::CopyCut;
using korvo::kes::kHostPathStyle;

extern "C" {

int KesPathIsPathAbsolute(const char *path) {
    return path != nullptr && korvo::kes::IsAbsolutePath(kHostPathStyle, path);
}

int KesPathIsPrefixNative(const char *path) {
    return path != nullptr && korvo::kes::IsNativePath(kHostPathStyle, path);
}

char *KesPathGetPrefix(char *buffer, const char *path, size_t size) {
    if (buffer == nullptr || size == 0)
        return nullptr;
    const std::string_view text = path == nullptr ? std::string_view() : path;
    const auto length = korvo::kes::PrefixLength(text);
    CopyCut(buffer, size, text.substr(0, length.value_or(0)));
    return length ? buffer : nullptr;
}

char *KesPathMakeAbsolute(char *buffer, const char *path, size_t size) {
    if (buffer == nullptr || size == 0)
        return nullptr;
    if (path == nullptr) {
        buffer[0] = '\0';
        return nullptr;
    }
    std::string_view cwd;
    if (!korvo::kes::IsAbsolutePath(kHostPathStyle, path)) {
        // The current directory is read straight into the buffer; one that
        // does not fit is a failure, not a cut directory.
        if (getcwd(buffer, size) == nullptr) {
            buffer[0] = '\0';
            return nullptr;
        }
        cwd = buffer;
    }
    korvo::kes::JoinAbsolute(kHostPathStyle, cwd, path, buffer, size);
    return buffer;
}

char *KesPathGetName(char *buffer, const char *path, size_t size) {
    if (buffer == nullptr || size == 0)
        return nullptr;
    const auto name = path == nullptr ? std::nullopt : korvo::kes::NameOf(path);
    CopyCut(buffer, size, name.value_or(korvo::kes::kNoNameText));
    return buffer;
}

char *KesPathGetParent(char *buffer, const char *path, size_t size) {
    if (buffer == nullptr || size == 0)
        return nullptr;
    CopyCut(buffer, size, path == nullptr ? std::string_view() : korvo::kes::ParentOf(path));
    return buffer;
}

char *KesPathLocalize(char *path) {
    if (path == nullptr)
        return nullptr;
    return korvo::kes::LocalizePath(kHostPathStyle, path) ? path : nullptr;
}
}
