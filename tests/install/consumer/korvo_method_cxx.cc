// korvo_method_cxx: the smallest method in C++, built against an installed
// korvo with <korvo/korvo.hpp>. It does what korvo_method.c does, with the
// C++ interface's owners and exceptions instead of releasers and the catch
// adapter:
//
//   korvo_method_cxx            works in a fresh temporary directory and
//                               removes it at the end
//   korvo_method_cxx WORK_DIR   works in WORK_DIR and keeps what it made
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <random>
#include <stdexcept>
#include <string>

#include <korvo/korvo.hpp>

namespace {

// A directory of this run's own under the endpoint's temporary directory.
std::filesystem::path make_temporary_dir() {
    std::random_device random;
    for (int tries = 0; tries < 100; ++tries) {
        std::filesystem::path dir = std::filesystem::path(cpl_tmpdir()) /
                                    ("korvo_method_cxx." + std::to_string(random()));
        if (std::filesystem::create_directory(dir))
            return dir;
    }
    throw std::runtime_error("no temporary directory could be made");
}

// The work directory, for the library's progress records.
void set_work_dir(const std::filesystem::path &dir) {
#ifdef _WIN32
    _putenv_s("KORVO_WORK_DIR", dir.string().c_str());
#else
    setenv("KORVO_WORK_DIR", dir.c_str(), 1);
#endif
}

constexpr std::string_view kData = "segment data";

// Stores seg-1 in the depot at `dir` and reads it back; removes it again
// unless `keep`.
void keep_segment(const std::string &dir, bool keep) {
    korvo::PropertyList segment = korvo::PropertyList::adopt(
        korvo_segment_new("seg-1", "1.0", static_cast<int32_t>(kData.size())));
    const std::string description = segment.encode();

    korvo::Depot depot = korvo::Depot::open(dir);
    korvo::DepotEntry entry = depot.add("seg-1", "1.0", std::as_bytes(std::span(description)));
    if (!entry)
        throw std::runtime_error("seg-1 cannot be added to " + dir);
    entry.open_for_write(true).write(kData);
    // A deadline a day from now; completing releases the entry object.
    entry.complete(static_cast<uint32_t>(std::time(nullptr)) + 86400);

    korvo::DepotEntry found = depot.get("seg-1", "1.0");
    if (!found)
        throw std::runtime_error("seg-1 is not in " + dir);
    const uint64_t size = found.file_size();
    std::cout << "depot: " << found->id << ' ' << found->version << " state " << found->state
              << ", " << size << " bytes in " << found->location << '\n';
    if (!keep)
        found.remove(true);
}

void keep_progress() {
    korvo::Progress record("dist-1");
    record.properties().put_string("t_len", "24").put_string("c_len", "12");
    record.save();
    std::cout << "progress: saved the record of " << record.dist_id() << " in " << record.get()->dir
              << '\n';
}

}  // namespace

int main(int argc, char **argv) {
    const bool keep = argc > 1;
    std::filesystem::path dir;
    try {
        korvo::init();
        if (keep) {
            dir = argv[1];
            std::filesystem::create_directories(dir);
        } else {
            dir = make_temporary_dir();
        }
        set_work_dir(dir);
        keep_segment((dir / "depot").string(), keep);
        keep_progress();

        // Asking a list for a key it does not hold raises catalog message 36.
        try {
            korvo::PropertyList list;
            list.get_string("no-such-key");
            return 1;
        } catch (const korvo::Error &e) {
            std::cout << "caught message " << e.number() << " of " << e.catalog() << ": "
                      << e.what();
        }
    } catch (const std::exception &e) {
        std::cerr << "korvo_method_cxx: " << e.what() << '\n';
        return 1;
    }
    if (!keep)
        std::filesystem::remove_all(dir);
    return 0;
}
