#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cerrno>
#include <string>

#include "host_files.hpp"
#include "kes/host_utf8_win32.hpp"

namespace korvo::cli::host {
namespace {

// The POSIX file types mingw's headers do not define; no stat call of
// Windows returns them, so they mark what lstat_path found.
constexpr unsigned kModeLink = 0xA000;
constexpr unsigned kModeType = 0xF000;

int errno_of(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
        case ERROR_BAD_NETPATH:
            return ENOENT;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
            return EACCES;
        case ERROR_LOCK_VIOLATION:
            return EWOULDBLOCK;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS:
            return EEXIST;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return ENOSPC;
        case ERROR_FILENAME_EXCED_RANGE:
            return ENAMETOOLONG;
        case ERROR_DIRECTORY:
            return ENOTDIR;
        default:
            return EIO;
    }
}

// The wide form of a UTF-8 path (the command's arguments are UTF-8); text
// that is not UTF-8 gives an empty path, which names no file.
std::wstring wide(const std::string &path) {
    std::wstring text;
    korvo::host::WideOfUtf8(path.c_str(), &text);
    return text;
}

int fail(DWORD error) {
    errno = errno_of(error);
    return -1;
}

// _stat64 refuses a directory path with a trailing separator ("C:\dir\");
// a drive's root keeps its own.
std::string without_trailing_separator(std::string path) {
    while (path.size() > 1 && (path.back() == '/' || path.back() == '\\') &&
           !(path.size() == 3 && path[1] == ':'))
        path.pop_back();
    return path;
}

class Handle {
  public:
    explicit Handle(HANDLE handle) : handle_(handle) {}
    ~Handle() {
        if (valid())
            CloseHandle(handle_);
    }
    Handle(const Handle &) = delete;
    Handle &operator=(const Handle &) = delete;
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
    HANDLE get() const { return handle_; }
    HANDLE release() {
        HANDLE handle = handle_;
        handle_ = INVALID_HANDLE_VALUE;
        return handle;
    }

  private:
    HANDLE handle_;
};

HANDLE os_handle(int fd) {
    return reinterpret_cast<HANDLE>(_get_osfhandle(fd));
}

FileIdentity identity_from(const BY_HANDLE_FILE_INFORMATION &info) {
    return {info.dwVolumeSerialNumber,
            (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow,
            info.nNumberOfLinks};
}

int identity_of_handle(HANDLE handle, FileIdentity &identity) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(handle, &info))
        return fail(GetLastError());
    identity = identity_from(info);
    return 0;
}

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Opens without following a final reparse point, and refuses one: what
// O_NOFOLLOW does on POSIX. Binary, not inherited.
int open_no_follow(const std::string &path, DWORD access, DWORD disposition, int flags) {
    Handle handle(CreateFileW(wide(path).c_str(), access, kShareAll, nullptr, disposition,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!handle.valid())
        return fail(GetLastError());
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(handle.get(), &info))
        return fail(GetLastError());
    if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        errno = ELOOP;
        return -1;
    }
    if (GetFileType(handle.get()) != FILE_TYPE_DISK) {
        errno = EINVAL;
        return -1;
    }
    const int fd =
        _open_osfhandle(reinterpret_cast<intptr_t>(handle.get()), flags | _O_BINARY | _O_NOINHERIT);
    if (fd >= 0)
        handle.release();
    return fd;
}

}  // namespace

int lstat_path(const std::string &path, struct stat &status) {
    const std::string plain = without_trailing_separator(path);
    const DWORD attributes = GetFileAttributesW(wide(plain).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return fail(GetLastError());
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        status = {};
        status.st_mode = static_cast<decltype(status.st_mode)>(kModeLink);
        return 0;
    }
    return ::stat(plain.c_str(), &status);
}

bool is_link(const struct stat &status) {
    return (static_cast<unsigned>(status.st_mode) & kModeType) == kModeLink;
}

bool is_socket(const struct stat &) {
    return false;  // a socket has no name in a Windows folder
}

int identity_of(int fd, FileIdentity &identity) {
    return identity_of_handle(os_handle(fd), identity);
}

