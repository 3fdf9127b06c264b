// A progress record's encoding kept between saves, and the saves that
// patch its count's digits or one of its flags in place.
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

// A boolean's byte as the list holds it.
uint8_t &flag_byte(const Property &property) {
    return *static_cast<uint8_t *>(property.value.value);
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
        return std::string(1, static_cast<char>(flag_byte(property)));
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
    places_.clear();
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

    // Where the digits and the flags lie: encode the list once more with
    // every digit changed and every flag turned over. The list is encoded
    // in its order, so the bytes that differ are, in that order, each flag's
    // byte and the count's run of digits, and nothing else may differ. The
    // list's values are put back whatever happens.
    char *text = string_of(list->buffer[count]);
    struct Restore {
        char *text;
        const std::string original;
        std::vector<std::pair<uint8_t *, uint8_t>> flags;
        ~Restore() {
            std::memcpy(text, original.data(), original.size());
            for (const auto &[byte, value] : flags)
                *byte = value;
        }
    } restore{text, entries[count].value, {}};
    const std::string &original = restore.original;
    for (uint32_t i = 0; i < list->length; ++i)
        if (list->buffer[i].value.type == TC_boolean)
            restore.flags.emplace_back(&flag_byte(list->buffer[i]), flag_byte(list->buffer[i]));
    shift_digits(text, original.size());
    for (const auto &[byte, value] : restore.flags)
        *byte = value == 0 ? 1 : 0;
    void *shifted = nullptr;
    uint32_t shiftedLength = 0;
    properties_encode(TC_Vem_Korvo2__sequence_Property_Properties, list, &shifted, &shiftedLength);
    const korvo::rt::MgPtr<uint8_t> other(static_cast<uint8_t *>(shifted));
    if (shiftedLength != length)
        return;
    std::vector<std::size_t> places(entries.size(), 0);
    std::size_t at = 0;
    const auto next_difference = [&] {
        while (at < length && bytes[at] == other.get()[at])
            ++at;
        return at;
    };
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].type == TC_boolean) {
            places[i] = next_difference();
            if (at == length || bytes[at] != static_cast<uint8_t>(entries[i].value[0]))
                return;
            ++at;
        } else if (i == count) {
            places[i] = next_difference();
            if (length - at < original.size() ||
                std::memcmp(bytes + at, original.data(), original.size()) != 0)
                return;
            for (std::size_t k = 0; k < original.size(); ++k, ++at)
                if (bytes[at] == other.get()[at])
                    return;
        }
    }
    if (next_difference() != length)
        return;

    bytes_.assign(bytes, bytes + length);
    entries_ = std::move(entries);
    places_ = std::move(places);
    count_ = count;
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
            if (flag_byte(property) != static_cast<uint8_t>(entry.value[0]))
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
    std::memcpy(bytes_.data() + places_[count_], digits.data(), digits.size());
    return true;
}

bool EncodedRecord::set_flag(Properties *list, const char *key, bool value) {
    if (bytes_.empty() || !matches(list))
        return false;
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        if (entries_[i].type != TC_boolean || entries_[i].key != key)
            continue;
        const uint8_t byte = value ? 1 : 0;
        flag_byte(list->buffer[i]) = byte;
        bytes_[places_[i]] = byte;
        entries_[i].value[0] = static_cast<char>(byte);
        return true;
    }
    return false;
}

}  // namespace korvo::stream
