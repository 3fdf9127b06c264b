// Looking entries up: DepotFindEntryIndex, the check of a held object
// against its file, the search of a bucket's entry files, and DepotGetEntry.
#include "depot/depot_lookup.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "depot/depot_files.hpp"
#include "depot/depot_index.hpp"
#include "depot/depot_list.hpp"
#include "depot/depot_lock.hpp"
#include "depot/depot_operation.hpp"
#include "depot/depot_ops.h"
#include "depot/depot_prelude.hpp"
#include "depot/depot_record.hpp"
#include "kes/kes_block.hpp"
#include "kes/kes_dir.h"
#include "kes/kes_memory.h"
#include "kes/kes_string.h"

namespace korvo::depot {
namespace {

constexpr const char *kLookup = "DepotGetEntry_internal";
constexpr const char *kLookupMemory = "%s error allocating memory buffer for file read\n";

// The entry-file names of the bucket from a listing of the directory, in
// listing order; false when the directory cannot be listed to its end.
bool ListBucket(const char *dir, const std::string &bucket, std::vector<std::string> *names) {
    KesDir *listing = nullptr;
    KesStatus status;
    bool listed = KesDirOpen(&status, &listing, dir)->code == KES_OK;
    if (listed) {
        char name[KES_DIR_NAME_SIZE];
        while (KesDirReadDirectory(&status, name, listing)->code == KES_OK) {
            if (std::strncmp(name, bucket.c_str(), bucket.size()) == 0 && IsEntryFileName(name))
                names->push_back(name);
        }
        listed = status.code == KES_END;
    }
    KesStatus closed;
    KesDirClose(&closed, listing);
    if (listed && closed.code != KES_OK)
        Logger(LOG_LEVEL_SURVIVED, "%s error %d closing directory handle\n", kLookup, closed.code);
    return listed;
}

int32_t SmallestFree(const std::vector<std::string> &names) {
    std::vector<int32_t> taken;
    for (const std::string &name : names)
        if (const int32_t number = EntryNumber(name); number >= 0)
            taken.push_back(number);
    std::sort(taken.begin(), taken.end());
    int32_t candidate = 0;
    for (const int32_t number : taken) {
        if (number == candidate)
            ++candidate;
        else if (number > candidate)
            break;
    }
    return candidate;
}

// The hash of the id and version a record names; nothing when it names none.
std::optional<uint64_t> SegmentOf(const char *text) {
    const Element id = FindElement(text, "id");
    const Element version = FindElement(text, "version");
    if (!id.found || !version.found)
        return std::nullopt;
    return SegmentHash(std::string_view(id.first, id.length),
                       std::string_view(version.first, version.length));
}

// Searches the bucket's entry files for the segment.
void SearchBucket(Depot *depot, const char *id, const char *version, Lookup &found) {
    IndexSession session(depot);
    std::string text;
    const IndexSession::Visit visit = [&](const std::string &name,
                                          bool *stop) -> std::optional<uint64_t> {
        const std::string path = PathIn(depot->dir, name);
        KesStatus status;
        if (const ReadStep step = ReadEntryFile(path.c_str(), &text, &status);
            step != ReadStep::kNone) {
            // Not a readable entry file: it holds no segment, and its name
            // keeps its number.
            LogReadFailure(kLookup, step, status, path.c_str(), "retrieving size", kLookupMemory);
            return std::nullopt;
        }
        const std::optional<uint64_t> segment = SegmentOf(text.c_str());
        if (!RecordHolds(text.c_str(), id, version))
            return segment;
        DepotEntry *entry = DepotEntryNewFromToc(depot, text.c_str());
        if (entry == nullptr) {
            // A damaged record of the segment: not an entry, but a new entry
            // of the segment takes its place rather than a second name.
            Logger(LOG_LEVEL_SURVIVED, "%s call to DepotEntryNewFromToc returned null\n", kLookup);
            if (found.damagedNumber < 0)
                found.damagedNumber = EntryNumber(name);
            return segment;
        }
        entry->entryFile = KesStringDup(path.c_str());
        if (entry->entryFile == nullptr) {
            Unlist(depot, entry);
            DestroyEntry(entry);
            found.failed = true;
        } else {
            found.entry = entry;
        }
        *stop = true;
        return segment;
    };
    const uint64_t segment = SegmentHash(id, version);
    if (session.visitBucket(found.bucket, segment, &found.freeNumber, visit))
        return;
    std::vector<std::string> names;
    if (!ListBucket(depot->dir, found.bucket, &names)) {
        found.failed = true;
        return;
    }
    found.freeNumber = SmallestFree(names);
    bool stop = false;
    for (const std::string &name : names) {
        visit(name, &stop);
        if (stop)
            return;
    }
}

}  // namespace

bool DepotVerifyEntry_internal(Depot *depot, DepotEntry *entry) {
    constexpr const char *kOp = "DepotVerifyEntry_internal";
    const char *path = entry->entryFile != nullptr ? entry->entryFile : "";
    std::string text;
    KesStatus status;
    if (const ReadStep step = ReadEntryFile(path, &text, &status); step != ReadStep::kNone) {
        LogReadFailure(kOp, step, status, path, "retrieving size", kLookupMemory);
        return false;
    }
    const bool valid = RecordHolds(text.c_str(), entry->id, entry->version);
    DepotEntryReloadFromToc_internal(entry, text.c_str());
    if (!valid)
        Refile(depot, entry);
    return valid;
}

namespace {

enum class FileHolds { kSegment, kOther, kUnknown };

// What the object's entry file holds now; `text` gets the record.
FileHolds ReadOwnFile(const DepotEntry *entry, std::string *text) {
    KesStatus status;
    const ReadStep step = ReadEntryFile(entry->entryFile, text, &status);
    if (step != ReadStep::kNone) {
        // Only a file known to be gone disowns the object; one that cannot
        // be read leaves the decision to the operation.
        return step == ReadStep::kOpen && status.osError == ENOENT ? FileHolds::kOther
                                                                   : FileHolds::kUnknown;
    }
    return RecordHolds(text->c_str(), entry->id, entry->version) ? FileHolds::kSegment
                                                                 : FileHolds::kOther;
}

}  // namespace

bool Refresh(Depot *depot, DepotEntry *entry) {
    if (!Listed(depot, entry) || entry->entryFile == nullptr)
        return true;
    // A file whose generation has not moved since the object last matched
    // it holds what the object holds: no process changed it through the
    // directory since.
    const IndexSession session(depot);
    const std::optional<uint64_t> generation = session.generationOf(entry->entryFile);
    if (generation && generation == SeenGeneration(depot, entry))
        return true;
    std::string text;
    const FileHolds holds = ReadOwnFile(entry, &text);
    if (holds == FileHolds::kSegment) {
        DepotEntryReloadFromToc_internal(entry, text.c_str());
        NoteSeen(depot, entry, generation);
    }
    return holds != FileHolds::kOther;
}

bool OwnsFiles(Depot *depot, const DepotEntry *entry) {
    if (!Listed(depot, entry) || entry->entryFile == nullptr)
        return true;
    std::string text;
    return ReadOwnFile(entry, &text) != FileHolds::kOther;
}

Lookup DepotGetEntry_internal(Depot *depot, const char *id, const char *version) {
    OperationGuard op(kLookup);
    Lookup found;
    const int32_t slot = DepotFindEntryIndex(depot, id, version);
    if (slot >= 0) {
        auto *held = reinterpret_cast<DepotEntry *>(KesList1Access(depot->entries, slot));
        if (DepotVerifyEntry_internal(depot, held)) {
            found.entry = held;
            op.exit();
            return found;
        }
        KesStatus freed;
        DepotFreeEntry_internal(&freed, depot, held);
    }
    const korvo::kes::KesText bucket(DepotFindBucket(id, version));
    if (!bucket || depot->dir == nullptr) {
        found.failed = true;
        op.exit();
        return found;
    }
    try {
        found.bucket = bucket.get();
        SearchBucket(depot, id != nullptr ? id : "", version != nullptr ? version : "", found);
    } catch (const std::exception &) {
        Logger(LOG_LEVEL_SURVIVED, kLookupMemory, kLookup);
        found.failed = true;
    }
    op.exit();
    return found;
}

}  // namespace korvo::depot

using namespace korvo::depot;

extern "C" {

int32_t DepotFindEntryIndex(Depot *depot, const char *id, const char *version) {
    constexpr const char *kOp = "DepotFindEntryIndex";
    OperationGuard op(kOp);
    if (depot == nullptr) {
        op.exit();
        return -1;
    }
    if (depot->entries == nullptr) {
        // The list's iterator cannot be made.
        LogWaitFailure(kOp, KesStatus{KES_INVALID, 0, 1});
        return -1;
    }
    const int32_t found = NewestSlot(depot, id, version);
    op.exit();
    return found;
}

DepotEntry *DepotGetEntry(Depot *depot, const char *id, const char *version) {
    constexpr const char *kOp = "DepotGetEntry";
    OperationGuard op(kOp);
    if (!op.check(nullptr, depot)) {
        return nullptr;
    }
    KesStatus status;
    LockHold &depotHold = op.lock(&status, &depot->depotLock, Abandoned::kFail);
    if (!depotHold)
        return nullptr;
    const Lookup found = DepotGetEntry_internal(depot, id, version);
    depotHold.release();
    op.exit();
    return found.entry;
}
}
