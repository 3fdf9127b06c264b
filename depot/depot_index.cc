// The directory index (see depot_index.hpp).
#include "depot/depot_index.hpp"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <unordered_map>
#include <vector>

#include "depot/depot_handle.hpp"
#include "depot/depot_list.hpp"
#include "kes/kes_dir.h"
#include "kes/kes_dir_watch.hpp"
#include "kes/kes_file.h"
#include "kes/kes_file_guard.hpp"

namespace korvo::depot {
namespace {

// The numbers the names of a bucket carry, with the smallest one free: runs
// of consecutive numbers, and how many names carry each number.
class NumberSet {
  public:
    void add(int32_t number) {
        if (number >= 0 && ++counts_[number] == 1)
            insert(number);
    }
    void remove(int32_t number) {
        const auto found = counts_.find(number);
        if (found == counts_.end() || --found->second > 0)
            return;
        counts_.erase(found);
        erase(number);
    }
    // -1 when every number is taken.
    int32_t smallestFree() const {
        if (runs_.empty() || runs_.begin()->first > 0)
            return 0;
        const int64_t next = static_cast<int64_t>(runs_.begin()->second) + 1;
        return next > INT32_MAX ? -1 : static_cast<int32_t>(next);
    }

  private:
    void insert(int32_t number) {
        auto next = runs_.upper_bound(number);
        const bool joinsNext = next != runs_.end() && next->first - 1 == number;
        if (next != runs_.begin()) {
            const auto previous = std::prev(next);
            if (static_cast<int64_t>(previous->second) + 1 == number) {
                previous->second = joinsNext ? next->second : number;
                if (joinsNext)
                    runs_.erase(next);
                return;
            }
        }
        if (joinsNext) {
            const int32_t last = next->second;
            runs_.erase(next);
            runs_.emplace(number, last);
        } else {
            runs_.emplace(number, number);
        }
    }
    void erase(int32_t number) {
        auto run = runs_.upper_bound(number);
        if (run == runs_.begin())
            return;
        --run;
        const auto [first, last] = *run;
        if (last < number)
            return;
        runs_.erase(run);
        if (first < number)
            runs_.emplace(first, number - 1);
        if (number < last)
            runs_.emplace(number + 1, last);
    }

    std::unordered_map<int32_t, int> counts_;
    std::map<int32_t, int32_t> runs_;  // first -> last of each run
};

// Every change of a name's file gets a number never given before, so that an
// object can tell whether its file changed since it last read or wrote it.
uint64_t NextGeneration() {
    static std::atomic<uint64_t> counter{0};
    return ++counter;
}

struct NameInfo {
    int32_t number = 0;
    uint64_t generation = NextGeneration();
    bool known = false;    // the file was read or written since its last change
    bool segment = false;  // known, and it held a segment: `hint`
    uint64_t hint = 0;
    int ownReplacements = 0;  // our renames over the name not yet seen as changes
};

struct BucketIndex {
    std::map<std::string, NameInfo, std::less<>> names;
    std::set<std::string, std::less<>> unknown;
    std::unordered_multimap<uint64_t, std::string> byHint;
    NumberSet numbers;

    void forgetHint(const std::string &name, NameInfo &info) {
        if (info.segment) {
            auto [first, last] = byHint.equal_range(info.hint);
            for (; first != last; ++first)
                if (first->second == name) {
                    byHint.erase(first);
                    break;
                }
        }
        info.segment = false;
        info.known = false;
    }
};

}  // namespace

struct DirectoryIndex {
    int watch = -1;
    bool current = false;  // the names are complete
    size_t nameCount = 0;
    int users = 0;  // handles attached
    std::unordered_map<std::string, BucketIndex> buckets;

    void forget() {
        current = false;
        nameCount = 0;
        buckets.clear();
    }

    BucketIndex *bucketOf(std::string_view name, bool create) {
        const std::string bucket(name.substr(0, 8));
        if (create)
            return &buckets[bucket];
        const auto found = buckets.find(bucket);
        return found == buckets.end() ? nullptr : &found->second;
    }

    // A name appeared (or was replaced); false when the index grew too big.
    bool added(std::string_view name) {
        if (!IsEntryFileName(name) || name.size() < 8)
            return true;
        BucketIndex &bucket = *bucketOf(name, true);
        const auto found = bucket.names.find(name);
        if (found != bucket.names.end()) {
            if (found->second.ownReplacements > 0) {
                --found->second.ownReplacements;
            } else {
                found->second.generation = NextGeneration();
                modified(bucket, found->first, found->second);
            }
            return true;
        }
        if (++nameCount > kMaxIndexedNames)
            return false;
        const std::string copy(name);
        NameInfo info;
        info.number = EntryNumber(name);
        bucket.names.emplace(copy, info);
        bucket.unknown.insert(copy);
        bucket.numbers.add(info.number);
        return true;
    }

