// The environment on a POSIX host. setenv copies its value into a block the C
// library may later replace; putenv installs a block of ours instead, which
// is never released, so a getenv result another thread holds stays valid.
#include <array>
#include <cstddef>
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

// The entries AppendToSearchPath installed. The environment points at them
// for the life of the process; holding them here too keeps them reachable
// when a later change replaces the environment's pointer. A plain array, so
// that nothing releases it at exit while the environment may still be read.
constinit std::array<char *, 16> installed_entries{};
constinit std::size_t installed_count = 0;

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
        if (installed_count < installed_entries.size())
            installed_entries[installed_count++] = block;
        return true;
    } catch (const std::bad_alloc &) {
        return false;
    }
}

}  // namespace korvo::host
