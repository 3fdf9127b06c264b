// Sending a file up: net_stream_send_file of 256 MiB (in the page cache)
// through the gateway channel to the gateway peer, korvo_gateway, which
// answers every chunk, timed next to its limit in the same iteration
// (counter x_limit): a bare loop of the same packets over a SOCK_SEQPACKET
// socket pair, read() of each chunk from the same file, the chunk sent as
// packets of at most 64 KiB with sendmsg(), and a process at the other end
// that answers each whole chunk with a reply, as the peer does.
//
// The grant is the benchmark's argument: 16384 bytes (the peer's default)
// and 1 MiB. The channel connects once per process, so the method of each
// grant is a child process of its own, connected to a peer of its own and
// told by a pipe when to send.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_scratch.hpp"
#include "bench/kes_bench_timing.hpp"
#include "runtime/gateway.h"
#include "stream/net_stream.h"
#include "stream/net_stream_write.h"

namespace {

constexpr std::size_t kFileSize = 256u << 20;
constexpr std::size_t kPacketMax = 65536;

[[noreturn]] void fail(const char *what) {
    std::fprintf(stderr, "bench_stream_upload: %s\n", what);
    std::abort();
}

// The file to send, made once per process and read once so that it is in
// the page cache.
class SourceFile {
  public:
    SourceFile() : path_(scratch_ / "upload.bin") {
        std::vector<char> bytes(1 << 20);
        for (std::size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = static_cast<char>(i * 131);
        const int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        for (std::size_t done = 0; done < kFileSize; done += bytes.size())
            if (::write(fd, bytes.data(), bytes.size()) != ssize_t(bytes.size()))
                fail("cannot write the source file");
        ::close(fd);
    }
    const std::string &path() const { return path_; }
    std::string scratch(const std::string &name) const { return scratch_ / name; }

  private:
    korvo::bench::Scratch scratch_;
    std::string path_;
};

SourceFile &source() {
    static SourceFile file;
    return file;
}

void put_header(uint8_t *out, uint8_t kind, bool more, uint32_t length) {
    const uint8_t bytes[12] = {kind,
                               uint8_t(more ? 1 : 0),
                               1,
                               0,
                               0,
                               0,
                               0,
                               1,
                               uint8_t(length >> 24),
                               uint8_t(length >> 16),
                               uint8_t(length >> 8),
                               uint8_t(length)};
    std::memcpy(out, bytes, sizeof bytes);
}

// A program of ours in a child process; killed and waited for at the end.
class Process {
  public:
    Process() = default;
    Process(const Process &) = delete;
    Process &operator=(const Process &) = delete;
    ~Process() { stop(); }
    void adopt(pid_t pid) {
        stop();
        pid_ = pid;
    }
    void stop() {
        if (pid_ > 0) {
            int status;
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, &status, 0);
        }
        pid_ = -1;
    }

  private:
    pid_t pid_ = -1;
};

// The gateway peer listening on a socket path with the grant, and a method
// connected to it that sends the file whenever it is told.
class PeerAndMethod {
  public:
    explicit PeerAndMethod(int32_t grant) {
        const std::string socket = source().scratch("gateway-" + std::to_string(grant) + ".sock");
        start_peer(socket, grant);
        int commands[2], answers[2];
        if (::pipe2(commands, O_CLOEXEC) != 0 || ::pipe2(answers, O_CLOEXEC) != 0)
            fail("pipe");
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::close(commands[1]);
            ::close(answers[0]);
            ::setenv("KORVO_GATEWAY", socket.c_str(), 1);
            ::_exit(run_method(commands[0], answers[1]));
        }
        method_.adopt(pid);
        ::close(commands[0]);
        ::close(answers[1]);
        commands_ = commands[1];
        answers_ = answers[0];
    }
    ~PeerAndMethod() {
        ::close(commands_);  // the method ends, the channel closes, the peer ends
        ::close(answers_);
    }
    // The method sends the whole file.
    void send() {
        int32_t result = -1;
        if (::write(commands_, "g", 1) != 1 || ::read(answers_, &result, sizeof result) != 4 ||
            result != 0)
            fail("the method could not send the file");
    }

