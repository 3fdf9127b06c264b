// korvo receive: reads a distribution through a net stream, from the
// gateway or from files, directories, the depot, CD drives or the CDS
// client, and writes each segment to OUT/<segment id>. The stream keeps the
// distribution's progress record (<work dir>/mstat/<id>.mds); a receive
// that was interrupted resumes from what the outputs hold and the record
// vouches for: each output file is cut back to that and the segments'
// offsets tell the stream where to go on. A receive ends 0 only when every
// segment got exactly its size; otherwise it names the segment, and the
// record claims no more than the outputs hold.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <optional>
#include <thread>

#include "command_registry.hpp"
#include "endpoint.hpp"
#include "failure.hpp"
#include "host_files.hpp"
#include "host_system.hpp"
#include "interrupt.hpp"
#include "output.hpp"
#include "progress_bar.hpp"
#include "properties/korvo_keys.h"
#include "properties/korvo_properties.h"
#include "receive_lock.hpp"
#include "receive_outputs.hpp"
#include "receive_reader.hpp"
#include "receive_record.hpp"
#include "receive_source.hpp"
#include "record_fields.hpp"
#include "records/korvo_command.h"
#include "segment_digest.hpp"
#include "stream/mstat.h"
#include "stream/net_stream.h"
#include "units.hpp"

namespace korvo::cli {
namespace {

struct ReceiveOptions {
    std::string distribution;
    std::string out;
    SourceRequest source;
    std::string work_dir;
    std::string rate;
    bool json = false;
    bool sync = false;
};

// Bytes per second (parse_byte_amount); 0 is no limit.
uint64_t parse_rate(const std::string &text) {
    if (text.empty())
        return 0;
    if (std::optional<uint64_t> rate = parse_byte_amount(text))
        return *rate;
    throw Failure(kExitUsage, std::string("--limit-rate wants bytes per second (") +
                                  kByteAmountForms + "), not " + quote_text(text));
}

// Keeps a receive at or below `rate` bytes per second: waits until the
// bytes of this run are due, looking for Ctrl-C every 50 ms.
class Pacer {
  public:
    explicit Pacer(uint64_t rate) : rate_(rate), start_(std::chrono::steady_clock::now()) {}
    void after(uint64_t bytes) const {
        if (rate_ == 0)
            return;
        auto due = start_ + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                std::chrono::duration<double>(static_cast<double>(bytes) / rate_));
        while (!InterruptScope::requested()) {
            auto now = std::chrono::steady_clock::now();
            if (now >= due)
                return;
            std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
                due - now, std::chrono::milliseconds(50)));
        }
    }

  private:
    uint64_t rate_;
    std::chrono::steady_clock::time_point start_;
};

// What the outputs hold that counts as received. Everything on disk counts
// when the record covers it all (a run that stopped wrote exactly that);
// otherwise, in TOC order, as far as the record's checkpoint reaches (after
// the first segment it leaves incomplete nothing counts), so that no byte
// the record does not vouch for is taken. Sets the TOC's offsets there.
std::vector<SegmentState> plan_segments(DistributionToc &toc, OutputFiles &outputs,
                                        uint64_t checkpoint) {
    std::vector<SegmentState> segments(toc.size());
    uint64_t on_disk = 0;
    for (uint32_t i = 0; i < toc.size(); ++i) {
        SegmentState &segment = segments[i];
        segment.id = outputs.name(i);
        segment.size = static_cast<uint64_t>(
            std::max(0, properties_get_long2(&toc.segment(i), SEGMENT_SIZE_KEY, 0)));
        segment.kept = std::min(outputs.on_disk(i), segment.size);
        on_disk += segment.kept;
    }
    if (on_disk > checkpoint) {
        uint64_t left = checkpoint;
        for (SegmentState &segment : segments) {
            segment.kept = std::min(segment.kept, left);
            left = segment.kept < segment.size ? 0 : left - segment.kept;
        }
    }
    for (uint32_t i = 0; i < toc.size(); ++i)
        library_call([&] {
            properties_put_long_dup(&toc.segment(i), SEGMENT_OFFSET_KEY,
                                    static_cast<int32_t>(segments[i].kept));
        });
    return segments;
}

uint64_t bytes_held(const std::vector<SegmentState> &segments) {
    uint64_t held = 0;
    for (const SegmentState &segment : segments)
        held += segment.kept + segment.got;
    return held;
}

