// Kes file operations on an open handle: open and close, read and write,
// size, position and flush, and handles for the standard descriptors.
#include "kes/kes_file.h"

#include <cerrno>
#include <cstdio>

#include "kes/host_file.hpp"
#include "kes/kes_fd.hpp"
#include "kes/kes_file_cell.hpp"
#include "kes/kes_host_path.hpp"
#include "kes/kes_status.hpp"

using korvo::kes::FillStatus;
using korvo::kes::SystemError;

namespace korvo::kes {

// Kes open flags keep their own bit values and are translated here, bit by
// bit: read adds nothing (read-only is no bit), write gives write-only,
// read-write gives read-write. Read with write is therefore write-only; write
// with read-write names no access mode, and the result is -1.
int HostOpenFlags(int32_t flags) {
    const bool write = (flags & KES_FILE_WRITE) != 0;
    const bool readWrite = (flags & KES_FILE_READ_WRITE) != 0;
    if (write && readWrite)
        return -1;
    unsigned bits = readWrite ? host::kOpenReadWrite : write ? host::kOpenWrite : host::kOpenRead;
    if ((flags & KES_FILE_APPEND) != 0)
        bits |= host::kOpenAppend;
    if ((flags & KES_FILE_CREATE) != 0)
        bits |= host::kOpenCreate;
    if ((flags & KES_FILE_TRUNCATE) != 0)
        bits |= host::kOpenTruncate;
    if ((flags & KES_FILE_EXCLUSIVE) != 0)
        bits |= host::kOpenExclusive;
    return static_cast<int>(bits);
}

}  // namespace korvo::kes

namespace {

using korvo::kes::HostOpenFlags;

// Files KesFileOpen creates are for the owner: read and write (0600).
constexpr unsigned kCreateMode = 0600;

// The standard descriptors, the same numbers on every host.
constexpr int kStandardInput = 0;
constexpr int kStandardOutput = 1;
constexpr int kStandardError = 2;

KesStatus *StandardHandle(KesStatus *status, KesFile *file, int descriptor) {
    if (file == nullptr)
        return FillStatus(status, KES_INVALID, 0, 1);
    *file = korvo::kes::NewFileCell(descriptor);
    if (*file == nullptr)
        return FillStatus(status, KES_NO_MEMORY, 0, 1);
    return FillStatus(status, KES_OK, 0, 0);
}

// A handle is valid while the descriptor behind it is open.
bool HasOpenDescriptor(KesFile file) {
    return korvo::host::IsOpenFile(file->descriptor);
}

}  // namespace

