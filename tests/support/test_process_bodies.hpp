// What the child processes of both hosts share (test_process_posix.cc and
// its Windows twin use it; tests use test_process.hpp): the registry of
// child bodies, the command line that names a body and the pipe ends it
// gets, and running the body it names. Plain functions; the registry is
// filled before main and read after, so no lock guards it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "tests/support/test_process.hpp"

namespace korvo::test::bodies {

// The two options after the program's path that make it run a body.
inline constexpr std::string_view kBodyOption = "--korvo-child=";
inline constexpr std::string_view kEndsOption = "--korvo-child-ends=";

// `program` run as the body `name` with `ends` and then `args`.
std::vector<std::string> commandLine(const std::string &program, const char *name,
                                     const std::vector<PipeHandle> &ends,
                                     const std::vector<std::string> &args = {});

// Whether the command line names a body (its first two arguments are the
// options).
bool namesBody(int argc, char **argv);

// Runs the body the command line names with the arguments after the
// options and the pipe ends of the list: its status, 126 when no body has
// the name, 125 for an exception that left it.
int runNamedBody(int argc, char **argv);

}  // namespace korvo::test::bodies
