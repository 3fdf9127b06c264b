// The CDS source as stream code sees it while the CDS layer is not linked
// in: weak definitions that a strong one from cds/ replaces.
#include "stream/cds_source.hpp"

namespace korvo::stream {

[[gnu::weak]] bool cds_source_open() {
    return false;
}

[[gnu::weak]] int32_t cds_source_download_next(PropertiesList *, FileStreamState *, char **) {
    return 0;
}

[[gnu::weak]] void cds_source_size_query(NetStream *, Toc *) {}

}  // namespace korvo::stream
