// Progress records: a distribution's property list in its own file under
// the work directory's "mstat" directory.
#include "stream/mstat.h"

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "kes/host_file.hpp"
#include "kes/kes_path_rules.hpp"
#include "properties/helpers/pathname.h"
#include "properties/korvo_properties.h"
#include "properties/property_files.h"
#include "runtime/config.h"
#include "runtime/cpl.h"
#include "runtime/log.h"
#include "runtime/mg_memory.h"
#include "runtime/raise.hpp"
#include "runtime/typecode.h"
#include "stream/encoded_record.hpp"
#include "stream/progress_file.hpp"

using korvo::rt::MgPtr;

namespace {

constexpr const char *kDirectory = "mstat";
constexpr const char *kIdKey = "msid";

// A record lives in a block that also holds the descriptor of its file and
// the encoding its checkpoints patch (owned; made by the first checkpoint).
struct MstatBlock {
    mstat record;  // first: an mstat * is an MstatBlock *
    korvo::stream::ProgressFile file;
    korvo::stream::EncodedRecord *encoded;
};

MstatBlock &block_of(mstat *record) {
    return *reinterpret_cast<MstatBlock *>(record);
}

korvo::stream::ProgressFile &file_of(mstat *record) {
    return block_of(record).file;
}

void forget_encoding(mstat *record) {
    if (block_of(record).encoded != nullptr)
        block_of(record).encoded->forget();
}

// Keeps the bytes a save wrote for the checkpoints that follow. Keeping
// them is a saving, never a condition of the save: a failure keeps none.
void keep_encoding(mstat *record, const char *countKey, const uint8_t *bytes, uint32_t length) {
    MstatBlock &block = block_of(record);
    try {
        if (block.encoded == nullptr)
            block.encoded = std::make_unique<korvo::stream::EncodedRecord>().release();
        block.encoded->remember(&record->properties, bytes, length, countKey);
    } catch (...) {
        forget_encoding(record);
    }
}

struct PathDelete {
    void operator()(char *buffer) const noexcept { pathname_delete(buffer); }
};
using PathPtr = std::unique_ptr<char, PathDelete>;

// The progress directory this thread last found or made. A stream opens a
// record for every distribution it reads, and looking at the directory
// costs a path walk each time; mstat_new looks only at a directory other
// than this one. Should the directory go away after all, the first save
// makes it again (owned_directory).
thread_local std::string knownDirectory;

// Looks at the progress directory's entry (not following a link) into
// `entry`, and makes the directory first when nothing is there, for the
// owner only: nobody else may plant or read records there. False when
// there is still no entry; a directory that cannot be made shows at the
// save, which cannot write the file. A directory found or made is
// remembered for mstat_new.
bool find_or_make_directory(const char *dir, korvo::host::FileInfo *entry) noexcept {
    if (!korvo::host::StatLink(dir, entry) &&
        (errno != ENOENT || !korvo::host::MakeDirectory(dir, 0700) ||
         !korvo::host::StatLink(dir, entry)))
        return false;
    try {
        knownDirectory = dir;
    } catch (...) {
        knownDirectory.clear();  // looked at again next time
    }
    return true;
}

// Whether the progress directory may hold this account's records. One that
// another account made (or a link that another account planted, or one to
// such a directory) could hold forged records and is refused, with a log
// line. One that does not exist is made; one that cannot be made, or is no
// directory, is left to the save, which reports why it cannot write there.
bool owned_directory(const char *dir) {
    korvo::host::FileInfo entry, target;
    if (!find_or_make_directory(dir, &entry))
        return true;
    if (!korvo::host::StatPath(dir, &target) || target.kind != korvo::host::FileKind::kDirectory)
        return true;
    if (entry.owned_by_self && target.owned_by_self)
        return true;
    LogMsg(LOG_LEVEL_FAILURE, 0, 0, -1,
           "korvo: The progress directory %1$s belongs to another account; no progress record "
           "is kept there.",
           dir);
    return false;
}

// Whether the id holds what would make a path of it and put the file
// outside the progress directory: a '/', and on Windows also a '\\' or
// the ':' of a drive (or of a stream of the file).
bool names_a_path(const char *id) {
    const char *breaking =
        korvo::kes::kHostPathStyle == korvo::kes::PathStyle::kWindows ? "/\\:" : "/";
    return std::strpbrk(id, breaking) != nullptr;
}

// The progress file's path, built on first use: the directory, '/', the id,
// '.', the suffix. False when it cannot be built.
bool build_path(mstat *record) {
    if (record == nullptr)
        return false;
    if (record->path != nullptr)
        return true;
    if (!owned_directory(record->dir))
        return false;
    if (names_a_path(record->distId))
        return false;
    PathPtr path(pathname_clone(record->dir));
    if (path == nullptr || pathname_append(path.get(), record->distId) != 0)
        return false;
    const size_t length = std::strlen(path.get());
    const size_t suffix = std::strlen(record->suffix);
    if (length + 1 + suffix >= PATHNAME_BUFFER_SIZE)
        return false;
    path.get()[length] = '.';
    std::memcpy(path.get() + length + 1, record->suffix, suffix + 1);
    record->path = path.release();
    return true;
}

// Saves the record: in place when its encoding has the file's size, else
// by replacing the file. With `countKey` the encoding is kept for
// save_count.
int32_t save(mstat *record, const char *countKey) {
    if (record == nullptr)
        return -1;
    forget_encoding(record);
    // The record names its distribution; a "msid" that a caller stored with
    // another type is a wrong-type property (message 37), as for any get.
    if (properties_get(&record->properties, kIdKey, TC_string, 0) == nullptr)
        properties_put_string_dup(&record->properties, kIdKey, record->distId);
    if (!build_path(record))
        return -1;
    // A record of the size the file has is rewritten in place; any other is
    // written to a new file that replaces the old one.
    void *encoded = nullptr;
    uint32_t length = 0;
    properties_encode(TC_Vem_Korvo2__sequence_Property_Properties, &record->properties, &encoded,
                      &length);
    const MgPtr<uint8_t> bytes(static_cast<uint8_t *>(encoded));
    korvo::stream::ProgressFile &file = file_of(record);
    if (!korvo::stream::rewrite_in_place(file, record->path, bytes.get(), length,
                                         korvo::stream::FileLook::kEverySave)) {
        korvo::stream::release_before_replace(file);
        properties_save_without_len(&record->properties, record->path);
        korvo::stream::hold_replaced(file, record->path, length);
    }
    if (countKey != nullptr && file.open)
        keep_encoding(record, countKey, bytes.get(), length);
    return 0;
}

}  // namespace

