// The temporary directory of POSIX hosts.
#include "runtime/host_tmpdir.hpp"

namespace korvo::rt {

const char *HostTempDirectory() noexcept {
    return "/tmp";
}

}  // namespace korvo::rt
