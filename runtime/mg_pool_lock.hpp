// The lock of the block pool's shared lists (magazines, strays, free
// slabs). A plain process-wide mutex usable before any constructor runs; a
// child of fork gets it unlocked, whatever thread of the parent held it.
// Any thread; not recursive.
#pragma once

namespace korvo::rt::pool::detail {

void lock_shared_pool();
void unlock_shared_pool();

}  // namespace korvo::rt::pool::detail