namespace korvo::stream {

bool sync_record(mstat *record) {
    return record != nullptr && sync_progress_file(file_of(record), record->dir);
}

int32_t save_count(mstat *record, const char *key, std::string_view digits) {
    if (record == nullptr)
        return -1;
    MstatBlock &block = block_of(record);
    // The usual checkpoint: the list as the last one left it but for the
    // count, which keeps its number of digits. Its digits change in the
    // kept bytes, which are written over the file's.
    if (block.encoded != nullptr && block.file.open &&
        block.encoded->patch(&record->properties, digits) &&
        rewrite_in_place(block.file, record->path, block.encoded->data(), block.encoded->size(),
                         FileLook::kWhenDue))
        return 0;
    properties_put_string_dup(&record->properties, key, std::string(digits).c_str());
    return save(record, key);
}

bool save_flag_in_place(mstat *record, const char *key, bool value) {
    if (record == nullptr)
        return false;
    MstatBlock &block = block_of(record);
    return block.encoded != nullptr && block.file.open &&
           block.encoded->set_flag(&record->properties, key, value) &&
           rewrite_in_place(block.file, record->path, block.encoded->data(), block.encoded->size(),
                            FileLook::kEverySave);
}

}  // namespace korvo::stream

extern "C" {

mstat *mstat_new(const char *distId, int16_t kind) {
    if (distId == nullptr)
        return nullptr;
    MgPtr<mstat> record(static_cast<mstat *>(mg_calloc(1, sizeof(MstatBlock))));
    PathPtr dir(pathname_new());
    if (record == nullptr || dir == nullptr)
        return nullptr;

    MgPtr<char> work(mrt_get_work_dir());
    if (work == nullptr)
        work.reset(mg_strdup(cpl_tmpdir()));
    if (work == nullptr)
        return nullptr;
    const MgPtr<char> corrected(CorrectPath(work.get(), 1));
    if (corrected == nullptr || std::strlen(corrected.get()) >= PATHNAME_BUFFER_SIZE)
        return nullptr;
    std::strcpy(dir.get(), corrected.get());
    if (pathname_append(dir.get(), kDirectory) != 0)
        return nullptr;

    if (knownDirectory != dir.get()) {
        korvo::host::FileInfo entry;
        find_or_make_directory(dir.get(), &entry);
    }

    record->distId = mg_strdup(distId);
    if (record->distId == nullptr)
        return nullptr;
    std::memcpy(record->suffix, kind != 0 ? "ads" : "mds", 4);
    record->dir = dir.release();
    return record.release();
}

void mstat_free(mstat *record) {
    if (record == nullptr)
        return;
    korvo::stream::close_progress_file(file_of(record));
    std::unique_ptr<korvo::stream::EncodedRecord> encoded(block_of(record).encoded);
    pathname_delete(record->path);
    pathname_delete(record->dir);
    mg_free(record->distId);
    properties_delete(&record->properties);
    mg_free(record);
}

Properties *mstat_get_properties(mstat *record) {
    return record != nullptr ? &record->properties : nullptr;
}

int32_t mstat_save(mstat *record) {
    return save(record, nullptr);
}

int32_t mstat_load(mstat *record) {
    if (!build_path(record))
        return -1;
    forget_encoding(record);
    // Load into a list of our own and take it only when the whole file has
    // been read, so that a failed load leaves the record as it was.
    Properties loaded{};
    properties_load_without_len(&loaded, record->path);
    properties_delete(&record->properties);
    record->properties = loaded;
    return 0;
}

void mstat_done(mstat *record) {
    if (!build_path(record))
        return;
    forget_encoding(record);
    MgPtr<char> finished(mg_strdup(record->path));
    if (finished == nullptr)
        return;
    // The file name must end in '.' and the suffix; only that extension
    // changes, whatever the directories' names hold.
    char *name = const_cast<char *>(pathname_get_name(finished.get()));
    char *dot = std::strrchr(name, '.');
    if (dot == nullptr || std::strcmp(dot + 1, record->suffix) != 0) {
        LogMsg(LOG_LEVEL_SURVIVED, 0, 0, -1, "Error: Invalid pathname %1$s", finished.get());
        return;
    }
    char *extension = dot + 1;
    if (std::strcmp(extension, "ads") == 0 || std::strcmp(extension, "mds") == 0)
        extension[2] = 'f';  // "adf", "mdf"
    // A missing file is no error. Other records of the distribution may hold
    // the file open for their in-place saves: under its finished name it
    // becomes a file of its own, so that their saves land at their path.
    if (korvo::host::RenameReplacing(record->path, finished.get())) {
        korvo::stream::close_progress_file(file_of(record));
        korvo::stream::give_finished_file(finished.get());
        korvo::stream::note_replacement();
    }
    std::strcpy(record->path, finished.get());
    std::memcpy(record->suffix, extension, 4);
}

char *distid_get_filename(const char *distId) {
    return pathname_clone(distId);
}

char *distid_get_next_filename(void) {
    return nullptr;
}
}
