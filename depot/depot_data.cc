// The data file of an entry: opening it for reading and writing, its size,
// and the questions a resumed transfer asks (DepotSetCheckpointOffset,
// DepotEntryModified).
#include <cerrno>

#include "depot/depot_files.hpp"
#include "depot/depot_index.hpp"
#include "depot/depot_list.hpp"
#include "depot/depot_lock.hpp"
#include "depot/depot_lookup.hpp"
#include "depot/depot_operation.hpp"
#include "depot/depot_ops.h"
#include "depot/depot_prelude.hpp"
#include "depot/depot_save.hpp"
#include "kes/kes_file.h"
#include "kes/kes_file_guard.hpp"

using namespace korvo::depot;

namespace {

// Opens the data file with `flags` under "ENTRY" and, on success, counts
// the open and saves the entry file after `touch` has set its times. The
// file is opened without following a link and only when it is regular; one
// that the open may change (write) must lie inside the depot.
template <typename Touch>
KesStatus *OpenData(KesStatus *status, Depot *depot, DepotEntry *entry, KesFile *file,
                    int32_t flags, bool changes, OperationGuard &op, Touch touch) {
    *file = nullptr;
    const LockHold &entryHold = op.lock(status, &depot->entryLock, Abandoned::kFail);
    if (!entryHold)
        return status;
    const IndexSession session(depot);
    const bool owned = Refresh(depot, entry);
    const char *location = entry->location != nullptr ? entry->location : "";
    std::optional<std::string> target = std::string(location);
    if (!owned) {
        // The entry was removed by another process, and its data file may
        // now be another segment's.
        FillStatus(status, KES_END, 0, 0);
    } else if (changes && !(target = InsideDepot(depot, location))) {
        Logger(LOG_LEVEL_SURVIVED, "%s error data file %s lies outside the depot\n", op.op(),
               location);
        FillStatus(status, KES_SYSTEM_ERROR, EPERM, 3);
    } else {
        korvo::kes::OpenRegularFile(status, file, target->c_str(), flags);
    }
    if (status->code != KES_OK) {
        Logger(LOG_LEVEL_FAILURE, "%s exit.  Error %d opening segment data file\n", op.op(),
               status->code);
        return status;
    }
    entry->openCount += 1;
    touch(entry);
    KesStatus saved;
    if (DepotSaveEntry_internal(&saved, depot, entry, Ownership::kRefreshed)->code != KES_OK)
        Logger(LOG_LEVEL_SURVIVED, "%s error %d updating segment attributes\n", op.op(),
               saved.code);
    op.exit();
    return status;
}

// The data file's size into entry->size (and *size), under "ENTRY".
KesStatus *MeasureData(KesStatus *status, Depot *depot, DepotEntry *entry, uint64_t *size,
                       OperationGuard &op) {
    const LockHold &entryHold = op.lock(status, &depot->entryLock, Abandoned::kFail);
    if (!entryHold)
        return status;
    KesFileInfo info;
    if (KesFileGetInfo(status, entry->location, &info)->code == KES_OK) {
        entry->size = static_cast<uint64_t>(info.size);
        if (size != nullptr)
            *size = entry->size;
    }
    op.exit();
    return status;
}

}  // namespace

extern "C" {

KesStatus *DepotFileOpenForRead(KesStatus *status, Depot *depot, DepotEntry *entry, KesFile *file) {
    constexpr const char *kOp = "DepotFileOpenForRead";
    OperationGuard op(kOp);
    if (!op.check(status, depot, entry, file))
        return status;
    return OpenData(status, depot, entry, file, KES_FILE_READ | KES_FILE_BINARY, false, op,
                    [](DepotEntry *opened) { opened->accessTime = Now(); });
}

KesStatus *DepotFileOpenForWrite(KesStatus *status, Depot *depot, DepotEntry *entry, KesFile *file,
                                 uint8_t truncate) {
    constexpr const char *kOp = "DepotFileOpenForWrite";
    OperationGuard op(kOp);
    // The time is taken before the wait for the lock.
    const uint32_t now = Now();
    if (!op.check(status, depot, entry, file))
        return status;
    const int32_t flags =
        KES_FILE_READ_WRITE | KES_FILE_BINARY | (truncate ? KES_FILE_TRUNCATE : 0);
    return OpenData(status, depot, entry, file, flags, true, op, [now](DepotEntry *opened) {
        opened->writeCount += 1;
        opened->accessTime = now;
        opened->modifyTime = now;
    });
}

KesStatus *DepotSetSegmentSize(KesStatus *status, Depot *depot, DepotEntry *entry) {
    constexpr const char *kOp = "DepotSetSegmentSize";
    OperationGuard op(kOp);
    if (!op.check(status, depot, entry))
        return status;
    return MeasureData(status, depot, entry, nullptr, op);
}

KesStatus *DepotEntryGetFileSize(KesStatus *status, Depot *depot, DepotEntry *entry,
                                 uint64_t *size) {
    constexpr const char *kOp = "DepotEntryGetFileSize";
    OperationGuard op(kOp);
    if (!op.check(status, depot, entry, size))
        return status;
    return MeasureData(status, depot, entry, size, op);
}

KesStatus *DepotSetCheckpointOffset(KesStatus *status, Depot *depot, const char *id,
                                    const char *version, uint32_t time, uint64_t *offset) {
    constexpr const char *kOp = "DepotSetCheckpointOffset";
    OperationGuard op(kOp);
    if (!op.check(status, depot, offset))
        return status;
    DepotEntry *entry = DepotGetEntry(depot, id, version);
    if (entry == nullptr) {
        op.exit();
        return FillStatus(status, KES_END, 0, 0);
    }
    const LockHold &entryHold = op.lock(status, &depot->entryLock, Abandoned::kFail);
    if (!entryHold)
        return status;
    FillStatus(status, KES_OK, 0, 0);
    // The size of the data file is where a transfer that last wrote at
    // `time` goes on.
    if (entry->modifyTime == time)
        DepotEntryGetFileSize(status, depot, entry, offset);
    op.exit();
    return status;
}

uint8_t DepotEntryModified(Depot *depot, const char *id, const char *version, uint32_t time) {
    constexpr const char *kOp = "DepotEntryModified";
    OperationGuard op(kOp);
    DepotEntry *entry = depot != nullptr ? DepotGetEntry(depot, id, version) : nullptr;
    if (entry == nullptr) {
        op.exit();
        return 0;
    }
    KesStatus status;
    LockHold &entryHold = op.lock(&status, &depot->entryLock, Abandoned::kFail);
    if (!entryHold)
        return 0;
    const bool modified = entry->modifyTime != time;
    entryHold.release();
    op.exit();
    return modified ? 1 : 0;
}
}