extern "C" {

KesStatus *KesFileOpen(KesStatus *status, KesFile *file, const char *path, int32_t flags) {
    if (file != nullptr)
        *file = nullptr;
    if (file == nullptr || path == nullptr)
        return FillStatus(status, KES_INVALID, 0, 1);
    const korvo::kes::HostPath host(path, korvo::kes::HostPath::Foreign::kRefuse);
    if (!host.usable())
        return FillStatus(status, KES_INVALID, 0, 2);
    KesFile cell = korvo::kes::NewFileCell(-1);
    if (cell == nullptr)
        return FillStatus(status, KES_NO_MEMORY, 0, 3);
    *file = cell;
    const int hostFlags = HostOpenFlags(flags);
    if (hostFlags == -1)
        return FillStatus(status, KES_SYSTEM_ERROR, EINVAL, 3);
    cell->descriptor =
        korvo::host::OpenFile(host.c_str(), static_cast<unsigned>(hostFlags), kCreateMode);
    if (cell->descriptor < 0)
        return SystemError(status, 3);
    return FillStatus(status, KES_OK, 0, 0);
}

KesStatus *KesFileClose(KesStatus *status, KesFile file) {
    if (file == nullptr)
        return FillStatus(status, KES_INVALID, 0, 1);
    const int descriptor = file->descriptor;
    KesMemoryFree(file);
    // close is not retried after EINTR: the descriptor is gone either way. A
    // handle whose open failed holds no descriptor: its close fails (EBADF)
    // and the handle is released all the same.
    if (!korvo::host::CloseFile(descriptor) && errno != EINTR)
        return SystemError(status, 2);
    return FillStatus(status, KES_OK, 0, 0);
}

KesStatus *KesFileRead(KesStatus *status, KesFile file, void *buffer, size_t count, size_t *done) {
    if (done != nullptr)
        *done = 0;
    if (file == nullptr)
        return FillStatus(status, KES_INVALID, 0, 1);
    const int64_t got = korvo::host::ReadFile(file->descriptor, buffer, count);
    if (got < 0)
        return SystemError(status, 2);
    if (done != nullptr)
        *done = static_cast<size_t>(got);
    return FillStatus(status, KES_OK, 0, 0);
}

KesStatus *KesFileWrite(KesStatus *status, KesFile file, const void *buffer, size_t count,
                        size_t *done) {
    if (done != nullptr)
        *done = 0;
    if (file == nullptr)
        return FillStatus(status, KES_INVALID, 0, 1);
    const int64_t put = korvo::host::WriteFile(file->descriptor, buffer, count);
    if (put < 0)
        return SystemError(status, 2);
    if (done != nullptr)
        *done = static_cast<size_t>(put);
    return FillStatus(status, KES_OK, 0, 0);
}

KesStatus *KesFileGetSize(KesStatus *status, KesFile file, int64_t *size) {
    if (file == nullptr || size == nullptr)
        return FillStatus(status, KES_INVALID, 0, 1);
    korvo::host::FileInfo info{};
    if (!korvo::host::StatFile(file->descriptor, &info)) {
        *size = -1;
        return SystemError(status, 2);
    }
    *size = info.size;
    return FillStatus(status, KES_OK, 0, 0);
}

KesStatus *KesFileSetSize(KesStatus *status, KesFile file, int64_t size) {
    if (file == nullptr)
        return FillStatus(status, KES_INVALID, 0, 1);
    if (!HasOpenDescriptor(file))
        return SystemError(status, 2);
    if (size < 0)
        return FillStatus(status, KES_SYSTEM_ERROR, korvo::kes::kSystemErrorBase + EINVAL, 3);
    if (!korvo::host::TruncateFile(file->descriptor, size))
        return korvo::kes::StandInError(status, 4);
    return FillStatus(status, KES_OK, 0, 0);
}

KesStatus *KesFileSetLocation(KesStatus *status, KesFile file, int64_t offset, int32_t origin) {
    int whence;
    switch (origin) {
        case KES_FILE_FROM_START:
            whence = SEEK_SET;
            break;
        case KES_FILE_FROM_CURRENT:
            whence = SEEK_CUR;
            break;
        case KES_FILE_FROM_END:
            whence = SEEK_END;
            break;
        default:
            return FillStatus(status, KES_INVALID, 0, 1);
    }
    if (file == nullptr)
        return FillStatus(status, KES_INVALID, 0, 1);
    if (korvo::host::SeekFileFrom(file->descriptor, offset, whence) < 0)
        return SystemError(status, 2);
    return FillStatus(status, KES_OK, 0, 0);
}

KesStatus *KesFileGetLocation(KesStatus *status, KesFile file, int64_t *location) {
    if (file == nullptr || location == nullptr)
        return FillStatus(status, KES_INVALID, 0, 0);
    const int64_t position = korvo::host::SeekFileFrom(file->descriptor, 0, SEEK_CUR);
    if (position < 0)
        return SystemError(status, 1);
    *location = position;
    return FillStatus(status, KES_OK, 0, 0);
}

KesStatus *KesFileFlushBuffers(KesStatus *status, KesFile file) {
    if (file == nullptr)
        return FillStatus(status, KES_INVALID, 0, 1);
    if (!HasOpenDescriptor(file))
        return SystemError(status, 2);
    if (!korvo::host::SyncFile(file->descriptor))
        return FillStatus(status, KES_FLUSH_FAILED, 0, 3);
    return FillStatus(status, KES_OK, 0, 0);
}

KesStatus *KesFileGetStdIn(KesStatus *status, KesFile *file) {
    return StandardHandle(status, file, kStandardInput);
}

KesStatus *KesFileGetStdOut(KesStatus *status, KesFile *file) {
    return StandardHandle(status, file, kStandardOutput);
}

KesStatus *KesFileGetStdErr(KesStatus *status, KesFile *file) {
    return StandardHandle(status, file, kStandardError);
}

int32_t KesFileAccessType(void) {
    return 3;
}
}
