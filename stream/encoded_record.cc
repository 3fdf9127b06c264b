// A progress record's encoding kept between saves, and the checkpoints
// that patch its count's digits in place.
#include "stream/encoded_record.hpp"

#include <algorithm>
#include <cstring>

#include "properties/property_files.h"
#include "runtime/mg_memory.h"
#include "runtime/raise.hpp"
#include "runtime/typecode.h"

namespace korvo::stream {

namespace {

char *string_of(const Property &property) {
    return *static_cast<char *const *>(property.value.value);
}

bool comparable(const Property &property) {
    if (property.key == nullptr || property.value.value == nullptr)
        return false;
    if (property.value.type == TC_boolean)
        return true;
    return property.value.type == TC_string && string_of(property) != nullptr;
}

std::string value_of(const Property &property) {
    if (property.value.type == TC_boolean)
        return std::string(1,
                           static_cast<char>(*static_cast<const uint8_t *>(property.value.value)));
    return string_of(property);
}

// Each digit turned into another one, so that every byte of the value
// differs from what it was.
void shift_digits(char *text, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i)
        text[i] = text[i] == '0' ? '1' : '0';
}

}  // namespace

void EncodedRecord::forget() {
    bytes_.clear();
    entries_.clear();
}

void EncodedRecord::remember(const Properties *list, const uint8_t *bytes, uint32_t length,
                             const char *countKey) {
    forget();
    if (list == nullptr || bytes == nullptr || length == 0)
        return;
    std::vector<Entry> entries;
    std::size_t count = list->length;
    for (uint32_t i = 0; i < list->length; ++i) {
        const Property &property = list->buffer[i];
        if (!comparable(property))
            return;
        if (count == list->length && property.value.type == TC_string &&
            std::strcmp(property.key, countKey) == 0)
            count = i;
        entries.push_back({property.key, property.value.type, value_of(property)});
    }
    if (count == list->length || entries[count].value.empty())
        return;

    // Where the digits lie: encode the list once more with every digit
    // changed; the bytes that differ are the count's, and nothing else may
    // differ. The list's value is put back whatever happens.
    char *text = string_of(list->buffer[count]);
    const std::string original = entries[count].value;
    struct Restore {
        char *text;
        const std::string &original;
        ~Restore() { std::memcpy(text, original.data(), original.size()); }
    } restore{text, original};
    shift_digits(text, original.size());
    void *shifted = nullptr;
    uint32_t shiftedLength = 0;
    properties_encode(TC_Vem_Korvo2__sequence_Property_Properties, list, &shifted, &shiftedLength);
    const korvo::rt::MgPtr<uint8_t> other(static_cast<uint8_t *>(shifted));
    if (shiftedLength != length)
        return;
    std::size_t first = length, last = 0;
    for (std::size_t i = 0; i < length; ++i)
        if (bytes[i] != other.get()[i]) {
            first = std::min(first, i);
            last = i;
        }
    if (first == length || last - first + 1 != original.size() ||
        std::memcmp(bytes + first, original.data(), original.size()) != 0)
        return;

    bytes_.assign(bytes, bytes + length);
    entries_ = std::move(entries);
    count_ = count;
    digitsAt_ = first;
    digitsLength_ = original.size();
}

bool EncodedRecord::matches(const Properties *list) const {
    if (list == nullptr || list->length != entries_.size())
        return false;
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        const Property &property = list->buffer[i];
        const Entry &entry = entries_[i];
        if (property.value.type != entry.type || !comparable(property) ||
            std::strcmp(property.key, entry.key.c_str()) != 0)
            return false;
        if (entry.type == TC_boolean) {
            if (*static_cast<const uint8_t *>(property.value.value) !=
                static_cast<uint8_t>(entry.value[0]))
                return false;
        } else if (i == count_) {
            // The count may hold other digits (the caller's, or the last
            // patch's), but as many as the bytes have room for.
            if (std::strlen(string_of(property)) != digitsLength_)
                return false;
        } else if (std::strcmp(string_of(property), entry.value.c_str()) != 0) {
            return false;
        }
    }
    return true;
}

bool EncodedRecord::patch(Properties *list, std::string_view digits) {
    if (bytes_.empty() || digits.size() != digitsLength_ || !matches(list))
        return false;
    std::memcpy(string_of(list->buffer[count_]), digits.data(), digits.size());
    std::memcpy(bytes_.data() + digitsAt_, digits.data(), digits.size());
    return true;
}

}  // namespace korvo::stream
