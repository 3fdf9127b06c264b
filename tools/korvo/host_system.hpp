// The process, environment, clock and terminal calls of the korvo command
// that differ between hosts.
//
// Threads: any, but set_environment only while no other thread reads the
// environment.
#pragma once

#include <cstdint>
#include <ctime>

namespace korvo::cli::host {

// Makes the standard streams carry bytes unchanged (on Windows they would
// otherwise write "\r\n" for each "\n") and the console show them as UTF-8.
// Called once, first thing in main.
void prepare_standard_streams();

// Makes argc and argv the command's arguments in UTF-8, the encoding of
// every name the library takes. POSIX hosts hand them over as they are; on
// Windows they are read again from the wide command line (the narrow argv
// is in the ANSI code page, which loses what it cannot hold). The new
// texts live until the process ends. Called once, from main's thread.
void utf8_arguments(int &argc, char **&argv);

int64_t process_id();
// True while the process `pid` runs (also when it is another account's).
bool process_running(int64_t pid);

// setenv(name, value, 1) (name and value in UTF-8): false when it cannot be
// set.
bool set_environment(const char *name, const char *value);

// localtime_r: false when `when` has no local time.
bool local_time(std::time_t when, std::tm &local);

// Whether the descriptor is a terminal (a console on Windows), and its
// width in columns (80 when it cannot be had).
bool is_terminal(int fd);
int terminal_columns(int fd);

}  // namespace korvo::cli::host
