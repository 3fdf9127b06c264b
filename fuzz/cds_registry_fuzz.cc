// Fuzzes the registry file reader with the key and value the CDS loader asks
// for, and with a key and value taken from the input's first line (so that
// every section and entry shape can match).
#include <cstdint>
#include <string_view>

#include "cds/cds_registry.hpp"
#include "fuzz/fuzz_check.hpp"

namespace {

void check_value(std::string_view text, std::string_view key, std::string_view name) {
    const auto value = korvo::cds::registry_value(text, key, name);
    if (!value)
        return;
    // A value is one line's text, without the NUL a path cannot carry.
    korvo::fuzz::check(value->find('\n') == std::string::npos);
    korvo::fuzz::check(value->find('\0') == std::string::npos);
    korvo::fuzz::check(text.find(*value) != std::string_view::npos);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    check_value(text, korvo::cds::kClientKey, korvo::cds::kClientHomeValue);
    const std::string_view first = text.substr(0, text.find('\n'));
    const size_t equals = first.find('=');
    if (equals != std::string_view::npos)
        check_value(text, first.substr(0, equals), first.substr(equals + 1));
    return 0;
}
