// The index of one depot directory (see depot_dir_index.hpp).
#include "depot/depot_dir_index.hpp"

#include <algorithm>
#include <atomic>
#include <climits>

#include "depot/depot_index.hpp"

namespace korvo::depot {

uint64_t NextGeneration() {
    static std::atomic<uint64_t> counter{0};
    return ++counter;
}

void DirectoryIndex::forget() {
    current = false;
    nameCount = 0;
    buckets.clear();
}

BucketIndex *DirectoryIndex::bucketOf(std::string_view name, bool create) {
    const std::string bucket(name.substr(0, 8));
    if (create)
        return &buckets[bucket];
    const auto found = buckets.find(bucket);
    return found == buckets.end() ? nullptr : &found->second;
}

bool DirectoryIndex::added(std::string_view name) {
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

void DirectoryIndex::removed(std::string_view name) {
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

void DirectoryIndex::modified(BucketIndex &bucket, const std::string &name, NameInfo &info) {
    info.generation = NextGeneration();
    if (!info.known)
        return;
    bucket.forgetHint(name, info);
    bucket.unknown.insert(name);
}

void DirectoryIndex::modified(std::string_view name) {
    BucketIndex *bucket = name.size() >= 8 ? bucketOf(name, false) : nullptr;
    if (bucket == nullptr)
        return;
    const auto found = bucket->names.find(name);
    if (found != bucket->names.end())
        modified(*bucket, found->first, found->second);
}

void DirectoryIndex::note(BucketIndex &bucket, const std::string &name,
                          std::optional<uint64_t> segment) {
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
