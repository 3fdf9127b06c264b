// Test support for CDS streams: a fixture with a client home, a work
// directory and the test suite's HTTP server holding a distribution's
// packages, and method processes. Reading a CDS stream polls the gateway
// channel, which connects once per process, so every read runs in a method
// (a KORVO_CHILD_BODY): it gets the server and the packages' ids and sizes
// as arguments, the client's home and work directory through the
// environment, and its standard error (the CDS trace) goes to a file.
#pragma once

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
#include "tests/support/test_process.hpp"

namespace cds_stream_test {

// The stream's bytes, segment by segment; `last` is the read that ended the
// last segment, or the negative code that stopped the reading.
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

// The bytes of a test package of `size` bytes: the same in every process.
inline std::string bytes_of_size(std::size_t size) {
    return cds_test::package_bytes(size, static_cast<unsigned>(size));
}

// A package as a method's argument: "<size>:<id>".
inline std::string package_argument(const Package &package) {
    return std::to_string(package.bytes.size()) + ":" + package.id;
}

// A method's arguments: the server's address, the packages up to "--",
// and the test's own arguments after it.
struct MethodInputs {
    explicit MethodInputs(korvo::test::ChildContext &child) {
        const std::vector<std::string> &args = child.args();
        std::size_t i = 0;
        if (i < args.size())
            manager = args[i++];
        for (; i < args.size() && args[i] != "--"; ++i) {
            const std::size_t colon = args[i].find(':');
            packages.push_back(
                {args[i].substr(colon + 1), bytes_of_size(std::stoull(args[i].substr(0, colon)))});
        }
        if (i < args.size())
            extra.assign(args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
    }
    std::vector<std::string> package_bytes() const {
        std::vector<std::string> bytes;
        for (const Package &package : packages)
            bytes.push_back(package.bytes);
        return bytes;
    }

    std::string manager;
    std::vector<Package> packages;
    std::vector<std::string> extra;
};

// Runs a method's `body` in a frame: a raised message ends it with status
// 2, another exception with 3, the text on standard error.
template <typename Body>
int as_method(Body &&body) {
    try {
        korvo::rt::Frame frame;
        return body();
    } catch (const korvo::rt::Exception &e) {
        std::fprintf(stderr, "method raised: %s\n", e.what());
        return 2;
    } catch (const std::exception &e) {
        std::fprintf(stderr, "method threw: %s\n", e.what());
        return 3;
    }
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
        packages.push_back({id, bytes_of_size(size)});
        server.put_package(id, packages.back().bytes);
    }

    // Starts the method body `name` with the server `manager` (the
    // fixture's own server when empty), the fixture's packages and the
    // arguments of `start`; its standard error goes to trace(methods).
    std::unique_ptr<korvo::test::Child> start_method(const char *name,
                                                     korvo::test::ChildStart start = {},
                                                     const std::string &manager = {}) {
        std::vector<std::string> args{manager.empty() ? server.address() : manager};
        for (const Package &package : packages)
            args.push_back(package_argument(package));
        args.push_back("--");
        args.insert(args.end(), start.args.begin(), start.args.end());
        start.args = std::move(args);
        start.errorFile = trace_path(++methods);
        return std::make_unique<korvo::test::Child>(name, std::move(start));
    }
    // start_method, then its exit status.
    int run_method(const char *name, korvo::test::ChildStart start = {}) {
        return start_method(name, std::move(start))->wait();
    }

    std::string trace_path(int method) const {
        return scratch / ("method-" + std::to_string(method) + ".err");
    }
    std::string trace(int method) const { return cds_test::read_file(trace_path(method)); }
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
