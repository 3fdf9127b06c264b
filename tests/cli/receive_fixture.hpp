// What the korvo receive tests share: a scratch directory with a work
// directory, a source folder and an output folder; the environment of a
// run without a gateway; source files of known bytes; the description files
// of a distribution directory; and the comparison of an output with its
// source. Objects here belong to the test's main thread.
#pragma once

#include <filesystem>
#include <string>

#include "cli_test_support.hpp"
#include "tests/cds_client/cds_test_support.hpp"

namespace cli_test {

// Saves the description of segment `id`^`version`, whose data is at
// `location`, as the file `path`: in the marked layout ("*.itc") when
// `marked`, else in the bare one ("*.toc").
inline void DescribeSegment(const std::string &path, const char *id, const char *version,
                            const char *location, bool marked = false) {
    Properties segment{}, description{};
    properties_put_string_dup(&segment, "id", id);
    properties_put_string_dup(&segment, "version", version);
    properties_put_string_dup(&segment, "location", location);
    properties_put_properties_dup(&description, "segment", &segment);
    if (marked)
        properties_save_improved(&description, path.c_str());
    else
        properties_save_without_len(&description, path.c_str());
    properties_delete(&description);
    properties_delete(&segment);
}

class ReceiveFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(korvo_init(), 1);
        ASSERT_FALSE(scratch_.path().empty());
        for (const std::string &dir : {work_, src_})
            std::filesystem::create_directory(dir);
    }
    // The environment of a run: the test's work directory, and no gateway
    // unless the gateway peer starts the program.
    Options Env() const { return With({{"KORVO_WORK_DIR", work_}, {"KORVO_GATEWAY", ""}}); }
    // Writes `size` bytes drawn from `seed` to `path`; the path.
    static std::string Write(const std::string &path, size_t size, unsigned seed) {
        cds_test::write_file(path, cds_test::package_bytes(size, seed));
        return path;
    }
    // The same in the source folder, as `name`.
    std::string Source(const std::string &name, size_t size, unsigned seed) const {
        return Write(src_ + "/" + name, size, seed);
    }
    // Whether the progress record of `id` shows a checkpoint within 30 s.
    bool Checkpointed(const std::string &id) const {
        return cds_test::eventually([&] { return !ProgressValues(work_, id)["c_len"].empty(); },
                                    std::chrono::seconds(30));
    }
    static void ExpectSameBytes(const std::string &source, const std::string &output) {
        EXPECT_TRUE(depot_test::ReadBytes(source) == depot_test::ReadBytes(output))
            << output << " differs from " << source;
    }
    // The output `name` holds what `source` holds.
    void ExpectSame(const std::string &source, const std::string &name) const {
        ExpectSameBytes(source, out_ + "/" + name);
    }

    ScratchDir scratch_;
    std::string work_ = scratch_ / "work";
    std::string src_ = scratch_ / "src";
    std::string out_ = scratch_ / "out";
};

}  // namespace cli_test
