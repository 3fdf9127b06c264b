// Index sessions: one depot operation's use of its directory's index (see
// depot_index.hpp).
#include "depot/depot_index.hpp"

#include <algorithm>
#include <exception>
#include <mutex>
#include <vector>

#include "depot/depot_dir_index.hpp"
#include "depot/depot_handle.hpp"
#include "depot/depot_index_notifier.hpp"
#include "depot/depot_list.hpp"
#include "kes/kes_file.h"

namespace korvo::depot {
namespace {

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

}  // namespace korvo::depot
