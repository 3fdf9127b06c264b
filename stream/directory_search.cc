// The directory search: description files ("*.toc", then "*.itc") name the
// segments a directory holds; each unmarked segment they name whose data
// file is there is located.
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "kes/host_file.hpp"
#include "properties/helpers/dir_enum.h"
#include "properties/korvo_properties.h"
#include "properties/property_files.h"
#include "runtime/log.h"
#include "runtime/raise.hpp"
#include "stream/locating.hpp"
#include "stream/segment_search.h"

namespace korvo::stream {

namespace {

struct ListingFree {
    void operator()(DirEntryEnum *entries) const noexcept { dir_entry_enum_delete(entries); }
};
struct DirFree {
    void operator()(DirRecord *record) const noexcept { dir_delete(record); }
};

// A description file's list, released however the search ends.
struct Description : Properties {
    Description() : Properties{} {}
    ~Description() { properties_delete(this); }
    Description(const Description &) = delete;
    Description &operator=(const Description &) = delete;
};

struct Layout {
    const char *pattern;
    void (*load)(Properties *, const char *);
};
// "*.toc" first: a segment described both ways is taken from its "*.toc".
constexpr Layout kLayouts[] = {{"*.toc", properties_load_without_len},
                               {"*.itc", properties_load_improved}};

bool ends_in_separator(const std::string &text) {
    return !text.empty() && (text.back() == '/' || text.back() == '\\');
}

bool is_directory(const std::string &path) {
    korvo::host::FileInfo status;
    return korvo::host::StatPath(path.c_str(), &status) &&
           status.kind == korvo::host::FileKind::kDirectory;
}

std::string joined(const std::string &directory, const char *name) {
    return ends_in_separator(directory) ? directory + name : directory + '/' + name;
}

// The text after the last '/', or all of it.
const char *last_component(const char *location) {
    const char *slash = std::strrchr(location, '/');
    return slash != nullptr ? slash + 1 : location;
}

void passed_over(const std::string &path) {
    LogMsg(LOG_LEVEL_SURVIVED, 0, 0, -1,
           "korvo: Passed over a path too long for a path-name buffer: %s", path.c_str());
}

// The directory as the search names it: one trailing separator dropped, and
// a name that is no directory tried once more as a drive's root ("D:" then
// "D:\"). Nothing when neither is a directory.
std::optional<std::string> searched_directory(const char *name) {
    std::string directory(name);
    if (directory.size() > 1 && ends_in_separator(directory))
        directory.pop_back();
    if (!is_directory(directory)) {
        if (directory.size() > 1 && !ends_in_separator(directory))
            directory += '\\';
        if (!is_directory(directory))
            return std::nullopt;
    }
    if (!fits_path_buffer(directory)) {
        passed_over(directory);
        return std::nullopt;
    }
    return directory;
}

// One description file: every unmarked segment it names whose data file is
// in the directory is located.
void take_description(Toc *toc, const std::string &directory, const std::string &path,
                      const Layout &layout, const SegmentIndex &index, FoundPaths &paths) {
    Description description;
    layout.load(&description, path.c_str());
    const Properties *segment = properties_get_properties(&description, "segment");
    const std::vector<Segment *> *matches =
        index.find(properties_get_string(segment, "id"), properties_get_string(segment, "version"));
    if (matches == nullptr)
        return;
    std::string data;
    for (Segment *wanted : *matches) {
        if (wanted->marked != 0)
            continue;
        if (data.empty()) {
            data = joined(directory, last_component(properties_get_string(segment, "location")));
            if (!fits_path_buffer(data)) {
                passed_over(data);
                return;
            }
        }
        const int32_t size = data_file_size(data);
        if (size < 0)
            return;  // no data file: the segment stays to be found elsewhere
        mark_located(toc, wanted, data, size);
        paths.add(data);
    }
}

}  // namespace

void search_directory(Toc *toc, const char *name, const SegmentIndex &index, FoundPaths &paths) {
    const std::optional<std::string> directory = searched_directory(name);
    if (!directory)
        return;
    const std::unique_ptr<DirRecord, DirFree> record(dir_new(directory->c_str()));
    if (record == nullptr)
        return;
    for (const Layout &layout : kLayouts) {
        const std::unique_ptr<DirEntryEnum, ListingFree> listing(
            dir_entries(record.get(), layout.pattern));
        if (listing == nullptr)
            continue;
        // Once every segment is marked the rest of the listing can find nothing.
        while (!all_marked(toc) && dir_entry_enum_has_more_elements(listing.get()) != 0) {
            const std::string path = joined(*directory, dir_entry_enum_next_element(listing.get()));
            if (!fits_path_buffer(path)) {
                passed_over(path);
                continue;
            }
            take_description(toc, *directory, path, layout, index, paths);
        }
    }
}

}  // namespace korvo::stream

using namespace korvo::stream;

extern "C" {

void net_stream_search_endpoint_depot(Toc *toc, const char *directory, StringList *paths) {
    if (toc == nullptr || directory == nullptr)
        return;
    korvo::rt::Frame frame;
    FoundPaths found = paths != nullptr ? FoundPaths(paths) : FoundPaths();
    search_directory(toc, directory, SegmentIndex(toc), found);
}
}
