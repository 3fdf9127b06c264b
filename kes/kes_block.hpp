// An owner for a block of the Kes heap, released with KesMemoryFree.
#pragma once

#include <memory>

#include "kes/kes_memory.h"

namespace korvo::kes {

struct KesBlockFree {
    void operator()(void *block) const noexcept { KesMemoryFree(block); }
};

using KesText = std::unique_ptr<char, KesBlockFree>;

}  // namespace korvo::kes
