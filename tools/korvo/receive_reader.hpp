// The read loop of a receive: every read's bytes go to the output of the
// segment they belong to (a file-kind stream says which, net_stream_read_
// segment; a network stream sends the segments that are not complete in TOC
// order, each ended by a read of 0), at that segment's own position, and no
// segment takes more than its size. The loop stops at the first segment
// that gets more than its size, or that ends before it, or at a command.
//
// Threads: main thread. Failures of the library and of the outputs are
// Failures; what the source did wrong is in the result, for the caller to
// report once the stream is closed.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "receive_outputs.hpp"
#include "stream/net_stream.h"

namespace korvo::cli {

struct SegmentState {
    std::string id;
    uint64_t size = 0;
    uint64_t kept = 0;  // bytes on disk at the start that count as received
    uint64_t got = 0;   // bytes of this run
    bool complete() const { return kept + got == size; }
};

struct ReadResult {
    uint64_t received = 0;            // bytes of this run, in all
    int32_t stop = 0;                 // a negative read: a command, -1 the channel failed
    std::optional<uint32_t> segment;  // the segment read when it stopped or went wrong
    bool overlong = false;            // `segment` got more than its size
    bool short_end = false;           // `segment` ended before its size
    bool stray = false;               // data that belongs to no incomplete segment
    bool interrupted = false;         // Ctrl-C or SIGTERM
    std::optional<uint32_t> reading;  // the segment of the last read, when known
};

struct ReadHooks {
    // Segment i's output holds `written` bytes now.
    std::function<void(uint32_t i, uint64_t written)> written;
    // After each write, with the bytes of this run so far; true stops the
    // receive (interrupted).
    std::function<bool(uint64_t received)> after;
    // A file-kind stream hands the rest of each segment over by an in-kernel
    // copy from its data file into the output (net_stream_copy_segment),
    // after the read that opened the file; where the kernel refuses, the
    // reads go on as without it.
    bool copy_in_kernel = false;
};

// Fills `result` as it goes, so that what it says stays when a Failure
// leaves (a raised read, an output that cannot be written).
void read_distribution(NetStream *stream, std::vector<SegmentState> &segments, OutputFiles &outputs,
                       const ReadHooks &hooks, ReadResult &result);

}  // namespace korvo::cli
