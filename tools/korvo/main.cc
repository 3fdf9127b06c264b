// korvo: the command-line program of the korvo endpoint library. Each
// subcommand registers itself (command_registry.hpp); main parses the
// command line, runs what the user chose, and turns failures into a message
// on standard error and an exit code (exit_codes.hpp).
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <iostream>

#include "checked_output.hpp"
#include "command_registry.hpp"
#include "failure.hpp"
#include "host_system.hpp"
#include "properties/korvo_types.h"
#include "runtime/log.h"
#include "usage_errors.hpp"

#ifndef KORVO_VERSION
#error "KORVO_VERSION is set by the build"
#endif

namespace korvo::cli {
namespace {

// The command reports what goes wrong in its own words, so the library's
// log lines (time-stamped trace for an endpoint's log) are dropped unless
// the user asks for them: -v shows notices, -vv the trace, on standard
// error; KORVO_LOG_LEVEL or KORVO_LOG_FILE set by the user keep the log as
// they configured it.
void drop_line(void *, int32_t, const char *) {}

void configure_log(int verbose) {
    if (verbose > 0)
        log_set_level(verbose >= 2 ? LOG_LEVEL_TRACE : LOG_LEVEL_NOTICE);
    else if (std::getenv("KORVO_LOG_LEVEL") == nullptr && std::getenv("KORVO_LOG_FILE") == nullptr)
        log_set_capture(drop_line, nullptr);
}

// What was written to standard output must have arrived: a full disk or a
// closed pipe behind it fails the command.
int check_output(CheckedOutput &out, int code) {
    int error = out.finish();
    if (error == 0)
        return code;
    std::cerr << "korvo: cannot write to standard output: " << std::strerror(error) << '\n';
    return code == kExitOk ? kExitFailed : code;
}

int run(int argc, char **argv) {
    host::prepare_standard_streams();
    CheckedOutput out(STDOUT_FILENO);
    CLI::App app(
        "korvo: look into and steer a korvo endpoint: its depot, property files, "
        "progress records and catalog; receive distributions and send files up",
        "korvo");
    app.require_subcommand(1);
    app.set_version_flag("--version", "korvo " KORVO_VERSION);
    GlobalOptions &global = global_options();
    app.add_flag("-q,--quiet", global.quiet, "No progress display");
    app.add_flag("-v,--verbose", global.verbose,
                 "Show the library's log lines (-v notices, -vv trace)");
    app.footer(
        "\nExit codes: 0 done, 1 failed, 2 wrong command line, 3 not found,\n"
        "4 verify found problems, 5 no gateway, 6 the gateway refused or stopped,\n"
        "130 interrupted by Ctrl-C.\n"
        "Run 'korvo SUBCOMMAND --help' for the options and examples of each.\n");

    Action chosen;
    for (const RegisteredCommand &command : registered_commands())
        command.attach(app, chosen);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &error) {
        if (error.get_exit_code() == 0)  // --help, --version
            return check_output(out, app.exit(error));
        std::cerr << describe_usage_error(app, error);
        return kExitUsage;
    }
    if (!chosen)
        return kExitUsage;
    configure_log(global.verbose);
    if (korvo_init() != 1) {
        std::cerr << "korvo: the library's types could not be registered\n";
        return kExitFailed;
    }
    try {
        return check_output(out, chosen());
    } catch (const Failure &failure) {
        check_output(out, failure.code());
        std::cerr << "korvo: " << failure.what() << '\n';
        return failure.code();
    } catch (const std::exception &error) {
        check_output(out, kExitFailed);
        std::cerr << "korvo: " << error.what() << '\n';
        return kExitFailed;
    }
}

}  // namespace
}  // namespace korvo::cli

int main(int argc, char **argv) {
    korvo::cli::host::utf8_arguments(argc, argv);
    return korvo::cli::run(argc, argv);
}