  private:
    // Starts the peer and waits until it listens (its first line).
    void start_peer(const std::string &socket, int32_t grant) {
        int out[2];
        if (::pipe2(out, O_CLOEXEC) != 0)
            fail("pipe");
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::dup2(out[1], STDOUT_FILENO);
            const std::string granted = std::to_string(grant);
            ::execl(KORVO_GATEWAY_PROGRAM, KORVO_GATEWAY_PROGRAM, "--listen", socket.c_str(),
                    "--grant", granted.c_str(), "--timeout", "600", nullptr);
            ::_exit(127);
        }
        peer_.adopt(pid);
        ::close(out[1]);
        char line[256] = {};
        const ssize_t n = ::read(out[0], line, sizeof line - 1);
        // The peer's later lines meet a closed pipe, which it ignores.
        ::close(out[0]);
        if (n <= 0 || std::strncmp(line, "gateway: listening on", 21) != 0)
            fail("the gateway peer did not start");
    }

    // The method: a network stream that sends the file on each command.
    static int run_method(int commands, int answers) {
        uint8_t bytes[] = {NET_STREAM_NETWORK, 0, 2, 'u', 'p', 0};
        StreamKey key{sizeof bytes, sizeof bytes, bytes};
        NetStream *stream = net_stream_open(&key);
        char command;
        while (::read(commands, &command, 1) == 1) {
            const int32_t result = net_stream_send_file(stream, source().path().c_str(), 0);
            if (::write(answers, &result, sizeof result) != sizeof result)
                return 1;
        }
        net_stream_close(stream);
        return 0;
    }

    Process peer_;
    Process method_;
    int commands_ = -1;
    int answers_ = -1;
};

// The bare limit: a socket pair with an answering process at the other end.
class BareChannel {
  public:
    BareChannel() {
        int ends[2];
        if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0)
            fail("socketpair");
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::close(ends[0]);
            ::_exit(answer(ends[1]));
        }
        answerer_.adopt(pid);
        ::close(ends[1]);
        fd_ = ends[0];
    }
    ~BareChannel() { ::close(fd_); }

    // The file sent as the library sends it: a status and its reply, chunks
    // of `chunk` bytes (each as packets of at most 64 KiB) and their
    // replies, the end.
    void send(const std::string &path, std::size_t chunk) {
        static std::vector<uint8_t> buffer;
        buffer.resize(chunk);
        uint8_t head[12];
        uint8_t status[12 + 28] = {};
        put_header(status, GATEWAY_KIND_STATUS, false, 28);
        exchange(status, sizeof status);
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        std::size_t total = 0;
        for (;;) {
            std::size_t filled = 0;
            ssize_t n;
            while (filled < chunk && (n = ::read(fd, buffer.data() + filled, chunk - filled)) > 0)
                filled += static_cast<std::size_t>(n);
            if (filled == 0)
                break;
            for (std::size_t sent = 0; sent < filled;) {
                const std::size_t part = std::min(filled - sent, kPacketMax);
                put_header(head, GATEWAY_KIND_DATA, sent + part < filled, uint32_t(part));
                iovec pieces[2] = {{head, sizeof head}, {buffer.data() + sent, part}};
                msghdr message{};
                message.msg_iov = pieces;
                message.msg_iovlen = 2;
                if (::sendmsg(fd_, &message, MSG_NOSIGNAL) != ssize_t(12 + part))
                    fail("sendmsg");
                sent += part;
            }
            receive_reply();
            total += filled;
        }
        ::close(fd);
        put_header(head, GATEWAY_KIND_END, false, 0);
        if (::send(fd_, head, sizeof head, MSG_NOSIGNAL) != 12)
            fail("send");
        if (total != kFileSize)
            fail("the bare loop read less than the file");
    }

  private:
    void exchange(const uint8_t *packet, std::size_t size) {
        if (::send(fd_, packet, size, MSG_NOSIGNAL) != ssize_t(size))
            fail("send");
        receive_reply();
    }
    void receive_reply() {
        uint8_t reply[12 + 8];
        if (::recv(fd_, reply, sizeof reply, 0) != ssize_t(sizeof reply))
            fail("recv");
    }
    // The other end: a reply to every status and every whole chunk.
    static int answer(int fd) {
        std::vector<uint8_t> packet(12 + kPacketMax);
        uint8_t reply[12 + 8] = {};
        put_header(reply, GATEWAY_KIND_REPLY, false, 8);
        for (;;) {
            const ssize_t n = ::recv(fd, packet.data(), packet.size(), 0);
            if (n <= 0)
                return 0;
            const bool whole = (packet[1] & 1) == 0;
            if ((packet[0] == GATEWAY_KIND_STATUS || packet[0] == GATEWAY_KIND_DATA) && whole &&
                ::send(fd, reply, sizeof reply, MSG_NOSIGNAL) != ssize_t(sizeof reply))
                return 1;
        }
    }

    Process answerer_;
    int fd_ = -1;
};

void BM_SendFile(benchmark::State &state) {
    const auto grant = static_cast<int32_t>(state.range(0));
    const std::string &path = source().path();
    PeerAndMethod method(grant);
    BareChannel bare;
    bare.send(path, std::size_t(grant));  // the file into the page cache
    korvo::bench::timeAgainstLimit(
        state, [&] { method.send(); }, [&] { bare.send(path, std::size_t(grant)); });
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(kFileSize));
}
BENCHMARK(BM_SendFile)
    ->ArgName("grant")
    ->Arg(16384)
    ->Arg(1 << 20)
    ->Iterations(8)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
