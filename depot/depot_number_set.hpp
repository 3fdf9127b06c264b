// The entry numbers that the names of one bucket carry, and the smallest
// number free for a new entry file. Plain value type, no locking: the
// directory index that holds it runs under the notifier's mutex.
#pragma once

#include <cstdint>
#include <map>
#include <unordered_map>

namespace korvo::depot {

// The numbers the names of a bucket carry, with the smallest one free: runs
// of consecutive numbers, and how many names carry each number.
class NumberSet {
  public:
    // Counts a name carrying `number` (negative numbers are not counted).
    void add(int32_t number);
    // Forgets one name carrying `number`.
    void remove(int32_t number);
    // -1 when every number is taken.
    int32_t smallestFree() const;

  private:
    void insert(int32_t number);
    void erase(int32_t number);

    std::unordered_map<int32_t, int> counts_;
    std::map<int32_t, int32_t> runs_;  // first -> last of each run
};

}  // namespace korvo::depot
