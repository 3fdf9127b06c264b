// Copies between two open files and file shapes on Windows. There is no
// in-kernel copy between two descriptors here, so the bytes pass through a
// buffer of the library's, with positioned reads and writes that leave both
// descriptors' positions alone; the shape comes from the handle's basic and
// standard information (the change time included).
#include <windows.h>

#include <io.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "kes/host_file.hpp"
#include "kes/host_handle_win32.hpp"
#include "kes/kes_copy_range.hpp"

namespace korvo::kes {

namespace {

KesStatus *fill(KesStatus *status, int32_t code, int32_t os_error) {
    if (status != nullptr)
        *status = KesStatus{code, os_error, code == KES_OK ? 0 : 1};
    return status;
}

constexpr std::size_t kBufferSize = std::size_t{1} << 16;

}  // namespace

int64_t KesCopyRange(int in, int64_t from, int out, int64_t at, int64_t length, KesStatus *status) {
    fill(status, KES_OK, 0);
    if (in < 0 || out < 0 || from < 0 || at < 0 || length < 0) {
        fill(status, KES_INVALID, 0);
        return -1;
    }
    host::FileBrief brief{};
    // Only regular files have places to copy between; a pipe is the
    // caller's to read.
    if (!host::BriefStatFile(in, &brief) || !brief.regular || !host::BriefStatFile(out, &brief) ||
        !brief.regular) {
        fill(status, KES_UNSUPPORTED, EINVAL);
        return -1;
    }
    std::vector<char> buffer;
    try {
        buffer.resize(static_cast<std::size_t>(std::min<int64_t>(length, kBufferSize)));
    } catch (...) {
        fill(status, KES_SYSTEM_ERROR, ENOMEM);
        return -1;
    }
    int64_t copied = 0;
    while (copied < length) {
        const auto want = static_cast<std::size_t>(
            std::min<int64_t>(length - copied, static_cast<int64_t>(buffer.size())));
        const int64_t got = host::ReadFileAt(in, buffer.data(), want, from + copied);
        if (got == 0)
            break;  // the end of `in`
        int64_t put = 0;
        while (got > 0 && put < got) {
            const int64_t n = host::WriteFileAt(
                out, buffer.data() + put, static_cast<std::size_t>(got - put), at + copied + put);
            if (n <= 0) {
                if (n == 0)
                    errno = ENOSPC;
                break;
            }
            put += n;
        }
        if (got < 0 || put < got) {
            copied += put;
            if (copied > 0)
                break;  // report what was copied; the next call meets the error again
            fill(status, KES_SYSTEM_ERROR, errno);
            return -1;
        }
        copied += got;
    }
    return copied;
}

bool KesFileShapeOf(int fd, KesFileShape *shape) {
    if (fd < 0 || shape == nullptr)
        return false;
    const HANDLE handle = reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION data;
    FILE_BASIC_INFO basic{};
    if (!::GetFileInformationByHandle(handle, &data) ||
        !::GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic))
        return false;
    shape->device = data.dwVolumeSerialNumber;
    shape->inode = (static_cast<uint64_t>(data.nFileIndexHigh) << 32) | data.nFileIndexLow;
    shape->size =
        static_cast<int64_t>((static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
    shape->modified_ns = host::UnixNanoseconds(basic.LastWriteTime);
    shape->changed_ns = host::UnixNanoseconds(basic.ChangeTime);
    return true;
}

}  // namespace korvo::kes
