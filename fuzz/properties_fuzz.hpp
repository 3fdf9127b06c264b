// What the property-list fuzz targets share: the type code of the lists
// they decode and encode, and the rule by which a decoded list encodes back
// to the bytes it came from.
#pragma once

#include <string_view>

#include "fuzz/fuzz_check.hpp"
#include "properties/korvo_properties.h"

namespace korvo::fuzz {

inline const TypeCode kProperties = TC_Vem_Korvo2__sequence_Property_Properties;

// Checks that a list decoded from `input` encodes back to it (`encoded`),
// unless the input names a type by one of the repository's short sequence
// names: aliases that encode back under their full names.
inline void check_encodes_back(std::string_view encoded, std::string_view input) {
    check(encoded == input || input.find("Vem_Korvo2::Properties") != std::string_view::npos ||
          input.find("Vem_Korvo2::StreamKey") != std::string_view::npos);
}

}  // namespace korvo::fuzz
