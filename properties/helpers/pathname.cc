// Path-name buffers on the runtime's allocator.
#include "properties/helpers/pathname.h"

#include <cstring>

#include "properties/errors/catalog_raise.hpp"
#include "properties/errors/korvo_catalog.h"
#include "runtime/mg_memory.h"
#include "runtime/raise.hpp"

using korvo::helpers::raise_message;

namespace {

constexpr size_t kBufferSize = PATHNAME_BUFFER_SIZE;

bool ends_in_separator(const char *text, size_t length) {
    return length > 0 && text[length - 1] == '/';
}

}  // namespace

extern "C" {

int32_t pathname_max_length(void) {
    return PATHNAME_BUFFER_SIZE;
}

int32_t pathname_max_component_length(void) {
    return PATHNAME_BUFFER_SIZE;
}

char *pathname_new(void) {
    return static_cast<char *>(mg_calloc(kBufferSize, 1));
}

char *pathname_clone(const char *path) {
    if (path == nullptr)
        raise_message(KORVO_MSG_PATH_CLONE_NULL);
    const size_t length = std::strlen(path);
    if (length >= kBufferSize)
        return nullptr;
    char *buffer = pathname_new();
    if (buffer != nullptr)
        std::memcpy(buffer, path, length + 1);
    return buffer;
}

void pathname_delete(char *buffer) {
    mg_free(buffer);
}

int32_t pathname_append(char *buffer, const char *name) {
    if (buffer == nullptr)
        return -1;
    size_t length = std::strlen(buffer);
    const bool slash = !ends_in_separator(buffer, length);
    // Check the whole result first, so that a refused append changes nothing.
    const size_t name_length = name != nullptr ? std::strlen(name) : 0;
    if (length + (slash ? 1 : 0) + name_length >= kBufferSize)
        return -1;
    if (slash) {
        buffer[length++] = '/';
        buffer[length] = '\0';
    }
    if (name == nullptr)
        raise_message(KORVO_MSG_PATH_APPEND_NULL);
    std::memcpy(buffer + length, name, name_length + 1);
    return 0;
}

void pathname_append_separator(char *buffer) {
    if (buffer == nullptr)
        return;
    const size_t length = std::strlen(buffer);
    if (!ends_in_separator(buffer, length) && length + 1 < kBufferSize) {
        buffer[length] = '/';
        buffer[length + 1] = '\0';
    }
}

void pathname_remove_separator(char *buffer) {
    if (buffer == nullptr)
        return;
    size_t length = std::strlen(buffer);
    while (length > 1 && buffer[length - 1] == '/')
        buffer[--length] = '\0';
}

const char *pathname_get_name(const char *path) {
    if (path == nullptr)
        return nullptr;
    if (const char *slash = std::strrchr(path, '/'))
        return slash + 1;
    if (const char *backslash = std::strrchr(path, '\\'))
        return backslash + 1;
    return path;
}

char *pathname_build_filename(const char *first, const char *second, const char *third) {
    if (first == nullptr || second == nullptr || third == nullptr)
        return nullptr;
    const size_t a = std::strlen(first), b = std::strlen(second), c = std::strlen(third);
    auto *name = static_cast<char *>(mg_malloc(a + b + c + 1));
    if (name == nullptr)
        return nullptr;
    std::memcpy(name, first, a);
    std::memcpy(name + a, second, b);
    std::memcpy(name + a + b, third, c + 1);
    return name;
}

char *pathname_clone_and_append(const char *path, const char *name) {
    korvo::rt::MgPtr<char> buffer(pathname_clone(path));
    if (buffer == nullptr || pathname_append(buffer.get(), name) != 0)
        return nullptr;
    return buffer.release();
}
}
