// Parsing the gateway peer's command line.
#include "tools/gateway/options.hpp"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string_view>

#include "records/korvo_command.h"

namespace korvo::gateway {

const char *const kUsage =
    "usage: korvo_gateway --make-toc TOC FILE...\n"
    "       korvo_gateway [OPTIONS] -- PROGRAM [ARG...]\n"
    "       korvo_gateway [OPTIONS] --listen SOCKET\n"
    "\n"
    "Plays the gateway for one method process: starts PROGRAM with the channel in\n"
    "its environment (KORVO_GATEWAY), or waits for one method on SOCKET; receives\n"
    "the stream's modified TOC, sends each segment's data from the TOC's offset,\n"
    "answers uploads, and prints a transcript.\n"
    "\n"
    "  --make-toc TOC FILE...  write the TOC of a distribution of FILE... (each segment\n"
    "                          with its file's SHA-256 as \"checksum\") and exit\n"
    "  --toc TOC               serve the distribution of TOC\n"
    "  --packet N              data bytes per packet (default 16384)\n"
    "  --command NAME@N        send NAME (cancel, pause, expire, roam) once N data\n"
    "                          bytes were sent; without --toc, NAME@0 sends it as\n"
    "                          soon as the method is there\n"
    "  --grant N               chunk size granted to uploads (default 16384)\n"
    "  --refuse CODE@N         answer chunk N of each upload (0: its status) with\n"
    "                          CODE, a negative number\n"
    "  --uploads DIR           keep uploads as DIR/upload-1, DIR/upload-2, ...\n"
    "  --session N             the method's session id (default 1)\n"
    "  --timeout S             give up after S seconds without news (default: never)\n"
    "  --quiet                 print no transcript\n";

namespace {

long long number(std::string_view option, const std::string &text, long long low, long long high) {
    char *end = nullptr;
    errno = 0;
    const long long value = std::strtoll(text.c_str(), &end, 10);
    if (text.empty() || errno != 0 || *end != '\0' || value < low || value > high)
        throw std::invalid_argument(std::string(option) + ": " + text + " is not a number from " +
                                    std::to_string(low) + " to " + std::to_string(high));
    return value;
}

// "LEFT@RIGHT".
std::pair<std::string, std::string> at_pair(std::string_view option, const std::string &text) {
    const std::size_t at = text.find('@');
    if (at == std::string::npos)
        throw std::invalid_argument(std::string(option) + ": expected VALUE@N, got " + text);
    return {text.substr(0, at), text.substr(at + 1)};
}

uint8_t command_code(const std::string &name) {
    for (int32_t code = KORVO_COMMAND_CANCEL; code <= KORVO_COMMAND_ROAM; ++code) {
        std::string upper = decode_command(code);
        std::string lower;
        for (char c : upper)
            lower += static_cast<char>(c - 'A' + 'a');
        if (name == upper || name == lower)
            return static_cast<uint8_t>(code);
    }
    throw std::invalid_argument("--command: " + name + " is not cancel, pause, expire or roam");
}

}  // namespace

Options parse_options(int argc, char **argv, bool &help) {
    Options options;
    help = false;
    int i = 1;
    auto value = [&](const char *option) -> std::string {
        if (i + 1 >= argc)
            throw std::invalid_argument(std::string(option) + " needs a value");
        return argv[++i];
    };
    for (; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--") {
            options.program.assign(argv + i + 1, argv + argc);
            if (options.program.empty())
                throw std::invalid_argument("-- needs a program to start");
            break;
        } else if (arg == "--help" || arg == "-h") {
            help = true;
            return options;
        } else if (arg == "--make-toc") {
            options.makeToc = value("--make-toc");
            options.files.assign(argv + i + 1, argv + argc);
            break;
        } else if (arg == "--toc") {
            options.toc = value("--toc");
        } else if (arg == "--packet") {
            options.packet = static_cast<std::size_t>(number(arg, value("--packet"), 1, 16 << 20));
        } else if (arg == "--command") {
            const auto [name, after] = at_pair(arg, value("--command"));
            options.command = command_code(name);
            options.commandAfter = static_cast<uint64_t>(number(arg, after, 0, LLONG_MAX));
        } else if (arg == "--grant") {
            options.grant = static_cast<int32_t>(number(arg, value("--grant"), 0, INT32_MAX));
        } else if (arg == "--refuse") {
            const auto [code, at] = at_pair(arg, value("--refuse"));
            options.refuseCode = static_cast<int32_t>(number(arg, code, INT32_MIN, -1));
            options.refuseAt = static_cast<int32_t>(number(arg, at, 0, INT32_MAX));
        } else if (arg == "--uploads") {
            options.uploads = value("--uploads");
        } else if (arg == "--listen") {
            options.listen = value("--listen");
        } else if (arg == "--session") {
            options.session =
                static_cast<int32_t>(number(arg, value("--session"), INT32_MIN, INT32_MAX));
        } else if (arg == "--timeout") {
            options.timeout = static_cast<int>(number(arg, value("--timeout"), 0, INT_MAX / 1000));
        } else if (arg == "--quiet" || arg == "-q") {
            options.quiet = true;
        } else {
            throw std::invalid_argument("unknown option " + std::string(arg));
        }
    }
    if (!options.makeToc.empty())
        return options;
    if (options.command != 0 && options.toc.empty() && options.commandAfter != 0)
        throw std::invalid_argument("--command: without --toc no data goes out; use NAME@0");
    if (options.program.empty() == options.listen.empty())
        throw std::invalid_argument("give either -- PROGRAM or --listen SOCKET");
    return options;
}

}  // namespace korvo::gateway
