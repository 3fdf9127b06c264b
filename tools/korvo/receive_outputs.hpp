// The output folder of a receive and its files, one per segment, named by
// the segment's id. Every file is reached through the folder's descriptor
// and opened without following a symbolic link, so nothing outside the
// folder is ever written: a link, a FIFO, a directory or a file with other
// names (hard links) where an output belongs is refused with a message
// that names it, and so is an output that is the very file (device and
// inode) the receive reads a segment from.
//
// Ownership: an OutputFiles owns the folder's handle and the files'.
// Threads: main thread. Failures are Failures (exit 1).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "distribution_toc.hpp"
#include "host_files.hpp"

namespace korvo::cli {

class OutputFiles {
  public:
    // Makes the folder when it is missing and opens it; checks that every
    // segment id is a file name.
    OutputFiles(const std::string &out, const DistributionToc &toc);
    ~OutputFiles();
    OutputFiles(const OutputFiles &) = delete;
    OutputFiles &operator=(const OutputFiles &) = delete;

    uint32_t size() const { return static_cast<uint32_t>(names_.size()); }
    const std::string &name(uint32_t i) const { return names_[i]; }
    std::string path(uint32_t i) const { return out_ + "/" + names_[i]; }

    // The bytes segment i's output holds now (0 when there is none yet),
    // without opening anything for writing.
    uint64_t on_disk(uint32_t i);

    // Refuses, before anything is opened for writing, an output that is the
    // file `input` (what segment `segment` is read from, or the TOC file).
    void refuse_input(const std::string &input, const std::string &segment) const;

    // Opens (creating) every output and cuts it to `keep[i]` bytes.
    void open_all(const std::vector<uint64_t> &keep);
    // Writes `length` bytes at byte `at` of segment i's output.
    void write(uint32_t i, uint64_t at, const char *data, size_t length);
    // Cuts segment i's output back to `length` bytes.
    void cut(uint32_t i, uint64_t length);
    // Flushes every open output and the folder to disk (fsync). A Failure
    // names the first that could not be flushed.
    void sync_all() const;
    // The descriptor of segment i's open output (for reading it back).
    int descriptor(uint32_t i) const { return fds_[i]; }

  private:
    struct Identity {
        bool exists = false;
        uint64_t device = 0;
        uint64_t inode = 0;
        uint64_t size = 0;
    };
    // Checks what lies at `name` in the folder: nothing, or a regular file
    // with one name. Its identity.
    Identity inspect(uint32_t i) const;

    std::string out_;
    host::FolderHandle dir_;
    std::vector<std::string> names_;
    std::vector<Identity> seen_;
    std::vector<int> fds_;
};

}  // namespace korvo::cli
