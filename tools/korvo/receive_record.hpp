// The progress record of a receive, as the command sees it around the
// library's stream: where it lies, whether one can be kept there at all
// (checked before anything is received), and what an earlier run's record
// says, refusing with the file's name a record that is not one (empty,
// undecodable, larger than any record, not a regular file).
//
// Threads: main thread. Failures are Failures (exit 1).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace korvo::cli {

// A record is a handful of keys; anything larger is not read at all.
inline constexpr uint64_t kRecordMaxBytes = 1 << 20;

// "<progress dir>/<id>.mds" of the endpoint's work directory.
std::string record_path(const std::string &distribution);

// Makes the work directory and its progress directory when they are
// missing, and refuses a distribution whose record could not be written
// there (a file name or path too long for the file system or the library).
// Returns the progress directory.
std::string prepare_record_place(const std::string &distribution);

// What the progress record of an earlier run says.
struct Checkpoint {
    bool found = false;
    uint64_t bytes = 0;             // "c_len"
    std::optional<uint64_t> total;  // "t_len"
};
Checkpoint read_checkpoint(const std::string &distribution);

}  // namespace korvo::cli

namespace korvo::cli {

// Flushes the record at record_path and its directory to disk, when there
// is one. A Failure says what could not be flushed.
void sync_record(const std::string &distribution);

// The "c_len" the record at record_path holds now, or nothing when there is
// no record or it cannot be read.
std::optional<uint64_t> recorded_bytes(const std::string &distribution);

}  // namespace korvo::cli
