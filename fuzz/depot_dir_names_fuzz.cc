// Arbitrary names and kinds of things in a depot directory, as other programs
// and accounts may leave them: each input line is a kind letter and a name.
//   r  a regular file holding a well-formed record (of segment "seg<line>")
//   g  a regular file holding the name itself
//   e  an empty regular file
//   d  a directory
//   p  a FIFO
//   l  a symbolic link to a file outside the depot
//   h  a hard link to that outside file
// An upper-case letter plants the same kind under the bucket name of segment
// "seg0" followed by the name, where that segment's lookup will look. A
// record's data file is its name with "xml" at the end replaced by "dat".
// The depot is then opened, looked into, added to, walked and purged twice.
// Nothing may crash, leak, block on the FIFOs, or change or remove the file
// outside the depot.
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "depot/depot.h"
#include "fuzz/fuzz_check.hpp"
#include "kes/kes_memory.h"
#include "kes/kes_string.h"
#include "runtime/log.h"

namespace {

namespace fs = std::filesystem;
using korvo::fuzz::check;

constexpr size_t kMostLines = 24;
constexpr size_t kLongestName = 80;
constexpr const char *kOutsideBytes = "not the depot's to touch\n";

void quiet(void *, int32_t, const char *) {}

std::string readAll(const fs::path &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void writeAll(const fs::path &path, const std::string &bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// A lock namespace and a scratch folder of this process; the folder holds
// the depot directory and, beside it, the file that must stay untouched.
// libFuzzer may end a process without running destructors, so folders of
// fuzzing processes that have ended are removed when the next one starts.
class Scratch {
  public:
    Scratch() {
        const std::string space = "fuzzdn" + std::to_string(::getpid());
        ::setenv("KORVO_LOCK_NAMESPACE", space.c_str(), 1);
        log_set_capture(quiet, nullptr);
        const fs::path temporary = fs::temp_directory_path();
        for (const auto &entry : fs::directory_iterator(temporary)) {
            const std::string name = entry.path().filename().string();
            if (name.rfind("depot-names-", 0) == 0 &&
                ::kill(std::atoi(name.c_str() + 12), 0) != 0 && errno == ESRCH) {
                std::error_code ignored;
                fs::remove_all(entry.path(), ignored);
            }
        }
        root_ = temporary / ("depot-names-" + std::to_string(::getpid()));
        fs::create_directories(root_);
        outside_ = root_ / "outside.dat";
        // The lock objects lose their names once this process holds them.
        KesStatus status;
        Depot *depot = nullptr;
        DepotNew(&status, &depot, dir().c_str(), 0);
        DepotFree(&status, depot);
        for (const char *lock : {"DEPOT", "ENTRY", "ENUM"})
            ::shm_unlink(("/korvo." + space + "." + lock).c_str());
    }
    ~Scratch() {
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }
    std::string dir() const { return (root_ / "depot").string(); }
    const fs::path &outside() const { return outside_; }

  private:
    fs::path root_;
    fs::path outside_;
};

// The record of a complete entry of segment `id` whose data file is `data`.
std::string recordOf(const std::string &id, const std::string &data) {
    DepotEntry *entry = DepotEntryNew();
    entry->id = KesStringDup(id.c_str());
    entry->version = KesStringDup("1");
    entry->location = KesStringDup(data.c_str());
    entry->state = 1;
    entry->reference_count = 1;
    KesStatus status;
    char *text = nullptr;
    uint32_t length = 0;
    DepotEntrySetProperties(&status, nullptr, entry, &text, &length);
    std::string record = status.code == 0 && text != nullptr ? std::string(text) : std::string();
    KesMemoryFree(text);
    DepotEntryFree(&status, nullptr, entry);
    return record;
}

// A name the directory can hold: no '/', no NUL, not "." or "..", short.
std::string usableName(std::string name) {
    for (char &c : name)
        if (c == '/' || c == '\0')
            c = '_';
    if (name.size() > kLongestName)
        name.resize(kLongestName);
    if (name.empty() || name == "." || name == "..")
        name = "x" + name;
    return name;
}

// The bucket name of segment "seg0", version "1".
std::string firstBucket() {
    char *bucket = DepotFindBucket("seg0", "1");
    std::string name = bucket != nullptr ? bucket : "";
    KesMemoryFree(bucket);
    return name;
}

std::string dataName(const std::string &name) {
    if (name.size() >= 3 && name.compare(name.size() - 3, 3, "xml") == 0)
        return name.substr(0, name.size() - 3) + "dat";
    return name + ".dat";
}

void plant(const Scratch &scratch, size_t line, char kind, std::string name) {
    if (kind >= 'A' && kind <= 'Z') {
        name = usableName(firstBucket() + name);
        kind = static_cast<char>(kind - 'A' + 'a');
    }
    const fs::path path = fs::path(scratch.dir()) / name;
    std::error_code ignored;
    fs::remove_all(path, ignored);
    switch (kind) {
        case 'r':
            writeAll(path,
                     recordOf("seg" + std::to_string(line), scratch.dir() + "/" + dataName(name)));
            break;
        case 'g':
            writeAll(path, name);
            break;
        case 'e':
            writeAll(path, "");
            break;
        case 'd':
            fs::create_directory(path, ignored);
            break;
        case 'p':
            ::mkfifo(path.c_str(), 0600);
            break;
        case 'l':
            fs::create_symlink(scratch.outside(), path, ignored);
            break;
        case 'h':
            fs::create_hard_link(scratch.outside(), path, ignored);
            break;
        default:
            break;
    }
}

// Every operation that reads or changes the directory's names.
void exercise(const Scratch &scratch, size_t lines) {
    KesStatus status;
    Depot *depot = nullptr;
    DepotNew(&status, &depot, scratch.dir().c_str(), 0);
    check(status.code == 0 && depot != nullptr);
    for (size_t line = 0; line < lines; ++line) {
        const std::string id = "seg" + std::to_string(line);
        if (DepotEntry *found = DepotGetEntry(depot, id.c_str(), "1"))
            DepotFreeEntry(&status, depot, found);
    }
    if (DepotEntry *added = DepotAddEntry(depot, "fresh", "1", DepotPropertyBlock{})) {
        if (added->state == 0)
            DepotCompleteEntry(&status, depot, added, 0);
        else
            DepotFreeEntry(&status, depot, added);
    }
    DepotEntryEnum *walk = nullptr;
    if (DepotEnumNew(&status, depot, &walk)->code == 0) {
        while (DepotEntry *entry = DepotEntryEnumNextElement(walk)) {
            KesStatus freed;
            DepotFreeEntry(&freed, depot, entry);
        }
        DepotEntryEnumDelete(&status, walk);
    }
    DepotPurgeExpiredEntries(&status, depot);
    DepotPurge(&status, depot, 1);
    DepotFree(&status, depot);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static Scratch scratch;
    std::error_code ignored;
    fs::remove_all(scratch.dir(), ignored);
    fs::create_directories(scratch.dir());
    writeAll(scratch.outside(), kOutsideBytes);

    std::istringstream input(std::string(reinterpret_cast<const char *>(data), size));
    std::string text;
    size_t lines = 0;
    while (lines < kMostLines && std::getline(input, text)) {
        if (text.empty())
            continue;
        plant(scratch, lines, text[0], usableName(text.substr(1)));
        ++lines;
    }
    exercise(scratch, lines);

    struct stat outside {};
    check(::lstat(scratch.outside().c_str(), &outside) == 0 && S_ISREG(outside.st_mode));
    check(readAll(scratch.outside()) == kOutsideBytes);
    return 0;
}
