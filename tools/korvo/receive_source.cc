#include "receive_source.hpp"

#include <algorithm>
#include <cstdlib>

#include "depot_access.hpp"
#include "endpoint.hpp"
#include "failure.hpp"
#include "properties/korvo_keys.h"
#include "properties/korvo_properties.h"

namespace korvo::cli {

void StreamClose::operator()(NetStream *stream) const {
    eh_exception_free(eh_catch_call(
        [](void *context) { net_stream_close(static_cast<NetStream *>(context)); }, stream));
}
namespace {

struct Kind {
    const char *name;
    int type;
};
constexpr Kind kKinds[] = {{"network", NET_STREAM_NETWORK},     {"files", NET_STREAM_FILES},
                           {"dir", NET_STREAM_DIRECTORY},       {"depot", NET_STREAM_DEPOT},
                           {"remote", NET_STREAM_REMOTE},       {"cd", NET_STREAM_CD},
                           {"remote-cd", NET_STREAM_REMOTE_CD}, {"cds", NET_STREAM_CDS}};

std::string chosen_kind(const SourceRequest &request) {
    if (!request.kind.empty())
        return request.kind;
    if (!request.dir.empty())
        return "dir";
    if (!request.files.empty())
        return "files";
    if (!request.segments.empty())
        return "depot";
    if (gateway_configured())
        return "network";
    throw Failure(kExitUsage,
                  "name a source: --dir DIR, --files FILE..., or --from KIND with --toc TOC "
                  "(or run under the gateway, which sets KORVO_GATEWAY)");
}

void refuse(bool given, const std::string &option, const std::string &kind) {
    if (given)
        throw Failure(kExitUsage, option + " does not go with --from " + kind);
}

// A depot source: the TOC's segments (or the --segment ones) get the data
// file of their complete depot entry as "dat_file", which is how the depot
// stream finds them.
DistributionToc depot_toc(const SourceRequest &request) {
    DepotHandle depot(depot_dir_or_configured(request.depot_dir));
    DistributionToc toc;
    if (!request.toc_file.empty()) {
        toc = toc_from_file(request.toc_file);
    } else {
        for (const std::string &named : request.segments) {
            size_t colon = named.rfind(':');
            if (colon == std::string::npos || colon == 0 || colon + 1 == named.size())
                throw Failure(kExitUsage, "--segment wants ID:VERSION, not " + quote_text(named));
            PropertyList segment;
            library_call([&] {
                properties_put_string_dup(segment.get(), SEGMENT_ID_KEY,
                                          named.substr(0, colon).c_str());
                properties_put_string_dup(segment.get(), SEGMENT_VERSION_KEY,
                                          named.substr(colon + 1).c_str());
                properties_put_long_dup(segment.get(), SEGMENT_OFFSET_KEY, 0);
            });
            toc.add(*segment.get());
        }
    }
    for (uint32_t i = 0; i < toc.size(); ++i) {
        Properties &segment = toc.segment(i);
        std::string id = segment_text(segment, SEGMENT_ID_KEY);
        std::string version = segment_text(segment, SEGMENT_VERSION_KEY);
        std::optional<EntryInfo> entry = find_entry(depot, id, version);
        if (!entry || entry->state != DepotStateComplete)
            throw Failure(kExitNotFound, "the depot " + depot.dir() +
                                             " holds no complete entry of " + id + "^" + version);
        int32_t size = properties_get_long2(&segment, SEGMENT_SIZE_KEY, -1);
        library_call([&] {
            properties_put_string_dup(&segment, SEGMENT_DAT_FILE_KEY, entry->location.c_str());
            if (size < 0)
                properties_put_long_dup(&segment, SEGMENT_SIZE_KEY,
                                        static_cast<int32_t>(entry->data_size.value_or(0)));
        });
    }
    return toc;
}

}  // namespace

const std::vector<std::string> &source_kinds() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> all;
        for (const Kind &kind : kKinds)
            all.push_back(kind.name);
        return all;
    }();
    return names;
}

bool gateway_configured() {
    const char *channel = std::getenv("KORVO_GATEWAY");
    return channel != nullptr && *channel != '\0';
}

Source resolve_source(const SourceRequest &request) {
    Source source;
    source.kind = chosen_kind(request);
    auto kind = std::find_if(std::begin(kKinds), std::end(kKinds),
                             [&](const Kind &k) { return source.kind == k.name; });
    if (kind == std::end(kKinds))
        throw Failure(kExitUsage, "no source kind " + quote_text(source.kind));
    source.type = kind->type;
    refuse(!request.dir.empty() && source.kind != "dir", "--dir", source.kind);
    refuse(!request.files.empty() && source.kind != "files", "--files", source.kind);
    refuse(!request.segments.empty() && source.kind != "depot", "--segment", source.kind);
    refuse(!request.depot_dir.empty() && source.kind != "depot", "--depot", source.kind);

    if (source.kind == "files") {
        refuse(!request.toc_file.empty(), "--toc", source.kind);
        if (request.files.empty())
            throw Failure(kExitUsage, "--from files needs --files FILE...");
        source.toc = toc_from_data_files(request.files);
    } else if (source.kind == "dir") {
        if (request.dir.empty())
            throw Failure(kExitUsage, "--from dir needs --dir DIR");
        if (request.dir.find(',') != std::string::npos)
            throw Failure(kExitUsage, "the directory name " + quote_path(request.dir) +
                                          " has a comma, which a stream key cannot carry");
        source.toc = request.toc_file.empty() ? toc_from_directory(request.dir)
                                              : toc_from_file(request.toc_file);
    } else if (source.kind == "depot") {
        if (request.toc_file.empty() == request.segments.empty())
            throw Failure(kExitUsage,
                          "--from depot needs either --toc TOC or --segment ID:VERSION");
        source.toc = depot_toc(request);
    } else {
        if (request.toc_file.empty())
            throw Failure(kExitUsage, "--from " + source.kind + " needs --toc TOC");
        if (source.kind == "network" && !gateway_configured())
            throw Failure(kExitNoGateway,
                          "no gateway: KORVO_GATEWAY is not set (a network receive runs under "
                          "the gateway that starts it, e.g. korvo_gateway --toc TOC -- korvo "
                          "receive ...)");
        source.toc = toc_from_file(request.toc_file);
    }
    return source;
}

std::vector<uint8_t> stream_key_bytes(const Source &source, const SourceRequest &request,
                                      const std::string &distribution) {
    std::string text = distribution;
    if (source.type == NET_STREAM_FILES) {
        for (const std::string &file : request.files)
            text += "," + file;
    } else if (source.type == NET_STREAM_DIRECTORY) {
        text += "," + request.dir;
    }
    // Type, an unread byte, the progress flag (1: keep a record), the text,
    // its NUL, and one more zero byte behind the counted length.
    std::string raw(3, '\0');
    raw[0] = static_cast<char>(source.type);
    raw[2] = 1;
    raw += text;
    raw.append(2, '\0');
    return std::vector<uint8_t>(raw.begin(), raw.end());
}

}  // namespace korvo::cli
