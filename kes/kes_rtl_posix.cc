// Run-time libraries over dlopen, dlsym and dlclose.
#include "kes/kes_rtl.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstring>

namespace {

// Candidate names are built in a buffer of this size, as they always were.
constexpr size_t kCandidateSize = 512;

// Loads "<directory>/<prefix><name>.so", or "<prefix><name>.so" without a
// directory; a candidate that does not fit the buffer is not tried.
void *loadCandidate(const char *directory, const char *prefix, const char *name) {
    char path[kCandidateSize];
    const int length = directory != nullptr
                           ? std::snprintf(path, sizeof path, "%s/%s%s.so", directory, prefix, name)
                           : std::snprintf(path, sizeof path, "%s%s.so", prefix, name);
    if (length < 0 || static_cast<size_t>(length) >= sizeof path)
        return nullptr;
    return ::dlopen(path, RTLD_NOW | RTLD_LOCAL);
}

}  // namespace

extern "C" {

void *KesRtlLoad(const char *name, const char *directory) {
    if (name == nullptr || *name == '\0')
        return nullptr;
    if (std::strpbrk(name, "/\\") != nullptr)
        return ::dlopen(name, RTLD_NOW | RTLD_LOCAL);
    if (directory != nullptr && *directory == '\0')
        directory = nullptr;
    if (void *module = loadCandidate(directory, "", name))
        return module;
    return loadCandidate(directory, "lib", name);
}

void *KesRtlResolve(void *module, const char *symbol) {
    if (symbol == nullptr)
        return nullptr;
    return ::dlsym(module == nullptr ? RTLD_DEFAULT : module, symbol);
}

int KesRtlUnload(void *module) {
    return module != nullptr && ::dlclose(module) == 0 ? 1 : 0;
}

const char *KesRtlError(void) {
    return "Unknown";
}
}
