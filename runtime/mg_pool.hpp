// The block pool behind the mg_ family. Property lists are made of many
// small blocks (a key, a value cell, a string, a sequence buffer each), so
// small blocks of sixteen size classes (16 to 256 bytes) come from
// per-thread caches that trade with a shared pool in batches; larger blocks
// come from the C heap. Every block carries a 16-byte header naming its
// class, so a block may be freed by any thread. Small blocks go back to the
// pool, never to the system: the memory held is the most ever in use at once.
//
// Built with AddressSanitizer, the pool steps aside and every block is a
// plain C heap block, so that the sanitizer sees each one.
#pragma once

#include <cstddef>

namespace korvo::rt::pool {

// A block of at least `size` bytes aligned to 16, or nullptr.
void *allocate(std::size_t size);
// Returns a block of allocate() (nullptr is ignored).
void release(void *block);
// The block grown or shrunk to `size` bytes with its contents kept, or
// nullptr with the block untouched.
void *resize(void *block, std::size_t size);

}  // namespace korvo::rt::pool
