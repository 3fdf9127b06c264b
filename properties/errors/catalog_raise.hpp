// Raising the catalog's messages from the file, directory and path-name
// helpers: the catalog's name, the message number, its text, then the
// message's arguments in placeholder order.
#pragma once

#include <cstdint>

#include "properties/errors/korvo_catalog.h"
#include "runtime/raise.h"

namespace korvo::helpers {

template <typename... Args>
[[noreturn]] inline void raise_message(int32_t number, Args... arguments) {
    vaThrow(Korvo2Catalog[0], number, Korvo2Catalog[number], arguments...);
}

}  // namespace korvo::helpers
