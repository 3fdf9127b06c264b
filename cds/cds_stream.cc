// The CDS source of type-11 streams on the process's session: the exported
// download step, and the definitions through which the stream code reaches
// it (stream/cds_source.hpp); they replace the stand-ins that answer "not
// loaded" when the CDS layer is linked into the library.
#include "cds/cds_stream.hpp"
#include "cds/cds.h"
#include "cds/cds_internal.hpp"
#include "properties/errors/catalog_raise.hpp"
#include "runtime/raise.hpp"
#include "stream/cds_source.hpp"
#include "stream/stream_internal.hpp"

namespace {

// The process's session, its client loaded; a step without a client fails
// as a DownloadFile that could not start.
korvo::cds::Session &loaded_session() {
    if (!korvo::cds::client_ready())
        korvo::helpers::raise_message(KORVO_MSG_CDS_COMMAND_FAILED, "DownloadFile", 0u, -1);
    return korvo::cds::process_session();
}

}  // namespace

extern "C" int32_t cds_download_next(PropertiesList *toc, FileStreamState *state, char **command) {
    korvo::rt::Frame frame;
    return korvo::cds::download_next(loaded_session(), &cds_status_callback, toc, state, command);
}

namespace korvo::stream {

bool cds_source_open() {
    return korvo::cds::client_ready();
}

int32_t cds_source_download_next(PropertiesList *toc, FileStreamState *state, char **command) {
    return cds_download_next(toc, state, command);
}

void cds_source_size_query(NetStream *stream, Toc *toc) {
    FileStreamState *state = state_of(stream);
    if (state == nullptr || toc == nullptr)
        return;
    korvo::cds::size_query(loaded_session(), &cds_status_callback, state, toc);
}

}  // namespace korvo::stream
