// The endpoint's configuration: environment lookups, the key=value file
// reader and path normalisation.
#include "runtime/config.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/host_io.hpp"
#include "runtime/log.h"
#include "runtime/mg_memory.h"

namespace {

// The configuration file, opened without blocking (a FIFO would wait for a
// writer) and kept only when it is a regular file; closed with the reader.
class ConfigReader {
  public:
    explicit ConfigReader(const char *path) : path_(path) {
        bool not_regular = false;
        fd_ = korvo::rt::host::open_regular_file(path, &not_regular);
        if (not_regular)
            LogMsg(LOG_LEVEL_FAILURE, 0, 0, -1,
                   "Configuration file %1$s is not a regular file; it is not read.", path);
    }
    ~ConfigReader() { close(); }
    ConfigReader(const ConfigReader &) = delete;
    ConfigReader &operator=(const ConfigReader &) = delete;

    bool usable() const { return fd_ >= 0; }

    // Hands each line (without its '\n') to `take`; false when the file
    // cannot be read or a line is longer than MRT_CONFIG_MAX_LINE bytes
    // without its "\n" or "\r\n", which is logged. At most one line and one chunk are held at a
    // time.
    template <typename Take>
    bool for_each_line(Take take) {
        std::string pending;
        char chunk[16384];
        int32_t number = 0;
        for (;;) {
            const int64_t got = korvo::rt::host::read_some(fd_, chunk, sizeof chunk);
            if (got < 0)
                return false;
            pending.append(chunk, static_cast<size_t>(got));
            size_t start = 0;
            for (size_t end; (end = pending.find('\n', start)) != std::string::npos;
                 start = end + 1) {
                const bool crlf = end > start && pending[end - 1] == '\r';
                if (!fits(end - start - (crlf ? 1 : 0), ++number))
                    return false;
                take(std::string_view(pending).substr(start, end - start));
            }
            pending.erase(0, start);
            if (got == 0) {
                if (!pending.empty() && fits(pending.size(), ++number))
                    take(std::string_view(pending));
                return pending.empty() || pending.size() <= MRT_CONFIG_MAX_LINE;
            }
            // An unfinished line may still end in "\r\n".
            if (pending.size() > MRT_CONFIG_MAX_LINE + 1 && !fits(pending.size(), number + 1))
                return false;
        }
    }

  private:
    bool fits(size_t length, int32_t number) const {
        if (length <= MRT_CONFIG_MAX_LINE)
            return true;
        LogMsg(LOG_LEVEL_FAILURE, 0, 0, -1,
               "Configuration file %1$s: line %2$d is longer than %3$d bytes; the file is not "
               "read.",
               path_, number, MRT_CONFIG_MAX_LINE);
        return false;
    }
    void close() {
        if (fd_ >= 0)
            korvo::rt::host::close_file(fd_);
        fd_ = -1;
    }

    const char *path_;
    int fd_ = -1;
};

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
        ConfigReader file(path);
        if (!file.usable())
            return 0;
        std::vector<std::string> values(keys.size());
        std::vector<bool> found(keys.size(), false);
        const bool read = file.for_each_line([&](std::string_view line) {
            const std::string_view text = trim(line);
            if (text.empty() || text[0] == '#' || text[0] == ';')
                return;
            const size_t equals = text.find('=');
            if (equals == std::string_view::npos)
                return;
            const std::string_view key = trim(text.substr(0, equals));
            for (size_t i = 0; i < keys.size(); ++i) {
                if (!found[i] && keys[i] == key) {
                    // A value is a C string: it ends at its first NUL,
                    // and the blanks in front of that are not part of it.
                    std::string_view value = text.substr(equals + 1);
                    value = trim(value.substr(0, value.find('\0')));
                    values[i] = value;
                    found[i] = true;
                }
            }
        });
        if (!read)
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
