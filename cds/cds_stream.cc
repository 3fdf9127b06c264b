// The CDS source of type-11 streams on the process's session: the exported
// download step, and the table of operations through which the stream code
// reaches it (stream/cds_source.hpp), installed when the library loads.
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

namespace {

bool open_source() {
    return korvo::cds::client_ready();
}

int32_t download_step(PropertiesList *toc, FileStreamState *state, char **command) {
    return cds_download_next(toc, state, command);
}

void size_query(NetStream *stream, Toc *toc) {
    FileStreamState *state = korvo::stream::state_of(stream);
    if (state == nullptr || toc == nullptr)
        return;
    korvo::cds::size_query(loaded_session(), &cds_status_callback, state, toc);
}

constexpr korvo::stream::CdsSourceOperations kOperations{&open_source, &download_step, &size_query};

// Hands the streams this source as the library loads, before any stream
// can be opened.
const bool installed = [] {
    korvo::stream::install_cds_source(&kOperations);
    return true;
}();

}  // namespace
