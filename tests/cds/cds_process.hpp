// Running a program of the CDS tests as a child process with an environment
// of the test's choosing, and reading what it printed. The wait is bounded:
// a child that hangs is killed and the run fails.
#pragma once

#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "tests/cds_client/cds_test_support.hpp"
#include "tests/support/test_process.hpp"

namespace cds_test {

struct ProgramRun {
    int status = -1;  // exit status; -1 when the child did not end in time
    std::string out;
    std::string err;

    // The library's lines on standard error, each from its "korvo: " on
    // (the runtime log puts a time stamp, the process id and the level in
    // front of its own lines).
    std::vector<std::string> korvo_lines() const {
        std::vector<std::string> lines;
        std::istringstream stream(err);
        for (std::string line; std::getline(stream, line);) {
            drop_carriage_return(line);
            const size_t start = line.find("korvo: ");
            if (start != std::string::npos)
                lines.push_back(line.substr(start));
        }
        return lines;
    }
    // The value printed as "<name>=<value>", if any.
    std::optional<std::string> printed(const std::string &name) const {
        std::istringstream stream(out);
        for (std::string line; std::getline(stream, line);) {
            drop_carriage_return(line);
            if (line.compare(0, name.size() + 1, name + "=") == 0)
                return line.substr(name.size() + 1);
        }
        return std::nullopt;
    }

    // A child's standard streams are in text mode on Windows, where lines
    // end with "\r\n".
    static void drop_carriage_return([[maybe_unused]] std::string &line) {
#if defined(_WIN32)
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
#endif
    }
};

// The environment changes of a run: a value sets the variable, nullopt
// removes it; the rest of the test's environment is inherited.
using EnvChanges = korvo::test::EnvironmentChanges;

inline ProgramRun run_program(const std::string &program, const std::vector<std::string> &arguments,
                              const EnvChanges &changes, const std::string &scratch) {
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    const std::string out_path = scratch + "/probe.out";
    const std::string err_path = scratch + "/probe.err";
    ProgramRun run;
    {
        korvo::test::Child child(
            korvo::test::ProgramArgs{argv},
            {.environment = changes, .outputFile = out_path, .errorFile = err_path});
        const int status = child.wait(static_cast<int>(kBoundedWait.count() * 1000));
        run.status = status >= 0 && status < 128 ? status : -1;
    }  // a child still running is killed here
    run.out = read_file(out_path);
    run.err = read_file(err_path);
    return run;
}

}  // namespace cds_test
