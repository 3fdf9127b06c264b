// Guarded opens and reads, advisory file locks, shared directories and the
// cached process id (see kes_file_guard.hpp).
#include "kes/kes_file_guard.hpp"

#include <cerrno>

#include "kes/host_file.hpp"
#include "kes/kes_fd.hpp"
#include "kes/kes_file_cell.hpp"
#include "kes/kes_host_path.hpp"
#include "kes/kes_status.hpp"

namespace korvo::kes {
namespace {

// KesFileOpen's flags, without truncation (which waits for the check of
// the file's type), never following a link at the last component and never
// waiting for a FIFO's other end.
// -1 for flags that name no access mode.
int HostFlags(int32_t flags) {
    const int bits = HostOpenFlags(flags);
    return bits == -1 ? -1
                      : static_cast<int>((static_cast<unsigned>(bits) & ~host::kOpenTruncate) |
                                         host::kOpenNoFollow | host::kOpenNonBlock);
}

}  // namespace

KesStatus *OpenRegularFile(KesStatus *status, KesFile *file, const char *path, int32_t flags,
                           int64_t *size) {
    if (file != nullptr)
        *file = nullptr;
    if (file == nullptr || path == nullptr)
        return FillStatus(status, KES_INVALID, 0, 1);
    const HostPath native(path, HostPath::Foreign::kRefuse);
    if (!native.usable())
        return FillStatus(status, KES_INVALID, 0, 2);
    // Truncation waits until the file is known to be regular: O_TRUNC on a
    // FIFO or device would act before the check.
    const int hostFlags = HostFlags(flags);
    if (hostFlags == -1)
        return FillStatus(status, KES_SYSTEM_ERROR, EINVAL, 3);
    UniqueFd fd(host::OpenFile(native.c_str(), static_cast<unsigned>(hostFlags), kSharedFileMode));
    if (!fd)
        return SystemError(status, 3);
    // A file this open created is regular; anything else is looked at. The
    // flag that kept the open from waiting means nothing for a regular file.
    const bool created = (flags & KES_FILE_CREATE) != 0 && (flags & KES_FILE_EXCLUSIVE) != 0;
    host::FileInfo info{};
    if (!created && !host::StatFile(fd.get(), &info))
        return SystemError(status, 3);
    if (!created && info.kind != host::FileKind::kRegular)
        return FillStatus(status, KES_SYSTEM_ERROR,
                          info.kind == host::FileKind::kDirectory ? EISDIR : ENXIO, 3);
    if (size != nullptr)
        *size = created ? 0 : info.size;
    if ((flags & KES_FILE_TRUNCATE) != 0 && !host::TruncateFile(fd.get(), 0))
        return SystemError(status, 3);
    KesFile cell = NewFileCell(fd.get());
    if (cell == nullptr)
        return FillStatus(status, KES_NO_MEMORY, 0, 3);
    static_cast<void>(fd.release());
    *file = cell;
    return FillStatus(status, KES_OK, 0, 0);
}

ReadStep ReadRegularFile(const char *path, size_t limit, std::string *text, KesStatus *status) {
    KesFile file = nullptr;
    int64_t size = 0;
    if (OpenRegularFile(status, &file, path, KES_FILE_READ, &size)->code != KES_OK)
        return ReadStep::kOpen;
    UniqueFd fd(file->descriptor);
    KesMemoryFree(file);
    if (size < 0 || static_cast<uint64_t>(size) > limit) {
        FillStatus(status, KES_SYSTEM_ERROR, EFBIG, 2);
        return ReadStep::kSize;
    }
    try {
        text->resize(static_cast<size_t>(size));
    } catch (const std::exception &) {
        FillStatus(status, KES_NO_MEMORY, 0, 0);
        return ReadStep::kMemory;
    }
    size_t total = 0;
    while (total < text->size()) {
        const int64_t got = host::ReadFile(fd.get(), text->data() + total, text->size() - total);
        if (got < 0) {
            SystemError(status, 2);
            return ReadStep::kRead;
        }
        if (got == 0)
            break;
        total += static_cast<size_t>(got);
    }
    text->resize(total);
    FillStatus(status, KES_OK, 0, 0);
    return ReadStep::kNone;
}

bool TryLockFile(KesFile file) {
    return file != nullptr && host::TryLockWholeFile(file->descriptor);
}

void UnlockFile(KesFile file) {
    if (file != nullptr)
        host::UnlockWholeFile(file->descriptor);
}

bool PathExists(const char *path) {
    host::FileInfo info{};
    const HostPath native(path, HostPath::Foreign::kRefuse);
    return native.usable() && host::StatLink(native.c_str(), &info);
}

bool IdentityOf(const char *path, FileIdentity *identity) {
    host::FileInfo info{};
    const HostPath native(path, HostPath::Foreign::kPassUnchanged);
    if (!native.usable() || !host::StatPath(native.c_str(), &info))
        return false;
    *identity = FileIdentity{info.device, info.inode};
    return true;
}

KesStatus *CreateSharedDirectory(KesStatus *status, const char *path) {
    const HostPath native(path, HostPath::Foreign::kPassUnchanged);
    if (!native.usable())
        return FillStatus(status, KES_INVALID, 0, 0);
    if (!host::MakeDirectory(native.c_str(), kSharedDirectoryMode))
        return SystemError(status, 1);
    return FillStatus(status, KES_OK, 0, 0);
}

}  // namespace korvo::kes
