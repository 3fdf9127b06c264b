// File names of a depot, guarded reads, and the one-step replacement of
// entry files.
#include "depot/depot_files.hpp"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstring>

#include "depot/depot_trace.hpp"
#include "kes/kes_dir.h"
#include "kes/kes_file.h"
#include "kes/kes_memory.h"
#include "kes/kes_path.h"
#include "kes/kes_path_rules.hpp"

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
    if (counterDot == std::string_view::npos || counterDot == 0)
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

}  // namespace

char *FilePath(const char *dir, const char *bucket, int32_t number, const char *suffix) {
    char digits[16];
    const auto [end, error] = std::to_chars(digits, digits + sizeof digits, number);
    const std::string_view parts[] = {
        dir, "/", bucket, ".", std::string_view(digits, end - digits), ".", suffix};
    size_t length = 0;
    for (const std::string_view part : parts)
        length += part.size();
    char *path = static_cast<char *>(KesMemoryMalloc(length + 1));
    if (path == nullptr)
        return nullptr;
    char *at = path;
    for (const std::string_view part : parts)
        at = std::copy(part.begin(), part.end(), at);
    *at = '\0';
    KesPathLocalize(path);
    return path;
}

std::string PathIn(const char *dir, std::string_view name) {
    std::string path(dir != nullptr ? dir : "");
    path.push_back('/');
    path.append(name);
    KesPathLocalize(path.data());
    return path;
}

ReadStep ReadEntryFile(const char *path, std::string *text, KesStatus *status) {
    return korvo::kes::ReadRegularFile(path, kMaxRecordBytes, text, status);
}

void LogReadFailure(const char *op, ReadStep step, const KesStatus &status, const char *path,
                    const char *sizeWords, const char *memoryLine) {
    switch (step) {
        case ReadStep::kOpen:
            Logger(LOG_LEVEL_SURVIVED, "%s error %d opening file %s\n", op, status.code, path);
            break;
        case ReadStep::kSize:
            Logger(LOG_LEVEL_SURVIVED, "%s error %d %s of file %s\n", op, status.code, sizeWords,
                   path);
            break;
        case ReadStep::kMemory:
            Logger(LOG_LEVEL_SURVIVED, memoryLine, op, path);
            break;
        case ReadStep::kRead:
            Logger(LOG_LEVEL_SURVIVED, "%s error %d reading file %s\n", op, status.code, path);
            break;
        case ReadStep::kNone:
            break;
    }
}

KesStatus *ReplaceFile(KesStatus *status, IndexSession &session, const char *path,
                       const char *record, size_t length, uint64_t segment,
                       std::optional<uint64_t> *generation) {
    // "<path>.<pid>.<counter>.tmp"
    std::string temporary;
    try {
        temporary.append(path)
            .append(".")
            .append(std::to_string(korvo::kes::ProcessId()))
            .append(".")
            .append(std::to_string(++temporaryCounter))
            .append(kTemporarySuffix);
    } catch (const std::exception &) {
        return FillStatus(status, KES_NO_MEMORY, 0, 1);
    }
    KesFile file = nullptr;
    if (korvo::kes::OpenRegularFile(status, &file, temporary.c_str(),
                                    KES_FILE_WRITE | KES_FILE_CREATE | KES_FILE_EXCLUSIVE)
            ->code != KES_OK)
        return status;
    size_t written = 0;
    while (written < length) {
        size_t done = 0;
        if (KesFileWrite(status, file, record + written, length - written, &done)->code != KES_OK)
            break;
        if (done == 0) {
            FillStatus(status, KES_SYSTEM_ERROR, ENOSPC, 2);
            break;
        }
        written += done;
    }
    KesStatus closed;
    KesFileClose(&closed, file);
    if (status->code == KES_OK && closed.code != KES_OK)
        *status = closed;
    if (status->code == KES_OK)
        session.replace(status, temporary.c_str(), path, segment, generation);
    if (status->code != KES_OK) {
        KesStatus ignored;
        KesFileRemove(&ignored, temporary.c_str());
    }
    return status;
}

std::optional<std::string> InsideDepot(const Depot *depot, const char *location) {
    if (depot == nullptr || depot->dir == nullptr || location == nullptr)
        return std::nullopt;
    const std::string_view path(location);
    const size_t slash = path.find_last_of(korvo::kes::kHostPathSeparators);
    if (slash == std::string_view::npos)
        return std::nullopt;
    const std::string_view name = path.substr(slash + 1);
    if (name.empty() || name == "." || name == "..")
        return std::nullopt;
    const std::string_view parent = path.substr(0, slash);
    if (parent != depot->dir) {
        // The same directory under another name (an absolute path, a link
        // to it) is still the depot; the file is then reached through the
        // depot's own name, whatever the other name points to later.
        korvo::kes::FileIdentity theirs, ours;
        const std::string parentText(parent.empty() ? "/" : parent);
        if (!korvo::kes::IdentityOf(parentText.c_str(), &theirs) ||
            !korvo::kes::IdentityOf(depot->dir, &ours) || !(theirs == ours))
            return std::nullopt;
    }
    return PathIn(depot->dir, name);
}

void RemoveStaleTemporaries(const char *dir) {
    KesDir *listing = nullptr;
    KesStatus status;
    if (KesDirOpen(&status, &listing, dir)->code == KES_OK) {
        char name[KES_DIR_NAME_SIZE];
        while (KesDirReadDirectory(&status, name, listing)->code == KES_OK) {
            const pid_t writer = TemporaryWriter(name);
            if (writer == 0 || !korvo::kes::ProcessEnded(writer))
                continue;
            KesStatus ignored;
            KesFileRemove(&ignored, PathIn(dir, name).c_str());
        }
    }
    KesDirClose(&status, listing);
}

}  // namespace korvo::depot
