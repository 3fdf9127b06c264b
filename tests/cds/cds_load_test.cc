// Finding and loading the CDS client, each case in a fresh process: in the
// running program and on the library search path; a client the loader must
// refuse; and concurrent first calls.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/cds/cds_loader_fixture.hpp"

namespace {

using namespace cds_loader_test;

TEST_F(LoaderTest, ClientInTheRunningProgramIsUsedAsItIs) {
    const std::string path = linked_path();
    const ProgramRun run = probe({{"PATH", path}}, true);
    EXPECT_EQ(run.korvo_lines(), with(loading_lines(5), {kLoaded}));
    EXPECT_EQ(run.printed("PATH"), path);
    EXPECT_TRUE(
        same_file(run.printed("CLIENT"), std::filesystem::canonical(CDS_TEST_CLIENT).string()))
        << run.out;
}

TEST_F(LoaderTest, ClientOnTheSearchPathNeedsNoRegistry) {
    const std::string library = install(CDS_TEST_CLIENT, scratch / "lib");
    const std::string path = search_path_with(scratch / "lib");
    const ProgramRun run = probe({{kLibraryPathVariable, path}});
    EXPECT_EQ(run.korvo_lines(), with(loading_lines(5), {kLoaded}));
    EXPECT_TRUE(same_file(run.printed("CLIENT"), library)) << run.out;
    // The loader leaves the search path as it found it.
    EXPECT_EQ(run.printed("PATH"), kLibraryPathVariable == std::string("PATH") ? path : base_path);
}

TEST_F(LoaderTest, ClientWithoutPublishFileIsRefused) {
    install(CDS_TEST_STUB_CLIENT, scratch / "stub");
    const ProgramRun run = probe({{kLibraryPathVariable, search_path_with(scratch / "stub")}});
    EXPECT_EQ(run.korvo_lines(), with(loading_lines(4), {kNotLoaded}));
}

TEST_F(LoaderTest, ConcurrentFirstCallsLoadOnce) {
    install(CDS_TEST_CLIENT, scratch / "lib");
    const ProgramRun run =
        probe({{kLibraryPathVariable, search_path_with(scratch / "lib")}}, false, 8);
    EXPECT_EQ(run.korvo_lines(), with(loading_lines(5), {kLoaded}));
}

}  // namespace
