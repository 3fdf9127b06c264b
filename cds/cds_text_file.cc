// Reading the registry file and the client's configuration file: regular
// files only, within a size bound.
#include "cds/cds_client_home.hpp"
#include "kes/host_file.hpp"
#include "kes/kes_fd.hpp"

namespace korvo::cds {

std::optional<std::string> read_text_file(const std::string &path, std::size_t limit) {
    const kes::UniqueFd file(host::OpenFile(
        path.c_str(), host::kOpenRead | host::kOpenNonBlock | host::kOpenNoTerminal));
    host::FileInfo record{};
    if (!file || !host::StatFile(file.get(), &record) || record.kind != host::FileKind::kRegular)
        return std::nullopt;
    std::string text;
    char piece[8192];
    while (text.size() < limit) {
        const int64_t got = host::ReadFile(file.get(), piece, sizeof piece);
        if (got < 0)
            return std::nullopt;
        if (got == 0)
            break;
        text.append(piece, static_cast<std::size_t>(got));
    }
    if (text.size() > limit)
        text.resize(limit);
    return text;
}

}  // namespace korvo::cds
