// Meeting the method on POSIX hosts: a SOCK_SEQPACKET socket pair whose
// end the forked program inherits, or a listening socket at a path (see
// method_link.hpp).
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tools/gateway/method_link.hpp"

namespace korvo::gateway {

using korvo::rt::gateway::AdoptGatewaySocket;
using korvo::rt::gateway::GatewaySocketPtr;

StartedMethod::~StartedMethod() = default;

void fail(const std::string &what) {
    std::fprintf(stderr, "korvo_gateway: %s\n", what.c_str());
    std::exit(1);
}

void prepare_host() {
    ::signal(SIGPIPE, SIG_IGN);
}

GatewaySocketPtr start_method(const Options &options, StartedMethod &method,
                              const Transcript &transcript) {
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0)
        fail(std::string("socketpair: ") + std::strerror(errno));
    const pid_t child = ::fork();
    if (child < 0)
        fail(std::string("fork: ") + std::strerror(errno));
    if (child == 0) {
        ::close(ends[0]);
        ::fcntl(ends[1], F_SETFD, 0);  // the method inherits its end
        const std::string channel = "fd:" + std::to_string(ends[1]);
        const std::string session = std::to_string(options.session);
        ::setenv("KORVO_GATEWAY", channel.c_str(), 1);
        ::setenv("KORVO_GATEWAY_SESSION", session.c_str(), 1);
        std::vector<char *> argv;
        for (const std::string &arg : options.program)
            argv.push_back(const_cast<char *>(arg.c_str()));
        argv.push_back(nullptr);
        ::execvp(argv[0], argv.data());
        std::fprintf(stderr, "korvo_gateway: cannot start %s: %s\n", argv[0], std::strerror(errno));
        ::_exit(127);
    }
    ::close(ends[1]);
    method.process = child;
    transcript.line("started %s (pid %d), session %d", options.program[0].c_str(),
                    static_cast<int>(child), options.session);
    return AdoptGatewaySocket(ends[0]);
}

GatewaySocketPtr accept_method(const Options &options, const Transcript &transcript) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (options.listen.size() >= sizeof address.sun_path)
        fail(options.listen + ": socket path too long");
    std::strcpy(address.sun_path, options.listen.c_str());
    const int server = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (server < 0 ||
        ::bind(server, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0 ||
        ::listen(server, 1) != 0)
        fail(options.listen + ": " + std::strerror(errno));
    transcript.line("listening on %s", options.listen.c_str());
    pollfd ready{server, POLLIN, 0};
    const int waited = ::poll(&ready, 1, options.timeout > 0 ? options.timeout * 1000 : -1);
    const int fd = waited == 1 ? ::accept4(server, nullptr, nullptr, SOCK_CLOEXEC) : -1;
    ::close(server);
    ::unlink(options.listen.c_str());
    if (fd < 0)
        fail(waited == 0 ? "no method came within the timeout" : std::strerror(errno));
    transcript.line("method connected");
    return AdoptGatewaySocket(fd);
}

int wait_method(StartedMethod &method, const Transcript &transcript) {
    int status = 0;
    while (::waitpid(static_cast<pid_t>(method.process), &status, 0) < 0 && errno == EINTR) {
    }
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    if (WIFEXITED(status))
        transcript.line("method exited with status %d", code);
    else
        transcript.line("method ended by signal %d", WTERMSIG(status));
    return code;
}

}  // namespace korvo::gateway
