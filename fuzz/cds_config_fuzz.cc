// Fuzzes the reading of the CDS client's cds.cfg: whatever the lines, the
// directory found is a piece of one short line followed by "../cds".
#include <algorithm>
#include <cstdint>
#include <string_view>

#include "cds/cds_config.hpp"
#include "fuzz/fuzz_check.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    const korvo::cds::ClassPathScan scan = korvo::cds::scan_class_path(text);
    const size_t lines = static_cast<size_t>(std::count(text.begin(), text.end(), '\n')) + 1;
    korvo::fuzz::check(scan.long_lines <= lines);
    if (scan.directory) {
        const std::string &directory = *scan.directory;
        korvo::fuzz::check(directory.size() >= 6 &&
                           directory.compare(directory.size() - 6, 6, "../cds") == 0);
        korvo::fuzz::check(directory.size() - 6 <= korvo::cds::kConfigLineMax);
        korvo::fuzz::check(directory.find('\n') == std::string::npos);
        korvo::fuzz::check(text.find(directory.substr(0, directory.size() - 6)) !=
                           std::string_view::npos);
    }
    return 0;
}
