// The client's configuration file, <home>/cds.cfg, as the loader reads it:
// the first line that begins with "ClassPath" names the client's class
// path, and the client library lies in the directory derived from its
// "CacheMgr.jar" entry:
//
//   ClassPath = /opt/cds/lib/CacheMgr.jar   ->   /opt/cds/lib/../cds
//
// The value begins after the line's first '=', past any blanks; everything
// from "CacheMgr.jar" on is replaced by "../cds". Lines are at most 259
// characters; a longer line is skipped whole (and counted), so that a piece
// of it is never taken for a line of its own. Pure text work; any thread.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace korvo::cds {

// Longest path of the configuration file, and longest line read from it.
inline constexpr size_t kConfigPathMax = 259;
inline constexpr size_t kConfigLineMax = 259;

struct ClassPathScan {
    // The client's directory; nullopt when there is no "ClassPath" line, or
    // it has no '=' or no "CacheMgr.jar".
    std::optional<std::string> directory;
    // Lines longer than kConfigLineMax that were skipped before the scan
    // ended.
    size_t long_lines = 0;
};

inline ClassPathScan scan_class_path(std::string_view text) {
    constexpr std::string_view kKey = "ClassPath";
    constexpr std::string_view kJar = "CacheMgr.jar";
    constexpr std::string_view kBlanks = " \t\r\n\f\v";
    ClassPathScan scan;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (line.size() > kConfigLineMax) {
            ++scan.long_lines;
            continue;
        }
        if (line.substr(0, kKey.size()) != kKey)
            continue;
        const size_t equals = line.find('=');
        if (equals == std::string_view::npos)
            return scan;
        line.remove_prefix(equals + 1);
        const size_t first = line.find_first_not_of(kBlanks);
        line.remove_prefix(first == std::string_view::npos ? line.size() : first);
        const size_t jar = line.find(kJar);
        if (jar == std::string_view::npos)
            return scan;
        std::string directory(line.substr(0, jar));
        if (directory.find('\0') != std::string::npos)
            return scan;
        directory += "../cds";
        scan.directory = std::move(directory);
        return scan;
    }
    return scan;
}

}  // namespace korvo::cds
