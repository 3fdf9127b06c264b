// Making the heap cell behind a KesFile.
#pragma once

#include "kes/kes_file.h"
#include "kes/kes_memory.h"

namespace korvo::kes {

// A new cell holding `descriptor`; null when memory is exhausted.
inline KesFile NewFileCell(int descriptor) {
    auto *cell = static_cast<KesFileCell *>(KesMemoryMalloc(sizeof(KesFileCell)));
    if (cell != nullptr)
        cell->descriptor = descriptor;
    return cell;
}

}  // namespace korvo::kes
