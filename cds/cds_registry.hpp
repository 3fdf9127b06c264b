// The registry file: the host's stand-in for the system registry, an INI
// file whose sections are key paths and whose entries are name=value lines:
//
//   ; the CDS client's home
//   [HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\CDSClient]
//   cds_home = /opt/cds
//
// Its path is KORVO_REGISTRY_FILE, else /etc/korvo/registry.ini. Section
// and entry names compare without regard to case, as registry names do;
// blanks around names and values are dropped, a value in double quotes loses
// them; lines that begin with ';' or '#' are comments. A malformed section
// line closes the current section, so that its entries are not taken for
// another section's. The first entry of a name in the section wins. Pure text
// work; any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace korvo::cds {

inline constexpr const char *kRegistryFileVariable = "KORVO_REGISTRY_FILE";
inline constexpr const char *kDefaultRegistryFile = "/etc/korvo/registry.ini";
// The key and value under which the registry holds the client's home.
inline constexpr std::string_view kClientKey =
    "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\CDSClient";
// The same key below HKEY_LOCAL_MACHINE, as the system registry opens it.
inline constexpr const char *kClientSubkey = "System\\CurrentControlSet\\Services\\CDSClient";
inline constexpr std::string_view kClientHomeValue = "cds_home";

namespace registry_text {

inline std::string_view trim(std::string_view text) {
    constexpr std::string_view kBlanks = " \t\r\n\f\v";
    const size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

inline bool same_name(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z')
            x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = static_cast<char>(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return true;
}

}  // namespace registry_text

// The value `name` of the key `key` in the registry file's text, or nullopt
// when the file has no such section or entry, or the value holds a NUL byte.
inline std::optional<std::string> registry_value(std::string_view text, std::string_view key,
                                                 std::string_view name) {
    using registry_text::same_name;
    using registry_text::trim;
    bool in_key = false;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        const std::string_view line = trim(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (line.empty() || line.front() == ';' || line.front() == '#')
            continue;
        if (line.front() == '[') {
            in_key = line.back() == ']' && same_name(trim(line.substr(1, line.size() - 2)), key);
            continue;
        }
        if (!in_key)
            continue;
        const size_t equals = line.find('=');
        if (equals == std::string_view::npos || !same_name(trim(line.substr(0, equals)), name))
            continue;
        std::string_view value = trim(line.substr(equals + 1));
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        if (value.find('\0') != std::string_view::npos)
            return std::nullopt;
        return std::string(value);
    }
    return std::nullopt;
}

}  // namespace korvo::cds
