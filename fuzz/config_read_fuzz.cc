// Fuzzes the configuration reader: the input is the file's contents. The
// reader must fill a slot only with a value that a line of the file holds,
// trimmed, and never read a line past its limit.
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz/fuzz_check.hpp"
#include "fuzz/fuzz_scratch.hpp"
#include "runtime/config.h"
#include "runtime/log.h"
#include "runtime/mg_memory.h"

using korvo::fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    log_set_level(-1);  // the reader's failure lines are expected here
    // One file for the whole run, rewritten for every input.
    static const korvo::fuzz::RunScratch scratch("korvo_fuzz_config_");
    static const std::string path = scratch.file("config");
    const std::string text(reinterpret_cast<const char *>(data), size);
    korvo::fuzz::write_bytes(path, text);

    static const MrtConfigKey keys[] = {{"depot_dir", 0, MRT_CONFIG_STRING, nullptr, nullptr},
                                        {"a", 0, MRT_CONFIG_STRING, nullptr, nullptr},
                                        {"", 0, MRT_CONFIG_STRING, nullptr, nullptr},
                                        {nullptr, 0, 0, nullptr, nullptr}};
    char *values[3] = {};
    const MrtConfigQuery query{keys, 0, values};
    const int read = mrt_get_config_from_file(path.c_str(), &query);
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
