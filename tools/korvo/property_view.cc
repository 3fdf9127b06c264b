#include "property_view.hpp"

#include <cerrno>
#include <cinttypes>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <vector>

#include "failure.hpp"
#include "properties/korvo_properties.h"
#include "runtime/stypes.h"

namespace korvo::cli {
namespace {

enum class Kind {
    kString,
    kObject,
    kLong,
    kShort,
    kULong,
    kBoolean,
    kOctets,
    kAny,
    kProperties,
    kList,
    kOther
};

bool same_type(TypeCode a, TypeCode b) {
    return a == b || (a != nullptr && b != nullptr && a->name != nullptr && b->name != nullptr &&
                      std::strcmp(a->name, b->name) == 0);
}

// The types the command knows, with the names users see.
struct KnownType {
    TypeCode type;
    Kind kind;
    const char *name;
};

const std::vector<KnownType> &known_types() {
    static const std::vector<KnownType> known = {
        {TC_string, Kind::kString, "string"},
        {TC_Object, Kind::kObject, "object"},
        {TC_long, Kind::kLong, "long"},
        {TC_short, Kind::kShort, "short"},
        {TC_ulong, Kind::kULong, "ulong"},
        {TC_boolean, Kind::kBoolean, "boolean"},
        {TC_Vem_Types_OctetList, Kind::kOctets, "octets"},
        {TC_any, Kind::kAny, "any"},
        {TC_Vem_Korvo2__sequence_Property_Properties, Kind::kProperties, "properties"},
        {TC_Vem_Korvo2__sequence_Properties_PropertiesList, Kind::kList, "list"},
    };
    return known;
}

const KnownType *known_type(TypeCode type) {
    for (const KnownType &k : known_types())
        if (same_type(type, k.type))
            return &k;
    return nullptr;
}

Kind kind_of(TypeCode type) {
    const KnownType *known = known_type(type);
    return known != nullptr ? known->kind : Kind::kOther;
}

std::string hex(const OctetList &octets) {
    std::string text;
    char pair[4];
    for (uint32_t i = 0; i < octets.length; ++i) {
        std::snprintf(pair, sizeof pair, "%02x", octets.buffer[i]);
        text += pair;
    }
    return text;
}

// The one-line text of a value that has no nested lines.
std::string scalar_text(Kind kind, const void *cell) {
    switch (kind) {
        case Kind::kString:
        case Kind::kObject: {
            const char *text = *static_cast<char *const *>(cell);
            return text != nullptr ? quote_text(text) : "null";
        }
        case Kind::kLong:
            return std::to_string(*static_cast<const int32_t *>(cell));
        case Kind::kShort:
            return std::to_string(*static_cast<const int16_t *>(cell));
        case Kind::kULong:
            return std::to_string(*static_cast<const uint32_t *>(cell));
        case Kind::kBoolean:
            return *static_cast<const uint8_t *>(cell) ? "true" : "false";
        case Kind::kOctets: {
            const auto *octets = static_cast<const OctetList *>(cell);
            return octets->length == 0 ? "(no bytes)" : hex(*octets);
        }
        default:
            return "";
    }
}

Json value_json(TypeCode type, const void *cell) {
    if (cell == nullptr)
        return nullptr;
    switch (Kind kind = kind_of(type)) {
        case Kind::kString:
        case Kind::kObject: {
            const char *text = *static_cast<char *const *>(cell);
            return text != nullptr ? Json(text) : Json(nullptr);
        }
        case Kind::kLong:
            return *static_cast<const int32_t *>(cell);
        case Kind::kShort:
            return *static_cast<const int16_t *>(cell);
        case Kind::kULong:
            return *static_cast<const uint32_t *>(cell);
        case Kind::kBoolean:
            return *static_cast<const uint8_t *>(cell) != 0;
        case Kind::kOctets:
            return hex(*static_cast<const OctetList *>(cell));
        case Kind::kAny: {
            const auto *any = static_cast<const Any *>(cell);
            return Json{{"type", any->type ? type_name(any->type) : "none"},
                        {"value", value_json(any->type, any->value)}};
        }
        case Kind::kProperties:
            return properties_json(*static_cast<const Properties *>(cell));
        case Kind::kList: {
            const auto *lists = static_cast<const PropertiesList *>(cell);
            Json array = Json::array();
            for (uint32_t i = 0; i < lists->length; ++i)
                array.push_back(properties_json(lists->buffer[i]));
            return array;
        }
        default:
            (void)kind;
            return nullptr;
    }
}

void print_value(const std::string &lead, TypeCode type, const void *cell, int indent) {
    std::string name = type ? type_name(type) : "none";
    char typed[16];
    std::snprintf(typed, sizeof typed, "%-10s", name.c_str());
    Kind kind = kind_of(type);
    if (cell == nullptr) {
        std::cout << lead << typed << "  (no value)\n";
        return;
    }
    switch (kind) {
        case Kind::kAny: {
            const auto *any = static_cast<const Any *>(cell);
            print_value(lead + typed + "  ", any->type, any->value, indent);
            return;
        }
        case Kind::kProperties: {
            const auto *list = static_cast<const Properties *>(cell);
            std::cout << lead << typed << "  " << list->length
                      << (list->length == 1 ? " property\n" : " properties\n");
            print_properties(*list, indent + 2);
            return;
        }
        case Kind::kList: {
            const auto *lists = static_cast<const PropertiesList *>(cell);
            std::cout << lead << typed << "  " << lists->length
                      << (lists->length == 1 ? " list\n" : " lists\n");
            for (uint32_t i = 0; i < lists->length; ++i) {
                std::cout << std::string(indent + 2, ' ') << "[" << i << "]\n";
                print_properties(lists->buffer[i], indent + 4);
            }
            return;
        }
        case Kind::kOther:
            std::cout << lead << typed << "  (not shown)\n";
            return;
        default:
            std::cout << lead << typed << "  " << scalar_text(kind, cell) << '\n';
    }
}

[[noreturn]] void bad_value(const std::string &text, const char *what) {
    throw Failure(kExitUsage, quote_text(text) + " is not " + what);
}

int64_t parse_integer(const std::string &text, int64_t low, int64_t high, const char *what) {
    errno = 0;
    char *end = nullptr;
    long long value = std::strtoll(text.c_str(), &end, 0);
    if (text.empty() || *end != '\0' || errno != 0 || value < low || value > high)
        bad_value(text, what);
    return value;
}

std::vector<uint8_t> parse_hex(const std::string &text) {
    std::vector<uint8_t> bytes;
    int high = -1;
    for (char c : text) {
        if (c == ' ' || c == ':')
            continue;
        int digit = c >= '0' && c <= '9'   ? c - '0'
                    : c >= 'a' && c <= 'f' ? c - 'a' + 10
                    : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                           : -1;
        if (digit < 0)
            bad_value(text, "hexadecimal bytes (such as de:ad:be:ef)");
        if (high < 0) {
            high = digit;
        } else {
            bytes.push_back(static_cast<uint8_t>(high * 16 + digit));
            high = -1;
        }
    }
    if (high >= 0)
        bad_value(text, "whole bytes of two hexadecimal digits");
    return bytes;
}

}  // namespace

PropertyList::PropertyList() {
    properties_init(&list_);
}

PropertyList::~PropertyList() {
    properties_delete(&list_);
}

std::string type_name(TypeCode type) {
    if (const KnownType *known = known_type(type))
        return known->name;
    return type != nullptr && type->name != nullptr ? type->name : "unknown";
}

void print_properties(const Properties &list, int indent) {
    size_t width = 8;
    for (uint32_t i = 0; i < list.length; ++i)
        if (list.buffer[i].key != nullptr)
            width = std::max(width, printable(list.buffer[i].key).size());
    for (uint32_t i = 0; i < list.length; ++i) {
        const Property &property = list.buffer[i];
        std::string key = property.key != nullptr ? printable(property.key) : "(no key)";
        std::string lead = std::string(indent, ' ') + key + std::string(width - key.size(), ' ');
        print_value(lead + "  ", property.value.type, property.value.value, indent);
    }
}

Json properties_json(const Properties &list) {
    Json array = Json::array();
    for (uint32_t i = 0; i < list.length; ++i) {
        const Property &property = list.buffer[i];
        TypeCode type = property.value.type;
        array.push_back({{"key", property.key != nullptr ? Json(property.key) : Json(nullptr)},
                         {"type", type ? type_name(type) : "none"},
                         {"value", value_json(type, property.value.value)}});
    }
    return array;
}

ValueType value_type_named(const std::string &name) {
    static const std::pair<const char *, ValueType> kTypes[] = {
        {"string", ValueType::kString},   {"long", ValueType::kLong},
        {"short", ValueType::kShort},     {"ulong", ValueType::kULong},
        {"boolean", ValueType::kBoolean}, {"octets", ValueType::kOctets}};
    for (const auto &[type_text, type] : kTypes)
        if (name == type_text)
            return type;
    throw Failure(kExitUsage, "unknown type " + quote_text(name) +
                                  ": use string, long, short, ulong, boolean or octets");
}

void put_value(Properties &list, const std::string &key, ValueType type, const std::string &text) {
    // Parse first (a Failure leaves the list alone), then put inside the
    // library's catch adapter.
    switch (type) {
        case ValueType::kString:
            library_call([&] { properties_put_string_dup(&list, key.c_str(), text.c_str()); });
            return;
        case ValueType::kLong: {
            auto value = static_cast<int32_t>(
                parse_integer(text, INT32_MIN, INT32_MAX, "a long (a 32-bit signed number)"));
            library_call([&] { properties_put_long_dup(&list, key.c_str(), value); });
            return;
        }
        case ValueType::kShort: {
            auto value = static_cast<int16_t>(
                parse_integer(text, INT16_MIN, INT16_MAX, "a short (a 16-bit signed number)"));
            library_call([&] { properties_put_short_dup(&list, key.c_str(), value); });
            return;
        }
        case ValueType::kULong: {
            auto value = static_cast<uint32_t>(
                parse_integer(text, 0, UINT32_MAX, "a ulong (a 32-bit unsigned number)"));
            library_call([&] { properties_put_ulong_dup(&list, key.c_str(), value); });
            return;
        }
        case ValueType::kBoolean: {
            uint8_t value;
            if (text == "true" || text == "1" || text == "yes")
                value = 1;
            else if (text == "false" || text == "0" || text == "no")
                value = 0;
            else
                bad_value(text, "a boolean (true or false)");
            library_call([&] { properties_put_boolean_dup(&list, key.c_str(), value); });
            return;
        }
        case ValueType::kOctets: {
            std::vector<uint8_t> bytes = parse_hex(text);
            OctetList octets = {static_cast<uint32_t>(bytes.size()),
                                static_cast<uint32_t>(bytes.size()), bytes.data()};
            library_call([&] { properties_put_OctetList_dup(&list, key.c_str(), &octets); });
            return;
        }
    }
}

}  // namespace korvo::cli
