// Test support for the korvo command: runs the program as a user would,
// with pipes (standard output and error apart, started through the test
// process helper) or under a pseudo-terminal (POSIX only), with a bounded
// wait; fills depots, property files and progress records
// through the library; and reads the program's JSON.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <fstream>
#include <map>
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

namespace detail {

inline std::vector<std::string> environment(const Options &options) {
    std::map<std::string, std::string> merged;
    for (char **item = environ; *item != nullptr; ++item) {
        std::string text = *item;
        size_t equals = text.find('=');
        if (equals != std::string::npos)
            merged[text.substr(0, equals)] = text.substr(equals + 1);
    }
    for (const auto &[name, value] : options.env)
        merged[name] = value;
    std::vector<std::string> result;
    for (const auto &[name, value] : merged)
        result.push_back(name + "=" + value);
    return result;
}

// The environment changes `options` makes, for a child of the test helper.
inline korvo::test::EnvironmentChanges changes(const Options &options) {
    korvo::test::EnvironmentChanges result;
    for (const auto &[name, value] : options.env)
        result[name] = value;
    return result;
}

[[noreturn]] inline void exec_program(const char *program, const std::vector<std::string> &args,
                                      const Options &options) {
    std::vector<std::string> env = environment(options);
    std::vector<char *> argv{const_cast<char *>(program)};
    for (const std::string &arg : args)
        argv.push_back(const_cast<char *>(arg.c_str()));
    argv.push_back(nullptr);
    std::vector<char *> envp;
    for (std::string &item : env)
        envp.push_back(item.data());
    envp.push_back(nullptr);
    execve(program, argv.data(), envp.data());
    _exit(127);
}

inline int wait_exit(pid_t child) {
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Reads the descriptors until all are closed or the deadline passes (then
// the child is killed and the test fails).
inline void drain(pid_t child, std::vector<std::pair<int, std::string *>> sources, int seconds) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!sources.empty()) {
        std::vector<pollfd> polled;
        for (auto &[fd, sink] : sources)
            polled.push_back({fd, POLLIN, 0});
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || poll(polled.data(), polled.size(), left.count()) == 0) {
            kill(child, SIGKILL);
            ADD_FAILURE() << "the program did not end within " << seconds << " s";
            return;
        }
        for (size_t i = polled.size(); i-- > 0;) {
            if (polled[i].revents == 0)
                continue;
            char buffer[4096];
            ssize_t got = read(polled[i].fd, buffer, sizeof buffer);
            if (got > 0) {
                sources[i].second->append(buffer, static_cast<size_t>(got));
            } else if (got == 0 || errno != EINTR) {  // EIO: the terminal's last writer left
                close(polled[i].fd);
                sources.erase(sources.begin() + static_cast<long>(i));
            }
        }
    }
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
    const int milliseconds = options.timeout_seconds * 1000;
    if (!korvo::test::receiveAllOf({{out.readEnd(), &run.out}, {err.readEnd(), &run.err}},
                                   milliseconds)) {
        child.kill();
        ADD_FAILURE() << "the program did not end within " << options.timeout_seconds << " s";
    }
    run.exit_code = child.wait(milliseconds);
    if (run.exit_code == -1) {
        child.kill();
        ADD_FAILURE() << "the program did not end within " << options.timeout_seconds << " s";
        run.exit_code = child.wait();
    }
    return run;
}

// Runs `korvo args...` with its output and error on pipes.
inline Outcome korvo(const std::vector<std::string> &args, const Options &options = {}) {
    return run_program(KORVO_PROGRAM, args, options);
}

// A program started under a pseudo-terminal of `columns` columns;
// everything it writes (output and error alike) is read from the terminal's
// master side. This is the one place of the cli tests that needs a
// pseudo-terminal (the progress bar draws only on one), and so the one that
// stays POSIX-only: forkpty makes the terminal the child's controlling one,
// which the test process helper cannot. detail::exec_program, drain and
// wait_exit are its own.
class TerminalRun {
  public:
    TerminalRun(const std::vector<std::string> &args, const Options &options = {},
                unsigned short columns = 100)
        : options_(options) {
        struct winsize size = {24, columns, 0, 0};
        child_ = forkpty(&master_, nullptr, nullptr, &size);
        if (child_ < 0)
            throw std::runtime_error("forkpty");
        if (child_ == 0)
            detail::exec_program(KORVO_PROGRAM, args, options);
    }
    ~TerminalRun() {
        if (child_ > 0 && !finished_) {
            kill(child_, SIGKILL);
            detail::wait_exit(child_);
        }
    }
    pid_t pid() const { return child_; }

    // True once the program catches `signal` (it installed its handler).
    bool catches(int signal, int seconds = 30) const {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (std::chrono::steady_clock::now() < deadline) {
            std::ifstream status("/proc/" + std::to_string(child_) + "/status");
            std::string line;
            while (std::getline(status, line))
                if (line.rfind("SigCgt:", 0) == 0 &&
                    (std::stoull(line.substr(7), nullptr, 16) >> (signal - 1) & 1))
                    return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }

    // Waits for the end; everything shown on the terminal.
    Outcome finish() {
        Outcome run;
        detail::drain(child_, {{master_, &run.out}}, options_.timeout_seconds);
        run.exit_code = detail::wait_exit(child_);
        finished_ = true;
        return run;
    }

  private:
    Options options_;
    pid_t child_ = -1;
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
        dir_ = scratch_ / "depot";
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
