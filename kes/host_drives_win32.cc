// The CD drives of a Windows machine: the drives the system lists
// (GetLogicalDriveStringsA) whose type is CD (GetDriveTypeA). Drives A and B
// are the floppy drives and are never CD drives.
#include "kes/host_drives.hpp"

#include <windows.h>

namespace korvo::host {

std::vector<std::string> CdDriveRoots() {
    // "C:\" "D:\" ... each NUL-terminated, an empty name at the end; 26
    // drives of four bytes each and the final NUL fit.
    char listed[26 * 4 + 1];
    const DWORD length = ::GetLogicalDriveStringsA(sizeof listed, listed);
    if (length == 0 || length >= sizeof listed)
        return {};
    bool present[26] = {};
    for (const char *name = listed; *name != '\0';
         name += std::char_traits<char>::length(name) + 1) {
        const char letter = static_cast<char>(name[0] & ~0x20);
        if (letter >= 'A' && letter <= 'Z' && name[1] == ':')
            present[letter - 'A'] = true;
    }
    std::vector<std::string> roots;
    for (char letter = 'C'; letter <= 'Z'; ++letter) {
        if (!present[letter - 'A'])
            continue;
        const char root[] = {letter, ':', '\\', '\0'};
        if (::GetDriveTypeA(root) == DRIVE_CDROM)
            roots.emplace_back(root);
    }
    return roots;
}

}  // namespace korvo::host
