// POSIX has no drive letters: no drive is named by one.
#include "kes/host_drives.hpp"

namespace korvo::host {

std::vector<std::string> CdDriveRoots() {
    return {};
}

}  // namespace korvo::host
