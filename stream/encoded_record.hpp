// The encoded bytes of a progress record, kept from one save to the next
// with the place of its count's digits ("c_len") and of each flag's byte,
// so that a checkpoint, which changes only the count, rewrites those digits
// instead of encoding the list again, and a save that turns one flag
// (the stream's close) rewrites that byte.
//
// The bytes stay valid while the list is the one they were made from. A
// caller may change the list between saves (mstat_get_properties hands it
// out), so each patch first compares the list with what was encoded: every
// key, type and value, the count's value aside. Only string and boolean
// values are compared; a list holding other types is not remembered, and
// its saves encode it each time. A count whose number of digits changes is
// no patch either: the record's size changes with it, and the save encodes
// the list again.
//
// Owned by its record (mstat.cc); one thread at a time.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "properties/korvo_types.h"

namespace korvo::stream {

class EncodedRecord {
  public:
    // Remembers `bytes` (`length` of them), the encoding of `list`, with the
    // place of the string value of `countKey` and of every boolean's byte.
    // Nothing is remembered when the list holds no such string, holds
    // values of other types than strings and booleans, or its encoding does
    // not carry the count's digits and the booleans' bytes as they are.
    void remember(const Properties *list, const uint8_t *bytes, uint32_t length,
                  const char *countKey);
    void forget();

    // When `list` is still the remembered one and `digits` have as many
    // digits as the count it holds: writes them into the list's value and
    // into the bytes, and is true. False changes nothing.
    bool patch(Properties *list, std::string_view digits);

    // When `list` is still the remembered one and holds the boolean `key`:
    // sets it to `value` in the list and in the bytes, and is true. False
    // changes nothing.
    bool set_flag(Properties *list, const char *key, bool value);

    const uint8_t *data() const { return bytes_.data(); }
    uint32_t size() const { return static_cast<uint32_t>(bytes_.size()); }

  private:
    struct Entry {
        std::string key;
        TypeCode type = nullptr;
        std::string value;  // a string's text, or a boolean's byte
    };
    bool matches(const Properties *list) const;

    std::vector<uint8_t> bytes_;
    std::vector<Entry> entries_;
    std::vector<std::size_t> places_;  // where each flag's byte and the digits lie in bytes_
    std::size_t count_ = 0;            // the count's entry
    std::size_t digitsLength_ = 0;
};

}  // namespace korvo::stream
