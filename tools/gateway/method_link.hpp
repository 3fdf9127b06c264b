// How the gateway peer meets its method: it starts the program with its
// end of a new channel named in KORVO_GATEWAY, or waits for one method to
// connect to the place --listen names, and at the end waits for a started
// program's exit. The host's calls live in method_link_<host>.cc. One
// thread (the peer's main thread) uses them.
#pragma once

#include <cstdint>

#include "runtime/gateway_socket.hpp"
#include "tools/gateway/options.hpp"
#include "tools/gateway/transcript.hpp"

namespace korvo::gateway {

// A program the peer started; the host's process is released when it goes.
class StartedMethod {
  public:
    StartedMethod() = default;
    ~StartedMethod();
    StartedMethod(const StartedMethod &) = delete;
    StartedMethod &operator=(const StartedMethod &) = delete;

    bool started() const { return process != -1; }

    std::intptr_t process = -1;  // a pid, or a process HANDLE
};

// What the host needs before any channel is made (a write to a method that
// went away must fail, not end the peer).
void prepare_host();

// Starts options.program with its end of a new channel in KORVO_GATEWAY
// and options.session in KORVO_GATEWAY_SESSION; the gateway's end. Ends the
// peer (exit 1, with a line on standard error) when it cannot.
korvo::rt::gateway::GatewaySocketPtr start_method(const Options &options, StartedMethod &method,
                                                  const Transcript &transcript);

// Waits, within options.timeout, for one method at options.listen; the
// gateway's end. Ends the peer when none comes or the place cannot be made.
korvo::rt::gateway::GatewaySocketPtr accept_method(const Options &options,
                                                   const Transcript &transcript);

// Waits for the started method to end and says how it did: its exit
// status, or 128 + the signal that ended it.
int wait_method(StartedMethod &method, const Transcript &transcript);

// Says what went wrong on standard error and ends the peer with status 1.
[[noreturn]] void fail(const std::string &what);

}  // namespace korvo::gateway
