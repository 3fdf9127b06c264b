// The process's registry of type names, filled from the repositories given
// to adr_type_init (and the standard repository, always).
#pragma once

#include <string_view>

#include "runtime/typecode.h"

namespace korvo::rt {

// The type registered under `name`, or NULL. When found and `stable_name` is
// given, it receives the registry's copy of the name, which lives as long as
// the process.
TypeCode registry_find(std::string_view name, const char **stable_name = nullptr);

}  // namespace korvo::rt
