#include "distribution_toc.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <filesystem>
#include <set>
#include <utility>

#include "failure.hpp"
#include "host_files.hpp"
#include "output.hpp"
#include "properties/korvo_keys.h"
#include "properties/korvo_properties.h"
#include "properties/property_files.h"
#include "property_view.hpp"
#include "runtime/mg_memory.h"
#include "runtime/seq.h"

namespace korvo::cli {
namespace {

namespace fs = std::filesystem;

// The last name of a path, after the host's last separator (on Windows
// '\\' and a drive's ':' as well as '/').
std::string base_name(const std::string &path) {
    size_t slash = path.find_last_of(host::kPathSeparators);
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The size of a regular file that a segment can hold (segment sizes are
// 32-bit).
int32_t data_file_size(const std::string &path, const std::string &what) {
    struct stat status {};
    if (stat(path.c_str(), &status) != 0)
        throw Failure(kExitNotFound, what + " " + quote_path(path) + " does not exist");
    if (!S_ISREG(status.st_mode))
        throw Failure(kExitFailed, what + " " + quote_path(path) + " is not a regular file");
    if (status.st_size > INT32_MAX)
        throw Failure(kExitFailed, what + " " + quote_path(path) +
                                       " is larger than a segment may be (2^31 - 1 bytes)");
    return static_cast<int32_t>(status.st_size);
}

// A new segment: id, version, size, offset 0.
void start_segment(Properties &segment, const std::string &id, const std::string &version,
                   int32_t size) {
    library_call([&] {
        properties_put_string_dup(&segment, SEGMENT_ID_KEY, id.c_str());
        properties_put_string_dup(&segment, SEGMENT_VERSION_KEY, version.c_str());
        properties_put_long_dup(&segment, SEGMENT_SIZE_KEY, size);
        properties_put_long_dup(&segment, SEGMENT_OFFSET_KEY, 0);
    });
}

// A segment under construction, freed unless the TOC took it.
struct PendingSegment {
    Properties list{};
    ~PendingSegment() { properties_delete(&list); }
};

std::vector<std::string> matching(const std::string &dir, const std::string &suffix) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto &item : fs::directory_iterator(dir, error)) {
        std::string name = item.path().filename().string();
        if (name.size() > suffix.size() && name.ends_with(suffix))
            names.push_back(name);
    }
    // In listing order, not sorted: the library's search of the directory
    // finds the segments in that order and hands the stream their data
    // files in it, so the TOC must list them the same way for each segment's
    // data to land in its own output file.
    return names;
}

}  // namespace

DistributionToc::~DistributionToc() {
    properties_list_delete(&list_);
}

DistributionToc::DistributionToc(DistributionToc &&other) noexcept : list_(other.list_) {
    other.list_ = PropertiesList{};
}

DistributionToc &DistributionToc::operator=(DistributionToc &&other) noexcept {
    if (this != &other) {
        properties_list_delete(&list_);
        list_ = other.list_;
        other.list_ = PropertiesList{};
    }
    return *this;
}

uint64_t DistributionToc::total_bytes() const {
    uint64_t total = 0;
    for (uint32_t i = 0; i < list_.length; ++i)
        total += static_cast<uint64_t>(
            std::max(0, properties_get_long2(&list_.buffer[i], SEGMENT_SIZE_KEY, 0)));
    return total;
}

void DistributionToc::add(Properties &segment) {
    if (seq_add(&list_, &segment, sizeof segment) < 0)
        throw Failure(kExitFailed, "out of memory");
    segment = Properties{};
}

std::string segment_text(const Properties &segment, const char *key) {
    const char *value = properties_get_string2(&segment, key, nullptr);
    return value != nullptr ? value : "";
}

DistributionToc toc_from_file(const std::string &path) {
    struct stat status {};
    if (stat(path.c_str(), &status) != 0)
        throw Failure(kExitNotFound, "the TOC file " + quote_path(path) + " does not exist");
    DistributionToc toc;
    PropertyList file;
    library_call_about("cannot read the TOC file " + quote_path(path), [&] {
        properties_load(file.get(), path.c_str());
        const PropertiesList *list = properties_get_properties_list(file.get(), JOB_TOC_KEY);
        PropertiesList *copy = properties_list_clone(list);
        if (copy != nullptr) {  // the clone's contents move into the TOC, its header goes
            *toc.get() = *copy;
            mg_free(copy);
        }
    });
    return toc;
}

DistributionToc toc_from_data_files(const std::vector<std::string> &files) {
    DistributionToc toc;
    std::set<std::string> ids;
    for (const std::string &path : files) {
        if (path.find(',') != std::string::npos)
            throw Failure(kExitUsage,
                          "the data file " + quote_path(path) +
                              " has a comma in its name, which a file list cannot hold");
        int32_t size = data_file_size(path, "the data file");
        std::string id = base_name(path);
        if (!ids.insert(id).second)
            throw Failure(kExitUsage, "two data files are named " + quote_text(id));
        PendingSegment segment;
        start_segment(segment.list, id, "1", size);
        library_call(
            [&] { properties_put_string_dup(&segment.list, SEGMENT_DATA_PATH_KEY, path.c_str()); });
        toc.add(segment.list);
    }
    return toc;
}

DistributionToc toc_from_directory(const std::string &dir) {
    struct stat status {};
    if (stat(dir.c_str(), &status) != 0 || !S_ISDIR(status.st_mode))
        throw Failure(kExitNotFound, "the directory " + quote_path(dir) + " does not exist");
    DistributionToc toc;
    std::set<std::pair<std::string, std::string>> found;
    for (const char *suffix : {".toc", ".itc"}) {
        bool marked = std::string(suffix) == ".itc";
        for (const std::string &name : matching(dir, suffix)) {
            std::string path = dir + "/" + name;
            PropertyList description;
            std::string id, version, location;
            library_call_about("cannot read the description file " + quote_path(path), [&] {
                if (marked)
                    properties_load_improved(description.get(), path.c_str());
                else
                    properties_load_without_len(description.get(), path.c_str());
                const Properties *segment = properties_get_properties(description.get(), "segment");
                id = properties_get_string(segment, SEGMENT_ID_KEY);
                version = properties_get_string(segment, SEGMENT_VERSION_KEY);
                location = properties_get_string(segment, SEGMENT_LOCATION_KEY);
            });
            // The library's search takes the first description of a segment.
            if (!found.insert({id, version}).second)
                continue;
            int32_t size = data_file_size(dir + "/" + base_name(location),
                                          "the data file of " + id + "^" + version);
            PendingSegment segment;
            start_segment(segment.list, id, version, size);
            toc.add(segment.list);
        }
    }
    if (toc.size() == 0)
        throw Failure(kExitNotFound, "the directory " + quote_path(dir) +
                                         " holds no segment descriptions (*.toc, *.itc)");
    return toc;
}

}  // namespace korvo::cli
