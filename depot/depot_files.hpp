// Names and writing of a depot's files.
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
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "depot/depot_index.hpp"
#include "kes/kes_status.h"

namespace korvo::depot {

// "%s/%s.%d.%s" of the directory, bucket, entry number and suffix, localised;
// a Kes-heap string (KesMemoryFree), NULL when memory is exhausted.
char *FilePath(const char *dir, const char *bucket, int32_t number, const char *suffix);

// The entry number of an entry file name: the decimal number that starts at
// its tenth character (after the bucket and a point), read as atoi reads;
// -1 for a name too short to have one.
int32_t EntryNumber(std::string_view name);

// Writes `length` bytes of `record` as the content of the file `path`,
// replacing it in one step (see above). The status is the first failing
// Kes call's.
KesStatus *ReplaceFile(KesStatus *status, DirectorySession &session, const char *path,
                       const char *record, size_t length);

// Removes the temporary files in `dir` whose writing process no longer
// exists.
void RemoveStaleTemporaries(const char *dir);

}  // namespace korvo::depot
