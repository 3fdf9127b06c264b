// The CD drives on Windows: the roots of the drives C to Z whose type is CD.
#include "kes/host_drives.hpp"
#include "stream/cd_drives.hpp"

namespace korvo::stream {

std::vector<std::string> cd_drives() {
    return korvo::host::CdDriveRoots();
}

}  // namespace korvo::stream
