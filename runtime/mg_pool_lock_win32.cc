// The block pool's lock on Windows: a statically initialised slim
// reader/writer lock taken exclusively (see mg_pool_lock.hpp). Windows has
// no fork, so no child can inherit it held.
#include "runtime/mg_pool_lock.hpp"

#include <windows.h>

namespace korvo::rt::pool::detail {
namespace {

SRWLOCK shared_pool_lock = SRWLOCK_INIT;

}  // namespace

void lock_shared_pool() {
    ::AcquireSRWLockExclusive(&shared_pool_lock);
}

void unlock_shared_pool() {
    ::ReleaseSRWLockExclusive(&shared_pool_lock);
}

}  // namespace korvo::rt::pool::detail
