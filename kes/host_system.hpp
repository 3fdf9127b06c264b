// What the host tells about itself: the size of a memory page, and the
// operating system's name, architecture and version as the system
// information calls report them; and the immediate end of the process.
// Threads: any thread.
#pragma once

#include <cstddef>

namespace korvo::host {

// The page size in bytes (4096 when the host does not say); read once.
std::size_t PageSize() noexcept;

enum class SystemFact { kName, kArchitecture, kVersion };

// Copies the text of `fact` into `buffer` (`size` bytes, cut and
// terminated); false, with the buffer untouched, when the host does not tell
// it now (a later call may).
bool SystemFactText(SystemFact fact, char *buffer, std::size_t size) noexcept;

// Ends the process at once with `status`: no exit handlers, no flushing of
// C streams, no library unloading code.
[[noreturn]] void EndProcessNow(int status) noexcept;

}  // namespace korvo::host
