// Kes directory operations over mkdir, rmdir, getcwd, chdir and the
// opendir/readdir listing.
#include "kes/kes_dir.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>

#include "kes/kes_host_path.hpp"
#include "kes/kes_memory.h"
#include "kes/kes_path_rules.hpp"
#include "kes/kes_status.hpp"

using korvo::kes::FillStatus;
using korvo::kes::HostPath;
using korvo::kes::StandInError;
using korvo::kes::SystemError;

struct KesDir {
    DIR *handle;    // null until the first read
    bool finished;  // the listing has reached its end
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

}  // namespace

extern "C" {

int KesDirIsDirectory(const char *path) {
    const HostPath host = DirPath(path);
    struct stat info;
    return host.usable() && ::stat(host.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

KesStatus *KesDirCreateDirectory(KesStatus *status, const char *path) {
    const HostPath host = DirPath(path);
    if (!host.usable())
        return FillStatus(status, KES_INVALID, 0, 0);
    if (::mkdir(host.c_str(), 0777) != 0)
        return SystemError(status, 1);
    return FillStatus(status, KES_OK, 0, 0);
}

KesStatus *KesDirRemoveDirectory(KesStatus *status, const char *path) {
    const HostPath host = DirPath(path);
    if (!host.usable())
        return FillStatus(status, KES_INVALID, 0, 0);
    if (::rmdir(host.c_str()) != 0)
        return SystemError(status, 1);
    return FillStatus(status, KES_OK, 0, 0);
}

KesStatus *KesDirGetCurrentDirectory(KesStatus *status, char *buffer) {
    if (buffer == nullptr)
        return FillStatus(status, KES_INVALID, 0, 0);
    if (::getcwd(buffer, KES_DIR_PATH_SIZE) == nullptr) {
        buffer[0] = '\0';
        return StandInError(status, 0);
    }
    return FillStatus(status, KES_OK, 0, 0);
}

KesStatus *KesDirSetCurrentDirectory(KesStatus *status, const char *path) {
    const HostPath host = DirPath(path);
    if (!host.usable())
        return FillStatus(status, KES_INVALID, 0, 0);
    if (::chdir(host.c_str()) != 0)
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
    struct stat info;
    if (::stat((*dir)->path, &info) != 0)
        return SystemError(status, 2);
    if (!S_ISDIR(info.st_mode))
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
        dir->handle = ::opendir(dir->path);
        if (dir->handle == nullptr)
            return StandInError(status, 2);
    }
    errno = 0;
    const dirent *entry = ::readdir(dir->handle);
    if (entry == nullptr) {
        if (errno != 0)
            return StandInError(status, 3);
        dir->finished = true;
        return FillStatus(status, KES_END, kEndOfListing, 3);
    }
    korvo::kes::CopyCut(name, KES_DIR_NAME_SIZE, entry->d_name);
    return FillStatus(status, KES_OK, 0, 0);
}

KesStatus *KesDirClose(KesStatus *status, KesDir *dir) {
    if (dir != nullptr) {
        if (dir->handle != nullptr)
            ::closedir(dir->handle);
        KesMemoryFree(dir);
    }
    return FillStatus(status, KES_OK, 0, 0);
}
}
