// Numbered printf conversions on C libraries without them (see
// positional_format.hpp).
#include "runtime/positional_format.hpp"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

namespace korvo::rt {
namespace {

enum class Kind {
    Int,
    Long,
    LongLong,
    Size,
    Unsigned,
    ULong,
    ULongLong,
    USize,
    Double,
    String,
    Pointer
};

struct Conversion {
    std::size_t begin = 0, end = 0;  // the literal text before it: [previous end, begin)
    int number = 0;
    std::string directive;  // "%" flags width precision length conversion, without "N$"
    Kind kind = Kind::Int;
};

union Value {
    long long integer;
    unsigned long long unsigned_integer;
    double real;
    const void *pointer;
};

bool kind_of(std::string_view length, char conversion, Kind *kind) {
    const bool is_signed = conversion == 'd' || conversion == 'i' || conversion == 'c';
    if (std::strchr("diouxXc", conversion) != nullptr) {
        if (conversion == 'c' || length.empty() || length == "h" || length == "hh")
            *kind = is_signed ? Kind::Int : Kind::Unsigned;
        else if (length == "l")
            *kind = is_signed ? Kind::Long : Kind::ULong;
        else if (length == "ll" || length == "j")
            *kind = is_signed ? Kind::LongLong : Kind::ULongLong;
        else if (length == "z" || length == "t")
            *kind = is_signed ? Kind::Size : Kind::USize;
        else
            return false;
        return true;
    }
    if (std::strchr("eEfFgGaA", conversion) != nullptr && length.empty()) {
        *kind = Kind::Double;
        return true;
    }
    if (conversion == 's' && length.empty()) {
        *kind = Kind::String;
        return true;
    }
    if (conversion == 'p' && length.empty()) {
        *kind = Kind::Pointer;
        return true;
    }
    return false;
}

Value take(Kind kind, va_list &arguments) {
    Value value{};
    switch (kind) {
        case Kind::Int:
            value.integer = va_arg(arguments, int);
            break;
        case Kind::Long:
            value.integer = va_arg(arguments, long);
            break;
        case Kind::LongLong:
            value.integer = va_arg(arguments, long long);
            break;
        case Kind::Size:
            value.integer = static_cast<long long>(va_arg(arguments, std::size_t));
            break;
        case Kind::Unsigned:
            value.unsigned_integer = va_arg(arguments, unsigned);
            break;
        case Kind::ULong:
            value.unsigned_integer = va_arg(arguments, unsigned long);
            break;
        case Kind::ULongLong:
            value.unsigned_integer = va_arg(arguments, unsigned long long);
            break;
        case Kind::USize:
            value.unsigned_integer = va_arg(arguments, std::size_t);
            break;
        case Kind::Double:
            value.real = va_arg(arguments, double);
            break;
        case Kind::String:
        case Kind::Pointer:
            value.pointer = va_arg(arguments, const void *);
            break;
    }
    return value;
}

// One conversion of `directive`, its length modifier replaced by the widest one
// of its kind, so that every integer goes through as long long.
std::string format_one(const Conversion &c, const Value &value) {
    std::string directive = c.directive;
    const char conversion = directive.back();
    std::size_t length = directive.size() - 1;
    while (length > 1 && std::strchr("hljzt", directive[length - 1]) != nullptr)
        --length;
    directive.erase(length, directive.size() - 1 - length);
    char small[256];
    const auto print = [&](auto argument) {
        const int n = std::snprintf(small, sizeof small, directive.c_str(), argument);
        if (n < 0)
            return std::string();
        if (static_cast<std::size_t>(n) < sizeof small)
            return std::string(small, static_cast<std::size_t>(n));
        std::string large(static_cast<std::size_t>(n) + 1, '\0');
        std::snprintf(large.data(), large.size(), directive.c_str(), argument);
        large.resize(static_cast<std::size_t>(n));
        return large;
    };
    switch (c.kind) {
        case Kind::Double:
            return print(value.real);
        case Kind::String:
            return print(value.pointer != nullptr ? static_cast<const char *>(value.pointer)
                                                  : "(null)");
        case Kind::Pointer:
            return print(value.pointer);
        default:
            break;
    }
    if (conversion == 'c')
        return print(static_cast<int>(value.integer));
    directive.insert(directive.size() - 1, "ll");
    const bool is_signed = conversion == 'd' || conversion == 'i';
    return is_signed ? print(value.integer) : print(value.unsigned_integer);
}

}  // namespace

bool format_positional(const char *format, va_list arguments, std::string *out) {
    std::vector<Conversion> conversions;
    for (std::size_t i = 0; format[i] != '\0'; ++i) {
        if (format[i] != '%')
            continue;
        if (format[i + 1] == '%') {
            ++i;
            continue;
        }
        Conversion c;
        c.begin = i;
        std::size_t p = i + 1;
        while (format[p] >= '0' && format[p] <= '9')
            c.number = c.number * 10 + (format[p++] - '0');
        if (format[p] != '$' || c.number <= 0 || c.number > 64)
            return false;
        ++p;
        const std::size_t spec_start = p;
        while (format[p] != '\0' && std::strchr("-+ #0'", format[p]) != nullptr)
            ++p;
        while (format[p] >= '0' && format[p] <= '9')
            ++p;
        if (format[p] == '.')
            for (++p; format[p] >= '0' && format[p] <= '9';)
                ++p;
        const std::size_t length_start = p;
        while (format[p] != '\0' && std::strchr("hljzt", format[p]) != nullptr)
            ++p;
        const char conversion = format[p];
        if (conversion == '\0' ||
            !kind_of(std::string_view(format + length_start, p - length_start), conversion,
                     &c.kind))
            return false;
        c.directive = "%" + std::string(format + spec_start, p + 1 - spec_start);
        c.end = p + 1;
        i = p;
        conversions.push_back(std::move(c));
    }
    if (conversions.empty())
        return false;
    int highest = 0;
    for (const Conversion &c : conversions)
        highest = c.number > highest ? c.number : highest;
    std::vector<const Conversion *> by_number(static_cast<std::size_t>(highest) + 1, nullptr);
    for (const Conversion &c : conversions)
        if (by_number[c.number] == nullptr)
            by_number[c.number] = &c;
    for (int n = 1; n <= highest; ++n)
        if (by_number[n] == nullptr)
            return false;
    std::vector<Value> values(static_cast<std::size_t>(highest) + 1);
    va_list copy;
    va_copy(copy, arguments);
    for (int n = 1; n <= highest; ++n)
        values[n] = take(by_number[n]->kind, copy);
    va_end(copy);
    std::string text;
    std::size_t at = 0;
    for (const Conversion &c : conversions) {
        for (std::size_t i = at; i < c.begin; ++i) {
            text += format[i];
            if (format[i] == '%' && format[i + 1] == '%')
                ++i;
        }
        text += format_one(c, values[c.number]);
        at = c.end;
    }
    for (std::size_t i = at; format[i] != '\0'; ++i) {
        text += format[i];
        if (format[i] == '%' && format[i + 1] == '%')
            ++i;
    }
    *out = std::move(text);
    return true;
}

}  // namespace korvo::rt
