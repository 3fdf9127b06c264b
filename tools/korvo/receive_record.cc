#include "receive_record.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <memory>

#include "endpoint.hpp"
#include "failure.hpp"
#include "host_files.hpp"
#include "output.hpp"
#include "properties/korvo_properties.h"
#include "record_fields.hpp"
#include "stream/mstat.h"

namespace korvo::cli {

namespace {

// The library builds a record's path in a buffer of this many bytes, NUL
// included.
constexpr size_t kLibraryPathMax = 1024;

struct RecordFree {
    void operator()(mstat *record) const { mstat_free(record); }
};

[[noreturn]] void refuse_record(const std::string &path, const std::string &why) {
    throw Failure(kExitFailed, "the progress record " + path + " " + why +
                                   "; remove it (or move it away) to receive the "
                                   "distribution from the start");
}

}  // namespace

std::string record_path(const std::string &distribution) {
    return progress_dir(work_dir("")) + "/" + distribution + ".mds";
}

std::string prepare_record_place(const std::string &distribution) {
    const std::string work = work_dir("");
    const std::string dir = progress_dir(work);
    // The work directory as the user would make it; the progress directory
    // for its owner alone, as the library makes it.
    std::error_code error;
    std::filesystem::create_directories(work, error);
    if (!error && host::make_private_dir(dir) != 0 && errno != EEXIST)
        error = std::error_code(errno, std::generic_category());
    if (error || !std::filesystem::is_directory(dir))
        throw Failure(kExitFailed, "cannot keep a progress record in " + dir + ": " +
                                       (error ? error.message() : "it is not a directory") +
                                       " (name another work directory with -w)");
    const std::string path = record_path(distribution);
    const size_t name_max = host::longest_file_name(dir);
    // The finished record's name and the lock's are as long or longer.
    const size_t longest = distribution.size() + std::strlen(".lock");
    if (longest > name_max || path.size() + 1 > kLibraryPathMax)
        throw Failure(kExitFailed, "the distribution id is " + std::to_string(distribution.size()) +
                                       " characters long: its progress record in " + dir +
                                       " would need a file name of " + std::to_string(longest) +
                                       " bytes (at most " + std::to_string(name_max) +
                                       ") and a path of " + std::to_string(path.size()) +
                                       " (at most " + std::to_string(kLibraryPathMax - 1) +
                                       "), so no record could be kept and nothing could resume");
    return dir;
}

namespace {

Checkpoint load_checkpoint(const std::string &distribution, bool quiet) {
    Checkpoint checkpoint;
    const std::string path = record_path(distribution);
    struct stat status {};
    if (host::lstat_path(path, status) != 0) {
        if (errno == ENOENT)
            return checkpoint;
        refuse_record(path, std::string("cannot be examined: ") + std::strerror(errno));
    }
    if (host::is_link(status) || !S_ISREG(status.st_mode))
        refuse_record(path, "is not a regular file");
    if (status.st_size == 0) {
        // What a save that failed half-way leaves (a full disk): it vouches
        // for nothing, so nothing is lost by starting over.
        if (!quiet)
            std::cerr << "korvo: the progress record " << path
                      << " is empty (a save that failed?): it keeps no checkpoint\n";
        return checkpoint;
    }
    if (static_cast<uint64_t>(status.st_size) > kRecordMaxBytes)
        refuse_record(path, "is " + std::to_string(status.st_size) +
                                " bytes long, more than a progress record can be (" +
                                std::to_string(kRecordMaxBytes) + "), and was not read");
    std::unique_ptr<mstat, RecordFree> record(mstat_new(distribution.c_str(), 0));
    if (!record)
        throw Failure(kExitFailed, "out of memory");
    try {
        library_call([&] { mstat_load(record.get()); });
    } catch (const LibraryFailure &failure) {
        refuse_record(path,
                      "cannot be read as a progress record (" + std::string(failure.what()) + ")");
    }
    const Properties &list = *mstat_get_properties(record.get());
    checkpoint.found = true;
    checkpoint.bytes = record_decimal(list, "c_len").value_or(0);
    checkpoint.total = record_decimal(list, "t_len");
    return checkpoint;
}

}  // namespace

Checkpoint read_checkpoint(const std::string &distribution) {
    return load_checkpoint(distribution, false);
}

}  // namespace korvo::cli

namespace korvo::cli {

void sync_record(const std::string &distribution) {
    const std::string path = record_path(distribution);
    for (const std::string &name : {path, progress_dir(work_dir(""))}) {
        if (host::flush_named(name) != 0 && errno != ENOENT)
            throw Failure(kExitFailed,
                          "cannot flush " + name + " to disk: " + std::strerror(errno));
    }
}

std::optional<uint64_t> recorded_bytes(const std::string &distribution) {
    try {
        Checkpoint checkpoint = load_checkpoint(distribution, true);
        if (!checkpoint.found)
            return std::nullopt;
        return checkpoint.bytes;
    } catch (const Failure &) {
        return std::nullopt;
    }
}

}  // namespace korvo::cli
