// The loaded CDS client libraries of the probe, from the process's list of
// loaded ELF objects.
#include <link.h>

#include <cstdio>
#include <cstring>

namespace {

int print_client(dl_phdr_info *info, size_t, void *) {
    const char *name = info->dlpi_name != nullptr ? info->dlpi_name : "";
    const char *base = std::strrchr(name, '/');
    base = base != nullptr ? base + 1 : name;
    // The loaded copies by their link name; the linked client by its SONAME.
    if (std::strcmp(base, "libCDSClient.so") == 0 || std::strcmp(base, "CDSClient.so") == 0 ||
        std::strcmp(base, "libCDSClient.so.1") == 0)
        std::printf("CLIENT=%s\n", name);
    return 0;
}

}  // namespace

void print_clients() {
    dl_iterate_phdr(&print_client, nullptr);
}
