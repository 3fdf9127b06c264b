// Where the endpoint keeps things, found as the library finds them:
//   - the depot directory: "depot_dir" in the configuration file that
//     KORVO_CONFIG_FILE names; else "$QEL_DATDIR/depot" when it is a
//     directory;
//   - the work directory: KORVO_WORK_DIR, else the temporary directory;
//     progress records lie in its "mstat" directory.
// A command-line option overrides each.
//
// Threads: main thread (reads the environment).
#pragma once

#include <optional>
#include <string>

namespace korvo::cli {

// The configured depot directory, or nothing; `why` says where it looked.
std::optional<std::string> configured_depot_dir(std::string &why);
// The directory the user named, else the configured one, made absolute (the
// depot records its data files under the name it was opened with); a
// Failure (usage) when there is none.
std::string depot_dir_or_configured(const std::string &given);

// The work directory: the one given, else the endpoint's, normalised.
std::string work_dir(const std::string &given);
// The same for commands that only read it: a Failure (not found, or failed)
// when it is not an existing directory.
std::string existing_work_dir(const std::string &given);
// The progress directory of a work directory.
std::string progress_dir(const std::string &work);

}  // namespace korvo::cli
