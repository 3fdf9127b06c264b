// Blocks of the C heap for the block pool, aligned to 16 bytes on every
// host (the pool's blocks promise 16; 32-bit Windows' malloc gives 8).
// A block is the caller's until it gives it to heap_release; blocks of
// this family never go to free() or come from malloc(). Any thread.
#pragma once

#include <cstddef>

namespace korvo::rt::pool::detail {

// At least `size` bytes aligned to 16, or nullptr.
void *heap_allocate(std::size_t size);
// Moves `block` (from heap_allocate, or nullptr) into at least `size` bytes
// aligned to 16; nullptr (the block unchanged) when there is no room.
void *heap_resize(void *block, std::size_t size);
void heap_release(void *block);

}  // namespace korvo::rt::pool::detail
