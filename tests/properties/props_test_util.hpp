// Helpers for the property-list tests: encoded bytes, owned lists that free
// themselves, and catching what a call raises.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "properties/errors/korvo_catalog.h"
#include "properties/korvo_properties.h"
#include "runtime/marshal.h"
#include "runtime/mg_memory.h"
#include "runtime/raise.hpp"
#include "tests/runtime/encoded_bytes.hpp"

namespace props_test {

using korvo::test::all_zero;
using korvo::test::Bytes;
using korvo::test::decode;
using korvo::test::encode;
using korvo::test::operator+;
using korvo::test::str;
using korvo::test::u32;

const TypeCode kProperties = TC_Vem_Korvo2__sequence_Property_Properties;
const TypeCode kPropertiesList = TC_Vem_Korvo2__sequence_Properties_PropertiesList;

// A test that starts with the library initialised.
class Initialized : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(korvo_init(), 1); }
};

// A Properties header on the stack whose contents are deleted with it.
struct List : Properties {
    List() : Properties{} {}
    ~List() { properties_delete(this); }
    List(const List &) = delete;
    List &operator=(const List &) = delete;
};

struct Toc : PropertiesList {
    Toc() : PropertiesList{} {}
    ~Toc() { properties_list_delete(this); }
    Toc(const Toc &) = delete;
    Toc &operator=(const Toc &) = delete;
};

// What a call raised: the message number and its arguments; number -1 when
// it returned normally.
struct Raised {
    int32_t number = -1;
    std::string catalog;
    std::vector<std::string> arguments;
    std::string text;
};

inline Raised raised_by(const std::function<void()> &call) {
    Raised raised;
    try {
        korvo::rt::Frame frame;
        call();
    } catch (const korvo::rt::Exception &e) {
        raised.number = e.number();
        raised.text = e.what();
        if (const StringList *arguments = e.arguments())
            for (uint32_t i = 0; i < arguments->length; ++i)
                raised.arguments.emplace_back(arguments->buffer[i]);
        raised.catalog = e.catalog() != nullptr ? e.catalog() : "";
    }
    return raised;
}

}  // namespace props_test
