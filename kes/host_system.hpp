// What the host tells about itself: the size of a memory page.
// Threads: any thread.
#pragma once

#include <cstddef>

namespace korvo::host {

// The page size in bytes (4096 when the host does not say); read once.
std::size_t PageSize() noexcept;

}  // namespace korvo::host
