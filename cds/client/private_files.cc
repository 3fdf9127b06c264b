// The cache's file steps that stand on the host's own (private_files_*.cc).
#include <unistd.h>

#include <cerrno>

#include "cds/client/private_files.hpp"

namespace cdsclient {

bool write_all(int fd, const char *data, size_t size) {
    while (size > 0) {
        const auto written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

std::optional<std::string> read_small_file(const std::string &path, size_t limit) {
    const Descriptor file(open_regular(path));
    if (file.get() < 0)
        return std::nullopt;
    const std::optional<FileIdentity> identity = identify_file(file.get());
    if (!identity || identity->size > limit)
        return std::nullopt;
    std::string text(static_cast<size_t>(identity->size), '\0');
    size_t done = 0;
    while (done < text.size()) {
        const int64_t got = read_some(file.get(), text.data() + done, text.size() - done);
        if (got <= 0)
            return std::nullopt;
        done += static_cast<size_t>(got);
    }
    return text;
}

bool write_synced_file(const std::string &path, const std::string &text) {
    Descriptor file(create_private_file(path));
    if (file.get() < 0)
        return false;
    return write_all(file.get(), text.data(), text.size()) && sync_file(file.get()) &&
           ::close(file.take()) == 0;
}

}  // namespace cdsclient
