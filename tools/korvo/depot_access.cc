#include "depot_access.hpp"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "command_registry.hpp"
#include "failure.hpp"
#include "progress_bar.hpp"
#include "properties/korvo_properties.h"
#include "properties/property_files.h"
#include "property_view.hpp"
#include "units.hpp"

namespace korvo::cli {
namespace {

std::string text_of(const char *text) {
    return text != nullptr ? text : "";
}

std::string status_text(const KesStatus &status) {
    return "code " + std::to_string(status.code) + ", system error " +
           std::to_string(status.osError) + ", step " + std::to_string(status.step);
}

}  // namespace

bool entry_properties(const EntryInfo &entry, PropertyList &list) {
    if (entry.properties.empty())
        return false;
    try {
        library_call([&] {
            properties_decode(TC_Vem_Korvo2__sequence_Property_Properties, entry.properties.data(),
                              static_cast<uint32_t>(entry.properties.size()), list.get());
        });
        return true;
    } catch (const LibraryFailure &) {
        return false;
    }
}

DepotHandle::DepotHandle(const std::string &dir, uint32_t limit_kb) : dir_(dir) {
    struct stat status {};
    if (stat(dir.c_str(), &status) != 0)
        throw Failure(errno == ENOENT ? kExitNotFound : kExitFailed,
                      "cannot use the depot directory " + dir + ": " + std::strerror(errno));
    if (!S_ISDIR(status.st_mode))
        throw Failure(kExitFailed, dir + " is not a directory");
    KesStatus result;
    DepotNew(&result, &depot_, dir.c_str(), limit_kb);
    if (depot_ == nullptr) {
        std::string advice = foreign_lock_advice();
        if (!advice.empty())
            throw Failure(kExitFailed, "cannot open the depot " + dir + ": " + advice);
        throw Failure(kExitFailed, "cannot open the depot " + dir + " (" + status_text(result) +
                                       "): its locks could not be had");
    }
}

DepotHandle::~DepotHandle() {
    KesStatus ignored;
    DepotFree(&ignored, depot_);
}

EntryInfo copy_entry(const DepotEntry *entry) {
    EntryInfo info;
    info.id = text_of(entry->id);
    info.version = text_of(entry->version);
    info.state = entry->state;
    info.reference_count = entry->reference_count;
    info.deadline = entry->deadline;
    info.checksum = entry->checksum;
    info.location = text_of(entry->location);
    info.entry_file = text_of(entry->entryFile);
    if (entry->properties != nullptr)
        info.properties.assign(entry->properties, entry->properties + entry->propertiesLength);
    return info;
}

EntryInfo read_entry(Depot *depot, DepotEntry *entry) {
    EntryInfo info = copy_entry(entry);
    KesStatus status;
    uint64_t size = 0;
    if (DepotEntryGetFileSize(&status, depot, entry, &size)->code == 0)
        info.data_size = size;
    return info;
}

size_t walk_entries(DepotHandle &depot, const std::function<bool(const EntryInfo &)> &visit) {
    KesStatus status;
    DepotEntryEnum *walk = nullptr;
    if (DepotEnumNew(&status, depot.get(), &walk)->code != 0 || walk == nullptr)
        throw Failure(kExitFailed,
                      "cannot walk the depot " + depot.dir() + " (" + status_text(status) + ")");
    size_t visited = 0;
    bool go_on = true;
    while (go_on) {
        DepotEntry *entry = DepotEntryEnumNextElement(walk);
        if (entry == nullptr)
            break;
        EntryInfo info = read_entry(depot.get(), entry);
        DepotFreeEntry(&status, depot.get(), entry);
        ++visited;
        go_on = visit(info);
    }
    DepotEntryEnumDelete(&status, walk);
    return visited;
}

size_t read_entries(DepotHandle &depot, const std::function<bool(const EntryInfo &)> &visit) {
    ProgressBar bar("reading the depot", ProgressUnit::kEntries, count_entry_files(depot.dir()),
                    !global_options().quiet, ProgressBar::Transient{});
    size_t visited = 0;
    size_t walked = walk_entries(depot, [&](const EntryInfo &entry) {
        bar.update(++visited);
        return visit(entry);
    });
    bar.clear();
    return walked;
}

bool is_entry_file_name(const std::string &name) {
    return name.size() > 3 && name.compare(name.size() - 3, 3, "xml") == 0;
}

size_t count_entry_files(const std::string &dir) {
    size_t count = 0;
    std::error_code error;
    for (const auto &item : std::filesystem::directory_iterator(dir, error))
        count += is_entry_file_name(item.path().filename().string());
    return count;
}

std::optional<EntryInfo> find_entry(DepotHandle &depot, const std::string &id,
                                    const std::string &version) {
    DepotEntry *entry = DepotGetEntry(depot.get(), id.c_str(), version.c_str());
    if (entry == nullptr)
        return std::nullopt;
    EntryInfo info = read_entry(depot.get(), entry);
    KesStatus status;
    DepotFreeEntry(&status, depot.get(), entry);
    return info;
}

std::string state_name(int32_t state) {
    switch (state) {
        case DepotStatePending:
            return "pending";
        case DepotStateComplete:
            return "complete";
        case DepotStateInUse:
            return "in use";
        default:
            return "state " + std::to_string(state);
    }
}

bool is_expired(const EntryInfo &entry, std::time_t now) {
    return entry.state == DepotStateComplete &&
           static_cast<uint64_t>(entry.deadline) < static_cast<uint64_t>(now);
}

bool purged_by_expiry(const EntryInfo &entry, std::time_t now, const WriterLocks &writers) {
    return is_expired(entry, now) ||
           (entry.state == DepotStatePending && !writers.held(entry.location));
}

std::optional<uint64_t> recorded_size(const EntryInfo &entry) {
    PropertyList list;
    if (!entry_properties(entry, list))
        return std::nullopt;
    int index = properties_get_property_index(list.get(), "size");
    if (index < 0)
        return std::nullopt;
    const Any &value = list.get()->buffer[index].value;
    if (value.type == TC_long && value.value != nullptr) {
        int32_t size = *static_cast<const int32_t *>(value.value);
        if (size >= 0)
            return static_cast<uint64_t>(size);
    }
    return std::nullopt;
}

Json entry_json(const EntryInfo &entry, std::time_t now) {
    Json json = {{"id", entry.id},
                 {"version", entry.version},
                 {"state", state_name(entry.state)},
                 {"state_code", entry.state},
                 {"reference_count", entry.reference_count},
                 {"deadline", entry.deadline},
                 {"deadline_local", format_local_time(static_cast<std::time_t>(entry.deadline))},
                 {"expired", is_expired(entry, now)},
                 {"checksum", entry.checksum},
                 {"size", entry.data_size ? Json(*entry.data_size) : Json(nullptr)},
                 {"data_file", entry.location},
                 {"entry_file", entry.entry_file},
                 {"property_bytes", entry.properties.size()}};
    PropertyList list;
    if (entry_properties(entry, list))
        json["properties"] = properties_json(*list.get());
    return json;
}

}  // namespace korvo::cli
