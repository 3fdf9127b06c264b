// Runs of consecutive entry numbers (see depot_number_set.hpp).
#include "depot/depot_number_set.hpp"

#include <climits>
#include <iterator>

namespace korvo::depot {

void NumberSet::add(int32_t number) {
    if (number >= 0 && ++counts_[number] == 1)
        insert(number);
}

void NumberSet::remove(int32_t number) {
    const auto found = counts_.find(number);
    if (found == counts_.end() || --found->second > 0)
        return;
    counts_.erase(found);
    erase(number);
}

int32_t NumberSet::smallestFree() const {
    if (runs_.empty() || runs_.begin()->first > 0)
        return 0;
    const int64_t next = static_cast<int64_t>(runs_.begin()->second) + 1;
    return next > INT32_MAX ? -1 : static_cast<int32_t>(next);
}

void NumberSet::insert(int32_t number) {
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
void NumberSet::erase(int32_t number) {
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

}  // namespace korvo::depot
