// The block pool's lock on POSIX hosts: a statically initialised pthread
// mutex (see mg_pool_lock.hpp).
#include "runtime/mg_pool_lock.hpp"

#include <pthread.h>

namespace korvo::rt::pool::detail {
namespace {

constinit pthread_mutex_t shared_pool_lock = PTHREAD_MUTEX_INITIALIZER;

// A child of fork() must not inherit the lock held by a thread that does not
// exist there.
const int fork_hooks = pthread_atfork([] { pthread_mutex_lock(&shared_pool_lock); },
                                      [] { pthread_mutex_unlock(&shared_pool_lock); },
                                      [] { pthread_mutex_unlock(&shared_pool_lock); });

}  // namespace

void lock_shared_pool() {
    pthread_mutex_lock(&shared_pool_lock);
}

void unlock_shared_pool() {
    pthread_mutex_unlock(&shared_pool_lock);
}

}  // namespace korvo::rt::pool::detail
