// Making the heap cell behind a KesFile, and the host layer's open flags of
// Kes open flags.
#pragma once

#include "kes/kes_file.h"
#include "kes/kes_memory.h"

namespace korvo::kes {

// The host layer's open flags (host::OpenFlag bits, for host::OpenFile) of
// Kes open `flags`; -1 when they name no access mode.
int HostOpenFlags(int32_t flags);

// A new cell holding `descriptor`; null when memory is exhausted.
inline KesFile NewFileCell(int descriptor) {
    auto *cell = static_cast<KesFileCell *>(KesMemoryMalloc(sizeof(KesFileCell)));
    if (cell != nullptr)
        cell->descriptor = descriptor;
    return cell;
}

}  // namespace korvo::kes
