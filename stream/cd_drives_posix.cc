// The CD drives on POSIX: the CD file systems of the mount table.
#include <cerrno>
#include <cstring>

#include "kes/host_file.hpp"
#include "runtime/cpl.h"
#include "runtime/log.h"
#include "stream/cd_drives.hpp"
#include "stream/locating.hpp"
#include "stream/mount_table.hpp"

namespace korvo::stream {

namespace {

constexpr const char *kDefaultTable = "/proc/self/mounts";
constexpr std::size_t kLargestTable = 16u << 20;

bool read_table(const std::string &path, std::string &text) {
    const korvo::kes::UniqueFd fd = open_regular_file(path);
    if (!fd)
        return false;
    // A file in /proc says it is empty: read up to the end, within the bound.
    char chunk[65536];
    for (;;) {
        const ssize_t got = korvo::host::ReadFile(fd.get(), chunk, sizeof chunk);
        if (got < 0)
            return false;
        if (got == 0)
            return true;
        if (text.size() + static_cast<std::size_t>(got) > kLargestTable) {
            errno = EFBIG;
            return false;
        }
        text.append(chunk, static_cast<std::size_t>(got));
    }
}

}  // namespace

std::vector<std::string> cd_drives() {
    const char *named = cpl_getenv("KORVO_MOUNT_TABLE");
    const std::string path = named != nullptr && *named != '\0' ? named : kDefaultTable;
    std::string text;
    if (!read_table(path, text)) {
        LogMsg(LOG_LEVEL_SURVIVED, 0, 0, -1, "korvo: Cannot read the mount table %s: %s",
               path.c_str(), std::strerror(errno));
        return {};
    }
    return cd_mount_points(text);
}

}  // namespace korvo::stream
