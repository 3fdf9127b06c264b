#include "depot_access.hpp"

#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

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

// The account name of `uid`, or its number.
std::string account_name(uid_t uid) {
    struct passwd entry {};
    struct passwd *found = nullptr;
    std::vector<char> buffer(16384);
    if (getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr)
        return found->pw_name;
    return "uid " + std::to_string(uid);
}

// When the depot's machine-wide lock objects belong to another account
// (the lock layer refuses them: that account could hold them for ever),
// what the user can do about it; empty otherwise. The objects live in
// /dev/shm as "korvo.<name>", or "korvo.<namespace>.<name>" under
// KORVO_LOCK_NAMESPACE.
std::string foreign_lock_advice() {
    const char *space = std::getenv("KORVO_LOCK_NAMESPACE");
    std::string prefix = "/dev/shm/korvo.";
    if (space != nullptr && *space != '\0')
        prefix += std::string(space) + ".";
    std::vector<std::string> objects;
    std::set<std::string> owners;
    for (const char *name : {"DEPOT", "ENUM", "ENTRY"}) {
        std::string path = prefix + name;
        struct stat status {};
        if (lstat(path.c_str(), &status) == 0 && status.st_uid != geteuid()) {
            objects.push_back(path);
            owners.insert(account_name(status.st_uid));
        }
    }
    if (objects.empty())
        return "";
    std::string listed, named;
    for (const std::string &object : objects)
        listed += (listed.empty() ? "" : ", ") + object;
    for (const std::string &owner : owners)
        named += (named.empty() ? "" : " and ") + owner;
    return "its lock objects " + listed + " belong to " + named +
           ", and this account may not share them. Run korvo as " + named +
           " (or an account of its group), or set KORVO_LOCK_NAMESPACE to a name of your own "
           "to use locks of this account alone (they do not keep out the methods that use "
           "the other locks, so only while none of them uses this depot)";
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

namespace {

std::string file_identity(dev_t device, ino_t inode) {
    char text[64];
    std::snprintf(text, sizeof text, "%02x:%02x:%llu", major(device), minor(device),
                  static_cast<unsigned long long>(inode));
    return text;
}

}  // namespace

WriterLocks::WriterLocks() {
    // "1: FLOCK  ADVISORY  WRITE 4242 08:01:1234567 0 EOF"
    std::ifstream locks("/proc/locks");
    std::string line;
    while (std::getline(locks, line)) {
        std::istringstream words(line);
        std::string number, kind, advisory, access, pid, identity;
        if (words >> number >> kind >> advisory >> access >> pid >> identity && kind == "FLOCK") {
            // The device is shown in hexadecimal and may be wider than two
            // digits; normalise it the way file_identity writes it.
            unsigned major_number = 0, minor_number = 0;
            unsigned long long inode = 0;
            if (std::sscanf(identity.c_str(), "%x:%x:%llu", &major_number, &minor_number, &inode) ==
                3)
                files_.insert(file_identity(makedev(major_number, minor_number), inode));
        }
    }
}

bool WriterLocks::held(const std::string &data_file) const {
    struct stat status {};
    return stat(data_file.c_str(), &status) == 0 &&
           files_.count(file_identity(status.st_dev, status.st_ino)) != 0;
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
