// The process id the names of temporary files carry, and whether another
// process still runs, on a Windows host (see kes_file_guard.hpp). There is
// no fork here: the id is read once.
#include <windows.h>

#include "kes/host_handle_win32.hpp"
#include "kes/kes_file_guard.hpp"

namespace korvo::kes {

pid_t ProcessId() {
    static const pid_t pid = static_cast<pid_t>(::GetCurrentProcessId());
    return pid;
}

bool ProcessEnded(pid_t pid) {
    // A process whose handle cannot be had because it is not ours to open
    // still runs; only a missing process, or one that has signalled its
    // end, has ended.
    const host::UniqueHandle process(::OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid)));
    if (!process)
        return ::GetLastError() == ERROR_INVALID_PARAMETER;
    return ::WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0;
}

}  // namespace korvo::kes
