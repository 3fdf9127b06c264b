// Test support for the korvo command: runs the program as a user would,
// with pipes (standard output and error apart, started through the test
// process helper), in the background with its output in files, or under a
// pseudo-terminal (where the host has one), always with a bounded wait;
// fills depots, property files and progress records through the library;
// and reads the program's JSON. The host's calls (the terminal, processes
// found by their number) live in cli_test_support_<host>.cc. Objects here
// belong to the test's main thread.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "depot/depot.h"
#include "kes/kes_file.h"
#include "kes/kes_sem.h"
#include "properties/korvo_properties.h"
#include "properties/property_files.h"
#include "runtime/mg_memory.h"
#include "stream/mstat.h"
#include "tests/depot/depot_test_support.hpp"
#include "tests/support/test_process.hpp"

namespace cli_test {

using depot_test::LockNamespace;
using depot_test::ScratchDir;
using ::testing::HasSubstr;
using ::testing::Not;
using Json = nlohmann::json;

// What a run of the program left.
struct Outcome {
    int exit_code = -1;  // 128 + the signal when a signal ended it
    std::string out;     // standard output (or the whole terminal output)
    std::string err;     // standard error
    Json json() const { return Json::parse(out); }
};

struct Options {
    std::map<std::string, std::string> env;  // added to (or replacing in) the environment
    int timeout_seconds = 60;
};

// Options that add `env` to the environment.
inline Options With(std::map<std::string, std::string> env) {
    Options options;
    options.env = std::move(env);
    return options;
}

// How the command shows a directory it resolved (the depot, the work
// directory) and the paths under it: '/' between names on every host, so
// that on Windows "C:\Temp\x" shows as "C:/Temp/x". The same text here.
inline std::string Shown(const std::string &path) {
    return std::filesystem::path(path).generic_string();
}

// A path as the library writes the paths it makes (a depot's data files):
// with the host's own separator, '\\' on Windows.
inline std::string NativePath(const std::string &path) {
    return std::filesystem::path(path).make_preferred().string();
}

namespace detail {

// The environment changes `options` makes, for a child of the test helper.
inline korvo::test::EnvironmentChanges changes(const Options &options) {
    korvo::test::EnvironmentChanges result;
    for (const auto &[name, value] : options.env)
        result[name] = value;
    return result;
}

// The child's exit code within `seconds`; past them it is killed and the
// test fails.
inline int wait_bounded(korvo::test::Child &child, int seconds) {
    int exit_code = child.wait(seconds * 1000);
    if (exit_code == -1) {
        child.kill();
        ADD_FAILURE() << "the program did not end within " << seconds << " s";
        exit_code = child.wait();
    }
    return exit_code;
}

}  // namespace detail

// Runs `program args...` with its output and error on pipes and its input
// empty, its files limited to `file_size_limit` bytes when given. A program
// still running when the time is up is killed and the test fails.
inline Outcome run_program(const char *program, const std::vector<std::string> &args,
                           const Options &options = {},
                           std::optional<std::uint64_t> file_size_limit = {}) {
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), args.begin(), args.end());
    korvo::test::Pipe out, err;
    korvo::test::Child child(korvo::test::ProgramArgs{argv},
                             {.environment = detail::changes(options),
                              .standardOutput = out.writeEnd(),
                              .standardError = err.writeEnd(),
                              .emptyInput = true,
                              .fileSizeLimit = file_size_limit});
    out.closeWrite();
    err.closeWrite();
    Outcome run;
    if (!korvo::test::receiveAllOf({{out.readEnd(), &run.out}, {err.readEnd(), &run.err}},
                                   options.timeout_seconds * 1000)) {
        child.kill();
        ADD_FAILURE() << "the program did not end within " << options.timeout_seconds << " s";
    }
    run.exit_code = detail::wait_bounded(child, options.timeout_seconds);
    return run;
}

// Runs `korvo args...` with its output and error on pipes.
inline Outcome korvo(const std::vector<std::string> &args, const Options &options = {}) {
    return run_program(KORVO_PROGRAM, args, options);
}

