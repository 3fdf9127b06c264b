// The local depot check of a network stream: when every segment of its TOC
// is complete in the endpoint's own depot, the distribution is read from
// the depot's data files instead of the network.
//
// The depot is the configuration's "depot_dir", else the directory "depot"
// of the endpoint's data directory (QEL_DATDIR) when there is one. Segments
// are looked up in TOC order; each complete entry is claimed (set in use, so
// that no purge takes it while the stream reads) and held by the stream
// until its close. The first segment that is missing or not complete ends
// the check: the stream stays a network stream, holding what it claimed.
#include <string>

#include "depot/depot_ops.h"
#include "depot/depot_store.h"
#include "properties/helpers/dir_enum.h"
#include "runtime/config.h"
#include "runtime/cpl.h"
#include "runtime/log.h"
#include "runtime/mg_memory.h"
#include "runtime/raise.hpp"
#include "runtime/seq.h"
#include "stream/locating.hpp"

namespace korvo::stream {

namespace {

// The space limit the stream's depot handle is opened with, in KB.
constexpr uint32_t kDepotLimitKb = 2000;

// The configured depot directory; empty when there is none (each reason
// logged).
std::string depot_directory() {
    const korvo::rt::MgPtr<char> config(mrt_get_config_filespec());
    if (config == nullptr) {
        LogQ("korvo: Unable to locate QEL config file.");
        return {};
    }
    static const MrtConfigKey keys[] = {{"depot_dir", 0, MRT_CONFIG_STRING, nullptr, nullptr},
                                        {nullptr, 0, 0, nullptr, nullptr}};
    char *value = nullptr;
    const MrtConfigQuery query{keys, 0, &value};
    if (mrt_get_config_from_file(config.get(), &query) == 0)
        LogQ("korvo: Error reading config file %s.", config.get());
    const korvo::rt::MgPtr<char> owned(value);
    if (value != nullptr && *value != '\0')
        return value;

    const char *data = cpl_getenv("QEL_DATDIR");
    if (data != nullptr && *data != '\0') {
        std::string fallback = std::string(data) + '/' + "depot";
        if (dir_is_directory(fallback.c_str()) != 0)
            return fallback;
    }
    LogQ("korvo: Local depot directory is not configured.");
    return {};
}

// Claims the entry for the stream: the stream holds it from now on, and its
// close gives it back.
void claim(NetStream *stream, DepotEntry *entry) {
    if (seq_add(&stream->claimed, &entry, sizeof entry) < 0)
        vaThrow(nullptr, -1, "Not enough memory for a %1$s.\n", "claimed depot entry");
    KesStatus status{};
    DepotEntryChangeState(&status, stream->depot, entry, DepotStateInUse);
}

}  // namespace

void check_local_depot(NetStream *stream, Toc *toc, FoundPaths &paths) {
    // A stream claims its entries once; a second TOC step leaves them be.
    if (stream->depot != nullptr)
        return;
    const std::string directory = depot_directory();
    if (directory.empty())
        return;
    KesStatus status{};
    Depot *depot = nullptr;
    DepotNew(&status, &depot, directory.c_str(), kDepotLimitKb);
    if (status.code != 0 || depot == nullptr) {
        LogQ("korvo: Failure opening depot directory %s.", directory.c_str());
        return;
    }
    stream->depot = depot;

    for (int32_t i = 0; i < toc->count; ++i) {
        Segment *segment = toc->segments[i];
        DepotEntry *entry = DepotGetEntry(depot, segment->id, segment->version);
        if (entry == nullptr || entry->state != DepotStateComplete) {
            LogQ("korvo: Unable to find entry for segment %s^%s.", segment->id, segment->version);
            break;
        }
        claim(stream, entry);
        const std::string location = entry->location != nullptr ? entry->location : "";
        const int32_t size = location.empty() ? -1 : data_file_size(location);
        if (size < 0) {
            LogQ("korvo: Stat of %s failed.", location.c_str());
            continue;
        }
        mark_located(toc, segment, location, size);
        paths.add(location);
    }
    if (all_marked(toc)) {
        LogQ("korvo: All segments available locally, resetting stream type.");
        stream->type = NET_STREAM_DEPOT;
    }
}

}  // namespace korvo::stream
