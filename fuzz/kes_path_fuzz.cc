// Fuzzes the Kes path rules: the input's first byte is a buffer size (0 to
// 255), the rest a path up to its first NUL. Every operation must stay in
// its buffer and leave it terminated; the name and the parent of a path with
// a separator put back together give the path.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.hpp"
#include "kes/kes_path.h"

using korvo::fuzz::check;

namespace {

// Runs `operation` on a buffer of `size` bytes fenced by guard bytes, checks
// the fences and the terminator, and returns the text (empty when the
// operation answered NULL).
template <typename Operation>
std::string fenced(size_t size, Operation operation) {
    constexpr size_t kFence = 16;
    std::vector<char> memory(size + 2 * kFence, '\x5a');
    char *buffer = memory.data() + kFence;
    char *result = operation(buffer, size);
    for (size_t i = 0; i < kFence; ++i)
        check(memory[i] == '\x5a' && memory[kFence + size + i] == '\x5a');
    if (result == nullptr || size == 0)
        return {};
    check(result == buffer);
    check(std::memchr(buffer, '\0', size) != nullptr);
    return buffer;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0)
        return 0;
    const size_t buffer_size = data[0];
    std::string path(reinterpret_cast<const char *>(data + 1), size - 1);
    path.resize(std::strlen(path.c_str()));
    const char *p = path.c_str();

    KesPathIsPathAbsolute(p);
    KesPathIsPrefixNative(p);
    fenced(buffer_size, [&](char *b, size_t n) { return KesPathGetPrefix(b, p, n); });
    fenced(buffer_size, [&](char *b, size_t n) { return KesPathMakeAbsolute(b, p, n); });
    const std::string name =
        fenced(buffer_size, [&](char *b, size_t n) { return KesPathGetName(b, p, n); });
    const std::string parent =
        fenced(buffer_size, [&](char *b, size_t n) { return KesPathGetParent(b, p, n); });
    const size_t last = path.find_last_of("/\\");
    if (last != std::string::npos && path.size() < buffer_size)
        check(parent + path[last] + name == path);
    std::string local = path;
    char *localized = KesPathLocalize(local.data());
    check(localized == nullptr ? local == path : local.size() == path.size());
    return 0;
}
