// korvo send: sends a file up the gateway channel, in the chunks the
// gateway grants, each answered before the next goes up (the write path of
// a net stream: begin, writes, end). Runs under the gateway, which sets
// KORVO_GATEWAY.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <vector>

#include "command_registry.hpp"
#include "failure.hpp"
#include "interrupt.hpp"
#include "output.hpp"
#include "progress_bar.hpp"
#include "receive_source.hpp"
#include "stream/net_stream.h"
#include "stream/net_stream_write.h"
#include "units.hpp"

namespace korvo::cli {
namespace {

struct SendOptions {
    std::string file;
    uint64_t offset = 0;
    bool json = false;
};

struct FileClose {
    void operator()(std::FILE *file) const { std::fclose(file); }
};

// A refusal: the gateway's code, or -1 when the channel itself failed (the
// library logs why).
[[noreturn]] void refused(int32_t code, const std::string &when, uint64_t sent) {
    if (code == -1)
        throw Failure(kExitNoGateway, "the gateway channel failed " + when +
                                          " (run with -v for why); " + std::to_string(sent) +
                                          " bytes were accepted");
    throw Failure(kExitRefused, "the gateway refused the upload " + when + " with code " +
                                    std::to_string(code) + "; " + std::to_string(sent) +
                                    " bytes were accepted");
}

int run_send(const SendOptions &options) {
    if (!gateway_configured())
        throw Failure(kExitNoGateway,
                      "no gateway: KORVO_GATEWAY is not set (korvo send runs under the gateway "
                      "that starts it, e.g. korvo_gateway --uploads up -- korvo send FILE)");
    struct stat status {};
    if (stat(options.file.c_str(), &status) != 0)
        throw Failure(kExitNotFound, "the file " + quote_path(options.file) + " does not exist");
    if (!S_ISREG(status.st_mode))
        throw Failure(kExitFailed, quote_path(options.file) + " is not a regular file");
    const uint64_t size = static_cast<uint64_t>(status.st_size);
    if (options.offset > size)
        throw Failure(kExitUsage, "the offset " + std::to_string(options.offset) +
                                      " lies beyond the file's end (" + std::to_string(size) +
                                      " bytes)");
    std::unique_ptr<std::FILE, FileClose> file(std::fopen(options.file.c_str(), "rb"));
    if (!file || std::fseek(file.get(), static_cast<long>(options.offset), SEEK_SET) != 0)
        throw Failure(kExitFailed, "cannot read " + options.file + ": " + std::strerror(errno));

    // A network stream without a progress record that is only written. (A
    // stream of the send-only type cannot be closed: its close raises and
    // keeps the stream.)
    uint8_t key_bytes[] = {NET_STREAM_NETWORK, 0, 2, 0, 0};
    StreamKey key = {sizeof key_bytes, sizeof key_bytes - 1, key_bytes};
    StreamHandle stream(net_stream_open(&key));
    if (!stream)
        throw Failure(kExitFailed, "the stream could not be opened");

    InterruptScope interrupts;
    int32_t begun = net_stream_write_begin(stream.get());
    if (begun < 0)
        refused(begun, "at the start", 0);
    const int32_t grant = stream->chunkSize;
    ProgressBar bar("sending", ProgressUnit::kBytes, size - options.offset,
                    !global_options().quiet);
    // Pieces of the granted size, so the bar moves with every answered chunk.
    std::vector<char> piece(static_cast<size_t>(grant > 0 ? grant : NET_STREAM_CHUNK_SIZE));
    uint64_t sent = 0;      // handed to the stream
    uint64_t accepted = 0;  // in chunks the gateway answered
    uint64_t chunks = 0;
    for (;;) {
        size_t got = std::fread(piece.data(), 1, piece.size(), file.get());
        if (got == 0) {
            if (std::ferror(file.get()))
                throw Failure(kExitFailed,
                              "cannot read " + options.file + ": " + std::strerror(errno));
            break;
        }
        int32_t written = net_stream_write(stream.get(), piece.data(), static_cast<int32_t>(got));
        if (written < 0) {
            bar.finish("refused");
            refused(written, "at chunk " + std::to_string(chunks + 1), accepted);
        }
        sent += got;
        // What still waits in the stream's chunk buffer goes up with the end.
        accepted = sent - static_cast<uint64_t>(stream->fill);
        chunks = grant > 0 ? accepted / static_cast<uint64_t>(grant) : 0;
        bar.update(accepted);
        if (InterruptScope::requested()) {
            // Closed without its end: the gateway sees a cut-off upload.
            stream.reset();
            bar.finish("interrupted");
            std::cerr << "korvo: sending " << options.file << " interrupted after "
                      << format_bytes(accepted)
                      << "; the gateway got no end of the transfer: send it again\n";
            return InterruptScope::exit_code();
        }
    }
    int32_t ended = net_stream_write_end(stream.get());
    if (ended < 0) {
        bar.finish("refused");
        refused(ended, "at its last chunk", accepted);
    }
    bar.update(sent);
    bar.finish("done");
    if (options.json) {
        print_json({{"file", options.file},
                    {"offset", options.offset},
                    {"sent_bytes", sent},
                    {"granted_chunk_bytes", grant}});
    } else {
        std::cout << "Sent " << printable(options.file) << " up: " << format_bytes(sent)
                  << " in chunks of " << grant << " bytes.\n";
    }
    return kExitOk;
}

void attach_send(CLI::App &root, Action &chosen) {
    CLI::App *sub = root.add_subcommand("send", "Send a file up to the gateway");
    auto options = std::make_shared<SendOptions>();
    sub->add_option("file", options->file, "The file to send")->required();
    // Only digits: CLI11 would wrap "-1" round to 2^64 - 1.
    sub->add_option("--offset", options->offset, "Send from this byte on")
        ->type_name("BYTES")
        ->check(CLI::Validator(
            [](std::string &text) {
                return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos
                           ? std::string()
                           : "wants a byte offset of 0 or more, not " + text;
            },
            "BYTES", "byte offset"));
    sub->add_flag("--json", options->json, "Print a JSON summary");
    sub->footer(
        "\nRuns under the gateway, which sets KORVO_GATEWAY. The gateway grants the chunk\n"
        "size and answers every chunk; a refusal ends the upload (exit code 6), no\n"
        "gateway or a failed channel is exit code 5.\n" +
        examples({"korvo send install.log", "korvo_gateway --uploads up -- korvo send install.log",
                  "korvo send big.log --offset 1048576 --json"}));
    choose(sub, chosen, [options] { return run_send(*options); });
}

const CommandRegistration send_registration{55, attach_send};

}  // namespace
}  // namespace korvo::cli