// A program left running while the test watches what it does (its progress
// record, its lock), with its output and error in files of a scratch
// directory of its own, so that it never blocks on a full pipe. `ends` are
// handed to it at their numbers. Killed, if still running, when the object
// goes.
class BackgroundRun {
  public:
    BackgroundRun(const char *program, const std::vector<std::string> &args,
                  const Options &options = {}, std::vector<korvo::test::PipeHandle> ends = {})
        : out_path_(files_ / "run.out"), err_path_(files_ / "run.err") {
        std::vector<std::string> argv{program};
        argv.insert(argv.end(), args.begin(), args.end());
        child_ = std::make_unique<korvo::test::Child>(
            korvo::test::ProgramArgs{argv},
            korvo::test::ChildStart{.ends = std::move(ends),
                                    .environment = detail::changes(options),
                                    .outputFile = out_path_,
                                    .errorFile = err_path_,
                                    .emptyInput = true});
    }
    // `korvo args...` in the background.
    explicit BackgroundRun(const std::vector<std::string> &args, const Options &options = {})
        : BackgroundRun(KORVO_PROGRAM, args, options) {}
    BackgroundRun(const BackgroundRun &) = delete;
    BackgroundRun &operator=(const BackgroundRun &) = delete;

    std::int64_t pid() const { return child_->processId(); }
    // Ends it at once, as SIGKILL does: finish() then gives korvo::test::kKilled.
    void kill() { child_->kill(); }

    // Waits for the end within `seconds` (then kills it and fails the test);
    // what it wrote.
    Outcome finish(int seconds = 60) {
        Outcome run;
        run.exit_code = detail::wait_bounded(*child_, seconds);
        run.out = depot_test::ReadBytes(out_path_);
        run.err = depot_test::ReadBytes(err_path_);
        return run;
    }

  private:
    ScratchDir files_;
    std::string out_path_, err_path_;
    std::unique_ptr<korvo::test::Child> child_;
};

// Whether the process `pid` is running and a child of `parent`: a process
// id read from a file is killed only then.
bool runningChildOf(std::int64_t pid, std::int64_t parent);

// Ends the process `pid` at once, as SIGKILL does; false when it cannot.
bool killProcess(std::int64_t pid);

// A device whose every write fails as on a full disk; empty where the
// host has none (Windows).
std::string fullDevice();

// Whether this host can run a program under a pseudo-terminal
// (TerminalRun); the tests of the progress bar and of Ctrl-C skip
// elsewhere.
bool terminalHost();

// A program started under a pseudo-terminal of `columns` columns, its
// output and error read from the terminal's side. The terminal must be the
// child's controlling one, which the test process helper cannot give: this
// is the one run of the cli tests that forks (forkpty). Only where
// terminalHost() is true: elsewhere the constructor throws.
class TerminalRun {
  public:
    TerminalRun(const std::vector<std::string> &args, const Options &options = {},
                unsigned short columns = 100);
    ~TerminalRun();
    TerminalRun(const TerminalRun &) = delete;
    TerminalRun &operator=(const TerminalRun &) = delete;

    // True once the program handles the terminal's interrupt (it installed
    // its handler), within `seconds`.
    bool catchesInterrupt(int seconds = 30) const;
    // The terminal's interrupt, as Ctrl-C sends it; false when it could not
    // be sent.
    bool interrupt();

    // Waits for the end; everything shown on the terminal.
    Outcome finish();

  private:
    Options options_;
    std::int64_t child_ = -1;
    int master_ = -1;
    bool finished_ = false;
};

// Holds a machine-wide lock of the current lock namespace until released.
class HeldLock {
  public:
    explicit HeldLock(const char *name) {
        KesStatus status;
        KesInitSem(&status, &sem_, name);
        EXPECT_EQ(status.code, 0) << name;
    }
    ~HeldLock() { release(); }
    void release() {
        if (sem_ == nullptr)
            return;
        KesStatus status;
        KesPostSem(&status, &sem_);
        KesCloseSem(&status, &sem_);
        sem_ = nullptr;
    }

