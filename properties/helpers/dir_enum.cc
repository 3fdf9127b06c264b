// Directory helpers and the case-insensitive entry enumerator.
#include "properties/helpers/dir_enum.h"

#include <cstring>
#include <string>

#include "kes/host_file.hpp"
#include "properties/errors/catalog_raise.hpp"
#include "properties/errors/korvo_catalog.h"
#include "properties/helpers/match.h"
#include "properties/helpers/pathname.h"
#include "runtime/mg_memory.h"
#include "runtime/raise.hpp"
#include "runtime/vri.h"

using korvo::helpers::raise_message;
using korvo::rt::MgPtr;

extern "C" {

int32_t dir_create_directory(const char *path) {
    if (path == nullptr)
        raise_message(KORVO_MSG_DIR_CREATE_NULL_PATH);
    if (!korvo::host::MakeDirectory(path, 0777))
        raise_message(KORVO_MSG_DIR_CREATE_FAILED, path);
    return 0;
}

int32_t dir_is_directory(const char *path) {
    if (path == nullptr)
        return 0;
    std::string trimmed(path);
    while (trimmed.size() > 1 && trimmed.back() == '/')
        trimmed.pop_back();
    korvo::host::FileInfo status;
    return korvo::host::StatPath(trimmed.c_str(), &status) &&
           status.kind == korvo::host::FileKind::kDirectory;
}

DirRecord *dir_new(const char *path) {
    MgPtr<char> copy(pathname_clone(path));
    if (copy == nullptr)
        return nullptr;
    auto *record = static_cast<DirRecord *>(mg_calloc(1, sizeof(DirRecord)));
    if (record != nullptr)
        record->pathname = copy.release();
    return record;
}

void dir_delete(DirRecord *record) {
    if (record == nullptr)
        return;
    pathname_delete(record->pathname);
    mg_free(record);
}

const char *dir_get_pathname(const DirRecord *record) {
    return record != nullptr ? record->pathname : nullptr;
}

DirEntryEnum *dir_entry_enum_new(const DirRecord *record, const char *pattern) {
    if (record == nullptr || record->pathname == nullptr || pattern == nullptr)
        return nullptr;
    MgPtr<DirEntryEnum> entries(static_cast<DirEntryEnum *>(mg_calloc(1, sizeof(DirEntryEnum))));
    MgPtr<char> upper(mg_strdup(pattern));
    MgPtr<char> name(static_cast<char *>(mg_calloc(pathname_max_component_length(), 1)));
    if (entries == nullptr || upper == nullptr || name == nullptr)
        return nullptr;
    entries->dir = cpl_opendir(record->pathname);
    if (entries->dir == nullptr)
        return nullptr;
    entries->pattern = vri_strupper(nullptr, 0, upper.release());
    entries->name = name.release();
    return entries.release();
}

DirEntryEnum *dir_entries(const DirRecord *record, const char *pattern) {
    return dir_entry_enum_new(record, pattern);
}

int32_t dir_entry_enum_has_more_elements(DirEntryEnum *entries) {
    if (entries == nullptr || entries->dir == nullptr)
        return 0;
    const auto capacity = static_cast<size_t>(pathname_max_component_length());
    char upper[PATHNAME_BUFFER_SIZE];
    while (const CplDirEntry *entry = cpl_readdir(entries->dir)) {
        const char *name = entry->name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
            continue;
        const size_t length = std::strlen(name);
        if (length >= capacity || length >= sizeof upper)
            continue;
        // Match an upper-cased copy, but keep the name as it is on disk.
        std::memcpy(upper, name, length + 1);
        vri_strupper(nullptr, 0, upper);
        if (match(entries->pattern, upper) == KES_MATCH_YES) {
            std::memcpy(entries->name, name, length + 1);
            return 1;
        }
    }
    return 0;
}

const char *dir_entry_enum_next_element(const DirEntryEnum *entries) {
    return entries != nullptr ? entries->name : nullptr;
}

void dir_entry_enum_delete(DirEntryEnum *entries) {
    if (entries == nullptr)
        return;
    cpl_closedir(entries->dir);
    mg_free(entries->pattern);
    mg_free(entries->name);
    mg_free(entries);
}
}
