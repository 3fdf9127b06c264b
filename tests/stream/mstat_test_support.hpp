// Test support for the progress-record tests: records that free
// themselves, and a fixture whose work directory is a scratch directory of
// its own, spelled as the library spells it.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <string>

#include "stream/mstat.h"
#include "tests/kes/kes_scratch.hpp"
#include "tests/properties/props_test_util.hpp"
#include "tests/stream/stream_test_support.hpp"
#include "tests/support/test_host.hpp"

namespace mstat_test {

using props_test::Bytes;

struct MstatFree {
    void operator()(mstat *record) const { mstat_free(record); }
};
using Record = std::unique_ptr<mstat, MstatFree>;

// A path as the library spells the paths it builds: with '/' between all
// its names (on Windows the temporary directory comes with '\\').
inline std::string generic(const std::string &path) {
    return std::filesystem::path(path).generic_string();
}

class ProgressRecords : public kes_test::NoDescriptorLeak {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(stream_test::make_what_the_process_keeps());
        NoDescriptorLeak::SetUp();
        korvo::test::setEnvironmentVariable("KORVO_WORK_DIR",
                                            (scratch.path() + "//work/.").c_str());
        std::filesystem::create_directory(scratch / "work");
        dir = generic(scratch / "work/mstat");
    }
    void TearDown() override {
        korvo::test::setEnvironmentVariable("KORVO_WORK_DIR", nullptr);
        NoDescriptorLeak::TearDown();
    }
    std::set<std::string> files() const {
        std::set<std::string> names;
        for (const auto &entry : std::filesystem::directory_iterator(dir))
            if (!kept_by_a_holder(entry.path().filename().string()))
                names.insert(entry.path().filename().string());
        return names;
    }
    Bytes contents(const std::string &name) const {
        std::ifstream in(dir + "/" + name, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), {});
    }

    // A file replaced or removed while a record held it: on Windows it
    // keeps a name of korvo's beside the record until its last handle
    // closes, where POSIX hosts take the name at once.
    static bool kept_by_a_holder([[maybe_unused]] const std::string &name) {
#ifdef _WIN32
        return name.starts_with(".korvo-removed-");
#else
        return false;
#endif
    }

    kes_test::ScratchDir scratch;
    std::string dir;
};

}  // namespace mstat_test
