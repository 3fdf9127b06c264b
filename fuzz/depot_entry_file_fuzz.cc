// Arbitrary bytes as a depot entry file. They are parsed as a record; put
// in the place of a held entry's file, which the next lookup checks the
// object against and refreshes it from; read by a lookup that scans the
// bucket for another segment; and read by a walk of the depot. Nothing may
// crash or leak, and a record that parses (and whose strings hold no tag)
// builds back into a record that parses to the same fields.
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "depot/depot.h"
#include "fuzz/fuzz_check.hpp"
#include "kes/kes_memory.h"
#include "kes/kes_string.h"
#include "runtime/log.h"

namespace {

using korvo::fuzz::check;

void quiet(void *, int32_t, const char *) {}

// A scratch depot in a lock namespace of this process. libFuzzer may end a
// process without running destructors, so nothing is left to them: the
// lock objects lose their names as soon as this process has mapped them
// (it keeps its mappings), and directories of fuzzing processes that have
// ended are removed when the next one starts.
class Scratch {
  public:
    Scratch() {
        const std::string space = "fuzz" + std::to_string(::getpid());
        ::setenv("KORVO_LOCK_NAMESPACE", space.c_str(), 1);
        log_set_capture(quiet, nullptr);
        const auto temporary = std::filesystem::temp_directory_path();
        for (const auto &entry : std::filesystem::directory_iterator(temporary)) {
            const std::string name = entry.path().filename().string();
            if (name.rfind("depot-fuzz-", 0) == 0 && ::kill(std::atoi(name.c_str() + 11), 0) != 0 &&
                errno == ESRCH) {
                std::error_code ignored;
                std::filesystem::remove_all(entry.path(), ignored);
            }
        }
        dir_ = (temporary / ("depot-fuzz-" + std::to_string(::getpid()))).string();
        std::filesystem::create_directories(dir_);

        KesStatus status;
        Depot *depot = nullptr;
        DepotNew(&status, &depot, dir_.c_str(), 0);
        DepotEntryEnum *walk = nullptr;
        DepotEnumNew(&status, depot, &walk);
        DepotEntryEnumDelete(&status, walk);
        DepotFree(&status, depot);
        for (const char *lock : {"DEPOT", "ENTRY", "ENUM"})
            ::shm_unlink(("/korvo." + space + "." + lock).c_str());
    }
    ~Scratch() {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
    const std::string &dir() const { return dir_; }
    std::string entryFile() const { return dir_ + "/00000108.0.xml"; }

  private:
    std::string dir_;
};

void write(const std::string &path, const std::string &bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

bool holdsTags(const char *s) {
    return s != nullptr && std::strchr(s, '<') != nullptr;
}

// Parses the text; when it parses, builds its record and parses that again.
void roundTrip(const std::string &text) {
    DepotEntry *entry = DepotEntryNewFromToc(nullptr, text.c_str());
    if (entry == nullptr)
        return;
    // Strings that hold a tag may not even build (the record has no
    // escaping); the others must build and read back unchanged.
    const bool plain =
        !holdsTags(entry->id) && !holdsTags(entry->version) && !holdsTags(entry->location);
    KesStatus status;
    char *record = nullptr;
    uint32_t length = 0;
    DepotEntrySetProperties(&status, nullptr, entry, &record, &length);
    check(status.code == 0 || (!plain && status.code == KES_INVALID));
    DepotEntry *again = nullptr;
    if (status.code == 0) {
        check(record != nullptr && length == std::strlen(record) + 1);
        again = DepotEntryNewFromToc(nullptr, record);
    }
    if (plain) {
        check(again != nullptr);
        check(std::strcmp(again->id, entry->id) == 0);
        check(std::strcmp(again->version, entry->version) == 0);
        check(std::strcmp(again->location, entry->location) == 0);
        check(again->reference_count == entry->reference_count && again->state == entry->state &&
              again->checksum == entry->checksum && again->deadline == entry->deadline);
        check(again->propertiesLength == entry->propertiesLength);
        check(entry->propertiesLength == 0 ||
              std::memcmp(again->properties, entry->properties, entry->propertiesLength) == 0);
    }
    KesMemoryFree(record);
    DepotEntryFree(&status, nullptr, again);
    DepotEntryFree(&status, nullptr, entry);
}

void throughTheDepot(const Scratch &scratch, const std::string &bytes) {
    KesStatus status;
    Depot *depot = nullptr;
    DepotNew(&status, &depot, scratch.dir().c_str(), 0);
    check(status.code == 0);

    DepotEntry *held = DepotEntryNew();
    held->id = KesStringDup("seg1");
    held->version = KesStringDup("1.0");
    held->location = KesStringDup((scratch.dir() + "/00000108.0.dat").c_str());
    char *record = nullptr;
    uint32_t length = 0;
    DepotEntrySetProperties(&status, depot, held, &record, &length);
    write(scratch.entryFile(), std::string(record, length));
    KesMemoryFree(record);
    DepotEntryFree(&status, nullptr, held);
    check(DepotGetEntry(depot, "seg1", "1.0") != nullptr);

    write(scratch.entryFile(), bytes);
    DepotGetEntry(depot, "seg1", "1.0");  // checked against the file, refreshed
    DepotGetEntry(depot, "seg1", "1.5");  // a scan of the bucket
    DepotEntryEnum *walk = nullptr;
    if (DepotEnumNew(&status, depot, &walk)->code == 0) {
        while (DepotEntry *entry = DepotEntryEnumNextElement(walk)) {
            KesStatus freed;
            DepotFreeEntry(&freed, depot, entry);
        }
        DepotEntryEnumDelete(&status, walk);
    }
    DepotFree(&status, depot);
    std::filesystem::remove(scratch.entryFile());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static Scratch scratch;
    const std::string bytes(reinterpret_cast<const char *>(data), size);
    roundTrip(bytes);
    throughTheDepot(scratch, bytes);
    return 0;
}
