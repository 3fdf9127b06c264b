// korvo receive: reads a distribution through a net stream, from the
// gateway or from files, directories, the depot, CD drives or the CDS
// client, and writes each segment to OUT/<segment id>. The stream keeps the
// distribution's progress record (<work dir>/mstat/<id>.mds); a receive
// that was interrupted resumes from the record's checkpoint: each output
// file is cut back to what the checkpoint covers and the segments' offsets
// tell the stream where to go on.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <iostream>
#include <memory>
#include <optional>
#include <thread>

#include "command_registry.hpp"
#include "endpoint.hpp"
#include "failure.hpp"
#include "interrupt.hpp"
#include "output.hpp"
#include "progress_bar.hpp"
#include "properties/korvo_keys.h"
#include "properties/korvo_properties.h"
#include "receive_source.hpp"
#include "record_fields.hpp"
#include "records/korvo_command.h"
#include "stream/mstat.h"
#include "stream/net_stream.h"
#include "units.hpp"

namespace korvo::cli {
namespace {

namespace fs = std::filesystem;

struct ReceiveOptions {
    std::string distribution;
    std::string out;
    SourceRequest source;
    std::string work_dir;
    std::string rate;
    bool json = false;
};

struct RecordFree {
    void operator()(mstat *record) const { mstat_free(record); }
};

class Descriptor {
  public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    int get() const { return fd_; }

