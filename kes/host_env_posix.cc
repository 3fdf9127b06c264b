// The environment on a POSIX host. setenv copies its value into a block the C
// library may later replace; putenv installs a block of ours instead, which
// is never released, so a getenv result another thread holds stays valid.
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

#include "kes/host_env.hpp"

namespace korvo::host {

namespace {

std::mutex &EnvironmentLock() {
    static std::mutex lock;
    return lock;
}

}  // namespace

const char kSearchListSeparator = ':';

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
        std::string entry = "PATH=";
        if (old != nullptr)
            entry.append(old).push_back(kSearchListSeparator);
        entry.append(directory);
        // The entry becomes part of the environment and lives as long as
        // the process: it is deliberately never released.
        char *block = static_cast<char *>(std::malloc(entry.size() + 1));
        if (block == nullptr)
            return false;
        std::memcpy(block, entry.c_str(), entry.size() + 1);
        if (::putenv(block) != 0) {
            std::free(block);
            return false;
        }
        return true;
    } catch (const std::bad_alloc &) {
        return false;
    }
}

}  // namespace korvo::host
