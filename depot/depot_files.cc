// File names of a depot, and the one-step replacement of entry files.
#include "depot/depot_files.hpp"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "kes/kes_dir.h"
#include "kes/kes_file.h"
#include "kes/kes_memory.h"
#include "kes/kes_path.h"

namespace korvo::depot {
namespace {

constexpr std::string_view kTemporarySuffix = ".tmp";

std::atomic<uint64_t> temporaryCounter{0};

// The process that wrote a temporary file "<name>.<pid>.<counter>.tmp",
// or 0 when the name is not one.
pid_t TemporaryWriter(std::string_view name) {
    if (name.size() <= kTemporarySuffix.size() ||
        name.substr(name.size() - kTemporarySuffix.size()) != kTemporarySuffix)
        return 0;
    name.remove_suffix(kTemporarySuffix.size());
    const size_t counterDot = name.rfind('.');
    if (counterDot == std::string_view::npos)
        return 0;
    const size_t pidDot = name.rfind('.', counterDot - 1);
    if (pidDot == std::string_view::npos || pidDot == 0)
        return 0;
    const std::string_view entryName = name.substr(0, pidDot);
    if (!IsEntryFileName(entryName))
        return 0;
    pid_t pid = 0;
    const char *first = name.data() + pidDot + 1;
    const char *last = name.data() + counterDot;
    const auto [end, error] = std::from_chars(first, last, pid);
    if (error != std::errc() || end != last || pid <= 0)
        return 0;
    return pid;
}

bool ProcessEnded(pid_t pid) {
    return ::kill(pid, 0) != 0 && errno == ESRCH;
}

}  // namespace

char *FilePath(const char *dir, const char *bucket, int32_t number, const char *suffix) {
    const int needed = std::snprintf(nullptr, 0, "%s/%s.%d.%s", dir, bucket, number, suffix);
    if (needed < 0)
        return nullptr;
    char *path = static_cast<char *>(KesMemoryMalloc(static_cast<size_t>(needed) + 1));
    if (path == nullptr)
        return nullptr;
    std::snprintf(path, static_cast<size_t>(needed) + 1, "%s/%s.%d.%s", dir, bucket, number,
                  suffix);
    KesPathLocalize(path);
    return path;
}

int32_t EntryNumber(std::string_view name) {
    if (name.size() < 10)
        return -1;
    const std::string digits(name.substr(9));
    return static_cast<int32_t>(std::atoi(digits.c_str()));
}

KesStatus *ReplaceFile(KesStatus *status, DirectorySession &session, const char *path,
                       const char *record, size_t length) {
    char suffix[64];
    std::snprintf(suffix, sizeof suffix, ".%ld.%llu.tmp", static_cast<long>(ProcessId()),
                  static_cast<unsigned long long>(++temporaryCounter));
    std::string temporary;
    try {
        temporary = std::string(path) + suffix;
    } catch (const std::exception &) {
        *status = KesStatus{KES_NO_MEMORY, 0, 1};
        return status;
    }
    KesFile file = nullptr;
    KesFileOpen(status, &file, temporary.c_str(),
                KES_FILE_WRITE | KES_FILE_CREATE | KES_FILE_EXCLUSIVE | KES_FILE_BINARY);
    KesStatus closed;
    if (status->code != KES_OK) {
        if (file != nullptr)
            KesFileClose(&closed, file);
        return status;
    }
    size_t written = 0;
    while (written < length) {
        size_t done = 0;
        if (KesFileWrite(status, file, record + written, length - written, &done)->code != KES_OK)
            break;
        if (done == 0) {
            *status = KesStatus{KES_SYSTEM_ERROR, ENOSPC, 2};
            break;
        }
        written += done;
    }
    KesFileClose(&closed, file);
    if (status->code == KES_OK && closed.code != KES_OK)
        *status = closed;
    if (status->code == KES_OK)
        session.replace(status, temporary.c_str(), path, std::string_view(record, length));
    if (status->code != KES_OK) {
        KesStatus ignored;
        KesFileRemove(&ignored, temporary.c_str());
    }
    return status;
}

void RemoveStaleTemporaries(const char *dir) {
    KesDir *listing = nullptr;
    KesStatus status;
    if (KesDirOpen(&status, &listing, dir)->code == KES_OK) {
        char name[KES_DIR_NAME_SIZE];
        while (KesDirReadDirectory(&status, name, listing)->code == KES_OK) {
            const pid_t writer = TemporaryWriter(name);
            if (writer == 0 || !ProcessEnded(writer))
                continue;
            std::string path = std::string(dir) + "/" + name;
            KesStatus ignored;
            KesFileRemove(&ignored, path.c_str());
        }
    }
    KesDirClose(&status, listing);
}

}  // namespace korvo::depot
