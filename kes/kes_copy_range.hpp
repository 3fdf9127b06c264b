// Copies between two open files inside the kernel (copy_file_range), so
// that the bytes never pass through the caller's memory, and the shape of
// an open file (identity, size, change times) that tells a caller whether
// the file changed while it was copied from.
//
// Nothing is allocated; descriptors stay the caller's. Kes layer: OS calls
// only, no raise. Any thread may call.
#pragma once

#include <cstdint>

#include "kes/kes_status.h"

namespace korvo::kes {

// Copies up to `length` bytes from byte `from` of `in` to byte `at` of
// `out`; neither descriptor's position moves. Returns the bytes copied:
// `length`, fewer when `in` ended first (0 at its end), or -1 with `status`
// filled when nothing could be copied in the kernel. KES_UNSUPPORTED: the
// kernel, the file systems or the kinds of file refuse an in-kernel copy
// between these two (different file systems, a pipe or a FIFO, a file of
// /proc, an output opened for appending), so the caller reads and writes
// instead. KES_SYSTEM_ERROR (osError = errno): any other failure (I/O, a
// full disk). A failure after some bytes were copied returns those; the
// next call reports it. KES_INVALID: a negative descriptor, place or length.
int64_t KesCopyRange(int in, int64_t from, int out, int64_t at, int64_t length, KesStatus *status);

// What a file looked like: the same file with the same size, written last
// at the same moment, has the same shape.
struct KesFileShape {
    uint64_t device = 0;
    uint64_t inode = 0;
    int64_t size = 0;
    int64_t modified_ns = 0;  // last write to the data
    int64_t changed_ns = 0;   // last change of the data or the inode
    bool operator==(const KesFileShape &) const = default;
};

// The shape of the open file `fd`; false (shape untouched) when it cannot
// be asked.
bool KesFileShapeOf(int fd, KesFileShape *shape);

}  // namespace korvo::kes
