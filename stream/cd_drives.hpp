// The CD drives of the machine, as the CD search visits them. On POSIX they
// are the mount points of the CD file systems of the mount table
// (/proc/self/mounts, or the file KORVO_MOUNT_TABLE names; mount_table.hpp
// reads its text), in the table's order. On Windows they are the roots
// ("D:\") of the drives C to Z whose type is CD, in drive-letter order.
//
// One implementation per host: cd_drives_posix.cc and cd_drives_win32.cc.
// Threads: any; nothing is kept between calls.
#pragma once

#include <string>
#include <vector>

namespace korvo::stream {

// The roots of the machine's CD drives. A mount table that cannot be read
// (missing, not a regular file, larger than 16 MiB) is logged at level 1 and
// gives none.
std::vector<std::string> cd_drives();

}  // namespace korvo::stream
