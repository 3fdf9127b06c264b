// Fuzzes CorrectPath: the input is a path (up to its first NUL), the first
// byte choosing native (backslashes become slashes) or not. The result must
// be normal: no empty or "." component, absolute exactly when the path is,
// and a fixed point of a second correction.
#include <cstdint>
#include <string>

#include "fuzz/fuzz_check.hpp"
#include "runtime/config.h"
#include "runtime/mg_memory.h"

using korvo::fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0)
        return 0;
    const int32_t native = data[0] & 1;
    std::string path(reinterpret_cast<const char *>(data + 1), size - 1);
    path.resize(std::char_traits<char>::length(path.c_str()));
    char *corrected = CorrectPath(path.c_str(), native);
    check(corrected != nullptr);
    const std::string out(corrected);
    check(!out.empty());
    std::string seen = path;
    if (native)
        for (char &c : seen)
            if (c == '\\')
                c = '/';
    check((out[0] == '/') == (!seen.empty() && seen[0] == '/'));
    check(out.find("//") == std::string::npos);
    check(out == "." || out == "/" ||
          (out.back() != '/' && out.find("/./") == std::string::npos && !out.starts_with("./") &&
           !out.ends_with("/.")));
    char *again = CorrectPath(corrected, native);
    check(again != nullptr && out == again);
    mg_free(again);
    mg_free(corrected);
    return 0;
}
