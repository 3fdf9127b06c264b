// Files through a Windows host. Files are opened with CreateFileW and shared
// for reading, writing and deletion, so that a file another process holds
// open can still be renamed over or removed, as on POSIX hosts; the handle
// becomes a C runtime descriptor (_open_osfhandle), always binary. Status
// comes from the handle (GetFileInformationByHandle): 64-bit sizes and
// times, and the volume serial number with the file index as identity.
// Paths too long for the plain form take the "\\?\" form (host_handle_win32).
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "kes/host_file.hpp"
#include "kes/host_handle_win32.hpp"

namespace korvo::host {

namespace {

// Open flags the C runtime has no number for, in bits it does not use.
constexpr int kHostNoFollow = 0x100000;
constexpr int kHostDirectory = 0x200000;
constexpr int kHostNonBlock = 0x400000;  // nothing blocks an open here: no FIFOs

// Reads and writes move at most this much per call (a DWORD count).
constexpr std::size_t kMostPerCall = std::size_t{1} << 30;

std::size_t Clamp(std::size_t count) {
    return count > kMostPerCall ? kMostPerCall : count;
}

HANDLE HandleOf(int fd) {
    return reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
}

FileKind KindOf(HANDLE handle, DWORD attributes, bool link) {
    if (link && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
        return FileKind::kSymlink;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return FileKind::kDirectory;
    return ::GetFileType(handle) == FILE_TYPE_DISK ? FileKind::kRegular : FileKind::kOther;
}

// The names the file has: none once it is marked for deletion (removed or
// replaced while held, its name on the way out), as a POSIX host counts it.
uint64_t NameCount(HANDLE handle, DWORD links) {
    FILE_STANDARD_INFO standard{};
    if (::GetFileInformationByHandleEx(handle, FileStandardInfo, &standard, sizeof standard) &&
        standard.DeletePending)
        return 0;
    return links;
}

bool FillFromHandle(HANDLE handle, FileInfo *info, bool link) {
    if (::GetFileType(handle) != FILE_TYPE_DISK) {
        // A pipe or a console: no file information to ask for.
        *info = FileInfo{FileKind::kOther, 0, 1, 0, 0, true, 0, 0};
        return true;
    }
    BY_HANDLE_FILE_INFORMATION data;
    if (!::GetFileInformationByHandle(handle, &data))
        return FailWithLastError();
    const int64_t modified = UnixNanoseconds(data.ftLastWriteTime);
    info->kind = KindOf(handle, data.dwFileAttributes, link);
    info->size =
        static_cast<int64_t>((static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
    info->links = NameCount(handle, data.nNumberOfLinks);
    info->modified_seconds =
        modified >= 0 ? modified / 1000000000 : -((-modified + 999999999) / 1000000000);
    info->modified_nanoseconds =
        static_cast<int32_t>(modified - info->modified_seconds * 1000000000);
    info->owned_by_self = OwnedBySelf(handle);
    info->device = data.dwVolumeSerialNumber;
    info->inode = (static_cast<uint64_t>(data.nFileIndexHigh) << 32) | data.nFileIndexLow;
    return true;
}

// Moves the file pointer of `handle` back to `position` after a positioned
// call, which moves it on a synchronous handle; POSIX positioned calls leave
// the position alone.
class KeepPosition {
  public:
    explicit KeepPosition(HANDLE handle) : handle_(handle) {
        LARGE_INTEGER zero{};
        kept_ = ::SetFilePointerEx(handle_, zero, &position_, FILE_CURRENT) != 0;
    }
    ~KeepPosition() {
        if (kept_) {
            const DWORD saved = ::GetLastError();
            ::SetFilePointerEx(handle_, position_, nullptr, FILE_BEGIN);
            ::SetLastError(saved);
        }
    }
    KeepPosition(const KeepPosition &) = delete;
    KeepPosition &operator=(const KeepPosition &) = delete;

  private:
    HANDLE handle_;
    LARGE_INTEGER position_{};
    bool kept_ = false;
};

OVERLAPPED At(int64_t offset) {
    OVERLAPPED place{};
    place.Offset = static_cast<DWORD>(static_cast<uint64_t>(offset) & 0xffffffffu);
    place.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(offset) >> 32);
    return place;
}

}  // namespace

int HostOpenFlags(unsigned flags) noexcept {
    int host = 0;
    if ((flags & kOpenReadWrite) != 0)
        host |= _O_RDWR;
    else if ((flags & kOpenWrite) != 0)
        host |= _O_WRONLY;
    else
        host |= _O_RDONLY;
    if ((flags & kOpenCreate) != 0)
        host |= _O_CREAT;
    if ((flags & kOpenExclusive) != 0)
        host |= _O_EXCL;
    if ((flags & kOpenTruncate) != 0)
        host |= _O_TRUNC;
    if ((flags & kOpenAppend) != 0)
        host |= _O_APPEND;
    if ((flags & kOpenNoFollow) != 0)
        host |= kHostNoFollow;
    if ((flags & kOpenNonBlock) != 0)
        host |= kHostNonBlock;
    if ((flags & kOpenDirectory) != 0)
        host |= kHostDirectory;
    return host;
}

int OpenFile(const char *path, unsigned flags, unsigned mode) noexcept {
    return OpenFileHostFlags(path, HostOpenFlags(flags), mode);
}

int OpenFileHostFlags(const char *path, int host_flags, unsigned mode) noexcept {
    const std::wstring wide = WidePath(path);
    if (wide.empty())
        return -1;
    const int access_mode = host_flags & (_O_RDONLY | _O_WRONLY | _O_RDWR);
    DWORD access = access_mode == _O_RDWR     ? GENERIC_READ | GENERIC_WRITE
                   : access_mode == _O_WRONLY ? GENERIC_WRITE
                                              : GENERIC_READ;
    const bool create = (host_flags & _O_CREAT) != 0;
    const bool exclusive = create && (host_flags & _O_EXCL) != 0;
    const bool truncate = (host_flags & _O_TRUNC) != 0;
    const DWORD disposition = exclusive            ? CREATE_NEW
                              : create && truncate ? CREATE_ALWAYS
                              : create             ? OPEN_ALWAYS
                              : truncate           ? TRUNCATE_EXISTING
                                                   : OPEN_EXISTING;
    // Directories open too (for their status and syncs); the callers that
    // want a regular file check its kind.
    DWORD attributes = FILE_FLAG_BACKUP_SEMANTICS;
    if ((host_flags & kHostNoFollow) != 0)
        attributes |= FILE_FLAG_OPEN_REPARSE_POINT;
    if ((host_flags & _O_TEMPORARY) != 0) {
        attributes |= FILE_FLAG_DELETE_ON_CLOSE | FILE_ATTRIBUTE_TEMPORARY;
        access |= DELETE;
    }
    // A file created without any write bit is read-only for later opens.
    if (create && (mode & 0222) == 0)
        attributes |= FILE_ATTRIBUTE_READONLY;
    UniqueHandle handle(::CreateFileW(wide.c_str(), access,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, disposition, attributes, nullptr));
    if (!handle) {
        const DWORD error = ::GetLastError();
        // Writing to a directory is refused as POSIX refuses it.
        errno = error == ERROR_ACCESS_DENIED && IsDirectory(wide) ? EISDIR : ErrnoOfError(error);
        return -1;
    }
    BY_HANDLE_FILE_INFORMATION data;
    const bool known = ::GetFileInformationByHandle(handle.get(), &data) != 0;
    if ((host_flags & kHostNoFollow) != 0 && known &&
        (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        errno = ELOOP;
        return -1;
    }
    if ((host_flags & kHostDirectory) != 0 &&
        (!known || (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)) {
        errno = ENOTDIR;
        return -1;
    }
    if (access_mode != _O_RDONLY && known &&
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        errno = EISDIR;
        return -1;
    }
    const int crt_flags = _O_BINARY | _O_NOINHERIT | (host_flags & _O_APPEND) |
                          (access_mode == _O_RDONLY ? _O_RDONLY : 0);
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle.get()), crt_flags);
    if (fd < 0) {
        errno = EMFILE;
        return -1;
    }
    static_cast<void>(handle.release());
    return fd;
}

std::FILE *StreamOfFile(int fd, const char *mode) noexcept {
    // Streams are binary as the descriptor is: "b" is added unless given.
    char binary[8];
    const std::size_t length = std::strlen(mode);
    if (length + 2 > sizeof binary) {
        errno = EINVAL;
        return nullptr;
    }
    std::memcpy(binary, mode, length + 1);
    if (std::strchr(mode, 'b') == nullptr) {
        binary[length] = 'b';
        binary[length + 1] = '\0';
    }
    return ::_fdopen(fd, binary);
}

bool CloseFile(int fd) noexcept {
    return ::_close(fd) == 0;
}

int64_t ReadFile(int fd, void *buffer, std::size_t count) noexcept {
    return ::_read(fd, buffer, static_cast<unsigned>(Clamp(count)));
}

int64_t WriteFile(int fd, const void *buffer, std::size_t count) noexcept {
    return ::_write(fd, buffer, static_cast<unsigned>(Clamp(count)));
}

int64_t ReadFileAt(int fd, void *buffer, std::size_t count, int64_t offset) noexcept {
    if (offset < 0) {
        errno = EINVAL;
        return -1;
    }
    const HANDLE handle = HandleOf(fd);
    if (handle == INVALID_HANDLE_VALUE) {
        errno = EBADF;
        return -1;
    }
    const KeepPosition keep(handle);
    OVERLAPPED place = At(offset);
    DWORD got = 0;
    if (!::ReadFile(handle, buffer, static_cast<DWORD>(Clamp(count)), &got, &place)) {
        if (::GetLastError() == ERROR_HANDLE_EOF)
            return 0;
        FailWithLastError();
        return -1;
    }
    return got;
}

int64_t WriteFileAt(int fd, const void *buffer, std::size_t count, int64_t offset) noexcept {
    if (offset < 0) {
        errno = EINVAL;
        return -1;
    }
    const HANDLE handle = HandleOf(fd);
    if (handle == INVALID_HANDLE_VALUE) {
        errno = EBADF;
        return -1;
    }
    const KeepPosition keep(handle);
    OVERLAPPED place = At(offset);
    DWORD put = 0;
    if (!::WriteFile(handle, buffer, static_cast<DWORD>(Clamp(count)), &put, &place)) {
        FailWithLastError();
        return -1;
    }
    return put;
}

int64_t SeekFile(int fd, int64_t offset) noexcept {
    return ::_lseeki64(fd, offset, SEEK_SET);
}

int64_t SeekFileFrom(int fd, int64_t offset, int whence) noexcept {
    return ::_lseeki64(fd, offset, whence);
}

bool IsOpenFile(int fd) noexcept {
    return ::_get_osfhandle(fd) != -1;
}

bool TruncateFile(int fd, int64_t size) noexcept {
    if (const errno_t error = ::_chsize_s(fd, size); error != 0) {
        errno = error;
        return false;
    }
    return true;
}

bool SyncFile(int fd) noexcept {
    const HANDLE handle = HandleOf(fd);
    if (handle == INVALID_HANDLE_VALUE) {
        errno = EBADF;
        return false;
    }
    BY_HANDLE_FILE_INFORMATION data;
    // A directory's names are made durable by the file system's own journal;
    // there is nothing to flush through its handle.
    if (::GetFileInformationByHandle(handle, &data) &&
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return true;
    return ::FlushFileBuffers(handle) != 0 || FailWithLastError();
}

bool SyncDirectory(const char *path) noexcept {
    const int directory = OpenFile(path, kOpenRead | kOpenDirectory);
    if (directory < 0)
        return false;
    const bool synced = SyncFile(directory);
    const int saved = errno;
    ::_close(directory);
    errno = saved;
    return synced;
}

bool MakeBlocking(int) noexcept {
    return true;  // opens never block here, and files are never non-blocking
}

bool StatPath(const char *path, FileInfo *info) noexcept {
    const std::wstring wide = WidePath(path);
    if (wide.empty())
        return false;
    const UniqueHandle handle = OpenForStatus(wide, false);
    return (handle || FailWithLastError()) && FillFromHandle(handle.get(), info, false);
}

bool StatLink(const char *path, FileInfo *info) noexcept {
    const std::wstring wide = WidePath(path);
    if (wide.empty())
        return false;
    const UniqueHandle handle = OpenForStatus(wide, true);
    return (handle || FailWithLastError()) && FillFromHandle(handle.get(), info, true);
}

bool StatFile(int fd, FileInfo *info) noexcept {
    const HANDLE handle = HandleOf(fd);
    if (handle == INVALID_HANDLE_VALUE) {
        errno = EBADF;
        return false;
    }
    return FillFromHandle(handle, info, false);
}

bool BriefStatFile(int fd, FileBrief *brief) noexcept {
    const HANDLE handle = HandleOf(fd);
    if (handle == INVALID_HANDLE_VALUE) {
        errno = EBADF;
        return false;
    }
    if (::GetFileType(handle) != FILE_TYPE_DISK) {
        *brief = FileBrief{false, 0, 1};
        return true;
    }
    BY_HANDLE_FILE_INFORMATION data;
    if (!::GetFileInformationByHandle(handle, &data))
        return FailWithLastError();
    brief->regular = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    brief->size =
        static_cast<int64_t>((static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
    brief->links = NameCount(handle, data.nNumberOfLinks);
    return true;
}

bool ReplacedFilesKeepAName() noexcept {
    return true;
}

bool PathNamesFile(const char *path, int fd) noexcept {
    const HANDLE held = HandleOf(fd);
    const std::wstring wide = WidePath(path);
    if (held == INVALID_HANDLE_VALUE || wide.empty())
        return false;
    const UniqueHandle named = OpenForStatus(wide, false);
    BY_HANDLE_FILE_INFORMATION ours, theirs;
    return named && ::GetFileInformationByHandle(held, &ours) &&
           ::GetFileInformationByHandle(named.get(), &theirs) &&
           ours.dwVolumeSerialNumber == theirs.dwVolumeSerialNumber &&
           ours.nFileIndexHigh == theirs.nFileIndexHigh &&
           ours.nFileIndexLow == theirs.nFileIndexLow;
}

bool RemoveFile(const char *path) noexcept {
    const std::wstring wide = WidePath(path);
    if (wide.empty())
        return false;
    if (IsDirectory(wide)) {
        errno = EISDIR;
        return false;
    }
    // A file that another process holds open stays under its name until the
    // last handle closes, unless the host deletes with POSIX semantics: it
    // is renamed aside first, so that the name is free at once either way.
    const std::wstring aside = AsideName(wide);
    const bool moved = ::MoveFileExW(wide.c_str(), aside.c_str(), 0) != 0;
    if (!moved && ::GetLastError() == ERROR_FILE_NOT_FOUND)
        return FailWithLastError();
    if (DeleteWhenClosed(moved ? aside : wide))
        return true;
    const int saved = errno;
    if (moved)
        ::MoveFileExW(aside.c_str(), wide.c_str(), 0);
    errno = saved;
    return false;
}

bool MakeDirectory(const char *path, unsigned) noexcept {
    const std::wstring wide = WidePath(path);
    if (wide.empty())
        return false;
    return ::CreateDirectoryW(wide.c_str(), nullptr) != 0 || FailWithLastError();
}

bool TryLockWholeFile(int fd) noexcept {
    const HANDLE handle = HandleOf(fd);
    if (handle == INVALID_HANDLE_VALUE) {
        errno = EBADF;
        return false;
    }
    // The whole of any file: every byte a 64-bit offset reaches.
    OVERLAPPED place{};
    return ::LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD,
                        MAXDWORD, &place) != 0 ||
           FailWithLastError();
}

void UnlockWholeFile(int fd) noexcept {
    const HANDLE handle = HandleOf(fd);
    if (handle == INVALID_HANDLE_VALUE)
        return;
    OVERLAPPED place{};
    ::UnlockFileEx(handle, 0, MAXDWORD, MAXDWORD, &place);
}

bool RemoveEmptyDirectory(const char *path) noexcept {
    const std::wstring wide = WidePath(path);
    if (wide.empty())
        return false;
    return ::RemoveDirectoryW(wide.c_str()) != 0 || FailWithLastError();
}

bool CurrentDirectory(char *buffer, std::size_t size) noexcept {
    if (buffer == nullptr || size == 0) {
        errno = EINVAL;
        return false;
    }
    buffer[0] = '\0';
    try {
        std::wstring wide(MAX_PATH, L'\0');
        for (;;) {
            const DWORD length =
                ::GetCurrentDirectoryW(static_cast<DWORD>(wide.size()), wide.data());
            if (length == 0)
                return FailWithLastError();
            if (length < wide.size()) {
                wide.resize(length);
                break;
            }
            wide.assign(length, L'\0');  // the size it needs, with its terminator
        }
        std::string text;
        if (!Utf8OfWide(wide.c_str(), &text))
            return false;
        if (text.size() >= size) {
            errno = ERANGE;
            return false;
        }
        std::memcpy(buffer, text.c_str(), text.size() + 1);
        return true;
    } catch (const std::bad_alloc &) {
        errno = ENOMEM;
        return false;
    }
}

bool ChangeDirectory(const char *path) noexcept {
    const std::wstring wide = WidePath(path);
    if (wide.empty())
        return false;
    return ::SetCurrentDirectoryW(wide.c_str()) != 0 || FailWithLastError();
}

bool CheckAccess(const char *path, int mode) noexcept {
    const std::wstring wide = WidePath(path);
    if (wide.empty())
        return false;
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return FailWithLastError();
    // The read-only attribute refuses writes to a file (not to a
    // directory, where it means nothing to writes of names).
    if ((mode & kAccessWrite) != 0 && (attributes & FILE_ATTRIBUTE_READONLY) != 0 &&
        (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        errno = EACCES;
        return false;
    }
    return true;
}

}  // namespace korvo::host
