// The runtime's own calls to the host for its files and text: the
// configuration file and the log file (descriptor numbers of the C
// runtime, opened in binary mode and not inherited by programs the process
// starts), the UTC time of a log line, the process id and the C library's
// description of an error number.
//
// A descriptor is owned by whoever opened it and closed with close_file.
// Every function may be called from any thread; interrupted calls are
// retried here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>

namespace korvo::rt::host {

// Opens `path` for reading when it is a regular file, without waiting for a
// writer where the host has FIFOs. -1 when it cannot be opened; -1 and
// *not_regular set when it opened but is something else.
int open_regular_file(const char *path, bool *not_regular);

// Opens `path` for appending, creating it (rw-r--r-- where the host has
// modes) when it is missing; -1 when it cannot be.
int open_append_file(const char *path);

// Up to `size` bytes: the count read, 0 at the end, -1 on failure.
int64_t read_some(int fd, void *buffer, std::size_t size);
// Up to `size` bytes: the count written, -1 on failure.
int64_t write_some(int fd, const void *data, std::size_t size);
void close_file(int fd);
int standard_error_fd();

// `when` in UTC; false when the host cannot say.
bool utc_time(std::time_t when, std::tm *out);

int process_id();

// The C library's description of `error`, or nullptr when it has none of
// its own for that number.
const char *error_description(int error);

}  // namespace korvo::rt::host
