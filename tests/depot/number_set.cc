// The smallest free entry number of a bucket, as names come and go: the
// runs of taken numbers join and split, and a number carried by two names
// stays taken until both have gone.
#include <gtest/gtest.h>

#include <climits>
#include <random>
#include <set>

#include "depot/depot_number_set.hpp"

namespace {

using korvo::depot::NumberSet;

TEST(NumberSets, RunsJoinAndSplitAsNumbersComeAndGo) {
    NumberSet numbers;
    EXPECT_EQ(numbers.smallestFree(), 0);
    numbers.add(1);
    numbers.add(3);
    EXPECT_EQ(numbers.smallestFree(), 0);
    numbers.add(0);
    EXPECT_EQ(numbers.smallestFree(), 2);
    numbers.add(2);  // joins 0-1 and 3
    EXPECT_EQ(numbers.smallestFree(), 4);
    numbers.remove(1);  // splits 0-3
    EXPECT_EQ(numbers.smallestFree(), 1);
    numbers.add(1);
    numbers.remove(0);
    EXPECT_EQ(numbers.smallestFree(), 0);
    numbers.remove(7);  // never taken: nothing changes
    numbers.add(-1);    // names without a number take none
    EXPECT_EQ(numbers.smallestFree(), 0);
}

TEST(NumberSets, ANumberOfTwoNamesStaysTakenUntilBothGo) {
    NumberSet numbers;
    numbers.add(0);
    numbers.add(0);
    numbers.remove(0);
    EXPECT_EQ(numbers.smallestFree(), 1);
    numbers.remove(0);
    EXPECT_EQ(numbers.smallestFree(), 0);
}

TEST(NumberSets, TheLargestNumberJoinsRunsWithoutOverflow) {
    NumberSet numbers;
    numbers.add(INT32_MAX);
    numbers.add(INT32_MAX - 1);
    numbers.add(0);
    EXPECT_EQ(numbers.smallestFree(), 1);
    numbers.remove(INT32_MAX);
    numbers.add(1);
    EXPECT_EQ(numbers.smallestFree(), 2);
}

TEST(NumberSets, AgreeWithAPlainSetOverManyChanges) {
    NumberSet numbers;
    std::multiset<int32_t> plain;
    std::mt19937 random(7);
    for (int step = 0; step < 20000; ++step) {
        const auto number = static_cast<int32_t>(random() % 64);
        if (random() % 3 != 0) {
            numbers.add(number);
            plain.insert(number);
        } else if (const auto found = plain.find(number); found != plain.end()) {
            numbers.remove(number);
            plain.erase(found);
        }
        int32_t expected = 0;
        while (plain.count(expected) != 0)
            ++expected;
        ASSERT_EQ(numbers.smallestFree(), expected) << "after step " << step;
    }
}

}  // namespace
