// Looking entries up: DepotFindEntryIndex, the check of a held object
// against its file, the scan of a bucket's entry files, and DepotGetEntry.
#include "depot/depot_lookup.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "depot/depot_files.hpp"
#include "depot/depot_index.hpp"
#include "depot/depot_list.hpp"
#include "depot/depot_ops.h"
#include "depot/depot_prelude.hpp"
#include "depot/depot_record.hpp"
#include "depot/depot_trace.hpp"
#include "kes/kes_block.hpp"
#include "kes/kes_dir.h"
#include "kes/kes_memory.h"
#include "kes/kes_path.h"
#include "kes/kes_string.h"

namespace korvo::depot {
namespace {

const char *Text(const char *s) {
    return s != nullptr ? s : "";
}

bool SameSegment(const DepotEntry *entry, const char *id, const char *version) {
    return entry != nullptr && std::strcmp(Text(entry->id), Text(id)) == 0 &&
           std::strcmp(Text(entry->version), Text(version)) == 0;
}

// The entry-file names of the bucket, from the index or from a listing of
// the directory; false when the directory cannot be listed.
bool BucketNames(DirectorySession &session, const char *dir, const std::string &bucket,
                 std::vector<std::string> *names) {
    if (session.bucketNames(bucket, names))
        return true;
    KesDir *listing = nullptr;
    KesStatus status;
    bool listed = KesDirOpen(&status, &listing, dir)->code == KES_OK;
    if (listed) {
        char name[KES_DIR_NAME_SIZE];
        while (KesDirReadDirectory(&status, name, listing)->code == KES_OK) {
            if (std::strncmp(name, bucket.c_str(), bucket.size()) == 0 && IsEntryFileName(name))
                names->push_back(name);
        }
    }
    KesStatus closed;
    KesDirClose(&closed, listing);
    if (listed && closed.code != KES_OK)
        Logger(kSurvivedLevel, "DepotGetEntry_internal error %d closing directory handle\n",
               closed.code);
    return listed;
}

void LogReadFailure(const char *op, ReadFailure failure, const KesStatus &status,
                    const char *path) {
    switch (failure) {
        case ReadFailure::kOpen:
            Logger(kSurvivedLevel, "%s error %d opening file %s\n", op, status.code, path);
            break;
        case ReadFailure::kSize:
            Logger(kSurvivedLevel, "%s error %d retrieving size of file %s\n", op, status.code,
                   path);
            break;
        case ReadFailure::kMemory:
            Logger(kSurvivedLevel, "%s error allocating memory buffer for file read\n", op);
            break;
        case ReadFailure::kRead:
            Logger(kSurvivedLevel, "%s error %d reading file %s\n", op, status.code, path);
            break;
        case ReadFailure::kNone:
            break;
    }
}

// Scans the bucket's entry files for the segment.
Lookup ScanBucket(Depot *depot, const char *id, const char *version, std::vector<int32_t> *numbers,
                  Lookup found) {
    constexpr const char *kOp = "DepotGetEntry_internal";
    DirectorySession session(depot->dir);
    std::vector<std::string> names;
    if (!BucketNames(session, depot->dir, found.bucket, &names)) {
        found.failed = true;
        return found;
    }
    if (numbers != nullptr)
        for (const std::string &name : names)
            if (const int32_t number = EntryNumber(name); number >= 0)
                numbers->push_back(number);

    std::string text;
    for (const std::string &name : names) {
        std::string path = std::string(depot->dir) + "/" + name;
        KesPathLocalize(path.data());
        KesStatus status;
        if (const ReadFailure failure = session.read(path.c_str(), &text, &status);
            failure != ReadFailure::kNone) {
            LogReadFailure(kOp, failure, status, path.c_str());
            found.failed = true;
            return found;
        }
        if (!RecordHolds(text.c_str(), id, version))
            continue;
        DepotEntry *entry = DepotEntryNewFromToc(depot, text.c_str());
        if (entry == nullptr) {
            // A damaged record of the segment: the segment counts as absent.
            Logger(kSurvivedLevel, "%s call to DepotEntryNewFromToc returned null\n", kOp);
            return found;
        }
        entry->entryFile = KesStringDup(path.c_str());
        if (entry->entryFile == nullptr) {
            Unlist(depot, entry);
            DestroyEntry(entry);
            found.failed = true;
            return found;
        }
        found.entry = entry;
        return found;
    }
    return found;
}

}  // namespace

bool DepotVerifyEntry_internal(Depot *depot, DepotEntry *entry) {
    constexpr const char *kOp = "DepotVerifyEntry_internal";
    const char *path = Text(entry->entryFile);
    std::string text;
    KesStatus status;
    DirectorySession session(depot->dir);
    if (const ReadFailure failure = session.read(path, &text, &status);
        failure != ReadFailure::kNone) {
        if (failure == ReadFailure::kMemory)
            Logger(kSurvivedLevel, "%s error allocating memory buffer for file read\n", kOp);
        else
            LogReadFailure(kOp, failure, status, path);
        return false;
    }
    const bool valid = RecordHolds(text.c_str(), entry->id, entry->version);
    DepotEntryReloadFromToc_internal(entry, text.c_str());
    return valid;
}

bool FilesBelongTo(Depot *depot, DepotEntry *entry) {
    DirectorySession session(depot->dir);
    return FilesBelongTo(depot, entry, session);
}

bool FilesBelongTo(Depot *depot, DepotEntry *entry, DirectorySession &session) {
    if (!Listed(depot, entry))
        return true;
    std::string text;
    KesStatus status;
    const ReadFailure failure = session.read(Text(entry->entryFile), &text, &status);
    if (failure == ReadFailure::kNone)
        return RecordHolds(text.c_str(), entry->id, entry->version);
    // Only a file known to be gone disowns the object; one that cannot be
    // read leaves the decision to the operation, as before.
    return !(failure == ReadFailure::kOpen && status.osError == ENOENT);
}

Lookup DepotGetEntry_internal(Depot *depot, const char *id, const char *version,
                              std::vector<int32_t> *numbers) {
    constexpr const char *kOp = "DepotGetEntry_internal";
    TraceEntry(kOp);
    Lookup found;
    const int32_t slot = DepotFindEntryIndex(depot, id, version);
    if (slot >= 0) {
        auto *held = reinterpret_cast<DepotEntry *>(KesList1Access(depot->entries, slot));
        if (DepotVerifyEntry_internal(depot, held)) {
            found.entry = held;
            TraceExit(kOp);
            return found;
        }
        KesStatus freed;
        DepotFreeEntry_internal(&freed, depot, held);
    }
    const korvo::kes::KesText bucket(DepotFindBucket(id, version));
    if (!bucket || depot->dir == nullptr) {
        found.failed = true;
        TraceExit(kOp);
        return found;
    }
    try {
        found.bucket = bucket.get();
        found = ScanBucket(depot, id, version, numbers, std::move(found));
    } catch (const std::exception &) {
        Logger(kSurvivedLevel, "%s error allocating memory buffer for file read\n", kOp);
        found.failed = true;
    }
    TraceExit(kOp);
    return found;
}

}  // namespace korvo::depot

