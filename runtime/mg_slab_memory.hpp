// Memory for the carvers' slabs straight from the host: mappings of whole
// pages, given back to the system when unmapped. The caller owns a mapping
// until it unmaps it; any thread.
#pragma once

#include <cstddef>

namespace korvo::rt::pool::detail {

// The size of a huge page, which the largest slabs are.
inline constexpr std::size_t kHugePageBytes = std::size_t{2} << 20;

// `bytes` (a multiple of the page size) of fresh zeroed memory, or nullptr.
void *map_pages(std::size_t bytes);

// `bytes` (a multiple of kHugePageBytes) aligned to a huge page and marked
// for huge pages where the system offers them, so that it is faulted in and
// unmapped a huge page at a time; nullptr when there is none.
void *map_huge_pages(std::size_t bytes);

// Unmaps what map_pages or map_huge_pages gave. False when the system
// refuses (splitting a mapping would pass the process's limit of mappings),
// and then the memory is still the caller's.
bool unmap_pages(void *memory, std::size_t bytes);

}  // namespace korvo::rt::pool::detail