  private:
    int fd_;
};

// What the progress record of an earlier run says.
struct Checkpoint {
    bool found = false;
    uint64_t bytes = 0;             // "c_len"
    std::optional<uint64_t> total;  // "t_len"
};

std::string record_path(const std::string &distribution) {
    return progress_dir(work_dir("")) + "/" + distribution + ".mds";
}

Checkpoint read_checkpoint(const std::string &distribution) {
    Checkpoint checkpoint;
    struct stat status {};
    if (stat(record_path(distribution).c_str(), &status) != 0)
        return checkpoint;
    std::unique_ptr<mstat, RecordFree> record(mstat_new(distribution.c_str(), 0));
    if (!record)
        throw Failure(kExitFailed, "out of memory");
    library_call([&] { mstat_load(record.get()); });
    const Properties &list = *mstat_get_properties(record.get());
    checkpoint.found = true;
    checkpoint.bytes = record_decimal(list, "c_len").value_or(0);
    checkpoint.total = record_decimal(list, "t_len");
    return checkpoint;
}

// Bytes per second (parse_byte_amount); 0 is no limit.
uint64_t parse_rate(const std::string &text) {
    if (text.empty())
        return 0;
    if (std::optional<uint64_t> rate = parse_byte_amount(text))
        return *rate;
    throw Failure(kExitUsage, std::string("--limit-rate wants bytes per second (") +
                                  kByteAmountForms + "), not " + quote_text(text));
}

std::string output_file(const std::string &out, const std::string &id) {
    if (id.empty() || id == "." || id == ".." || id.find('/') != std::string::npos)
        throw Failure(kExitFailed, "the segment id " + quote_text(id) + " is no file name");
    return out + "/" + id;
}

// Cuts every output file back to what the checkpoint covers, in TOC order
// (after the first incomplete segment nothing counts), and sets the
// segments' offsets there. Returns the bytes kept.
uint64_t prepare_outputs(DistributionToc &toc, const std::string &out, uint64_t checkpoint) {
    uint64_t left = checkpoint;
    uint64_t kept = 0;
    for (uint32_t i = 0; i < toc.size(); ++i) {
        Properties &segment = toc.segment(i);
        const std::string path = output_file(out, segment_text(segment, SEGMENT_ID_KEY));
        const uint64_t size =
            static_cast<uint64_t>(std::max(0, properties_get_long2(&segment, SEGMENT_SIZE_KEY, 0)));
        struct stat status {};
        uint64_t done =
            stat(path.c_str(), &status) == 0 ? static_cast<uint64_t>(status.st_size) : 0;
        done = std::min({done, size, left});
        left = done < size ? 0 : left - done;
        Descriptor fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
        if (fd.get() < 0 || ::ftruncate(fd.get(), static_cast<off_t>(done)) != 0)
            throw Failure(kExitFailed, "cannot write " + path + ": " + std::strerror(errno));
        library_call([&] {
            properties_put_long_dup(&segment, SEGMENT_OFFSET_KEY, static_cast<int32_t>(done));
        });
        kept += done;
    }
    return kept;
}

void write_all(int fd, const char *data, size_t length, const std::string &path) {
    while (length > 0) {
        ssize_t written = ::write(fd, data, length);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            throw Failure(kExitFailed, "cannot write " + path + ": " + std::strerror(errno));
        data += written;
        length -= static_cast<size_t>(written);
    }
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

struct Outcome {
    uint64_t received = 0;  // bytes of this run
    int32_t stop = 0;       // a negative read: a gateway command, -1 a channel failure
    bool interrupted = false;
};

// Reads every incomplete segment into its output file.
Outcome read_segments(NetStream *stream, DistributionToc &toc, const std::string &out,
                      uint64_t kept, ProgressBar &bar, const Pacer &pacer) {
    Outcome outcome;
    for (uint32_t i = 0; i < toc.size(); ++i) {
        Properties &segment = toc.segment(i);
        if (properties_get_long2(&segment, SEGMENT_OFFSET_KEY, 0) >=
            properties_get_long2(&segment, SEGMENT_SIZE_KEY, 0))
            continue;  // complete: the stream passes it over
        const std::string path = output_file(out, segment_text(segment, SEGMENT_ID_KEY));
        Descriptor fd(::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC));
        if (fd.get() < 0)
            throw Failure(kExitFailed, "cannot write " + path + ": " + std::strerror(errno));
        for (;;) {
            char *data = nullptr;
            int32_t n = 0;
            library_call([&] { n = net_stream_read(stream, &data); });
            if (n == 0)
                break;  // the end of this segment
            if (n < 0) {
                outcome.stop = n;
                return outcome;
            }
            std::unique_ptr<char, std::function<void(char *)>> owned(
                data, [stream](char *block) { net_stream_free_buffer(stream, block); });
            write_all(fd.get(), data, static_cast<size_t>(n), path);
            outcome.received += static_cast<uint64_t>(n);
            bar.update(kept + outcome.received);
            pacer.after(outcome.received);
            if (InterruptScope::requested()) {
                outcome.interrupted = true;
                return outcome;
            }
        }
    }
    return outcome;
}

Json summary_json(const ReceiveOptions &options, const Source &source, uint64_t total,
                  uint64_t kept, const Outcome &outcome, bool complete, uint64_t checkpoint) {
    return {{"distribution", options.distribution},
            {"source", source.kind},
            {"output", options.out},
            {"segments", source.toc.size()},
            {"total_bytes", total},
            {"resumed_at_bytes", kept},
            {"received_bytes", outcome.received},
            {"complete", complete},
            {"interrupted", outcome.interrupted},
            {"checkpoint_bytes", checkpoint},
            {"progress_record", record_path(options.distribution)}};
}

int run_receive(ReceiveOptions options) {
    const std::string &id = options.distribution;
    if (id.empty() || id.find_first_of(",/") != std::string::npos || id == "." || id == "..")
        throw Failure(kExitUsage, "the distribution id " + quote_text(id) +
                                      " must be a file name without commas");
    uint64_t rate = parse_rate(options.rate);
    if (!options.work_dir.empty())
        ::setenv("KORVO_WORK_DIR", options.work_dir.c_str(), 1);  // where the library keeps records
    Source source = resolve_source(options.source);

    std::error_code error;
    fs::create_directories(options.out, error);
    if (error || !fs::is_directory(options.out))
        throw Failure(kExitFailed, "cannot make the output directory " + options.out + ": " +
                                       (error ? error.message() : "it is not a directory"));

    const uint64_t total = source.toc.total_bytes();
    Checkpoint checkpoint = read_checkpoint(id);
    if (checkpoint.found && checkpoint.total && *checkpoint.total != total) {
        std::cerr << "korvo: the progress record of " << id << " is for " << *checkpoint.total
                  << " bytes, this distribution has " << total << ": starting over\n";
        checkpoint.bytes = 0;
    }
    const uint64_t kept = prepare_outputs(source.toc, options.out, checkpoint.bytes);

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
    if (kept > 0 && kept < total) {
        // The record this stream writes starts empty: say at once where the
        // data stands, so that a run stopped before its first checkpoint
        // keeps the earlier one.
        std::string text = std::to_string(kept);
        library_call([&] { net_stream_update_mstat(stream.get(), "c_len", text.c_str()); });
    }

    ProgressBar bar("receiving", ProgressUnit::kBytes, total, !global_options().quiet);
    bar.resume_from(kept);
    Outcome outcome = read_segments(stream.get(), source.toc, options.out, kept, bar, Pacer(rate));
    NetStream *closing = stream.release();
    library_call([&] { net_stream_close(closing); });

    const bool complete = outcome.stop == 0 && !outcome.interrupted;
    bar.finish(complete ? "done" : outcome.interrupted ? "interrupted" : "stopped");
    const uint64_t saved = complete ? total : read_checkpoint(id).bytes;
    if (options.json)
        print_json(summary_json(options, source, total, kept, outcome, complete, saved));

    const std::string keeps = "the progress record keeps " + format_bytes(saved) + " of " +
                              format_bytes(total) + "; run the same command again to resume";
    if (outcome.interrupted) {
        std::cerr << "korvo: receive of " << id << " interrupted: " << keeps << "\n";
        return InterruptScope::exit_code();
    }
    if (outcome.stop == -1)
        throw Failure(kExitNoGateway, "the gateway channel failed (run with -v for why): " + keeps);
    if (outcome.stop < 0)
        throw Failure(kExitRefused, std::string("the gateway stopped the receive with ") +
                                        decode_command(-outcome.stop) + ": " + keeps);
    if (!options.json) {
        std::cout << "Received " << printable(id) << " into " << printable(options.out) << ": "
                  << source.toc.size() << (source.toc.size() == 1 ? " segment, " : " segments, ")
                  << format_bytes(total);
        if (outcome.received == 0)
            std::cout << " (nothing left to receive)";
        else if (kept > 0)
            std::cout << " (resumed at " << format_bytes(kept) << ")";
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
