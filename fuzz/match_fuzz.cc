// Fuzzes the wildcard matcher. The input is the pattern, a NUL byte and the
// name (without a NUL the whole input is the pattern and the name is empty).
// Short inputs are also checked against the plain recursive reading of the
// rules, whose cost grows as (name length + 1) to the number of stars.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "properties/helpers/match.h"
#include "tests/properties/match_reference.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string input(reinterpret_cast<const char *>(data), size);
    const size_t split = input.find('\0');
    const std::string pattern = input.substr(0, split);
    std::string name = split == std::string::npos ? std::string() : input.substr(split + 1);
    name.resize(std::strlen(name.c_str()));

    const int result = match(pattern.c_str(), name.c_str());
    if (result != 0 && result != 1 && result != -2)
        std::abort();

    double tries = 1;
    for (char c : pattern) {
        if (c == '*')
            tries *= static_cast<double>(name.size() + 1);
    }
    if (tries <= 1e5 && ReferenceMatch(pattern.c_str(), name.c_str()) != result) {
        std::fprintf(stderr, "match gave %d, the rules %d\n", result,
                     ReferenceMatch(pattern.c_str(), name.c_str()));
        std::abort();
    }
    return 0;
}
