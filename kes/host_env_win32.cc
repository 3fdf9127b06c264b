// The environment on a Windows host. _putenv_s changes the C runtime's copy
// and the process's own block (which LoadLibrary searches "PATH" in) at
// once. The runtime copies the value it is given, so the text a former
// getenv returned may go: every reader of the library goes through
// GetEnvironment, which copies under the same lock as the change.
#include <cstdlib>
#include <mutex>
#include <new>
#include <string>

#include "kes/host_env.hpp"

namespace korvo::host {

namespace {

std::mutex &EnvironmentLock() {
    static std::mutex lock;
    return lock;
}

}  // namespace

const char kSearchListSeparator = ';';

std::optional<std::string> GetEnvironment(const char *name) {
    const std::lock_guard<std::mutex> hold(EnvironmentLock());
    const char *value = std::getenv(name);
    if (value == nullptr)
        return std::nullopt;
    return std::string(value);
}

bool AppendToSearchPath(const char *directory) noexcept {
    const std::lock_guard<std::mutex> hold(EnvironmentLock());
    try {
        const char *old = std::getenv("PATH");
        std::string value;
        if (old != nullptr && *old != '\0')
            value.append(old).push_back(kSearchListSeparator);
        value.append(directory);
        return ::_putenv_s("PATH", value.c_str()) == 0;
    } catch (const std::bad_alloc &) {
        return false;
    }
}

}  // namespace korvo::host
