// Paths on a POSIX host are their bytes.
#include <cstring>

#include "kes/host_path_prefix.hpp"

namespace korvo::host {

bool PathBeginsWith(const char *path, const char *dir, std::size_t length) noexcept {
    return std::strncmp(path, dir, length) == 0;
}

}  // namespace korvo::host
