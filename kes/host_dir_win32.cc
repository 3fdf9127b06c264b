// Directory listings on a Windows host: FindFirstFileW over "<path>\*", the
// names handed out in the process's code page.
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
    std::wstring pattern = WidePath(path);
    if (pattern.empty())
        return nullptr;
    try {
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
    char converted[MAX_PATH * 4];
    const int length = ::WideCharToMultiByte(CP_ACP, 0, stream->entry.cFileName, -1, converted,
                                             sizeof converted, nullptr, nullptr);
    if (length <= 0) {
        FailWithLastError();
        return -1;
    }
    const std::size_t cut = ::strnlen(converted, size - 1);
    std::memcpy(name, converted, cut);
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
