// The scripted gateway's channel: the test keeps one end, a program it
// starts gets the other, named in KORVO_GATEWAY. A SOCK_SEQPACKET pair on
// POSIX hosts ("fd:N"), a message-mode named pipe opened for overlapped use
// on Windows ("handle:N"): one packet is one message both ways, and every
// wait is bounded. The host's calls live in hostile_channel_<host>.cc.
//
// Threads: the test's main thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/test_process.hpp"

namespace cli_test {

class HostileChannel {
  public:
    // Throws std::runtime_error when the host cannot make the channel.
    HostileChannel();
    ~HostileChannel();
    HostileChannel(const HostileChannel &) = delete;
    HostileChannel &operator=(const HostileChannel &) = delete;

    // What KORVO_GATEWAY says to the program, and the end to hand it.
    const std::string &programName() const { return program_name_; }
    korvo::test::PipeHandle programEnd() const { return {theirs_}; }
    // Once the program holds its end: the test keeps none.
    void closeProgramEnd();

    // The next packet whole; nullopt when the channel ended or nothing came
    // within `milliseconds`.
    std::optional<std::vector<std::uint8_t>> receive(int milliseconds);
    // Sends one packet whole; false when the program has gone.
    bool send(const std::string &packet);
    // Hangs up: the program sees the channel close.
    void close();

  private:
    std::intptr_t ours_ = -1;
    std::intptr_t theirs_ = -1;
    std::string program_name_;
};

}  // namespace cli_test
