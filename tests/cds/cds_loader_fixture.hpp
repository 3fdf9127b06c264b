// The loader tests' fixture: the probe run in a fresh process with nothing
// to find unless a case says otherwise, copies of a client library where
// the loader searches, and a client home named by the registry file. The
// lines the loader writes are built here too. One test thread uses it.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "cds/cds.h"
#include "tests/cds/cds_process.hpp"
#include "tests/cds_client/cds_test_support.hpp"

namespace cds_loader_test {

using cds_test::EnvChanges;
using cds_test::ProgramRun;

// The file name the loader finds the client by, and the variable that
// lists the folders where the system looks for libraries.
#if defined(_WIN32)
inline constexpr const char *kClientFile = "libCDSClient.dll";
inline constexpr const char *kLibraryPathVariable = "PATH";
inline constexpr char kPathSeparator = ';';
#else
inline constexpr const char *kClientFile = "libCDSClient.so";
inline constexpr const char *kLibraryPathVariable = "LD_LIBRARY_PATH";
inline constexpr char kPathSeparator = ':';
#endif

// The lines the loader writes while it fills the first `count` slots.
inline std::vector<std::string> loading_lines(int count) {
    std::vector<std::string> lines;
    for (int i = 0; i < count; ++i) {
        char line[128];
        std::snprintf(line, sizeof line, "korvo: cds_load: loading %s into cds_funcs + %p",
                      cds_func_items[i].name, reinterpret_cast<void *>(cds_func_items[i].offset));
        lines.push_back(line);
    }
    return lines;
}

inline std::vector<std::string> with(std::vector<std::string> lines,
                                     const std::vector<std::string> &more) {
    lines.insert(lines.end(), more.begin(), more.end());
    return lines;
}

inline const std::string kLoaded = "korvo: cds_init: cds_load() returned 0.";
inline const std::string kNotLoaded = "korvo: cds_init: cds_load() returned -1.";
inline const std::string kNoHome =
    "korvo: cds_get_lib_dir: Could not determine the CDS configuration file.";

// The PATH the probe runs with. On POSIX hosts a fixed one; on Windows,
// where PATH is also where the probe's own DLLs are found, the test's PATH
// without the folders that hold a client library.
inline std::string probe_path() {
#if defined(_WIN32)
    const char *inherited = std::getenv("PATH");
    std::string kept;
    std::istringstream entries(inherited != nullptr ? inherited : "");
    for (std::string entry; std::getline(entries, entry, ';');) {
        std::error_code ignored;
        if (entry.empty() || std::filesystem::exists(entry + "/CDSClient.dll", ignored) ||
            std::filesystem::exists(entry + "/libCDSClient.dll", ignored))
            continue;
        kept += (kept.empty() ? "" : ";") + entry;
    }
    return kept;
#else
    return "/usr/bin:/bin";
#endif
}

// Whether the probe printed `expected` as a loaded library's file: the
// very name on POSIX hosts; on Windows, which spells a module's path its
// own way (separators, case), a name of the same file.
inline bool same_file(const std::optional<std::string> &printed, const std::string &expected) {
#if defined(_WIN32)
    std::error_code ignored;
    return printed && std::filesystem::equivalent(*printed, expected, ignored);
#else
    return printed == expected;
#endif
}

class LoaderTest : public testing::Test {
  protected:
    // Runs the probe with nothing to find unless `changes` says otherwise.
    ProgramRun probe(const EnvChanges &changes, bool linked = false, int threads = 1) {
        EnvChanges all{{"LD_LIBRARY_PATH", std::nullopt},
                       {"KORVO_REGISTRY_FILE", scratch / "no-registry.ini"},
                       {"KORVO_LOG_FILE", std::nullopt},
                       {"KORVO_LOG_LEVEL", std::nullopt},
                       {"PATH", base_path}};
        for (const auto &[name, value] : changes)
            all[name] = value;
        ProgramRun run = cds_test::run_program(linked ? CDS_TEST_PROBE_LINKED : CDS_TEST_PROBE,
                                               {std::to_string(threads)}, all, scratch.path());
        EXPECT_EQ(run.status, 0) << run.err;
        return run;
    }

    // A copy of `library` as <directory>/<kClientFile>.
    std::string install(const std::string &library, const std::string &directory) {
        std::filesystem::create_directories(directory);
        const std::string target = directory + "/" + kClientFile;
        std::filesystem::copy_file(library, target,
                                   std::filesystem::copy_options::overwrite_existing);
        return target;
    }

    // The library search path with `directory` in front.
    std::string search_path_with(const std::string &directory) const {
#if defined(_WIN32)
        return directory + kPathSeparator + base_path;
#else
        return directory;
#endif
    }

    // The PATH of a probe linked with the client: on Windows the client's
    // folder is on it, as the program needs its DLL to start at all.
    std::string linked_path() const {
#if defined(_WIN32)
        return search_path_with(std::filesystem::path(CDS_TEST_CLIENT).parent_path().string());
#else
        return base_path;
#endif
    }

    const std::string base_path = probe_path();
    cds_test::ScratchDir scratch;
};

}  // namespace cds_loader_test
