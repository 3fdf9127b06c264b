// The installed CDS source, and the calls of stream code that go through it.
#include "stream/cds_source.hpp"

#include <atomic>

namespace korvo::stream {

namespace {

// Constant-initialised, so that an installer running during the library's
// static initialisation finds it ready whatever the order of the objects.
constinit std::atomic<const CdsSourceOperations *> installed{nullptr};

const CdsSourceOperations *source() {
    return installed.load(std::memory_order_acquire);
}

}  // namespace

void install_cds_source(const CdsSourceOperations *operations) {
    installed.store(operations, std::memory_order_release);
}

bool cds_source_open() {
    const CdsSourceOperations *operations = source();
    return operations != nullptr && operations->open();
}

int32_t cds_source_download_next(PropertiesList *toc, FileStreamState *state, char **command) {
    const CdsSourceOperations *operations = source();
    return operations != nullptr ? operations->download_next(toc, state, command) : 0;
}

void cds_source_size_query(NetStream *stream, Toc *toc) {
    if (const CdsSourceOperations *operations = source())
        operations->size_query(stream, toc);
}

}  // namespace korvo::stream
