// What the ways of locating segments share: where located data paths go,
// the index of the segments still to find, writing a located segment, and
// the searches by stream type that the size query and the modified-TOC step
// both run.
//
// Everything here works on a Toc view whose segments are marked as they are
// located; failures raise catalog messages. One thread at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "kes/kes_fd.hpp"
#include "records/korvo_toc.h"
#include "runtime/mg_memory.h"
#include "runtime/stypes.h"
#include "stream/net_stream.h"

namespace korvo::stream {

// A Toc view over a list that stays someone else's: releasing the view
// frees the segment records and the record, not the list.
struct TocViewFree {
    void operator()(Toc *toc) const noexcept {
        toc_free_buffer(toc);
        mg_free(toc);
    }
};
using TocView = std::unique_ptr<Toc, TocViewFree>;

// The longest path the searches build, its NUL included: a path-name buffer.
inline constexpr std::size_t kPathBytes = 1024;

inline bool fits_path_buffer(std::string_view path) {
    return path.size() < kPathBytes;
}

// Where the data paths of located segments go: nowhere (a size query), the
// modified-TOC step's file list, or a caller's string list.
class FoundPaths {
  public:
    FoundPaths() = default;
    explicit FoundPaths(std::vector<std::string> *list) : vector_(list) {}
    explicit FoundPaths(StringList *list) : strings_(list) {}
    // Raises a runtime error when memory is exhausted.
    void add(const std::string &path);

  private:
    std::vector<std::string> *vector_ = nullptr;
    StringList *strings_ = nullptr;
};

// The TOC's segments by id and version, each pair with its segments in TOC
// order, so that a description finds its segments without a pass over the
// TOC. Built from the segments unmarked when it is made; a segment marked
// since is still listed (callers look at `marked`).
class SegmentIndex {
  public:
    explicit SegmentIndex(const Toc *toc);
    // The segments of `id` and `version`, or nullptr.
    const std::vector<Segment *> *find(const char *id, const char *version) const;

  private:
    static std::string key(const char *id, const char *version);
    std::unordered_map<std::string, std::vector<Segment *>> segments_;
};

inline bool all_marked(const Toc *toc) {
    return toc->marked_count >= toc->count;
}

// Marks the segment located at `path` (a data file of `size` bytes): its
// properties get "data_path", "dat_file" and "size".
void mark_located(Toc *toc, Segment *segment, const std::string &path, int32_t size);

// The size of the regular file at `path`, or -1 when there is none (no
// file, or a directory, FIFO or device, which a stream must not open).
// Raises message 24 for a file larger than a segment's 32-bit size.
int32_t data_file_size(const std::string &path);

// Opens a file that other programs provide (a mount table, "remote.dir")
// for reading, without waiting on a FIFO or device: an empty owner (errno
// set) unless it is a regular file.
korvo::kes::UniqueFd open_regular_file(const std::string &path);

// The directory search over `directory` with the index of the TOC.
void search_directory(Toc *toc, const char *directory, const SegmentIndex &index,
                      FoundPaths &paths);
// The search of every CD drive's root.
void search_cd_drives(Toc *toc, const SegmentIndex &index, FoundPaths &paths);
// The search of the directories listed in "remote.dir" under QEL_DATDIR.
// Raises message 170 when that file cannot be read.
void search_remote_directories(Toc *toc, const SegmentIndex &index, FoundPaths &paths);

// The searches of a file-kind stream by its type: "remote.dir" (7, 8), CD
// drives (6, and 8 while segments are unmarked), the stream's directory
// (9). Other types search nothing.
void search_sources(NetStream *stream, Toc *toc, FoundPaths &paths);

// The local depot check of a network stream: claims the complete entries of
// the TOC's segments in order, locates their data files, and makes the
// stream a depot stream (type 10) when every segment is there.
void check_local_depot(NetStream *stream, Toc *toc, FoundPaths &paths);

// Raises message 182 with the id and version of the first unmarked segment.
[[noreturn]] void raise_first_unmarked(const Toc *toc);

}  // namespace korvo::stream
