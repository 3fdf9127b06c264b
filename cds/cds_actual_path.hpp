// Where a downloaded package's file lies. The client answers a download
// directory for each handle; when that path exists it is the file's path.
// When it does not, the file lies near it: the directory's last two
// components give way to cache/files/1/<package id>-1, so that
//   /x/y/z/w  and package p1  ->  /x/y/cache/files/1/p1-1
// A directory with fewer than two '/' is used unchanged. Each outcome writes
// its trace line through cds_log. The client keeps the string it answered;
// the path returned is a runtime block the caller owns. Runs on the caller's
// thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "cds/cds.h"
#include "kes/host_file.hpp"
#include "runtime/mg_memory.h"
#include "runtime/raise.h"
#include "runtime/raise.hpp"

namespace korvo::cds {

// The path rule's text: `directory` without its last two components, then
// "/cache/files/1/<package>-1", at most the directory's length plus 99
// characters; nullopt when `directory` has fewer than two '/'.
inline std::optional<std::string> cache_path_near(std::string_view directory,
                                                  std::string_view package) {
    const size_t last = directory.rfind('/');
    if (last == std::string_view::npos)
        return std::nullopt;
    const size_t second = directory.substr(0, last).rfind('/');
    if (second == std::string_view::npos)
        return std::nullopt;
    std::string path(directory.substr(0, second));
    path += "/cache/files/1/";
    path += package;
    path += "-1";
    if (path.size() > directory.size() + 99)
        path.resize(directory.size() + 99);
    return path;
}

inline rt::MgPtr<char> copy_path(const char *path) {
    rt::MgPtr<char> copy(mg_strdup(path));
    if (!copy)
        vaThrow(nullptr, -1, "Not enough memory for the path %1$s.\n", path);
    return copy;
}

// The file of `package_id` downloaded under `handle` by the client `funcs`,
// or NULL when the client answers no directory.
inline rt::MgPtr<char> actual_path(const CdsFuncs &funcs, uint32_t handle, const char *package_id) {
    const char *directory =
        funcs.GetDownloadDirectory != nullptr ? funcs.GetDownloadDirectory(handle) : nullptr;
    cds_log(CDS_LOG_TRACE, "korvo: cds_get_actual_path: Start. cds_handle=%u cds_path=%s\n", handle,
            directory != nullptr ? directory : "<null>");
    if (directory == nullptr)
        return nullptr;
    host::FileInfo record{};
    if (host::StatPath(directory, &record)) {
        cds_log(CDS_LOG_TRACE,
                "korvo: cds_get_actual_path: Existing path valid. cds_handle=%u cds_path=%s\n",
                handle, directory);
        return copy_path(directory);
    }
    const std::optional<std::string> near =
        cache_path_near(directory, package_id != nullptr ? package_id : "");
    if (!near) {
        cds_log(CDS_LOG_TRACE,
                "korvo: cds_get_actual_path: Missing last slash. cds_handle=%u cds_path=%s\n",
                handle, directory);
        return copy_path(directory);
    }
    cds_log(CDS_LOG_TRACE,
            "korvo: cds_get_actual_path: Missing last slash. cds_handle=%u actual_path=%s\n",
            handle, near->c_str());
    return copy_path(near->c_str());
}

}  // namespace korvo::cds
