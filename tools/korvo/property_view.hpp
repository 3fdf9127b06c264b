// Showing typed property lists to people (an indented listing) and to
// programs (JSON), and reading a typed value from the command line.
//
// JSON form of a list: an array, in list order, of
//   {"key": "size", "type": "long", "value": 1048576}
// where strings and object references are strings, numbers numbers,
// booleans booleans, octets a hex string ("deadbeef"), a nested list an
// array of the same form, a list of lists an array of such arrays, an `any`
// an object {"type", "value"}, and a value of another type null.
//
// Ownership: PropertyList owns a Properties list (properties_delete at the
// end); everything else borrows.
#pragma once

#include <string>

#include "output.hpp"
#include "properties/korvo_types.h"

namespace korvo::cli {

// An empty list that frees what it holds when it goes.
class PropertyList {
  public:
    PropertyList();
    ~PropertyList();
    PropertyList(const PropertyList &) = delete;
    PropertyList &operator=(const PropertyList &) = delete;
    Properties *get() { return &list_; }
    const Properties *get() const { return &list_; }

  private:
    Properties list_;
};

// The user's name of a value's type: "string", "long", "short", "ulong",
// "boolean", "octets", "object", "any", "properties", "list", or the
// runtime's type name.
std::string type_name(TypeCode type);

// The listing: one property a line, "<indent><key>  <type>  <value>", nested
// lists indented by two more blanks.
void print_properties(const Properties &list, int indent = 2);

Json properties_json(const Properties &list);

// A typed value to put: what `props set --type` accepts.
enum class ValueType { kString, kLong, kShort, kULong, kBoolean, kOctets };
// "string" ... "octets"; a Failure (usage) for any other name.
ValueType value_type_named(const std::string &name);
// Parses `text` as a value of `type` and puts it under `key` (a copy). A
// text that is not such a value is a Failure (usage).
void put_value(Properties &list, const std::string &key, ValueType type, const std::string &text);

}  // namespace korvo::cli
