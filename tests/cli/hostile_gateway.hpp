// A gateway that the test scripts packet by packet: it starts `korvo
// args...` (or another method program) in the background with its end of
// a channel (hostile_channel.hpp) named in KORVO_GATEWAY, takes the TOC the
// receive hands over, then sends exactly what the test says: data,
// commands, empty packets, undefined command bytes, the end of the stream,
// or nothing at all. Every wait is bounded.
//
// Threads: the test's main thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "cli_test_support.hpp"
#include "hostile_channel.hpp"
#include "tests/support/test_process.hpp"

namespace cli_test {

class HostileGateway {
  public:
    static constexpr uint8_t kStreamPacket = 31;
    static constexpr uint8_t kEndOfStream = 32;
    static constexpr uint8_t kToc = 30;
    static constexpr size_t kPayloadMax = 65536;

    HostileGateway(const std::vector<std::string> &args, Options options,
                   const char *program = KORVO_PROGRAM) {
        options.env["KORVO_GATEWAY"] = channel_.programName();
        options.env["KORVO_GATEWAY_SESSION"] = "7";
        options.env["KORVO_GATEWAY_TIMEOUT"] = "30";
        // The channel end is handed over at its number; the test keeps none.
        run_ = std::make_unique<BackgroundRun>(program, args, options,
                                               std::vector{channel_.programEnd()});
        channel_.closeProgramEnd();
    }
    // Hangs up first; the program, if still running, is killed as the
    // run goes.
    ~HostileGateway() { close(); }
    HostileGateway(const HostileGateway &) = delete;
    HostileGateway &operator=(const HostileGateway &) = delete;

    // The TOC message the receive hands over (its payload, joined); empty
    // when none came within the bounded wait.
    std::vector<uint8_t> toc() {
        std::vector<uint8_t> message;
        for (;;) {
            std::optional<std::vector<uint8_t>> packet = channel_.receive(30000);
            if (!packet || packet->size() < 12)
                return {};
            if ((*packet)[0] != kToc)
                continue;
            message.insert(message.end(), packet->begin() + 12, packet->end());
            if (((*packet)[1] & 1) == 0)
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
    void close() { channel_.close(); }

    // Waits for the program's end (the channel is closed first).
    Outcome finish(int seconds = 60) {
        close();
        return run_->finish(seconds);
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
            if (!channel_.send(packet))
                return;  // the receive has gone: what it did is the test's answer
            at += part;
        } while (at < payload.size());
    }

    HostileChannel channel_;
    std::unique_ptr<BackgroundRun> run_;
};

}  // namespace cli_test
