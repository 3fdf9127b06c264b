// Loads a library with KesRtlLoad(name, directory) and exits with the number
// its kes_rtl_probe() gives: 100 when nothing loaded, 101 when the symbol is
// missing, 102 for a wrong command line.
//   kes_rtl_loader <name> [directory]
#include "kes/kes_rtl.h"

int main(int argc, char **argv) {
    if (argc < 2 || argc > 3)
        return 102;
    void *module = KesRtlLoad(argv[1], argc == 3 ? argv[2] : nullptr);
    if (module == nullptr)
        return 100;
    auto *probe = reinterpret_cast<int (*)()>(KesRtlResolve(module, "kes_rtl_probe"));
    if (probe == nullptr)
        return 101;
    const int number = probe();
    KesRtlUnload(module);
    return number;
}
