// Replacing a file's contents in one step. The new bytes go to a temporary
// file beside the target, which is then renamed over it, so that a process
// that dies, or a disk that fills, at any moment leaves either the old file
// or the new one, whole, never a torn one. Property files and progress
// records are saved this way.
//
// The temporary file is ".korvo-XXXXXX" in the target's directory (the X's
// drawn at random, as mkstemp does): a name of fixed length, so that a
// target whose name fits the file system always leaves room for it, and
// one that is never taken for a progress file or a property file. It is
// created for the owner only (0600); when the target exists, its permission
// bits are carried over. A target that exists and is not a regular file (a
// directory, a FIFO, a link, a device), or one the caller may not write, is
// refused before anything is created. Nothing is flushed to the disk: the
// point is surviving the process and a full disk, not a power failure.
//
// Kes layer: OS calls only, no raise. One object is used by one thread.
#pragma once

#include <cstddef>
#include <string>

#include "kes/kes_fd.hpp"

namespace korvo::kes {

class FileReplacement {
  public:
    // Where a replacement failed.
    enum class Stage {
        kNone,    // no failure
        kCreate,  // the target was refused or the temporary file not created
        kWrite,   // a write fell short (a full disk, a file-size limit, an error)
        kCommit,  // closing the temporary file or renaming it failed
    };

    // Begins replacing the file at `path` (not NULL): checks the target and
    // creates the temporary file.
    explicit FileReplacement(const char *path);
    // Removes the temporary file unless it was committed.
    ~FileReplacement();
    FileReplacement(const FileReplacement &) = delete;
    FileReplacement &operator=(const FileReplacement &) = delete;

    // Appends `length` bytes to the new contents; false (and nothing more
    // is done) after a failure.
    bool write(const void *bytes, size_t length);
    // Closes the temporary file and renames it over the target. True when
    // the target now holds what was written.
    bool commit();

    // The first failure, and its errno (0 when none).
    Stage failed() const { return stage_; }
    int error() const { return error_; }

  private:
    bool fail(Stage stage, int error);

    std::string temporary_;
    std::string target_;
    UniqueFd fd_;
    Stage stage_ = Stage::kNone;
    int error_ = 0;
    bool committed_ = false;
};

}  // namespace korvo::kes
