// File helpers: a file object over a host descriptor, and queries by path,
// raising the catalog's messages.
#include "properties/helpers/file_helpers.h"

#include <cerrno>
#include <climits>
#include <cstring>

#include "kes/host_file.hpp"
#include "kes/host_stat_record.hpp"
#include "properties/errors/catalog_raise.hpp"
#include "properties/errors/korvo_catalog.h"
#include "runtime/mg_memory.h"
#include "runtime/raise.hpp"

using korvo::helpers::raise_message;
using korvo::rt::MgPtr;

namespace {

// A record for `path` around `fd`; NULL (with `fd` closed) when memory is
// exhausted.
FileRecord *make_record(const char *path, int fd) {
    MgPtr<FileRecord> record(static_cast<FileRecord *>(mg_calloc(1, sizeof(FileRecord))));
    char *name = mg_strdup(path);
    if (record == nullptr || name == nullptr) {
        mg_free(name);
        korvo::host::CloseFile(fd);
        errno = ENOMEM;
        return nullptr;
    }
    record->name = name;
    record->fd = fd;
    return record.release();
}

}  // namespace

extern "C" {

FileRecord *file_open(const char *path, int32_t flags) {
    const int fd = path != nullptr ? korvo::host::OpenFileHostFlags(path, flags) : -1;
    FileRecord *record = fd >= 0 ? make_record(path, fd) : nullptr;
    if (record == nullptr)
        raise_message(KORVO_MSG_FILE_OPEN_FAILED, path);
    return record;
}

FileRecord *file_create(const char *path, int32_t flags, int32_t mode) {
    errno = EFAULT;
    const int fd = path != nullptr
                       ? korvo::host::OpenFileHostFlags(
                             path, flags | korvo::host::HostOpenFlags(korvo::host::kOpenCreate),
                             static_cast<unsigned>(mode))
                       : -1;
    FileRecord *record = fd >= 0 ? make_record(path, fd) : nullptr;
    if (record == nullptr)
        raise_message(KORVO_MSG_FILE_CREATE_FAILED, path, errno);
    return record;
}

int32_t file_is_open(const FileRecord *file) {
    return file != nullptr && file->fd != -1;
}

int32_t file_close(FileRecord *file) {
    if (file == nullptr)
        raise_message(KORVO_MSG_FILE_CLOSE_NULL_HANDLE);
    const bool closed = korvo::host::CloseFile(file->fd);
    file->fd = -1;
    if (!closed)
        raise_message(KORVO_MSG_FILE_CLOSE_FAILED, file->name);
    return 0;
}

int32_t file_remove(FileRecord *file) {
    if (file == nullptr)
        raise_message(KORVO_MSG_FILE_REMOVE_NULL_HANDLE);
    if (file->name == nullptr || !korvo::host::RemoveFile(file->name))
        raise_message(KORVO_MSG_FILE_REMOVE_FAILED, file->name);
    return 0;
}

void file_delete(FileRecord *file) {
    if (file == nullptr)
        raise_message(KORVO_MSG_FILE_DELETE_NULL_HANDLE);
    if (file->fd != -1)
        korvo::host::CloseFile(file->fd);
    mg_free(file->name);
    mg_free(file);
}

int32_t file_read(FileRecord *file, void *buffer, int32_t count) {
    if (file == nullptr)
        raise_message(KORVO_MSG_FILE_READ_NULL_HANDLE);
    if (count < 0 || (buffer == nullptr && count > 0))
        raise_message(KORVO_MSG_FILE_READ_FAILED, file->name, count, EINVAL);
    // A regular file hands out what it holds in one read, but a read may be
    // cut short (signals, pipes, very large counts): read until the count or
    // the end of the file.
    auto *bytes = static_cast<char *>(buffer);
    int32_t done = 0;
    while (done < count) {
        const int64_t got =
            korvo::host::ReadFile(file->fd, bytes + done, static_cast<size_t>(count - done));
        if (got < 0)
            raise_message(KORVO_MSG_FILE_READ_FAILED, file->name, count, errno);
        if (got == 0)
            break;
        done += static_cast<int32_t>(got);
    }
    return done;
}

int32_t file_write(FileRecord *file, const void *buffer, int32_t count) {
    if (file == nullptr)
        raise_message(KORVO_MSG_FILE_WRITE_NULL_HANDLE);
    if (count < 0 || (buffer == nullptr && count > 0))
        raise_message(KORVO_MSG_FILE_WRITE_FAILED, file->name, count);
    const auto *bytes = static_cast<const char *>(buffer);
    int32_t done = 0;
    while (done < count) {
        const int64_t put =
            korvo::host::WriteFile(file->fd, bytes + done, static_cast<size_t>(count - done));
        if (put <= 0)
            raise_message(KORVO_MSG_FILE_WRITE_FAILED, file->name, count);
        done += static_cast<int32_t>(put);
    }
    return count;
}

int32_t file_seek(FileRecord *file, int32_t offset) {
    if (file == nullptr)
        raise_message(KORVO_MSG_FILE_SEEK_NULL_HANDLE);
    const int64_t position = korvo::host::SeekFile(file->fd, offset);
    if (position < 0)
        raise_message(KORVO_MSG_FILE_SEEK_FAILED, file->name, errno);
    return static_cast<int32_t>(position);
}

int32_t file_get_size(const char *path) {
    korvo::host::FileInfo status;
    if (path == nullptr || !korvo::host::StatPath(path, &status) || status.size > INT32_MAX)
        raise_message(KORVO_MSG_FILE_STAT_FAILED, path);
    return static_cast<int32_t>(status.size);
}

int32_t file_access(const char *path, int32_t mode) {
    if (path == nullptr || !korvo::host::CheckAccess(path, mode))
        raise_message(KORVO_MSG_FILE_ACCESS_FAILED, path, mode);
    return 0;
}

int64_t file_get_mtime(const char *path) {
    korvo::host::FileInfo status;
    if (path == nullptr || !korvo::host::StatPath(path, &status))
        return -1;
    return status.modified_seconds;
}

int32_t stat_ex(const char *path, struct stat *record) {
    if (path == nullptr || record == nullptr) {
        errno = EFAULT;
        return -1;
    }
    // One stat gives both the record and the modification time that
    // file_get_mtime would read, so the two cannot disagree.
    if (!korvo::host::StatRecord(path, record))
        return -1;
    if (!korvo::host::RecordIsDirectory(*record))
        korvo::host::CutModifiedToSeconds(record);
    return 0;
}
}
