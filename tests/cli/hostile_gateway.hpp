// A gateway that the test scripts packet by packet: it starts `korvo
// args...` (or another method program) with its end of a SOCK_SEQPACKET pair as the channel
// (KORVO_GATEWAY=fd:N), takes the TOC the receive hands over, and then sends
// exactly what the test says: data, commands, empty packets, undefined
// command bytes, the end of the stream, or nothing at all. The program's
// output and error go to files, so that a long transfer never blocks on a
// full pipe. Every wait is bounded.
//
// Threads: the test's main thread.
#pragma once

#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "cli_test_support.hpp"
#include "tests/support/test_process.hpp"

namespace cli_test {

class HostileGateway {
  public:
    static constexpr uint8_t kStreamPacket = 31;
    static constexpr uint8_t kEndOfStream = 32;
    static constexpr uint8_t kToc = 30;
    static constexpr size_t kPayloadMax = 65536;

    HostileGateway(const std::vector<std::string> &args, Options options,
                   const std::string &scratch, const char *program = KORVO_PROGRAM)
        : out_path_(scratch + "/gateway-run.out"), err_path_(scratch + "/gateway-run.err") {
        int ends[2];
        if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0)
            throw std::runtime_error("socketpair");
        fd_ = ends[0];
        timeval bound{30, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &bound, sizeof bound);
        options.env["KORVO_GATEWAY"] = "fd:" + std::to_string(ends[1]);
        options.env["KORVO_GATEWAY_SESSION"] = "7";
        options.env["KORVO_GATEWAY_TIMEOUT"] = "30";
        // The channel end is handed over at its number; the test keeps none.
        child_ = std::make_unique<korvo::test::Child>(
            korvo::test::ProgramArgs{Argv(program, args)},
            korvo::test::ChildStart{.ends = {korvo::test::PipeHandle{ends[1]}},
                                    .environment = detail::changes(options),
                                    .outputFile = out_path_,
                                    .errorFile = err_path_,
                                    .emptyInput = true});
        ::close(ends[1]);
    }
    // Hangs up first; the program, if still running, is killed as the
    // child goes.
    ~HostileGateway() { close(); }
    HostileGateway(const HostileGateway &) = delete;
    HostileGateway &operator=(const HostileGateway &) = delete;

    // The TOC message the receive hands over (its payload, joined); empty
    // when none came within the bounded wait.
    std::vector<uint8_t> toc() {
        std::vector<uint8_t> message;
        for (;;) {
            pollfd ready{fd_, POLLIN, 0};
            if (::poll(&ready, 1, 30000) != 1)
                return {};
            std::vector<uint8_t> packet(12 + kPayloadMax);
            ssize_t n = ::recv(fd_, packet.data(), packet.size(), 0);
            if (n < 12)
                return {};
            if (packet[0] != kToc)
                continue;
            message.insert(message.end(), packet.begin() + 12, packet.begin() + n);
            if ((packet[1] & 1) == 0)
                return message;
        }
    }

    // One stream packet: the command byte, then `data`, cut into packets of
    // at most 64 KiB as one message.
    void send_message(uint8_t command, const std::string &data) {
        std::string payload(1, static_cast<char>(command));
        payload += data;
        send_payload(kStreamPacket, payload);
    }
    void data(const std::string &bytes) { send_message(1, bytes); }
    // A stream packet holding only a command byte: NULL, CANCEL ... or any
    // byte the channel does not define.
    void command(uint8_t code) { send_message(code, ""); }
    // An empty stream packet: the end of a segment.
    void end_segment() { send_payload(kStreamPacket, ""); }
    void end_stream() { send_payload(kEndOfStream, ""); }
    // Hangs up: the receive sees the channel close.
    void close() {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }

    // Waits for the program's end (the channel is closed first).
    Outcome finish(int seconds = 60) {
        close();
        Outcome run;
        run.exit_code = child_->wait(seconds * 1000);
        if (run.exit_code == -1) {
            child_->kill();
            ADD_FAILURE() << "the program did not end within " << seconds << " s";
            run.exit_code = child_->wait();
        }
        run.out = slurp(out_path_);
        run.err = slurp(err_path_);
        return run;
    }

  private:
    void send_payload(uint8_t kind, const std::string &payload) {
        size_t at = 0;
        do {
            const size_t part = std::min(kPayloadMax, payload.size() - at);
            const bool more = at + part < payload.size();
            std::string packet{
                static_cast<char>(kind), static_cast<char>(more ? 1 : 0), 1, 0, 0, 0, 0, 7};
            for (int shift = 24; shift >= 0; shift -= 8)
                packet.push_back(static_cast<char>((part >> shift) & 0xff));
            packet.append(payload, at, part);
            if (::send(fd_, packet.data(), packet.size(), MSG_NOSIGNAL) !=
                static_cast<ssize_t>(packet.size()))
                return;  // the receive has gone: what it did is the test's answer
            at += part;
        } while (at < payload.size());
    }
    static std::vector<std::string> Argv(const char *program,
                                         const std::vector<std::string> &args) {
        std::vector<std::string> argv{program};
        argv.insert(argv.end(), args.begin(), args.end());
        return argv;
    }
    static std::string slurp(const std::string &path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    std::string out_path_, err_path_;
    int fd_ = -1;
    std::unique_ptr<korvo::test::Child> child_;
};

}  // namespace cli_test
