// Fuzzes the configuration reader: the input is the file's contents. The
// reader must fill a slot only with a value that a line of the file holds,
// trimmed, and never read a line past its limit.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "fuzz/fuzz_check.hpp"
#include "fuzz/fuzz_scratch.hpp"
#include "runtime/config.h"
#include "runtime/log.h"
#include "runtime/mg_memory.h"

using korvo::fuzz::check;

namespace {

// One file for the whole run, rewritten for every input, in a folder that
// goes when the run ends.
const std::string &scratch_file() {
    static const std::string path = [] {
        static const std::string folder = korvo::fuzz::make_scratch_directory("korvo_fuzz_config_");
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(folder, ignored);
        });
        return folder + "/config";
    }();
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    log_set_level(-1);  // the reader's failure lines are expected here
    const std::string &path = scratch_file();
    FILE *file = std::fopen(path.c_str(), "wb");
    check(file != nullptr);
    check(std::fwrite(data, 1, size, file) == size);
    std::fclose(file);

    static const MrtConfigKey keys[] = {{"depot_dir", 0, MRT_CONFIG_STRING, nullptr, nullptr},
                                        {"a", 0, MRT_CONFIG_STRING, nullptr, nullptr},
                                        {"", 0, MRT_CONFIG_STRING, nullptr, nullptr},
                                        {nullptr, 0, 0, nullptr, nullptr}};
    char *values[3] = {};
    const MrtConfigQuery query{keys, 0, values};
    const int read = mrt_get_config_from_file(path.c_str(), &query);
    const std::string text(reinterpret_cast<const char *>(data), size);
    for (char *value : values) {
        check(read == 1 || value == nullptr);
        if (value == nullptr)
            continue;
        const std::string found(value);
        check(found.size() <= MRT_CONFIG_MAX_LINE);
        check(text.find(found) != std::string::npos);
        const char *blanks = " \t\r\n\f\v";
        check(found.empty() || (std::strchr(blanks, found.front()) == nullptr &&
                                std::strchr(blanks, found.back()) == nullptr));
        mg_free(value);
    }
    return 0;
}