  private:
    KesSem sem_ = nullptr;
};

// A depot in a scratch directory and a lock namespace of the test's own,
// filled through the library.
class DepotFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(korvo_init(), 1);
        ASSERT_FALSE(scratch_.path().empty());
        // In the host's own form, as the command makes a relative depot
        // directory absolute: the depot compares its paths by their bytes.
        dir_ = NativePath(scratch_ / "depot");
        KesStatus status;
        DepotNew(&status, &depot_, dir_.c_str(), 0);
        ASSERT_NE(depot_, nullptr);
    }
    void TearDown() override {
        KesStatus status;
        DepotFree(&status, depot_);
    }

    // Adds a segment whose property bytes are an encoded list recording
    // `size`, writes `data` as its data, and completes it `holders` times
    // (0: it stays pending). The entry's data file path.
    std::string Store(const std::string &id, const std::string &version, const std::string &data,
                      int holders = 1, uint32_t deadline = 4000000000u, int32_t recorded = -1) {
        Properties list;
        properties_init(&list);
        properties_put_string_dup(&list, "id", id.c_str());
        properties_put_long_dup(&list, "size",
                                recorded >= 0 ? recorded : static_cast<int32_t>(data.size()));
        void *encoded = nullptr;
        uint32_t length = 0;
        properties_encode(TC_Vem_Korvo2__sequence_Property_Properties, &list, &encoded, &length);
        properties_delete(&list);
        DepotEntry *entry =
            DepotAddEntry(depot_, id.c_str(), version.c_str(), DepotPropertyBlock{encoded, length});
        mg_free(encoded);
        EXPECT_NE(entry, nullptr);
        if (entry == nullptr)
            return "";
        std::string location = entry->location;
        KesStatus status;
        KesFile file = nullptr;
        DepotFileOpenForWrite(&status, depot_, entry, &file, 1);
        KesFileWrite(&status, file, data.data(), data.size(), nullptr);
        KesFileClose(&status, file);
        for (int i = 0; i < holders; ++i) {
            if (i > 0)
                entry = DepotGetEntry(depot_, id.c_str(), version.c_str());
            DepotCompleteEntry(&status, depot_, entry, deadline);
        }
        if (holders == 0)
            DepotFreeEntry(&status, depot_, entry);
        return location;
    }

    Outcome Korvo(std::vector<std::string> args, const Options &options = {}) {
        args.push_back("--depot");
        args.push_back(dir_);
        return korvo(args, options);
    }

    LockNamespace space_;
    ScratchDir scratch_;
    std::string dir_;
    Depot *depot_ = nullptr;
};

// The string and boolean values of a progress record, as the library saved
// it; empty when there is none.
inline std::map<std::string, std::string> ProgressValues(const std::string &work,
                                                         const std::string &id) {
    std::map<std::string, std::string> values;
    std::string path = work + "/mstat/" + id + ".mds";
    if (!std::filesystem::exists(path))
        return values;
    Properties list{};
    properties_load_without_len(&list, path.c_str());
    for (uint32_t i = 0; i < list.length; ++i) {
        const Any &value = list.buffer[i].value;
        if (value.type == TC_string)
            values[list.buffer[i].key] = *static_cast<char *const *>(value.value);
        else if (value.type == TC_boolean)
            values[list.buffer[i].key] =
                *static_cast<const uint8_t *>(value.value) ? "true" : "false";
    }
    properties_delete(&list);
    return values;
}

// The names in a directory with their sizes: a picture to compare before
// and after a command that must change nothing.
inline std::map<std::string, std::string> Snapshot(const std::string &dir) {
    std::map<std::string, std::string> files;
    for (const auto &item : std::filesystem::directory_iterator(dir))
        files[item.path().filename().string()] = depot_test::ReadBytes(item.path().string());
    return files;
}

}  // namespace cli_test
