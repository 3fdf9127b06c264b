#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "host_system.hpp"

namespace korvo::cli::host {

void prepare_standard_streams() {}

void utf8_arguments(int &, char **&) {}

int64_t process_id() {
    return ::getpid();
}

bool process_running(int64_t pid) {
    return pid > 0 && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM);
}

bool set_environment(const char *name, const char *value) {
    return ::setenv(name, value, 1) == 0;
}

bool local_time(std::time_t when, std::tm &local) {
    return localtime_r(&when, &local) != nullptr;
}

bool is_terminal(int fd) {
    return ::isatty(fd) != 0;
}

int terminal_columns(int fd) {
    struct winsize size {};
    if (ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return 80;
}

}  // namespace korvo::cli::host
