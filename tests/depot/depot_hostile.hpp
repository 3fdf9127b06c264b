// The fixture of the hostile-directory tests: a depot whose directory holds
// what other programs and accounts put there, checked with the directory
// index and without it, under a watchdog so that an operation that waits on
// what it should not fails the test. Also the helpers that write records by
// hand. Test code only; one thread.
#pragma once

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "depot_test_support.hpp"

namespace depot_test {

// A record written by hand, as another program might.
inline std::string Record(const std::string &id, const std::string &location, int state = 1,
                          int references = 0) {
    return "<<id>" + id + "</id><version>1</version><reference_count>" +
           std::to_string(references) + "</reference_count><state>" + std::to_string(state) +
           "</state><checksum>0</checksum><deadline>0</deadline><location>" + location +
           "</location><properties></properties>>" + std::string(1, '\0');
}

inline bool Contains(const std::vector<std::string> &lines, const std::string &line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

class Hostile : public IndexedDepotTest {
  protected:
    // Every operation here must come back: a wait on a FIFO fails the test.
    void SetUp() override {
        watchdog_.emplace(60);
        IndexedDepotTest::SetUp();
    }
    void TearDown() override {
        IndexedDepotTest::TearDown();
        watchdog_.reset();
    }
    // Adds seg1/1.0 in a process that ends without completing it.
    void AddAndEnd(const char *properties) {
        korvo::test::Child writer("AddAndEnd", {.args = {dir_.path(), properties}});
        ASSERT_EQ(writer.wait(), 0);
    }
    std::optional<korvo::test::Watchdog> watchdog_;
};

}  // namespace depot_test
