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
// otherwise write "\r\n" for each "\n"). Called once, first thing in main.
void prepare_standard_streams();

int64_t process_id();
// True while the process `pid` runs (also when it is another account's).
bool process_running(int64_t pid);

// setenv(name, value, 1): false when it cannot be set.
bool set_environment(const char *name, const char *value);

// localtime_r: false when `when` has no local time.
bool local_time(std::time_t when, std::tm &local);

// Whether the descriptor is a terminal (a console on Windows), and its
// width in columns (80 when it cannot be had).
bool is_terminal(int fd);
int terminal_columns(int fd);

}  // namespace korvo::cli::host