// Refuses an output that is one of the files the stream reads (what
// locating found, "data_path") or the TOC file.
void refuse_inputs(const NetStream *stream, const OutputFiles &outputs,
                   const std::string &toc_file) {
    if (!toc_file.empty())
        outputs.refuse_input(toc_file, "");
    const PropertiesList *toc = stream->toc;
    for (uint32_t i = 0; toc != nullptr && toc->buffer != nullptr && i < toc->length; ++i) {
        const char *path = nullptr;
        library_call([&] {
            path = properties_get_string2(&toc->buffer[i], SEGMENT_DATA_PATH_KEY, nullptr);
        });
        if (path != nullptr)
            outputs.refuse_input(path, segment_text(toc->buffer[i], SEGMENT_ID_KEY));
    }
}

std::string hex_byte(int code) {
    static const char digits[] = "0123456789abcdef";
    return std::string("0x") + digits[(code >> 4) & 15] + digits[code & 15];
}

Json summary_json(const ReceiveOptions &options, const Source &source, uint64_t total,
                  uint64_t kept, const ReadResult &result, bool complete, uint64_t checkpoint,
                  uint32_t verified) {
    return {{"distribution", options.distribution},
            {"source", source.kind},
            {"output", options.out},
            {"segments", source.toc.size()},
            {"total_bytes", total},
            {"resumed_at_bytes", kept},
            {"received_bytes", result.received},
            {"complete", complete},
            {"interrupted", result.interrupted},
            {"checkpoint_bytes", checkpoint},
            {"verified", verified},
            {"synced", options.sync},
            {"progress_record", record_path(options.distribution)}};
}

// What the next run will find: the record's checkpoint, never more than
// the outputs hold.
std::string resume_text(const std::string &id, uint64_t held, uint64_t total) {
    std::optional<uint64_t> recorded = recorded_bytes(id);
    const uint64_t keeps = std::min(recorded.value_or(0), held);
    if (keeps == 0)
        return recorded ? "the progress record keeps nothing of " + format_bytes(total) +
                              "; the next run starts over"
                        : "no progress record could be kept; the next run starts over";
    return "the progress record keeps " + format_bytes(keeps) + " of " + format_bytes(total) +
           "; run the same command again to resume";
}

// Why the read loop stopped short, in the user's words.
Failure read_failure(const ReadResult &result, const std::vector<SegmentState> &segments,
                     const std::string &resume) {
    const std::string name =
        result.segment ? "segment " + printable(segments[*result.segment].id) : "a segment";
    if (result.stop == -1)
        return Failure(kExitNoGateway, "the gateway channel failed" +
                                           (result.segment ? " in " + name : std::string()) +
                                           " (run with -v for why): " + resume);
    if (result.stop < 0) {
        const int code = -result.stop;
        const char *command = code <= 5 ? decode_command(code) : nullptr;
        if (command != nullptr)
            return Failure(kExitRefused, std::string("the gateway stopped the receive with ") +
                                             command + ": " + resume);
        return Failure(kExitNoGateway,
                       "the gateway sent the undefined command byte " + hex_byte(code) +
                           (result.segment ? " in " + name : std::string()) + ": " + resume);
    }
    if (result.overlong)
        return Failure(kExitFailed, "the source sent more than the " +
                                        std::to_string(segments[*result.segment].size) +
                                        " bytes of " + name +
                                        "; its output was emptied so that the next run fetches "
                                        "it again: " +
                                        resume);
    if (result.stray)
        return Failure(kExitFailed, "the stream delivered data for " + name +
                                        ", which was not being received: " + resume);
    const SegmentState &segment = segments[*result.segment];
    return Failure(kExitFailed, name + " ended after " +
                                    std::to_string(segment.kept + segment.got) + " of its " +
                                    std::to_string(segment.size) + " bytes: " + resume);
}

