// The endpoint's configuration: environment lookups, the key=value file
// reader and path normalisation.
#include "runtime/config.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/mg_memory.h"

namespace {

char *copy_of_variable(const char *name) {
    const char *value = std::getenv(name);
    if (value == nullptr || *value == '\0')
        return nullptr;
    return mg_strdup(value);
}

std::string_view trim(std::string_view text) {
    const char *blanks = " \t\r\n\f\v";
    const size_t first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos)
        return {};
    const size_t last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

}  // namespace

extern "C" {

char *mrt_get_work_dir(void) {
    return copy_of_variable("KORVO_WORK_DIR");
}

char *mrt_get_config_filespec(void) {
    return copy_of_variable("KORVO_CONFIG_FILE");
}

int mrt_get_config_from_file(const char *path, const MrtConfigQuery *query) {
    if (path == nullptr || query == nullptr || query->keys == nullptr || query->values == nullptr)
        return 0;
    try {
        std::vector<std::string_view> keys;
        for (const MrtConfigKey *key = query->keys; key->name != nullptr; ++key) {
            if (key->kind != MRT_CONFIG_STRING)
                return 0;
            keys.emplace_back(key->name);
        }
        std::ifstream file(path, std::ios::binary);
        if (!file)
            return 0;
        std::vector<std::string> values(keys.size());
        std::vector<bool> found(keys.size(), false);
        std::string line;
        while (std::getline(file, line)) {
            const std::string_view text = trim(line);
            if (text.empty() || text[0] == '#' || text[0] == ';')
                continue;
            const size_t equals = text.find('=');
            if (equals == std::string_view::npos)
                continue;
            const std::string_view key = trim(text.substr(0, equals));
            for (size_t i = 0; i < keys.size(); ++i) {
                if (!found[i] && keys[i] == key) {
                    values[i] = trim(text.substr(equals + 1));
                    found[i] = true;
                }
            }
        }
        if (file.bad())
            return 0;
        std::vector<char *> copies(keys.size(), nullptr);
        for (size_t i = 0; i < keys.size(); ++i) {
            if (!found[i])
                continue;
            copies[i] = mg_strdup(values[i].c_str());
            if (copies[i] == nullptr) {
                for (char *copy : copies)
                    mg_free(copy);
                return 0;
            }
        }
        for (size_t i = 0; i < keys.size(); ++i)
            if (found[i])
                query->values[i] = copies[i];
        return 1;
    } catch (const std::exception &) {
        return 0;
    }
}

char *CorrectPath(const char *path, int32_t native) {
    if (path == nullptr)
        return nullptr;
    try {
        std::string text(path);
        if (native != 0)
            for (char &c : text)
                if (c == '\\')
                    c = '/';
        const bool absolute = !text.empty() && text[0] == '/';
        std::string out = absolute ? "/" : "";
        size_t start = 0;
        while (start <= text.size()) {
            size_t end = text.find('/', start);
            if (end == std::string::npos)
                end = text.size();
            const std::string_view part(text.data() + start, end - start);
            if (!part.empty() && part != ".") {
                if (!out.empty() && out.back() != '/')
                    out += '/';
                out += part;
            }
            start = end + 1;
        }
        if (out.empty())
            out = ".";
        return mg_strdup(out.c_str());
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
}
}
