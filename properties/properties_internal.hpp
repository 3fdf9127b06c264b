// Helpers shared by the property-list operations.
#pragma once

#include <cstdint>
#include <cstring>

#include "properties/errors/korvo_catalog.h"
#include "properties/korvo_types.h"
#include "runtime/raise.h"

namespace korvo::props {

// Raises catalog message `number` whose one argument is the key.
[[noreturn]] inline void raise_for_key(int32_t number, const char *key) {
    vaThrow(Korvo2Catalog[0], number, Korvo2Catalog[number], key);
}

// The first property whose key equals `key` byte for byte, or NULL.
inline Property *find_property(const Properties *list, const char *key) {
    if (list == nullptr || key == nullptr || list->buffer == nullptr)
        return nullptr;
    for (uint32_t i = 0; i < list->length; ++i) {
        const char *candidate = list->buffer[i].key;
        if (candidate != nullptr && candidate[0] == key[0] && std::strcmp(candidate, key) == 0)
            return &list->buffer[i];
    }
    return nullptr;
}

}  // namespace korvo::props
