// Test support for the property-file tests: the three layouts, their save
// and load calls, the list {id = "seg1"} with its bytes, and a fixture with
// a scratch directory that counts the open descriptors.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "properties/property_files.h"
#include "tests/kes/kes_scratch.hpp"
#include "tests/properties/props_test_util.hpp"

namespace property_files_test {

using props_test::Bytes;
using props_test::operator+;
using props_test::str;
using props_test::u32;

inline const TypeCode kProperties = TC_Vem_Korvo2__sequence_Property_Properties;

// The list {id = "seg1"} and its 28 encoded bytes.
inline const Bytes kSeg1 = u32(1) + str("id") + str("string") + str("seg1");

inline Bytes le32(uint32_t n) {
    return {uint8_t(n), uint8_t(n >> 8), uint8_t(n >> 16), uint8_t(n >> 24)};
}

enum Layout { kPlain, kMarked, kBare };
inline const char *const kLayoutNames[] = {"plain", "marked", "bare"};

inline void save(Layout layout, const Properties *list, const std::string &path) {
    if (layout == kPlain)
        properties_save(list, path.c_str());
    else if (layout == kMarked)
        properties_save_improved(list, path.c_str());
    else
        properties_save_without_len(list, path.c_str());
}

inline void load(Layout layout, Properties *list, const std::string &path) {
    if (layout == kPlain)
        properties_load(list, path.c_str());
    else if (layout == kMarked)
        properties_load_improved(list, path.c_str());
    else
        properties_load_without_len(list, path.c_str());
}

class PropertyFiles : public kes_test::NoDescriptorLeak {
  protected:
    void SetUp() override {
        // What the process makes once and keeps (the registration's locks,
        // GoogleTest's trace stack: handles on Windows) is made before the
        // count, so that only a test's own acquisitions are counted.
        ASSERT_EQ(korvo_init(), 1);
        { SCOPED_TRACE("made before the count"); }
        NoDescriptorLeak::SetUp();
    }
    Bytes contents(const std::string &name) {
        std::ifstream in(scratch / name, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), {});
    }
    std::string put(const std::string &name, const Bytes &bytes) {
        std::ofstream(scratch / name, std::ios::binary)
            .write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
        return scratch / name;
    }
    kes_test::ScratchDir scratch;
};

}  // namespace property_files_test
