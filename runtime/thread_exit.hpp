// Work a thread leaves for its own end: run_at_thread_exit(release, object)
// calls release(object) when the calling thread ends, latest first. The
// object belongs to the caller until then. Unlike a thread_local object's
// destructor, the call does not depend on the thread's thread_local storage
// still being there: mingw-w64 emulates that storage and releases it before
// such destructors run, so on Windows the calls come from the system's
// fiber-local storage callback with nothing but `object` to go on. One
// implementation per host (thread_exit_posix.cc, thread_exit_win32.cc).
// Threads: each thread registers its own.
#pragma once

namespace korvo::rt {

using ThreadExitFn = void (*)(void *object);

// False when the work could not be registered (no memory); then the caller
// still owns `object` and must release it itself.
bool run_at_thread_exit(ThreadExitFn release, void *object) noexcept;

}  // namespace korvo::rt