int run_receive(ReceiveOptions options) {
    const std::string &id = options.distribution;
    if (id.empty() ||
        id.find_first_of(std::string(",") + host::kPathSeparators) != std::string::npos ||
        id == "." || id == "..")
        throw Failure(kExitUsage, "the distribution id " + quote_text(id) +
                                      " must be a file name without commas");
    uint64_t rate = parse_rate(options.rate);
    if (!options.work_dir.empty())
        // Where the library keeps records.
        host::set_environment("KORVO_WORK_DIR", options.work_dir.c_str());
    Source source = resolve_source(options.source);

    // One writer per distribution, and a place for its record, before
    // anything is read or written.
    const std::string progress = prepare_record_place(id);
    DistributionLock lock(progress, id);
    Checkpoint checkpoint = read_checkpoint(id);
    OutputFiles outputs(options.out, source.toc);

    const uint64_t total = source.toc.total_bytes();
    if (checkpoint.found && checkpoint.total && *checkpoint.total != total) {
        std::cerr << "korvo: the progress record of " << id << " is for " << *checkpoint.total
                  << " bytes, this distribution has " << total << ": starting over\n";
        checkpoint.bytes = 0;
    }
    std::vector<SegmentState> segments = plan_segments(source.toc, outputs, checkpoint.bytes);
    const uint64_t kept = bytes_held(segments);

    std::vector<uint8_t> key_bytes = stream_key_bytes(source, options.source, id);
    StreamKey key = {static_cast<uint32_t>(key_bytes.size()),
                     static_cast<uint32_t>(key_bytes.size() - 1), key_bytes.data()};
    InterruptScope interrupts;
    StreamHandle stream(net_stream_open(&key));
    if (!stream)
        throw Failure(kExitFailed,
                      source.kind == "cds"
                          ? "the CDS client cannot be loaded: libCDSClient.so is not on the "
                            "library search path, and the registry file (KORVO_REGISTRY_FILE, "
                            "else /etc/korvo/registry.ini) names no client home whose cds.cfg "
                            "leads to it (run with -v for why)"
                          : "the stream could not be opened");
    library_call([&] { net_stream_save_modified_toc(stream.get(), source.toc.get()); });
    if (kept < total) {
        // The record this stream writes starts empty: say at once where the
        // data stands, so that a run stopped before its first checkpoint
        // keeps the earlier one, and so that a record that cannot be kept
        // shows now rather than at a resume that starts over.
        std::string text = std::to_string(kept);
        library_call([&] { net_stream_update_mstat(stream.get(), "c_len", text.c_str()); });
        if (recorded_bytes(id) != kept)
            std::cerr << "korvo: cannot keep the progress record " << record_path(id)
                      << " (run with -v for why): if this receive stops, the next run starts "
                         "over\n";
    }
    refuse_inputs(stream.get(), outputs, options.source.toc_file);

    std::vector<uint64_t> keep;
    for (const SegmentState &segment : segments)
        keep.push_back(segment.kept);
    outputs.open_all(keep);
    SegmentDigests digests(source.toc);
    digests.start(segments, outputs);

    ProgressBar bar("receiving", ProgressUnit::kBytes, total, !global_options().quiet);
    bar.resume_from(kept);
    const Pacer pacer(rate);
    ReadHooks hooks;
    hooks.written = [&](uint32_t i, uint64_t written) { digests.written(i, written); };
    hooks.after = [&](uint64_t received) {
        bar.update(kept + received);
        pacer.after(received);
        return InterruptScope::requested();
    };
    // Without a rate to keep, a file-kind source hands its segments over in
    // the kernel; a paced receive reads them chunk by chunk, so that the
    // pace and the bar move smoothly.
    hooks.copy_in_kernel = rate == 0;
    ReadResult result;
    std::optional<Failure> broke;  // an output that could not be written, a raised read
    try {
        read_distribution(stream.get(), segments, outputs, hooks, result);
    } catch (const Failure &failure) {
        broke = failure;
    }
    // A segment that does not match its digest is emptied, so that the
    // next run fetches it again.
    const std::vector<SegmentDigests::Mismatch> mismatches = digests.finish(segments);
    for (const SegmentDigests::Mismatch &mismatch : mismatches) {
        outputs.cut(mismatch.segment, 0);
        segments[mismatch.segment].kept = segments[mismatch.segment].got = 0;
    }
    const bool complete = !broke && result.stop == 0 && !result.interrupted && !result.segment &&
                          !result.stray && mismatches.empty();
    if (!complete) {
        if (result.overlong) {
            SegmentState &segment = segments[*result.segment];
            outputs.cut(*result.segment, 0);
            segment.kept = segment.got = 0;
        }
        // The record claims what the outputs hold, and no more.
        std::string text = std::to_string(bytes_held(segments));
        library_call([&] { net_stream_update_mstat(stream.get(), "c_len", text.c_str()); });
    }
    NetStream *closing = stream.release();
    library_call([&] { net_stream_close(closing); });
    if (options.sync) {
        // What this run reports, received or where the next one resumes,
        // survives a power loss.
        try {
            outputs.sync_all();
            sync_record(id);
        } catch (const Failure &) {
            if (complete)
                throw;  // a receive that stopped reports why it stopped
        }
    }

    bar.finish(complete ? "done" : result.interrupted ? "interrupted" : "stopped");
    const uint64_t held = bytes_held(segments);
    const uint64_t saved = complete ? total : std::min(recorded_bytes(id).value_or(0), held);
    if (options.json)
        print_json(summary_json(options, source, total, kept, result, complete, saved,
                                digests.verified()));

    if (!complete) {
        const std::string resume = resume_text(id, held, total);
        if (broke)
            throw Failure(
                broke->code(),
                std::string(broke->what()) + "\nkorvo: " +
                    (result.reading ? "in segment " + printable(segments[*result.reading].id) + ": "
                                    : std::string()) +
                    resume);
        if (result.interrupted) {
            std::cerr << "korvo: receive of " << id << " interrupted: " << resume << "\n";
            return InterruptScope::exit_code();
        }
        if (!mismatches.empty() && !result.segment && result.stop == 0 && !result.stray)
            throw Failure(kExitFailed,
                          "segment " + printable(segments[mismatches[0].segment].id) +
                              " does not match its checksum (SHA-256 " + mismatches[0].expected +
                              ", received " + mismatches[0].got +
                              "); its output was emptied so that the next run fetches it "
                              "again: " +
                              resume);
        throw read_failure(result, segments, resume);
    }
    if (!options.json) {
        std::cout << "Received " << printable(id) << " into " << printable(options.out) << ": "
                  << source.toc.size() << (source.toc.size() == 1 ? " segment, " : " segments, ")
                  << format_bytes(total);
        if (result.received == 0)
            std::cout << " (nothing left to receive)";
        else if (kept > 0)
            std::cout << " (resumed at " << format_bytes(kept) << ")";
        if (digests.verified() > 0)
            std::cout << ", " << digests.verified() << " verified";
        std::cout << ".\n";
    }
    return kExitOk;
}

