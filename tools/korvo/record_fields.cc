#include "record_fields.hpp"

#include <cerrno>
#include <cstdlib>

namespace korvo::cli {

std::optional<std::string> record_text(const Properties &list, const char *key) {
    int index = properties_get_property_index(&list, key);
    if (index < 0 || list.buffer[index].value.type != TC_string)
        return std::nullopt;
    const char *value = *static_cast<char *const *>(list.buffer[index].value.value);
    return value ? std::optional<std::string>(value) : std::nullopt;
}

std::optional<uint64_t> record_decimal(const Properties &list, const char *key) {
    std::optional<std::string> text = record_text(list, key);
    if (!text || text->empty() || (*text)[0] < '0' || (*text)[0] > '9')
        return std::nullopt;
    char *end = nullptr;
    errno = 0;
    unsigned long long value = std::strtoull(text->c_str(), &end, 10);
    if (*end != '\0' || errno != 0)
        return std::nullopt;
    return value;
}

bool record_flag(const Properties &list, const char *key) {
    int index = properties_get_property_index(&list, key);
    return index >= 0 && list.buffer[index].value.type == TC_boolean &&
           *static_cast<const uint8_t *>(list.buffer[index].value.value) != 0;
}

}  // namespace korvo::cli