    void removed(std::string_view name) {
        BucketIndex *bucket = name.size() >= 8 ? bucketOf(name, false) : nullptr;
        if (bucket == nullptr)
            return;
        const auto found = bucket->names.find(name);
        if (found == bucket->names.end())
            return;
        bucket->forgetHint(found->first, found->second);
        bucket->unknown.erase(found->first);
        bucket->numbers.remove(found->second.number);
        bucket->names.erase(found);
        --nameCount;
    }

    void modified(BucketIndex &bucket, const std::string &name, NameInfo &info) {
        info.generation = NextGeneration();
        if (!info.known)
            return;
        bucket.forgetHint(name, info);
        bucket.unknown.insert(name);
    }

    void modified(std::string_view name) {
        BucketIndex *bucket = name.size() >= 8 ? bucketOf(name, false) : nullptr;
        if (bucket == nullptr)
            return;
        const auto found = bucket->names.find(name);
        if (found != bucket->names.end())
            modified(*bucket, found->first, found->second);
    }

    void note(BucketIndex &bucket, const std::string &name, std::optional<uint64_t> segment) {
        const auto found = bucket.names.find(name);
        if (found == bucket.names.end())
            return;
        NameInfo &info = found->second;
        bucket.forgetHint(found->first, info);
        bucket.unknown.erase(found->first);
        info.known = true;
        if (segment) {
            info.segment = true;
            info.hint = *segment;
            bucket.byHint.emplace(*segment, found->first);
        }
    }
};

namespace {

bool WatchDisabled() {
    const char *setting = std::getenv("KORVO_DEPOT_WATCH");
    return setting != nullptr && std::strcmp(setting, "0") == 0;
}

struct IdentityOrder {
    bool operator()(const korvo::kes::FileIdentity &a, const korvo::kes::FileIdentity &b) const {
        return a.device != b.device ? a.device < b.device : a.inode < b.inode;
    }
};

class Notifier {
  public:
    std::mutex mutex;

    // The up-to-date index of the handle's directory `dir`, attaching the
    // handle to it; NULL when it cannot be indexed. The caller holds `mutex`.
    DirectoryIndex *open(HandleState &handle, const char *dir) {
        if (WatchDisabled())
            return nullptr;
        if (owner_ != korvo::kes::ProcessId())
            restart();
        if (!watcher_)
            return nullptr;
        korvo::kes::FileIdentity identity;
        if (!korvo::kes::IdentityOf(dir, &identity))
            return nullptr;
        try {
            DirectoryIndex &index = attach(handle, identity);
            drain();
            // The listing is repeated when notifications were lost meanwhile.
            for (int attempt = 0; attempt < 3 && !index.current; ++attempt) {
                if (!rebuild(index, dir))
                    return nullptr;
                drain();
            }
            return index.current ? &index : nullptr;
        } catch (const std::exception &) {
            // Out of memory half-way: nothing the index holds can be trusted.
            forgetAll();
            return nullptr;
        }
    }

    void detach(HandleState &handle) {
        IndexAttachment &attachment = handle.index;
        if (attachment.attached && attachment.epoch == epoch_) {
            const auto found = indexes_.find(attachment.identity);
            if (found != indexes_.end() && --found->second->users <= 0) {
                if (found->second->watch >= 0) {
                    byWatch_.erase(found->second->watch);
                    watcher_->unwatch(found->second->watch);
                }
                indexes_.erase(found);
            }
        }
        attachment.attached = false;
    }

  private:
    // A process that forked shares the parent's notification queue, where
    // either would take the other's changes: each process starts its own.
    void restart() {
        indexes_.clear();
        byWatch_.clear();
        ++epoch_;
        owner_ = korvo::kes::ProcessId();
        watcher_ = korvo::kes::NewDirWatcher();
    }

    DirectoryIndex &attach(HandleState &handle, const korvo::kes::FileIdentity &identity) {
        IndexAttachment &attachment = handle.index;
        if (attachment.attached &&
            (attachment.epoch != epoch_ || !(attachment.identity == identity)))
            detach(handle);
        std::unique_ptr<DirectoryIndex> &slot = indexes_[identity];
        if (!slot)
            slot = std::make_unique<DirectoryIndex>();
        if (!attachment.attached) {
            ++slot->users;
            attachment = IndexAttachment{true, identity, epoch_};
        }
        return *slot;
    }

