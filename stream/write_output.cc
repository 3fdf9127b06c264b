// The output file of a file-list stream that is written: the distribution
// id as a file name in the "korvo" directory under the work directory.
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>

#include "kes/host_file.hpp"
#include "properties/errors/catalog_raise.hpp"
#include "properties/errors/korvo_catalog.h"
#include "properties/helpers/file_helpers.h"
#include "runtime/config.h"
#include "runtime/cpl.h"
#include "runtime/mg_memory.h"
#include "runtime/raise.hpp"
#include "stream/write_internal.hpp"

namespace korvo::stream {

namespace {

using korvo::helpers::raise_message;
using korvo::rt::MgPtr;

constexpr const char *kOutputDirectory = "korvo";

struct FileDelete {
    void operator()(FileRecord *file) const noexcept { file_delete(file); }
};

// "<work dir>/korvo", normalised; the temporary directory stands in for a
// work directory that is not set.
std::string output_directory() {
    MgPtr<char> work(mrt_get_work_dir());
    if (work == nullptr)
        work.reset(mg_strdup(cpl_tmpdir()));
    if (work == nullptr)
        vaThrow(nullptr, -1, "Not enough memory for a %1$s.\n", "path");
    const std::string joined = std::string(work.get()) + "/" + kOutputDirectory;
    const MgPtr<char> corrected(CorrectPath(joined.c_str(), 1));
    if (corrected == nullptr)
        vaThrow(nullptr, -1, "Not enough memory for a %1$s.\n", "path");
    return corrected.get();
}

// A distribution id names a file of the directory only when it is a plain
// name: no separator, not "." or "..", not empty.
bool is_plain_name(const char *name) {
    return name != nullptr && *name != '\0' && std::strchr(name, '/') == nullptr &&
           std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0;
}

// Makes the directory (one level, for its owner only) when it does not
// exist. One that another account made, or a link into one, could be
// changed under the file by that account and is refused.
void prepare_directory(const std::string &dir, const std::string &path) {
    using namespace korvo::host;
    FileInfo entry, target;
    if (!StatLink(dir.c_str(), &entry)) {
        if (errno == ENOENT && !MakeDirectory(dir.c_str(), 0700) && errno != EEXIST)
            raise_message(KORVO_MSG_FILE_CREATE_FAILED, path.c_str(), errno);
        return;
    }
    if (!entry.owned_by_self || (StatPath(dir.c_str(), &target) &&
                                 target.kind == FileKind::kDirectory && !target.owned_by_self))
        raise_message(KORVO_MSG_FILE_CREATE_FAILED, path.c_str(), EPERM);
}

}  // namespace

FileRecord *create_output_file(const char *distId) {
    const std::string dir = output_directory();
    const std::string path = dir + "/" + (distId != nullptr ? distId : "");
    if (!is_plain_name(distId))
        raise_message(KORVO_MSG_FILE_CREATE_FAILED, path.c_str(), EINVAL);
    prepare_directory(dir, path);
    // Not through a link, and without waiting for a reader when a FIFO
    // stands there; only a regular file is kept.
    using namespace korvo::host;
    const int flags = HostOpenFlags(kOpenWrite | kOpenTruncate | kOpenNoFollow | kOpenNonBlock);
    std::unique_ptr<FileRecord, FileDelete> file(file_create(path.c_str(), flags, 0400));
    FileInfo status;
    if (!StatFile(file->fd, &status) || status.kind != FileKind::kRegular)
        raise_message(KORVO_MSG_FILE_CREATE_FAILED, path.c_str(), EINVAL);
    MakeBlocking(file->fd);
    return file.release();
}

}  // namespace korvo::stream
