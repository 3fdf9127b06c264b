// Test support for CDS streams: a fixture with a client home, a work
// directory and the test suite's HTTP server holding a distribution's
// packages; the distribution's TOC (cds_distribution.hpp); and method
// processes.
//
// Reading a CDS stream polls the gateway channel, which connects once per
// process, so whatever reads a stream runs in a method process (a child),
// never in the test process itself. A method's standard error (the CDS
// trace) goes to a file the test reads afterwards.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "cds/cds.h"
#include "cds/client/cds_client.h"
#include "properties/korvo_keys.h"
#include "properties/korvo_properties.h"
#include "properties/property_files.h"
#include "runtime/raise.hpp"
#include "stream/net_stream.h"
#include "tests/cds_client/cds_test_support.hpp"
#include "tests/cds_stream/cds_distribution.hpp"
#include "tests/http/http_test_server.hpp"
#include "tests/runtime/raw_gateway.hpp"
#include "tests/stream/stream_test_support.hpp"

namespace cds_stream_test {

// The stream's bytes, segment by segment: each segment's reads until the 0
// that ends it. The read that ended the last segment, or the negative code
// that stopped the reading, is in `last`.
struct Reading {
    std::vector<std::string> segments;
    int32_t last = 0;
};

inline Reading read_segments(NetStream *stream, std::size_t count) {
    Reading reading;
    while (reading.segments.size() < count) {
        std::string bytes;
        char *data = nullptr;
        while ((reading.last = net_stream_read(stream, &data)) > 0) {
            bytes.append(data, static_cast<std::size_t>(reading.last));
            net_stream_free_buffer(stream, data);
        }
        if (reading.last < 0)
            break;
        reading.segments.push_back(std::move(bytes));
    }
    return reading;
}

// A type-11 stream of distribution `id` that keeps its progress record.
struct CdsKey : stream_test::RawKey {
    explicit CdsKey(const std::string &id) : RawKey(NET_STREAM_CDS, 1, id) {}
};

class CdsStreamTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(korvo_init(), 1);
        std::filesystem::create_directories(home);
        std::filesystem::create_directories(work);
    }

    // A package of `size` bytes on the server.
    void add_package(const std::string &id, std::size_t size) {
        packages.push_back({id, cds_test::package_bytes(size, static_cast<unsigned>(size))});
        server.put_package(id, packages.back().bytes);
    }
    std::vector<std::string> package_bytes() const {
        std::vector<std::string> bytes;
        for (const Package &package : packages)
            bytes.push_back(package.bytes);
        return bytes;
    }

    // Starts `body` in a method process whose standard error goes to
    // trace(methods); a raised message ends it with status 2 and its text.
    std::unique_ptr<korvo::test::Child> start_method(const std::function<int()> &body) {
        const std::string err = trace_path(++methods);
        return std::make_unique<korvo::test::Child>([err, body] {
            const int fd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            if (fd < 0 || ::dup2(fd, STDERR_FILENO) < 0)
                return 126;
            try {
                korvo::rt::Frame frame;
                return body();
            } catch (const korvo::rt::Exception &e) {
                std::fprintf(stderr, "method raised: %s\n", e.what());
                return 2;
            } catch (const std::exception &e) {
                // Nothing may leave the method process's body: it would
                // unwind the test's own frames, copied by fork.
                std::fprintf(stderr, "method threw: %s\n", e.what());
                return 3;
            }
        });
    }
    // Runs `body` in a method process and waits for its exit status.
    int run_method(const std::function<int()> &body) { return start_method(body)->wait(); }

    std::string trace_path(int method) const {
        return scratch / ("method-" + std::to_string(method) + ".err");
    }
    // What method number `method` wrote to standard error.
    std::string trace(int method) const { return cds_test::read_file(trace_path(method)); }
    // The return codes of DownloadFile that method `method` logged, in order.
    std::vector<int> download_results(int method) const {
        return cds_stream_test::download_results(trace(method));
    }
    std::map<std::string, std::string> progress(const std::string &id) const {
        return stream_test::progress_of(work, id);
    }

    cds_test::ScratchDir scratch;
    const std::string home = scratch / "home";
    const std::string work = scratch / "work";
    cds_test::ScopedEnv home_env{"CDSCLIENT_HOME", home};
    cds_test::ScopedEnv work_env{"KORVO_WORK_DIR", work};
    korvo::test::HttpTestServer server;
    std::vector<Package> packages;
    int methods = 0;
};

}  // namespace cds_stream_test
