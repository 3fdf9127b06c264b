// Setting and removing environment variables in a test process, where the
// C runtime's getenv and the children the test starts read them. Not safe
// against another thread reading the environment at the same time.
#pragma once

#include <cstdlib>

namespace korvo::test {

// Sets `name` to `value`, or removes it when `value` is nullptr.
inline void setVariable(const char *name, const char *value) {
#ifdef _WIN32
    // An empty value removes the variable there.
    ::_putenv_s(name, value != nullptr ? value : "");
#else
    if (value != nullptr)
        ::setenv(name, value, 1);
    else
        ::unsetenv(name);
#endif
}

}  // namespace korvo::test
