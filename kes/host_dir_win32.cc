// Directory listings on a Windows host: FindFirstFileW over "<path>\*", the
// names handed out in UTF-8.
#include <windows.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "kes/host_dir.hpp"
#include "kes/host_handle_win32.hpp"

namespace korvo::host {

struct DirectoryStream {
    HANDLE find = INVALID_HANDLE_VALUE;
    WIN32_FIND_DATAW entry{};
    bool pending = false;  // `entry` holds a name not yet handed out
    bool finished = false;
};

DirectoryStream *OpenDirectoryStream(const char *path) noexcept {
    try {
        std::wstring pattern = WidePath(path);
        if (pattern.empty())
            return nullptr;
        if (pattern.back() != L'\\')
            pattern.push_back(L'\\');
        pattern.push_back(L'*');
        auto stream = std::make_unique<DirectoryStream>();
        stream->find = ::FindFirstFileW(pattern.c_str(), &stream->entry);
        if (stream->find == INVALID_HANDLE_VALUE) {
            const DWORD error = ::GetLastError();
            // An empty listing (not even "." in a root) is still a listing.
            if (error != ERROR_FILE_NOT_FOUND && error != ERROR_NO_MORE_FILES) {
                errno = error == ERROR_DIRECTORY ? ENOTDIR : ErrnoOfError(error);
                return nullptr;
            }
            stream->finished = true;
        } else {
            stream->pending = true;
        }
        return stream.release();
    } catch (const std::bad_alloc &) {
        errno = ENOMEM;
        return nullptr;
    }
}

int ReadDirectoryStream(DirectoryStream *stream, char *name, std::size_t size) noexcept {
    if (stream->finished)
        return 0;
    if (!stream->pending) {
        if (!::FindNextFileW(stream->find, &stream->entry)) {
            if (::GetLastError() == ERROR_NO_MORE_FILES) {
                stream->finished = true;
                return 0;
            }
            FailWithLastError();
            return -1;
        }
    }
    stream->pending = false;
    if (size == 0)
        return 1;
    // A name that has no UTF-8 form (an unpaired surrogate) fails the read
    // rather than being handed out as a name that opens nothing.
    std::string converted;
    try {
        if (!Utf8OfWide(stream->entry.cFileName, &converted))
            return -1;
    } catch (const std::bad_alloc &) {
        errno = ENOMEM;
        return -1;
    }
    const std::size_t cut = converted.size() < size - 1 ? converted.size() : size - 1;
    std::memcpy(name, converted.data(), cut);
    name[cut] = '\0';
    return 1;
}

void CloseDirectoryStream(DirectoryStream *stream) noexcept {
    if (stream == nullptr)
        return;
    if (stream->find != INVALID_HANDLE_VALUE)
        ::FindClose(stream->find);
    std::unique_ptr<DirectoryStream> owner(stream);
}

}  // namespace korvo::host
