// korvo_polling_method: a method for the tests of streams that poll the
// gateway before they read their files (types 6, 7, 8).
//
//   korvo_polling_method TYPE DIST_ID TOC_FILE
//
// Opens a stream of TYPE keeping progress for DIST_ID, gives it the TOC
// (TOC_FILE: a property file of plain layout holding it under "j_toc"),
// which locates the segments, then waits (at most 30 s) until the gateway
// has sent something, reads once and prints
//   read <result> started <0|1>
// The gateway peer starts it with the channel as an inherited descriptor
// (KORVO_GATEWAY=fd:N), which it watches. Exit status 0, or 1 on a failure
// (printed).
#include <poll.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "properties/korvo_properties.h"
#include "properties/property_files.h"
#include "runtime/raise.hpp"
#include "stream/net_stream.h"

namespace {

// Waits until the channel descriptor has something to read.
bool wait_for_the_gateway() {
    const char *channel = std::getenv("KORVO_GATEWAY");
    if (channel == nullptr || std::strncmp(channel, "fd:", 3) != 0)
        return false;
    pollfd ready{std::atoi(channel + 3), POLLIN, 0};
    return ::poll(&ready, 1, 30000) == 1;
}

int run(int argc, char **argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: korvo_polling_method TYPE DIST_ID TOC_FILE\n");
        return 1;
    }
    korvo_init();
    korvo::rt::Frame frame;
    struct File : Properties {
        File() : Properties{} {}
        ~File() { properties_delete(this); }
    } file;
    properties_load(&file, argv[3]);
    PropertiesList *toc = properties_get_properties_list(&file, "j_toc");

    const std::string id = argv[2];
    std::vector<uint8_t> bytes(3 + id.size() + 1, 0);
    bytes[0] = static_cast<uint8_t>(std::atoi(argv[1]));
    bytes[2] = 1;  // keep a progress record
    std::copy(id.begin(), id.end(), bytes.begin() + 3);
    StreamKey key{static_cast<uint32_t>(bytes.size()), static_cast<uint32_t>(bytes.size()),
                  bytes.data()};
    struct Close {
        void operator()(NetStream *stream) const { net_stream_close(stream); }
    };
    const std::unique_ptr<NetStream, Close> stream(net_stream_open(&key));
    if (stream == nullptr) {
        std::printf("cannot open a stream of type %s\n", argv[1]);
        return 1;
    }
    net_stream_save_modified_toc(stream.get(), toc);
    if (!wait_for_the_gateway()) {
        std::printf("nothing came from the gateway\n");
        return 1;
    }
    char *data = nullptr;
    const int32_t n = net_stream_read(stream.get(), &data);
    std::printf("read %d started %d\n", n, stream->started);
    std::fflush(stdout);
    net_stream_free_buffer(stream.get(), data);
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    try {
        return run(argc, argv);
    } catch (const korvo::rt::Exception &e) {
        std::printf("raised: %s", e.what());
        return 1;
    }
}