    // Watches the directory and lists it; changes queued from here on are
    // applied by the next drain, which makes the names exact.
    bool rebuild(DirectoryIndex &index, const char *dir) {
        const int watch = watcher_->watch(dir);
        if (watch < 0)
            return false;
        if (index.watch != watch) {
            if (const auto old = byWatch_.find(index.watch);
                old != byWatch_.end() && old->second == &index)
                byWatch_.erase(old);
            index.watch = watch;
            byWatch_[watch] = &index;
        }
        index.forget();
        KesDir *listing = nullptr;
        KesStatus status;
        if (KesDirOpen(&status, &listing, dir)->code != KES_OK) {
            KesDirClose(&status, listing);
            return false;
        }
        char name[KES_DIR_NAME_SIZE];
        bool fits = true;
        while (fits && KesDirReadDirectory(&status, name, listing)->code == KES_OK)
            fits = index.added(name);
        const bool complete = fits && status.code == KES_END;
        KesDirClose(&status, listing);
        if (!complete)
            index.forget();
        index.current = complete;
        return complete;
    }

    void drain() {
        watcher_->drain([this](int watch, korvo::kes::DirChange change, std::string_view name) {
            apply(watch, change, name);
        });
    }

    void apply(int watch, korvo::kes::DirChange change, std::string_view name) {
        using korvo::kes::DirChange;
        if (change == DirChange::kLost)
            return forgetAll();
        const auto found = byWatch_.find(watch);
        if (found == byWatch_.end())
            return;
        DirectoryIndex &index = *found->second;
        if (change == DirChange::kDirectoryGone) {
            index.forget();
            index.watch = -1;
            byWatch_.erase(found);
            return;
        }
        if (!index.current)
            return;
        switch (change) {
            case DirChange::kAdded:
                if (!index.added(name))
                    index.forget();
                break;
            case DirChange::kRemoved:
                index.removed(name);
                break;
            case DirChange::kModified:
                index.modified(name);
                break;
            case DirChange::kDirectoryChanged:
                // What can be read may have changed for every name.
                for (auto &[bucketName, bucket] : index.buckets)
                    for (auto &[entryName, info] : bucket.names)
                        index.modified(bucket, entryName, info);
                break;
            default:
                break;
        }
    }

    void forgetAll() {
        for (auto &[identity, index] : indexes_)
            index->forget();
    }

