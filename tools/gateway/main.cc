// korvo_gateway: plays the gateway for one method process over the channel
// of the runtime (a SOCK_SEQPACKET socket, or a message-mode named pipe on
// Windows). It serves a distribution from the offsets of the TOC the method
// hands over, can send a command at a chosen point, answers and keeps
// uploads, and prints a transcript.
//
//   korvo_gateway --make-toc dist.toc a.bin b.bin
//   korvo_gateway --toc dist.toc -- ./method dist1 dist.toc out/
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

#include "properties/korvo_types.h"
#include "records/korvo_command.h"
#include "runtime/gateway.h"
#include "tools/gateway/method_link.hpp"
#include "tools/gateway/options.hpp"
#include "tools/gateway/peer_link.hpp"
#include "tools/gateway/serving.hpp"
#include "tools/gateway/toc_file.hpp"
#include "tools/gateway/transcript.hpp"
#include "tools/gateway/uploads.hpp"

using namespace korvo::gateway;

namespace {

using korvo::rt::gateway::GatewaySocketPtr;

// Packets kept ready while serving: enough to keep the socket busy.
constexpr std::size_t kReadyPackets = 4;
// Packets that may wait for the method to read them before the peer stops
// reading from it: a method that sends statuses and chunks without reading
// the replies is then held by its own full socket, instead of the peer
// storing every upload it floods in.
constexpr std::size_t kWaitingPacketsMax = 64;

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
        if (!link.wait(!held, sending, options.timeout > 0 ? options.timeout * 1000 : -1)) {
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

    StartedMethod method;
    GatewaySocketPtr socket = options.program.empty() ? accept_method(options, transcript)
                                                      : start_method(options, method, transcript);
    bool clean;
    {
        PeerLink link(std::move(socket), options.session);
        if (!serving && options.command != 0) {
            // No distribution to wait for: the command goes out at once, for
            // methods that poll before they read their files.
            link.queue_stream(options.command, 0, [](uint8_t *) { return true; });
            transcript.line("sent %s before any data", decode_command(options.command));
        }
        clean = converse(link, serving, uploads, options, transcript);
        uploads.on_close(transcript);
    }  // the channel closes: a method still reading sees its end
    if (!method.started())
        return clean ? 0 : 1;
    return wait_method(method, transcript);
}

}  // namespace

int main(int argc, char **argv) {
    prepare_host();
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
