// Kes directory operations over the host layer's directory calls and its
// listing.
#include "kes/kes_dir.h"

#include <cerrno>
#include <cstring>
#include <string_view>

#include "kes/host_dir.hpp"
#include "kes/host_file.hpp"
#include "kes/kes_host_path.hpp"
#include "kes/kes_memory.h"
#include "kes/kes_path_rules.hpp"
#include "kes/kes_status.hpp"

using korvo::kes::FillStatus;
using korvo::kes::HostPath;
using korvo::kes::StandInError;
using korvo::kes::SystemError;

struct KesDir {
    korvo::host::DirectoryStream *handle;  // null until the first read
    bool finished;                         // the listing has reached its end
    char path[KES_DIR_PATH_SIZE];
};

namespace {

// A directory path of this many bytes or more leaves no room for a separator
// and a wildcard in a search pattern of KES_DIR_PATH_SIZE bytes; such paths
// are refused on every host alike.
constexpr size_t kTooLongDirPath = KES_DIR_PATH_SIZE - 2;

// The end of a listing is reported with the "no more files" number (18 + 200)
// that callers test for.
constexpr int32_t kEndOfListing = korvo::kes::kSystemErrorBase + 18;

HostPath DirPath(const char *path) {
    return HostPath(path, HostPath::Foreign::kPassUnchanged);
}

bool IsDirectoryPath(const char *path) {
    korvo::host::FileInfo info{};
    return korvo::host::StatPath(path, &info) && info.kind == korvo::host::FileKind::kDirectory;
}

}  // namespace

extern "C" {

int KesDirIsDirectory(const char *path) {
    const HostPath host = DirPath(path);
    return host.usable() && IsDirectoryPath(host.c_str());
}

KesStatus *KesDirCreateDirectory(KesStatus *status, const char *path) {
    const HostPath host = DirPath(path);
    if (!host.usable())
        return FillStatus(status, KES_INVALID, 0, 0);
    if (!korvo::host::MakeDirectory(host.c_str(), 0777))
        return SystemError(status, 1);
    return FillStatus(status, KES_OK, 0, 0);
}

KesStatus *KesDirRemoveDirectory(KesStatus *status, const char *path) {
    const HostPath host = DirPath(path);
    if (!host.usable())
        return FillStatus(status, KES_INVALID, 0, 0);
    if (!korvo::host::RemoveEmptyDirectory(host.c_str()))
        return SystemError(status, 1);
    return FillStatus(status, KES_OK, 0, 0);
}

KesStatus *KesDirGetCurrentDirectory(KesStatus *status, char *buffer) {
    if (buffer == nullptr)
        return FillStatus(status, KES_INVALID, 0, 0);
    if (!korvo::host::CurrentDirectory(buffer, KES_DIR_PATH_SIZE)) {
        buffer[0] = '\0';
        return StandInError(status, 0);
    }
    return FillStatus(status, KES_OK, 0, 0);
}

KesStatus *KesDirSetCurrentDirectory(KesStatus *status, const char *path) {
    const HostPath host = DirPath(path);
    if (!host.usable())
        return FillStatus(status, KES_INVALID, 0, 0);
    if (!korvo::host::ChangeDirectory(host.c_str()))
        return StandInError(status, 1);
    return FillStatus(status, KES_OK, 0, 0);
}

KesStatus *KesDirOpen(KesStatus *status, KesDir **dir, const char *path) {
    const HostPath host = DirPath(path);
    if (dir == nullptr || !host.usable())
        return FillStatus(status, KES_INVALID, 0, 0);
    *dir = static_cast<KesDir *>(KesMemoryCalloc(1, sizeof(KesDir)));
    if (*dir == nullptr)
        return FillStatus(status, KES_SYSTEM_ERROR, ENOMEM, 1);
    const std::string_view text(host.c_str());
    if (text.size() >= sizeof((*dir)->path))
        return FillStatus(status, KES_NAME_TOO_LONG, 0, 4);
    korvo::kes::CopyCut((*dir)->path, sizeof((*dir)->path), text);
    korvo::host::FileInfo info{};
    if (!korvo::host::StatPath((*dir)->path, &info))
        return SystemError(status, 2);
    if (info.kind != korvo::host::FileKind::kDirectory)
        return FillStatus(status, KES_NOT_DIRECTORY, 0, 3);
    if (text.size() >= kTooLongDirPath)
        return FillStatus(status, KES_NAME_TOO_LONG, 0, 4);
    return FillStatus(status, KES_OK, 0, 0);
}

KesStatus *KesDirReadDirectory(KesStatus *status, char *name, KesDir *dir) {
    if (dir == nullptr || name == nullptr)
        return FillStatus(status, KES_INVALID, 0, 0);
    if (dir->path[0] == '\0')
        return FillStatus(status, KES_INVALID, 0, 1);
    if (dir->finished)
        return FillStatus(status, KES_END, kEndOfListing, 3);
    if (dir->handle == nullptr) {
        dir->handle = korvo::host::OpenDirectoryStream(dir->path);
        if (dir->handle == nullptr)
            return StandInError(status, 2);
    }
    const int read = korvo::host::ReadDirectoryStream(dir->handle, name, KES_DIR_NAME_SIZE);
    if (read < 0)
        return StandInError(status, 3);
    if (read == 0) {
        dir->finished = true;
        return FillStatus(status, KES_END, kEndOfListing, 3);
    }
    return FillStatus(status, KES_OK, 0, 0);
}

KesStatus *KesDirClose(KesStatus *status, KesDir *dir) {
    if (dir != nullptr) {
        if (dir->handle != nullptr)
            korvo::host::CloseDirectoryStream(dir->handle);
        KesMemoryFree(dir);
    }
    return FillStatus(status, KES_OK, 0, 0);
}
}
