// KesList1's slot indexes, free chain and iterator, which the depot relies on
// to name its entries, and the KesDlist ring with its cursor.
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "kes/kes_list.h"

namespace {

using Seen = std::vector<std::pair<int32_t, intptr_t>>;

struct List1 {
    KesList1 *list = nullptr;
    List1(int32_t count, int32_t growBy) { EXPECT_EQ(KesList1Create(&list, count, growBy), 0); }
    ~List1() { KesList1Destroy(&list); }

    // (index, value) pairs in iteration order, newest first.
    Seen Walk() {
        Seen seen;
        KesStatus status;
        KesList1Iterator it{};
        EXPECT_EQ(KesList1IteratorCreate(&status, list, &it)->step, 4);
        int32_t index;
        intptr_t value;
        while (it.next(&status, &it, &index, &value)->code == KES_OK)
            seen.emplace_back(index, value);
        EXPECT_EQ(status.code, KES_END_OF_LIST);
        EXPECT_EQ(status.step, 4);
        EXPECT_EQ(it.end(&status, &it)->step, 1);
        EXPECT_EQ(it.state, nullptr);
        return seen;
    }
};

}  // namespace

TEST(KesList1, CreateValidatesItsArguments) {
    EXPECT_EQ(KesList1Create(nullptr, 4, 4), -1);
    KesList1 untouched{};
    KesList1 *list = &untouched;
    EXPECT_EQ(KesList1Create(&list, 4, -1), -1);
    EXPECT_EQ(list, &untouched);  // a negative growth step leaves the pointer alone
    EXPECT_EQ(KesList1Create(&list, -1, 4), -1);
    EXPECT_EQ(list, nullptr);
}

TEST(KesList1, IndexesAscendThenGrowByTheStep) {
    List1 l(64, 64);
    for (int32_t i = 0; i < 64; ++i)
        ASSERT_EQ(KesList1Add(l.list, 1000 + i), i);
    EXPECT_EQ(KesList1GetSize(l.list), 64);
    EXPECT_EQ(KesList1Add(l.list, 5), 64);
    EXPECT_EQ(KesList1GetSize(l.list), 128);
    EXPECT_EQ(KesList1Access(l.list, 0), 1000);
    EXPECT_EQ(KesList1Access(l.list, 64), 5);

    List1 empty(0, 3);  // grows on its first add, and holds pointers
    int object = 0;
    EXPECT_EQ(KesList1Add(empty.list, reinterpret_cast<intptr_t>(&object)), 0);
    EXPECT_EQ(KesList1GetSize(empty.list), 3);
    EXPECT_EQ(reinterpret_cast<int *>(KesList1Access(empty.list, 0)), &object);
}

TEST(KesList1, RemovedSlotsAreReusedMostRecentFirst) {
    List1 l(64, 64);
    EXPECT_TRUE(l.Walk().empty());
    for (int v : {10, 20, 30})
        KesList1Add(l.list, v);
    EXPECT_EQ(KesList1Remove(l.list, 1), 0);
    EXPECT_EQ(KesList1Access(l.list, 1), 0);
    EXPECT_EQ(KesList1Remove(l.list, 1), -1);
    EXPECT_EQ(KesList1Add(l.list, 40), 1);
    EXPECT_EQ(l.Walk(), (Seen{{1, 40}, {2, 30}, {0, 10}}));

    // Freed slots chain back through every removal before the unused ones;
    // removing the newest and the oldest entries keeps the chain of entries.
    EXPECT_EQ(KesList1Remove(l.list, 0), 0);
    EXPECT_EQ(KesList1Remove(l.list, 1), 0);
    EXPECT_EQ(l.Walk(), (Seen{{2, 30}}));
    EXPECT_EQ(KesList1Add(l.list, 50), 1);
    EXPECT_EQ(KesList1Add(l.list, 60), 0);
    EXPECT_EQ(KesList1Add(l.list, 70), 3);
    EXPECT_EQ(l.Walk(), (Seen{{3, 70}, {0, 60}, {1, 50}, {2, 30}}));
}

