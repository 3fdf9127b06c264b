// The CD drives of the machine: the mount points of the file systems of
// type iso9660 or udf in the mount table, in the table's order.
//
// The table is the text of /proc/self/mounts, or of the file that
// KORVO_MOUNT_TABLE names: one mount per line, fields separated by blanks
// (device, mount point, type, options, two numbers), with a blank, tab, line
// feed or backslash in a field written as a backslash and three octal digits.
//
// Pure text work (cd_drives.hpp reads the machine's table). Threads: any;
// nothing is kept between calls.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace korvo::stream {

// The mount points of CD file systems in the table's text. Lines with fewer
// than three fields, and mount points that decode to a NUL, are passed over.
std::vector<std::string> cd_mount_points(std::string_view table);

}  // namespace korvo::stream
