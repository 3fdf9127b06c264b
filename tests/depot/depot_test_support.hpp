// Test support for the depot: a lock namespace of the test's own (its
// shared-memory objects removed afterwards), a scratch depot directory, an
// open handle (with and without the directory index), and helpers to read
// and write the depot's files directly.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "depot/depot.h"
#include "kes/kes_memory.h"
#include "runtime/log_capture.hpp"
#include "tests/kes/kes_scratch.hpp"
#include "tests/support/test_host.hpp"
#include "tests/support/test_process.hpp"

namespace depot_test {

// Sets KORVO_LOCK_NAMESPACE to a name unique to this test and removes the
// lock objects made under it when it goes.
class LockNamespace {
  public:
    LockNamespace()
        : space_("depot" + std::to_string(::getpid()) + "x" +
                 std::to_string(std::random_device()())) {
        korvo::test::setEnvironmentVariable("KORVO_LOCK_NAMESPACE", space_.c_str());
    }
    ~LockNamespace() {
        for (const char *lock : {"DEPOT", "ENTRY", "ENUM"})
            korvo::test::removeSharedMemoryObject("korvo." + space_ + "." + lock);
        korvo::test::setEnvironmentVariable("KORVO_LOCK_NAMESPACE", nullptr);
    }
    LockNamespace(const LockNamespace &) = delete;
    LockNamespace &operator=(const LockNamespace &) = delete;

  private:
    std::string space_;
};

// A scratch directory removed with its content, whose names are spelled as
// the depot spells its own paths (with the host's separator: the depot
// localises every path on Windows).
class ScratchDir : public kes_test::ScratchDir {
  public:
    std::string operator/(const std::string &name) const {
#if defined(_WIN32)
        return path() + "\\" + name;
#else
        return path() + "/" + name;
#endif
    }
};

inline std::string ReadBytes(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

inline void WriteBytes(const std::string &path, const std::string &bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

inline bool Exists(const std::string &path) {
    return std::filesystem::exists(path);
}

// The names in a directory, sorted. On Windows a removed file that is still
// held open keeps a hidden name (".korvo-removed-...") until its last handle
// closes, where the volume cannot delete with POSIX semantics (Wine): such
// names are no files of the depot's and are left out.
inline std::vector<std::string> Names(const std::string &dir) {
    std::vector<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
#if defined(_WIN32)
        if (name.starts_with(".korvo-removed-"))
            continue;
#endif
        names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// A record written by hand, as another program might.
inline std::string Record(const std::string &id, const std::string &location, int state = 1,
                          int references = 0, long long deadline = 0) {
    return "<<id>" + id + "</id><version>1</version><reference_count>" +
           std::to_string(references) + "</reference_count><state>" + std::to_string(state) +
           "</state><checksum>0</checksum><deadline>" + std::to_string(deadline) +
           "</deadline><location>" + location + "</location><properties></properties>>" +
           std::string(1, '\0');
}

// The record text of an entry file, up to its zero byte.
inline std::string RecordOf(const std::string &path) {
    const std::string bytes = ReadBytes(path);
    return bytes.substr(0, bytes.find('\0'));
}

inline DepotPropertyBlock Bytes(const std::string &bytes) {
    return DepotPropertyBlock{bytes.data(), static_cast<uint32_t>(bytes.size())};
}

// A depot on a scratch directory in a lock namespace of its own.
class DepotTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(dir_.path().empty());
        KesStatus status;
        DepotNew(&status, &depot_, dir_.path().c_str(), 0);
        ASSERT_EQ(status.code, 0);
        ASSERT_NE(depot_, nullptr);
    }
    void TearDown() override {
        KesStatus status;
        DepotFree(&status, depot_);
        EXPECT_EQ(status.code, 0);
    }

    // Adds and completes a segment; the entry file's path.
    std::string Store(const char *id, const char *version, int32_t references = 1,
                      uint32_t deadline = 0) {
        std::string path;
        for (int32_t i = 0; i < references; ++i) {
            DepotEntry *entry = DepotAddEntry(depot_, id, version, Bytes(""));
            EXPECT_NE(entry, nullptr) << id << " " << version;
            if (entry == nullptr)
                return path;
            path = entry->entryFile;
            KesStatus status;
            DepotCompleteEntry(&status, depot_, entry, deadline);
            EXPECT_EQ(status.code, 0);
        }
        return path;
    }

    LockNamespace space_;
    ScratchDir dir_;
    Depot *depot_ = nullptr;
};

// A DepotTest run with the directory index (parameter true) and without it
// (KORVO_DEPOT_WATCH=0); instantiate it with ::testing::Bool() and
// IndexRunName.
class IndexedDepotTest : public DepotTest, public ::testing::WithParamInterface<bool> {
  protected:
    void SetUp() override {
        if (!GetParam())
            korvo::test::setEnvironmentVariable("KORVO_DEPOT_WATCH", "0");
        DepotTest::SetUp();
    }
    void TearDown() override {
        DepotTest::TearDown();
        korvo::test::setEnvironmentVariable("KORVO_DEPOT_WATCH", nullptr);
    }
};

inline std::string IndexRunName(const ::testing::TestParamInfo<bool> &info) {
    return info.param ? "Watched" : "Listed";
}

}  // namespace depot_test

namespace depot_test {

// Takes the machine-wide lock `name` (in the current lock namespace) in a
// child process that ends without releasing it: the next wait for it meets
// an abandoned lock.
// Takes the lock arg(0) and ends without releasing it.
KORVO_CHILD_BODY(TakeLockAndEnd) {
    KesStatus status;
    KesSem sem = nullptr;
    KesInitSem(&status, &sem, child.arg(0).c_str());
    return status.code == 0 || status.code == KES_WAIT_FAILED ? 0 : 1;
}

inline void AbandonLock(const char *name) {
    korvo::test::Child child("TakeLockAndEnd", {.args = {name}});
    ASSERT_EQ(child.wait(), 0);
}

}  // namespace depot_test