TEST(KesList1, FullListsAndBadIndexesAreRefused) {
    List1 l(2, 0);
    KesList1Add(l.list, 1);
    KesList1Add(l.list, 2);
    EXPECT_EQ(KesList1Add(l.list, 3), -1);  // full, growth step 0
    EXPECT_EQ(l.Walk(), (Seen{{1, 2}, {0, 1}}));
    for (int32_t bad : {-1, 2, 1000}) {
        EXPECT_EQ(KesList1Remove(l.list, bad), -1);
        EXPECT_EQ(KesList1Access(l.list, bad), 0);
    }
}

TEST(KesList1, IteratorStatusesNameTheFailingArgument) {
    List1 l(4, 4);
    KesStatus status;
    KesList1Iterator it{};
    EXPECT_EQ(KesList1IteratorCreate(&status, l.list, nullptr)->step, 0);
    EXPECT_EQ(KesList1IteratorCreate(&status, nullptr, &it)->step, 1);
    EXPECT_EQ(status.code, KES_INVALID);
    KesList1IteratorCreate(&status, l.list, &it);
    int32_t index;
    intptr_t value;
    EXPECT_EQ(it.next(&status, nullptr, &index, &value)->step, 0);
    EXPECT_EQ(it.next(&status, &it, nullptr, &value)->step, 1);
    EXPECT_EQ(it.next(&status, &it, &index, nullptr)->step, 2);
    KesList1IteratorNext next = it.next;
    it.end(&status, &it);
    EXPECT_EQ(next(&status, &it, &index, &value)->step, 3);  // ended
    EXPECT_EQ(status.code, KES_INVALID);
}

TEST(KesDlist, AddsWalksAndRemoves) {
    KesDlist *list = KesDlistNew();
    int x = 1, y = 2, z = 3, absent = 4;
    EXPECT_EQ(KesDlistRemoveFirst(list), nullptr);
    KesDlistAddFirst(list, &x);
    KesDlistAddFirst(list, &y);
    EXPECT_EQ(KesDlistGetFirst(list), &y);
    EXPECT_EQ(KesDlistGetLast(list), &x);
    KesDlistReset(list);
    EXPECT_EQ(KesDlistGetNext(list), &y);
    EXPECT_EQ(KesDlistGetNext(list), &x);
    EXPECT_EQ(KesDlistGetNext(list), nullptr);
    EXPECT_EQ(KesDlistGetPrevious(list), &x);

    KesDlistAddAfter(list, &z, nullptr);  // after the cursor, which is on x
    KesDlistAddBefore(list, &absent, reinterpret_cast<KesDlink *>(list));  // the list as position
    EXPECT_EQ(KesDlistRemoveLast(list), &absent);
    EXPECT_EQ(KesDlistRemoveElement(list, &absent), nullptr);
    EXPECT_EQ(KesDlistSize(list), 3);
    EXPECT_EQ(KesDlistRemoveElement(list, &x), &x);
    KesDlistReset(list);
    EXPECT_EQ(KesDlistGetNext(list), &y);
    EXPECT_EQ(KesDlistGetNext(list), &z);

    // Purging releases the data and leaves an empty ring.
    KesDlistAddLast(list, std::malloc(8));
    EXPECT_EQ(KesDlistRemoveFirst(list), &y);
    EXPECT_EQ(KesDlistRemoveFirst(list), &z);
    EXPECT_EQ(KesDlistPurge(list), 0);  // the sanitizer build reports a leaked block
    EXPECT_EQ(KesDlistSize(list), 0);
    EXPECT_EQ(list->sentinel.next, &list->sentinel);
    EXPECT_EQ(KesDlistGetNext(list), nullptr);
    KesDlistDelete(list);
}
