// A distribution served by the gateway peer to a sample method (the C one or
// its C++ twin): source files with their TOC, the method's output folder,
// the peer started with chosen options, and checks of what arrived.
// Owns the peer program for the test's length; one test thread uses it.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "tests/stream/program.hpp"
#include "tests/stream/stream_test_support.hpp"

namespace stream_test {

class SampleMethodRun : public StreamTest {
  protected:
    explicit SampleMethodRun(const char *method) : method_(method) {}

    void SetUp() override {
        StreamTest::SetUp();
        out = scratch / "out";
        std::filesystem::create_directory(out);
        toc = scratch / "dist.toc";
    }
    void TearDown() override {
        peer.reset();
        StreamTest::TearDown();
    }
    // Source files (name, size) and their TOC.
    void distribution(const std::vector<std::pair<std::string, std::size_t>> &files) {
        std::vector<std::string> argv{KORVO_GATEWAY_PROGRAM, "--make-toc", toc};
        unsigned seed = 1;
        for (const auto &[name, size] : files) {
            write_file(scratch / name, pattern(size, seed++));
            argv.push_back(scratch / name);
            names.push_back(name);
            total += size;
        }
        Program make(argv);
        ASSERT_EQ(make.wait(), 0);
    }
    // Starts the peer with `options`, serving the method with `extra` after
    // its usual arguments (distribution "dist", the TOC, the output folder).
    Program &start(const std::vector<std::string> &options,
                   const std::vector<std::string> &extra = {}) {
        std::vector<std::string> argv{KORVO_GATEWAY_PROGRAM, "--toc", toc, "--timeout", "30"};
        argv.insert(argv.end(), options.begin(), options.end());
        argv.insert(argv.end(), {"--", method_, "dist", toc, out});
        argv.insert(argv.end(), extra.begin(), extra.end());
        peer = std::make_unique<Program>(argv);
        return *peer;
    }
    // Every output holds exactly its source file.
    void expect_outputs() const {
        for (const std::string &name : names)
            EXPECT_TRUE(contents(out + "/" + name) == contents(scratch / name)) << name;
    }

    std::string out, toc;
    std::vector<std::string> names;
    uint64_t total = 0;
    std::unique_ptr<Program> peer;

  private:
    std::string method_;
};

}  // namespace stream_test
