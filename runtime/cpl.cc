// Portability services: environment, temporary directory and directory
// listing with the entry records callers expect.
#include "runtime/cpl.h"

#include <dirent.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "runtime/host_tmpdir.hpp"

struct CplDir {
    DIR *dir;
    CplDirEntry entry;
};

extern "C" {

const char *cpl_getenv(const char *name) {
    return name != nullptr ? std::getenv(name) : nullptr;
}

const char *cpl_tmpdir(void) {
    for (const char *name : {"KORVO_TMPDIR", "TMPDIR"}) {
        const char *value = std::getenv(name);
        if (value != nullptr && *value != '\0')
            return value;
    }
    return korvo::rt::HostTempDirectory();
}

CplDir *cpl_opendir(const char *path) {
    if (path == nullptr)
        return nullptr;
    DIR *dir = ::opendir(path);
    if (dir == nullptr)
        return nullptr;
    try {
        auto handle = std::make_unique<CplDir>();
        handle->dir = dir;
        return handle.release();
    } catch (const std::bad_alloc &) {
        ::closedir(dir);
        return nullptr;
    }
}

CplDirEntry *cpl_readdir(CplDir *dir) {
    if (dir == nullptr)
        return nullptr;
    const dirent *entry = ::readdir(dir->dir);
    if (entry == nullptr)
        return nullptr;
    const size_t length = std::strlen(entry->d_name);
    const size_t kept = length < sizeof dir->entry.name ? length : sizeof dir->entry.name - 1;
    std::memcpy(dir->entry.name, entry->d_name, kept);
    dir->entry.name[kept] = '\0';
    dir->entry.name_length = static_cast<uint16_t>(kept);
    return &dir->entry;
}

int cpl_closedir(CplDir *dir) {
    if (dir == nullptr)
        return 0;
    std::unique_ptr<CplDir> owned(dir);
    return ::closedir(owned->dir) == 0 ? 0 : -1;
}
}
