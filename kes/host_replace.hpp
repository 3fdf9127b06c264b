// Renaming a file over another, and opening a file that such a rename may
// be replacing at that moment.
//
// POSIX hosts rename over a file in one step, also over one that others
// hold open. A Windows host does so where the volume has POSIX renames
// (Windows 10 1709 and later, on NTFS); elsewhere (older hosts, other file
// systems, Wine) a held target is first moved aside and the new file then
// takes its name: for that moment the path names nothing. The new file
// and the old one then wait under dot names derived from the target's
// (host_replace_win32.cc), and OpenFileOrReplacement finds them there: a
// reader in that moment reads the new file, and after a process that died
// between the steps it finishes the replacement, so that the newest whole
// file takes the name again.
//
// Calls fail as host_file.hpp's do (-1 or false, errno set). Any thread.
#pragma once

namespace korvo::host {

// Renames `from` to `to`, replacing a file that `to` names (also one that
// other processes hold open).
bool RenameReplacing(const char *from, const char *to) noexcept;

// Opens `path` as OpenFile(path, flags) does. Where it names nothing and a
// two-step replacement of it is under way, or was cut off by the death of
// its process, opens the new file that replacement was putting in place
// (finishing a cut-off one first). Exactly OpenFile on POSIX hosts.
int OpenFileOrReplacement(const char *path, unsigned flags) noexcept;

}  // namespace korvo::host
