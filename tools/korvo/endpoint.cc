#include "endpoint.hpp"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>

#include "failure.hpp"
#include "runtime/config.h"
#include "runtime/cpl.h"
#include "runtime/mg_memory.h"

namespace korvo::cli {
namespace {

struct MgFree {
    void operator()(char *block) const { mg_free(block); }
};
using MgString = std::unique_ptr<char, MgFree>;

bool is_directory(const std::string &path) {
    struct stat status {};
    return stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

std::string normalised(const std::string &path) {
    MgString corrected(CorrectPath(path.c_str(), 1));
    return corrected ? std::string(corrected.get()) : path;
}

}  // namespace

std::optional<std::string> configured_depot_dir(std::string &why) {
    MgString config(mrt_get_config_filespec());
    if (config) {
        static const MrtConfigKey kKeys[] = {{"depot_dir", 0, MRT_CONFIG_STRING, nullptr, nullptr},
                                             {nullptr, 0, 0, nullptr, nullptr}};
        char *value = nullptr;
        MrtConfigQuery query = {kKeys, 0, &value};
        bool read = mrt_get_config_from_file(config.get(), &query) != 0;
        MgString owned(value);
        if (owned && *owned)
            return std::string(owned.get());
        why = read ? "the configuration file " + std::string(config.get()) + " has no depot_dir"
                   : "the configuration file " + std::string(config.get()) + " cannot be read";
    } else {
        why = "KORVO_CONFIG_FILE is not set";
    }
    if (const char *data = cpl_getenv("QEL_DATDIR"); data != nullptr && *data) {
        std::string candidate = std::string(data) + "/depot";
        if (is_directory(candidate))
            return candidate;
        why += ", and " + candidate + " is not a directory";
    } else {
        why += ", and QEL_DATDIR is not set";
    }
    return std::nullopt;
}

namespace {

// An absolute path stays byte for byte as given (the depot compares the
// paths of its data files by their bytes); a relative one is made absolute
// in the host's own form ("C:\\work\\depot" on Windows), without a
// separator at the end.
std::string absolute(const std::string &path) {
    if (path.empty() || std::filesystem::path(path).is_absolute())
        return path;
    std::error_code error;
    std::filesystem::path made = std::filesystem::absolute(path, error);
    if (error)
        return path;
    made = made.lexically_normal();
    while (made.has_relative_path() && made.filename().empty())
        made = made.parent_path();
    return made.string();
}

}  // namespace

std::string depot_dir_or_configured(const std::string &given) {
    if (!given.empty())
        return absolute(given);
    std::string why;
    if (std::optional<std::string> dir = configured_depot_dir(why))
        return absolute(*dir);
    throw Failure(kExitUsage, "no depot directory: " + why + ". Name one with --depot DIR.");
}

std::string work_dir(const std::string &given) {
    if (!given.empty())
        return normalised(given);
    MgString configured(mrt_get_work_dir());
    return normalised(configured ? std::string(configured.get()) : std::string(cpl_tmpdir()));
}

std::string existing_work_dir(const std::string &given) {
    std::string dir = work_dir(given);
    struct stat status {};
    if (stat(dir.c_str(), &status) != 0)
        throw Failure(errno == ENOENT ? kExitNotFound : kExitFailed,
                      "cannot use the work directory " + dir + ": " + std::strerror(errno));
    if (!S_ISDIR(status.st_mode))
        throw Failure(kExitFailed, dir + " is not a directory");
    return dir;
}

std::string progress_dir(const std::string &work) {
    return work == "/" ? "/mstat" : work + "/mstat";
}

}  // namespace korvo::cli