    pid_t owner_ = 0;
    uint64_t epoch_ = 0;
    std::unique_ptr<korvo::kes::DirWatcher> watcher_;
    std::map<korvo::kes::FileIdentity, std::unique_ptr<DirectoryIndex>, IdentityOrder> indexes_;
    std::unordered_map<int, DirectoryIndex *> byWatch_;
};

Notifier &notifier() {
    static Notifier instance;
    return instance;
}

// The outermost session of the calling thread.
thread_local IndexSession *outermost = nullptr;
thread_local const std::string *outermostDir = nullptr;
thread_local DirectoryIndex *outermostIndex = nullptr;

}  // namespace

uint64_t SegmentHash(std::string_view id, std::string_view version) {
    // FNV-1a over the id, a separator no text holds, and the version.
    uint64_t hash = 0xcbf29ce484222325u;
    const auto mix = [&](unsigned char byte) {
        hash ^= byte;
        hash *= 0x100000001b3u;
    };
    for (const char c : id)
        mix(static_cast<unsigned char>(c));
    mix(0);
    for (const char c : version)
        mix(static_cast<unsigned char>(c));
    return hash;
}

IndexSession::IndexSession(Depot *depot) {
    try {
        if (depot == nullptr || depot->dir == nullptr)
            return;
        dir_ = depot->dir;
        // A session inside another one of the same directory shares its view:
        // the operation pays once for bringing it up to date.
        if (outermost != nullptr && *outermostDir == dir_) {
            index_ = outermostIndex;
            return;
        }
        {
            const std::lock_guard guard(notifier().mutex);
            index_ = notifier().open(StateOf(depot), depot->dir);
        }
        if (outermost == nullptr) {
            outermost = this;
            outermostDir = &dir_;
            outermostIndex = index_;
            outer_ = true;
        }
    } catch (const std::exception &) {
        dir_.clear();
        index_ = nullptr;
    }
}

IndexSession::~IndexSession() {
    if (outer_) {
        outermost = nullptr;
        outermostDir = nullptr;
        outermostIndex = nullptr;
    }
}

bool IndexSession::visitBucket(std::string_view bucketName, uint64_t segment, int32_t *freeNumber,
                               const Visit &visit) {
    if (index_ == nullptr)
        return false;
    const std::lock_guard guard(notifier().mutex);
    // Another thread's drain may have found the notifications lost since the
    // session began: then the names are incomplete.
    if (!index_->current)
        return false;
    const auto found = index_->buckets.find(std::string(bucketName));
    if (found == index_->buckets.end()) {
        *freeNumber = 0;
        return true;
    }
    BucketIndex &bucket = found->second;
    *freeNumber = bucket.numbers.smallestFree();
    bool stop = false;
    const std::vector<std::string> unknown(bucket.unknown.begin(), bucket.unknown.end());
    for (const std::string &name : unknown) {
        const std::optional<uint64_t> held = visit(name, &stop);
        index_->note(bucket, name, held);
        if (stop)
            return true;
    }
    std::vector<std::string> hinted;
    for (auto [first, last] = bucket.byHint.equal_range(segment); first != last; ++first)
        if (!std::binary_search(unknown.begin(), unknown.end(), first->second))
            hinted.push_back(first->second);
    std::sort(hinted.begin(), hinted.end());
    for (const std::string &name : hinted) {
        const std::optional<uint64_t> held = visit(name, &stop);
        index_->note(bucket, name, held);
        if (stop)
            return true;
    }
    return true;
}

std::string_view IndexSession::nameOf(std::string_view path) const {
    if (dir_.empty() || path.size() <= dir_.size() + 1 || path.substr(0, dir_.size()) != dir_ ||
        path[dir_.size()] != '/')
        return {};
    const std::string_view name = path.substr(dir_.size() + 1);
    return name.find('/') == std::string_view::npos ? name : std::string_view{};
}

KesStatus *IndexSession::replace(KesStatus *status, const char *temporary, const char *path,
                                 uint64_t segment, std::optional<uint64_t> *generation) {
    if (generation != nullptr)
        generation->reset();
    const std::string_view name = index_ != nullptr ? nameOf(path) : std::string_view{};
    if (name.empty() || !IsEntryFileName(name) || name.size() < 8)
        return KesFileRename(status, temporary, path);
    // The rename and the note of it happen under the index's mutex, so that
    // no drain in between takes our own change for a stranger's.
    const std::lock_guard guard(notifier().mutex);
    if (KesFileRename(status, temporary, path)->code != KES_OK || !index_->current)
        return status;
    try {
        if (!index_->added(name)) {
            index_->forget();
            return status;
        }
        BucketIndex &bucket = *index_->bucketOf(name, true);
        const std::string copy(name);
        index_->note(bucket, copy, segment);
        NameInfo &info = bucket.names.find(copy)->second;
        ++info.ownReplacements;
        info.generation = NextGeneration();
        if (generation != nullptr)
            *generation = info.generation;
    } catch (const std::exception &) {
        // Listed again at the next session rather than trusted half-noted.
        index_->forget();
    }
    return status;
}

std::optional<uint64_t> IndexSession::generationOf(const char *path) const {
    const std::string_view name =
        index_ != nullptr && path != nullptr ? nameOf(path) : std::string_view{};
    if (name.empty() || name.size() < 8)
        return std::nullopt;
    const std::lock_guard guard(notifier().mutex);
    if (!index_->current)
        return std::nullopt;
    const BucketIndex *bucket = index_->bucketOf(name, false);
    if (bucket == nullptr)
        return std::nullopt;
    const auto found = bucket->names.find(name);
    if (found == bucket->names.end())
        return std::nullopt;
    return found->second.generation;
}

void DetachIndex(Depot *depot) {
    const std::lock_guard guard(notifier().mutex);
    notifier().detach(StateOf(depot));
}

bool IsEntryFileName(std::string_view name) {
    return name.size() > 3 && name.substr(name.size() - 3) == "xml";
}

int32_t EntryNumber(std::string_view name) {
    if (name.size() < 10)
        return -1;
    size_t i = 9;
    while (i < name.size() && (name[i] == ' ' || (name[i] >= '\t' && name[i] <= '\r')))
        ++i;
    bool negative = false;
    if (i < name.size() && (name[i] == '+' || name[i] == '-'))
        negative = name[i++] == '-';
    int64_t value = 0;
    for (; i < name.size() && name[i] >= '0' && name[i] <= '9'; ++i)
        value = std::min<int64_t>(value * 10 + (name[i] - '0'), int64_t{INT32_MAX} + 1);
    if (negative)
        return static_cast<int32_t>(std::max<int64_t>(-value, INT32_MIN));
    return static_cast<int32_t>(std::min<int64_t>(value, INT32_MAX));
}

}  // namespace korvo::depot
