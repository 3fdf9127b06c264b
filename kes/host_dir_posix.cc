// Directory listings on a POSIX host: opendir and readdir.
#include <dirent.h>

#include <cerrno>
#include <cstring>

#include "kes/host_dir.hpp"

namespace korvo::host {

// The stream is the C library's own DIR, under the host layer's name.
struct DirectoryStream {};

DirectoryStream *OpenDirectoryStream(const char *path) noexcept {
    if (path == nullptr) {
        errno = EFAULT;
        return nullptr;
    }
    return reinterpret_cast<DirectoryStream *>(::opendir(path));
}

int ReadDirectoryStream(DirectoryStream *stream, char *name, std::size_t size) noexcept {
    errno = 0;
    const dirent *entry = ::readdir(reinterpret_cast<DIR *>(stream));
    if (entry == nullptr)
        return errno != 0 ? -1 : 0;
    if (size > 0) {
        const std::size_t length = ::strnlen(entry->d_name, size - 1);
        std::memcpy(name, entry->d_name, length);
        name[length] = '\0';
    }
    return 1;
}

void CloseDirectoryStream(DirectoryStream *stream) noexcept {
    if (stream != nullptr)
        ::closedir(reinterpret_cast<DIR *>(stream));
}

}  // namespace korvo::host
