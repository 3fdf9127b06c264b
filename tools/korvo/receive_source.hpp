// Where `korvo receive` reads a distribution from: the source kinds the
// user names, the stream type of each, the stream key, and the TOC the
// receive hands the stream.
//
//   network    the gateway channel (KORVO_GATEWAY), TOC from --toc
//   files      data files named on the command line (a file-list stream)
//   dir        a distribution directory of description and data files
//   depot      the endpoint's depot (complete entries)
//   remote     the directories that "$QEL_DATDIR/remote.dir" lists
//   cd         CD drives (their iso9660 and udf mounts)
//   remote-cd  remote directories, then CD drives
//   cds        packages the CDS client downloads
//
// Threads: main thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "distribution_toc.hpp"
#include "stream/net_stream.h"

namespace korvo::cli {

struct SourceRequest {
    std::string kind;                   // as above, or empty: chosen from the rest
    std::string dir;                    // --dir
    std::vector<std::string> files;     // --files
    std::string toc_file;               // --toc
    std::vector<std::string> segments;  // --segment ID:VERSION (depot)
    std::string depot_dir;              // --depot
};

// Closes a stream the command opened. A close raises only for a type the
// command never opens; nothing may leave a destructor anyway, so a raise is
// dropped here.
struct StreamClose {
    void operator()(NetStream *stream) const;
};
using StreamHandle = std::unique_ptr<NetStream, StreamClose>;

// The kinds, for the help text and the option's check.
const std::vector<std::string> &source_kinds();

// True when KORVO_GATEWAY names a channel.
bool gateway_configured();

struct Source {
    std::string kind;
    int type = 0;  // NET_STREAM_...
    DistributionToc toc;
};

// The kind the request names (or implies), checked against the rest of the
// request, and its TOC. Failures: usage (2) for a request that does not fit,
// not found (3) for missing files, no gateway (5) for a network receive
// without a channel.
Source resolve_source(const SourceRequest &request);

// The bytes of a stream key for `source` that keeps a progress record for
// `distribution`. They must outlive the stream (some types read the key at
// their TOC step).
std::vector<uint8_t> stream_key_bytes(const Source &source, const SourceRequest &request,
                                      const std::string &distribution);

}  // namespace korvo::cli
