// Names, reading and writing of a depot's files.
//
// Entry and data files are "<dir>/<bucket>.<n>.xml" and "<dir>/<bucket>.<n>.dat".
// An entry file is replaced in one step: the record goes into a temporary
// file of the same directory, "<entry file name>.<pid>.<counter>.tmp" (a
// name no lookup or walk takes, since it does not end in "xml"), which is
// then renamed over the entry file. No reader, in this process or another,
// ever sees half a record, and a process killed while saving leaves the old
// record or the new one, and at most a temporary file that the purges
// remove once its process has ended. Files are not synced: the depot
// survives the death of a process, not of the machine.
//
// The directory may hold what other programs put there. Files are opened
// without following a symbolic link at their last component and without
// waiting on a FIFO or a device, and only regular files are used; an entry
// file larger than any record (kMaxRecordBytes) is refused before it is
// read; data files are written to, emptied or removed only inside the depot
// directory.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "depot/depot_index.hpp"
#include "depot/depot_store.h"
#include "kes/kes_file_guard.hpp"
#include "kes/kes_status.h"

namespace korvo::depot {

// The largest record the depot writes or reads, zero byte included.
inline constexpr size_t kMaxRecordBytes = size_t{1} << 20;

// "%s/%s.%d.%s" of the directory, bucket, entry number and suffix, localised;
// a Kes-heap string (KesMemoryFree), NULL when memory is exhausted.
char *FilePath(const char *dir, const char *bucket, int32_t number, const char *suffix);

// "<dir>/<name>", localised.
std::string PathIn(const char *dir, std::string_view name);

using korvo::kes::ReadStep;

// Reads the entry file at `path` whole into `text` (see above). `status` is
// the failing step's.
ReadStep ReadEntryFile(const char *path, std::string *text, KesStatus *status);

// Logs the level-1 line of a failed read of `path` by `op`: "<op> error
// <code> opening file <path>", "... retrieving size of file ..." (or, with
// `sizeWords` "obtaining size of file"), "... reading file ...", or the
// memory line `memoryLine` ("%s" takes op, then path).
void LogReadFailure(const char *op, ReadStep step, const KesStatus &status, const char *path,
                    const char *sizeWords, const char *memoryLine);

// Writes `length` bytes of `record` as the content of the file `path`,
// replacing it in one step (see above), and notes in the session's index
// that the file holds `segment` (*generation: the file's new generation).
// The status is the first failing Kes call's.
KesStatus *ReplaceFile(KesStatus *status, IndexSession &session, const char *path,
                       const char *record, size_t length, uint64_t segment,
                       std::optional<uint64_t> *generation = nullptr);

// The path inside the depot directory of a data file `location`: "<dir>/
// <name>" when `location` is a plain name in the depot directory (by its
// text, or as the same directory under another name). Nothing for a data
// file elsewhere.
std::optional<std::string> InsideDepot(const Depot *depot, const char *location);

// Removes the temporary files in `dir` whose writing process no longer
// exists.
void RemoveStaleTemporaries(const char *dir);

}  // namespace korvo::depot