using namespace korvo::depot;

extern "C" {

int32_t DepotFindEntryIndex(Depot *depot, const char *id, const char *version) {
    constexpr const char *kOp = "DepotFindEntryIndex";
    TraceEntry(kOp);
    if (depot == nullptr) {
        TraceExit(kOp);
        return -1;
    }
    KesList1Iterator iterator{};
    KesStatus status;
    if (KesList1IteratorCreate(&status, depot->entries, &iterator)->code != KES_OK) {
        LogWaitFailure(kOp, status);
        return -1;
    }
    int32_t found = -1;
    int32_t index = -1;
    intptr_t value = 0;
    while (iterator.next(&status, &iterator, &index, &value)->code == KES_OK) {
        if (SameSegment(reinterpret_cast<const DepotEntry *>(value), id, version)) {
            found = index;
            break;
        }
    }
    iterator.end(&status, &iterator);
    TraceExit(kOp);
    return found;
}

DepotEntry *DepotGetEntry(Depot *depot, const char *id, const char *version) {
    constexpr const char *kOp = "DepotGetEntry";
    TraceEntry(kOp);
    if (depot == nullptr) {
        LogInvalidParameter(kOp);
        return nullptr;
    }
    KesStatus status;
    if (!TakeLock(&status, &depot->depotLock, kOp, Abandoned::kFail))
        return nullptr;
    const Lookup found = DepotGetEntry_internal(depot, id, version, nullptr);
    ReleaseLock(&depot->depotLock, kOp);
    TraceExit(kOp);
    return found.entry;
}
}
