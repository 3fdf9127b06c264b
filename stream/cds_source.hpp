// How stream code reaches the CDS source (type-11 streams) without
// depending on it: cds/ may include stream/, never the other way round.
//
// The CDS layer hands the stream layer a table of its operations when the
// library loads (install_cds_source). Until a table is installed, and in a
// build without the CDS layer, the source is absent: the client counts as
// never loaded, so net_stream_open refuses type 11 and no download step
// runs. The three calls below go through whichever table is installed.
//
// The table is static data of its installer and is never released. Threads:
// a table is installed once, before any stream opens; cds_source_open may be
// called from any thread (the CDS layer initialises once per process); a
// download step runs on the thread reading its stream.
#pragma once

#include <cstdint>

#include "properties/korvo_types.h"
#include "records/korvo_toc.h"
#include "stream/file_stream.h"
#include "stream/net_stream.h"

namespace korvo::stream {

// What a CDS source offers the streams; each entry as the call of the same
// name below describes it.
struct CdsSourceOperations {
    bool (*open)();
    int32_t (*download_next)(PropertiesList *toc, FileStreamState *state, char **command);
    void (*size_query)(NetStream *stream, Toc *toc);
};

// Makes `operations` the CDS source of every stream; NULL makes the source
// absent again.
void install_cds_source(const CdsSourceOperations *operations);

// Runs the CDS source's one-time initialisation (the one cds_init runs) and
// answers whether the CDS client is loaded; false when no source is there.
bool cds_source_open();

// One download step of a CDS stream's read: downloads the package of TOC
// element `state->downloads` and appends its file to the state's list.
// Returns 0, or the stop code (-2 CANCEL, -3 PAUSE) of a gateway command
// polled while waiting, with the command packet left in *command. Raises the
// CDS source's failures. Without a source it does nothing and returns 0.
int32_t cds_source_download_next(PropertiesList *toc, FileStreamState *state, char **command);

// The size query of a CDS stream (net_stream_get_size of type 11): for each
// segment of `toc` in order, asks the client for a size the segment lacks,
// runs one download step into the stream's state, and marks the segment.
// Raises the CDS source's failures, among them message 211 when a gateway
// command stops a download. Segments it does not locate stay unmarked (the
// size query then raises message 182 for the first of them). Without a
// source nothing is marked.
void cds_source_size_query(NetStream *stream, Toc *toc);

}  // namespace korvo::stream
