// Process-shared, robust, recursive pthread mutexes for the Kes locks.
//
// initRecursiveMutex sets up a mutex in storage the caller provides.
// openNamedMutex gives the process's mapping of the machine-wide mutex that
// lives in the POSIX shared memory object `objectName`: the first process to
// need it creates and initialises the object, the others wait until it is
// ready, and no process ever sees a half-initialised mutex. A process maps an
// object once and keeps the mapping for its whole life (see kes_mutex.cc).
#pragma once

#include <pthread.h>

#include <string>

namespace korvo::kes {

enum class MutexScope { Private, Shared };

// 0, or the error number of the failed pthread call.
int initRecursiveMutex(pthread_mutex_t *mutex, MutexScope scope);

// 0 and *mutex set, or an errno value (*mutex untouched).
int openNamedMutex(const std::string &objectName, pthread_mutex_t **mutex);

// The shared memory object name of a lock name: "/korvo.<name>", or
// "/korvo.<namespace>.<name>" under KORVO_LOCK_NAMESPACE.
std::string sharedObjectName(const char *lockName);

}  // namespace korvo::kes