void attach_receive(CLI::App &root, Action &chosen) {
    CLI::App *sub = root.add_subcommand(
        "receive", "Receive a distribution into a directory, resuming an interrupted one");
    auto options = std::make_shared<ReceiveOptions>();
    sub->add_option("distribution", options->distribution, "The distribution id")->required();
    sub->add_option("-o,--out", options->out, "The output directory: one file per segment")
        ->required()
        ->type_name("DIR");
    sub->add_option("--dir", options->source.dir,
                    "A distribution directory: description files (*.toc, *.itc) and data files")
        ->type_name("DIR");
    sub->add_option("--files", options->source.files,
                    "Data files, one segment each, named by the file")
        ->type_name("FILE...");
    sub->add_option("--from", options->source.kind, "The source kind")
        ->check(CLI::IsMember(source_kinds()))
        ->type_name("KIND");
    sub->add_option("--toc", options->source.toc_file,
                    "The TOC file (\"j_toc\" in a property file, as korvo_gateway --make-toc "
                    "writes it)")
        ->type_name("TOC");
    sub->add_option("--segment", options->source.segments,
                    "A depot segment to receive (--from depot without --toc)")
        ->type_name("ID:VERSION");
    sub->add_option("-d,--depot", options->source.depot_dir,
                    "The depot directory (--from depot; default: the endpoint's)")
        ->type_name("DIR");
    sub->add_option("-w,--work-dir", options->work_dir,
                    "The work directory that keeps the progress record")
        ->type_name("DIR");
    sub->add_option("--limit-rate", options->rate,
                    "At most this many bytes per second (64K, 20M, 1G)")
        ->type_name("RATE");
    sub->add_flag("--json", options->json, "Print a JSON summary");
    sub->add_flag("--sync", options->sync,
                  "Flush the outputs and the progress record to disk before reporting, so that "
                  "what the receive reports survives a power loss");
    sub->footer(
        "\nSources (--from): network (the gateway, which sets KORVO_GATEWAY; the default under\n"
        "it), files, dir, depot, remote (the directories \"$QEL_DATDIR/remote.dir\" lists),\n"
        "cd, remote-cd, cds. --dir and --files imply their kind and make the TOC; the\n"
        "others need --toc. Ctrl-C stops at the next chunk; the same command resumes.\n" +
        examples({"korvo receive dist-1 --dir /srv/dist-1 -o out",
                  "korvo receive dist-1 --files kernel.img notes.txt -o out --limit-rate 1M",
                  "korvo receive dist-1 --from depot --segment seg-1:1.0 -o out",
                  "korvo_gateway --toc dist.toc -- korvo receive dist-1 --toc dist.toc -o out"}));
    choose(sub, chosen, [options] { return run_receive(*options); });
}

const CommandRegistration receive_registration{50, attach_receive};

}  // namespace
}  // namespace korvo::cli
