// The index of one depot directory: per bucket, the entry-file names, the
// number each carries, and the segment each file held when this process last
// read or wrote it (see depot_index.hpp for how lookups use it).
//
// Internal to the depot. Not locked itself: every use runs under the
// notifier's mutex (depot_index_notifier.hpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>

#include "depot/depot_number_set.hpp"

namespace korvo::depot {

// A number never given before, for each change of a name's file, so that an
// object can tell whether its file changed since it last read or wrote it.
uint64_t NextGeneration();

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

struct DirectoryIndex {
    int watch = -1;
    bool current = false;  // the names are complete
    size_t nameCount = 0;
    int users = 0;  // handles attached
    std::unordered_map<std::string, BucketIndex> buckets;

    void forget();
    BucketIndex *bucketOf(std::string_view name, bool create);
    // A name appeared (or was replaced); false when the index grew too big.
    bool added(std::string_view name);
    void removed(std::string_view name);
    void modified(BucketIndex &bucket, const std::string &name, NameInfo &info);
    void modified(std::string_view name);
    // What reading the name's file found: the segment it holds, or nothing.
    void note(BucketIndex &bucket, const std::string &name, std::optional<uint64_t> segment);
};

}  // namespace korvo::depot