int identity_of(const std::string &path, FileIdentity &identity) {
    // No access needed to read the identity; backup semantics open folders.
    Handle handle(CreateFileW(wide(without_trailing_separator(path)).c_str(), 0, kShareAll, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!handle.valid())
        return fail(GetLastError());
    return identity_of_handle(handle.get(), identity);
}

int open_read_no_follow(const std::string &path) {
    return open_no_follow(path, GENERIC_READ, OPEN_EXISTING, _O_RDONLY);
}

int open_write_no_follow(const std::string &path, int) {
    return open_no_follow(path, GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS, _O_RDWR);
}

int64_t read_at(int fd, void *data, size_t length, uint64_t at) {
    OVERLAPPED where{};
    where.Offset = static_cast<DWORD>(at);
    where.OffsetHigh = static_cast<DWORD>(at >> 32);
    DWORD got = 0;
    const DWORD want = static_cast<DWORD>(length > 0x40000000 ? 0x40000000 : length);
    if (!ReadFile(os_handle(fd), data, want, &got, &where)) {
        const DWORD error = GetLastError();
        if (error == ERROR_HANDLE_EOF)
            return 0;
        return fail(error);
    }
    return got;
}

int64_t write_at(int fd, const void *data, size_t length, uint64_t at) {
    OVERLAPPED where{};
    where.Offset = static_cast<DWORD>(at);
    where.OffsetHigh = static_cast<DWORD>(at >> 32);
    DWORD put = 0;
    const DWORD want = static_cast<DWORD>(length > 0x40000000 ? 0x40000000 : length);
    if (!WriteFile(os_handle(fd), data, want, &put, &where))
        return fail(GetLastError());
    return put;
}

int cut_file(int fd, uint64_t length) {
    FILE_END_OF_FILE_INFO end{};
    end.EndOfFile.QuadPart = static_cast<LONGLONG>(length);
    if (!SetFileInformationByHandle(os_handle(fd), FileEndOfFileInfo, &end, sizeof end))
        return fail(GetLastError());
    return 0;
}

int flush_file(int fd) {
    if (!FlushFileBuffers(os_handle(fd)))
        return fail(GetLastError());
    return 0;
}

int flush_named(const std::string &path) {
    const DWORD attributes = GetFileAttributesW(wide(without_trailing_separator(path)).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return fail(GetLastError());
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return 0;  // see FolderHandle::flush
    // FlushFileBuffers needs a handle that may write.
    const int fd = open_no_follow(path, GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING, _O_RDWR);
    if (fd < 0)
        return -1;
    const bool flushed = FlushFileBuffers(os_handle(fd)) != 0;
    const DWORD why = GetLastError();
    ::_close(fd);
    return flushed ? 0 : fail(why);
}

int try_lock_exclusive(int fd) {
    // A byte far beyond any content: Windows locks are mandatory for the
    // range they cover, and others must still read the holder's process id
    // at the file's start.
    OVERLAPPED where{};
    where.Offset = 0xFFFFFFFE;
    where.OffsetHigh = 0x7FFFFFFF;
    if (LockFileEx(os_handle(fd), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                   &where))
        return 0;
    const DWORD error = GetLastError();
    return error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING ? EWOULDBLOCK
                                                                      : errno_of(error);
}

int make_private_dir(const std::string &path) {
    if (!CreateDirectoryW(wide(without_trailing_separator(path)).c_str(), nullptr))
        return fail(GetLastError());
    return 0;
}

size_t longest_file_name(const std::string &dir) {
    DWORD longest = 0;
    std::wstring root = wide(dir);
    wchar_t full[MAX_PATH];
    if (GetVolumePathNameW(root.c_str(), full, MAX_PATH))
        root = full;
    if (GetVolumeInformationW(root.c_str(), nullptr, 0, nullptr, &longest, nullptr, nullptr, 0) &&
        longest > 0)
        return longest;
    return 255;
}

bool volume_space(const std::string &dir, uint64_t &available, uint64_t &total) {
    ULARGE_INTEGER mine{}, all{};
    if (!GetDiskFreeSpaceExW(wide(dir).c_str(), &mine, &all, nullptr))
        return false;
    available = mine.QuadPart;
    total = all.QuadPart;
    return true;
}

FolderHandle::~FolderHandle() = default;

int FolderHandle::open(const std::string &path) {
    path_ = without_trailing_separator(path);
    const DWORD attributes = GetFileAttributesW(wide(path_).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return fail(GetLastError());
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        errno = ENOTDIR;
        return -1;
    }
    return 0;
}

int FolderHandle::inspect(const std::string &name, struct stat &status,
                          FileIdentity &identity) const {
    const std::string path = path_ + "\\" + name;
    if (lstat_path(path, status) != 0)
        return -1;
    identity = {};
    if (is_link(status))
        return 0;
    Handle handle(CreateFileW(wide(path).c_str(), 0, kShareAll, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!handle.valid())
        return fail(GetLastError());
    return identity_of_handle(handle.get(), identity);
}

int FolderHandle::open_write(const std::string &name, int mode) const {
    return open_write_no_follow(path_ + "\\" + name, mode);
}

int FolderHandle::flush() const {
    // A folder's names cannot be flushed on their own on Windows; NTFS
    // journals them, and the files' own flushes carry their sizes.
    return 0;
}

}  // namespace korvo::cli::host
