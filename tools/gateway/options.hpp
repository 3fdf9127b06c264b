// The gateway peer's command line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace korvo::gateway {

struct Options {
    // --make-toc TOC FILE...
    std::string makeToc;
    std::vector<std::string> files;
    // Serving.
    std::string toc;             // --toc
    std::size_t packet = 16384;  // --packet: data bytes per stream packet
    uint8_t command = 0;         // --command NAME@N: the code, 0 for none
    uint64_t commandAfter = 0;   //   and the data bytes sent before it
    // Uploads.
    int32_t grant = 16384;   // --grant
    int32_t refuseCode = 0;  // --refuse CODE@N: 0 for none
    int32_t refuseAt = 0;    //   N: 0 the status, 1 the first chunk ...
    std::string uploads;     // --uploads DIR
    // The method.
    std::string listen;                // --listen PATH
    std::vector<std::string> program;  // -- PROGRAM ARG...
    int32_t session = 1;               // --session
    int timeout = 0;                   // --timeout S: 0 waits without limit
    bool quiet = false;                // --quiet
};

// Parses the arguments; throws std::invalid_argument with a message for
// the user. `help` is set for --help.
Options parse_options(int argc, char **argv, bool &help);

extern const char *const kUsage;

}  // namespace korvo::gateway
