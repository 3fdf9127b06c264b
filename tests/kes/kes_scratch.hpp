// Test support for the Kes file and directory tests: a scratch directory of
// the test's own, removed with everything in it, counts of the process's
// open descriptors (and handles) to show that no operation leaves one
// behind, and the check of a whole status.
#pragma once

#include <gtest/gtest.h>
#if defined(_WIN32)
#include <io.h>
#endif

#include <filesystem>
#include <string>

#include "kes/kes_status.h"
#include "tests/support/test_host.hpp"

namespace kes_test {

class ScratchDir {
  public:
    // A new directory in `base`, by default the system's temporary directory.
    explicit ScratchDir(
        const std::filesystem::path &base = std::filesystem::temp_directory_path()) {
        path_ = korvo::test::makeScratchDirectory(base, "kes-test-");
        EXPECT_FALSE(path_.empty()) << "no scratch directory";
    }
    ~ScratchDir() {
        std::error_code ignored;
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ignored);
        std::filesystem::remove_all(path_, ignored);
    }
    const std::string &path() const { return path_; }
    std::string operator/(const std::string &name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

inline int OpenDescriptors() {
    return korvo::test::openDescriptorCount();
}

// The C runtime's open descriptors, which Kes files hold. On POSIX hosts
// they are the process's descriptors; on Windows each one holds a handle
// too, but the handle count also moves with what the system opens for
// itself, so both are compared.
inline int OpenRuntimeDescriptors() {
#if defined(_WIN32)
    int open = 0;
    for (int fd = 0; fd < 2048; ++fd)
        open += _get_osfhandle(fd) != -1 ? 1 : 0;
    return open;
#else
    return OpenDescriptors();
#endif
}

// Fails the test when it ends with more descriptors open than it began with.
class NoDescriptorLeak : public testing::Test {
  protected:
    void SetUp() override {
        before_ = OpenDescriptors();
        runtimeBefore_ = OpenRuntimeDescriptors();
    }
    void TearDown() override {
        EXPECT_EQ(OpenRuntimeDescriptors(), runtimeBefore_) << "a descriptor was left open";
#if defined(_WIN32)
        EXPECT_EQ(OpenDescriptors(), before_) << "a handle was left open";
#endif
    }

  private:
    int before_ = 0;
    int runtimeBefore_ = 0;
};

// Expects the three words of a status.
inline void ExpectStatus(const KesStatus &s, int32_t code, int32_t osError, int32_t step) {
    EXPECT_EQ(s.code, code);
    EXPECT_EQ(s.osError, osError);
    EXPECT_EQ(s.step, step);
}

}  // namespace kes_test
