// The drives of the machine by letter, through the host. Windows names its
// file systems by drive letter; POSIX has no drive letters (its CD drives are
// the CD file systems of the mount table, which stream/ reads), so there the
// list is always empty.
//
// One implementation per host: host_drives_posix.cc and host_drives_win32.cc.
// Threads: any; nothing is kept between calls.
#pragma once

#include <string>
#include <vector>

namespace korvo::host {

// The roots ("D:\") of the CD drives among the drives C to Z, in letter
// order.
std::vector<std::string> CdDriveRoots();

}  // namespace korvo::host
