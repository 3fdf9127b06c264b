// korvo_gateway: plays the gateway for one method process over the channel
// of the runtime (a SOCK_SEQPACKET socket). It serves a distribution from
// the offsets of the TOC the method hands over, can send a command at a
// chosen point, answers and keeps uploads, and prints a transcript.
//
//   korvo_gateway --make-toc dist.toc a.bin b.bin
//   korvo_gateway --toc dist.toc -- ./method dist1 dist.toc out/
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
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

#include "properties/korvo_types.h"
#include "records/korvo_command.h"
#include "runtime/gateway.h"
#include "tools/gateway/options.hpp"
#include "tools/gateway/peer_link.hpp"
#include "tools/gateway/serving.hpp"
#include "tools/gateway/toc_file.hpp"
#include "tools/gateway/transcript.hpp"
#include "tools/gateway/uploads.hpp"

using namespace korvo::gateway;

namespace {

// Packets kept ready while serving: enough to keep the socket busy.
constexpr std::size_t kReadyPackets = 4;
// Packets that may wait for the method to read them before the peer stops
// reading from it: a method that sends statuses and chunks without reading
// the replies is then held by its own full socket, instead of the peer
// storing every upload it floods in.
constexpr std::size_t kWaitingPacketsMax = 64;

[[noreturn]] void fail(const std::string &what) {
    std::fprintf(stderr, "korvo_gateway: %s\n", what.c_str());
    std::exit(1);
}

// Starts the program with its end of a new socket pair in KORVO_GATEWAY;
// returns the gateway's end.
int start_program(const Options &options, pid_t &child, const Transcript &transcript) {
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0)
        fail(std::string("socketpair: ") + std::strerror(errno));
    child = ::fork();
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
    transcript.line("started %s (pid %d), session %d", options.program[0].c_str(),
                    static_cast<int>(child), options.session);
    return ends[0];
}

// Waits for one method on the socket path, within the timeout.
int accept_method(const Options &options, const Transcript &transcript) {
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
    return fd;
}

// Runs the conversation until the method closes the channel. False when it
// ended because the method broke the protocol or a source failed.
bool converse(PeerLink &link, std::optional<Serving> &serving, Uploads &uploads,
              const Options &options, const Transcript &transcript) {
    std::string why;
    bool holding = false;  // reading from the method stopped: its packets wait
    for (;;) {
        try {
            while (serving && serving->active() && link.queued() < kReadyPackets)
                serving->produce(link, transcript);
        } catch (const std::runtime_error &e) {
            transcript.line("cannot serve: %s", e.what());
            return false;
        }
        const PeerLink::Flow flow = link.flush(why);
        if (flow == PeerLink::Flow::Closed) {
            transcript.line("the method closed the channel");
            return true;
        }
        if (flow == PeerLink::Flow::Failed) {
            transcript.line("cannot send: %s", why.c_str());
            return false;
        }
        Message message;
        bool received = false;
        const bool held = link.queued() >= kWaitingPacketsMax;
        if (held && !holding) {
            transcript.line(
                "the method does not read what it is sent (%zu packets wait); "
                "nothing more is read from it until it does",
                link.queued());
        }
        holding = held;
        for (; !held;) {
            if (link.queued() >= kWaitingPacketsMax)
                break;
            const PeerLink::In in = link.receive(message, why);
            if (in == PeerLink::In::Nothing)
                break;
            if (in == PeerLink::In::Closed) {
                transcript.line("the method closed the channel");
                return true;
            }
            if (in == PeerLink::In::Refused) {
                transcript.line("refused a packet from the method: %s", why.c_str());
                return false;
            }
            received = true;
            switch (message.kind) {
                case GATEWAY_KIND_TOC:
                    if (!serving) {
                        transcript.line("received a TOC but serves no distribution (--toc)");
                        link.queue(GATEWAY_KIND_END_OF_STREAM, nullptr, 0);
                        break;
                    }
                    try {
                        serving->begin(decode_handed_toc(message.payload.get(), message.length),
                                       link, transcript);
                    } catch (const std::runtime_error &e) {
                        transcript.line("cannot serve: %s", e.what());
                        return false;
                    }
                    break;
                case GATEWAY_KIND_STATUS:
                    uploads.on_status(link, transcript);
                    break;
                case GATEWAY_KIND_DATA:
                    uploads.on_data(link, message, transcript);
                    break;
                case GATEWAY_KIND_END:
                    uploads.on_end(transcript);
                    break;
                default:
                    transcript.line("refused a packet from the method: kind %u goes the other way",
                                    message.kind);
                    return false;
            }
        }
        // More to send and the socket took everything: go on producing.
        const bool more = (serving && serving->active()) || link.queued() > 0;
        if (received || (more && flow == PeerLink::Flow::Done))
            continue;
        const bool sending = flow == PeerLink::Flow::Blocked;
        const short events = static_cast<short>((held ? 0 : POLLIN) | (sending ? POLLOUT : 0));
        pollfd ready{link.fd(), events, 0};
        const int n = ::poll(&ready, 1, options.timeout > 0 ? options.timeout * 1000 : -1);
        if (n == 0) {
            transcript.line("no news from the method within %d seconds", options.timeout);
            return false;
        }
    }
}

int run(const Options &options) {
    const Transcript transcript(options.quiet);
    if (korvo_init() != 1)
        fail("cannot register the library's types");
    if (!options.makeToc.empty()) {
        make_toc_file(options.makeToc, options.files);
        transcript.line("wrote the TOC of %zu segments to %s", options.files.size(),
                        options.makeToc.c_str());
        return 0;
    }
    std::optional<Serving> serving;
    if (!options.toc.empty())
        serving.emplace(load_toc_file(options.toc), options);
    Uploads uploads(options);

    pid_t child = -1;
    const int fd = options.program.empty() ? accept_method(options, transcript)
                                           : start_program(options, child, transcript);
    bool clean;
    {
        PeerLink link(fd, options.session);
        if (!serving && options.command != 0) {
            // No distribution to wait for: the command goes out at once, for
            // methods that poll before they read their files.
            link.queue_stream(options.command, 0, [](uint8_t *) { return true; });
            transcript.line("sent %s before any data", decode_command(options.command));
        }
        clean = converse(link, serving, uploads, options, transcript);
        uploads.on_close(transcript);
    }  // the channel closes: a method still reading sees its end
    if (child < 0)
        return clean ? 0 : 1;
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    if (WIFEXITED(status))
        transcript.line("method exited with status %d", code);
    else
        transcript.line("method ended by signal %d", WTERMSIG(status));
    return code;
}

}  // namespace

int main(int argc, char **argv) {
    ::signal(SIGPIPE, SIG_IGN);
    bool help = false;
    Options options;
    try {
        options = parse_options(argc, argv, help);
    } catch (const std::invalid_argument &e) {
        std::fprintf(stderr, "korvo_gateway: %s\n\n%s", e.what(), kUsage);
        return 2;
    }
    if (help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    try {
        return run(options);
    } catch (const std::runtime_error &e) {
        fail(e.what());
    }
}
