// TOC views: one segment per element over the caller's list or a copy, who
// owns the list when an element is faulty, cloning without the stream
// code's marks, and releasing part or all of a TOC.
#include <gtest/gtest.h>

#include <string>

#include "records/korvo_toc.h"
#include "runtime/mg_memory.h"
#include "tests/records/records_test_util.hpp"

namespace {

using records_test::raised_by;

// A TOC list (an mg header) of `count` segments "seg-<n>", version "1",
// size n * 100.
PropertiesList *new_toc_list(int count) {
    PropertiesList *list = properties_list_new();
    for (int n = 0; n < count; ++n) {
        Properties element{};
        properties_put_string_dup(&element, "id", ("seg-" + std::to_string(n)).c_str());
        properties_put_string_dup(&element, "version", "1");
        properties_put_long_dup(&element, "size", n * 100);
        seq_add(list, &element, sizeof element);
    }
    return list;
}

TEST(TocView, ViewsEachElementInPlace) {
    Toc *empty = toc_from_properties(properties_list_new());
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->count, 0);
    EXPECT_EQ(empty->segments, nullptr);
    toc_delete(empty);

    PropertiesList *list = new_toc_list(3);
    Toc *toc = toc_from_properties(list);
    ASSERT_NE(toc, nullptr);
    EXPECT_EQ(toc->list, list);
    ASSERT_EQ(toc->count, 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(toc->segments[i]->properties, &list->buffer[i]);
        EXPECT_EQ(toc->segments[i]->size, i * 100);
    }
    // Releasing the views keeps the list; a later toc_delete does not
    // release them twice.
    toc->segments[0]->owned_data = mg_malloc(8);
    toc_free_buffer(toc);
    EXPECT_EQ(toc->segments, nullptr);
    EXPECT_STREQ(properties_get_string(&list->buffer[2], "id"), "seg-2");
    toc_delete(toc);
}

TEST(TocView, AFaultyElementRaisesAndLeavesTheListWithTheCaller) {
    PropertiesList *list = new_toc_list(3);
    properties_remove_and_destroy(&list->buffer[1], "version");
    properties_put_string_dup(&list->buffer[2], "size", "big");  // a later element
    auto raised = raised_by([&] { toc_from_properties(list); });
    EXPECT_EQ(raised.number, 36);
    EXPECT_EQ(raised.arguments, std::vector<std::string>{"version"});

    properties_put_string_dup(&list->buffer[1], "version", "1");
    raised = raised_by([&] { toc_new_from_properties(list); });
    EXPECT_EQ(raised.number, 37);
    EXPECT_EQ(raised.arguments, std::vector<std::string>{"size"});
    properties_list_delete(list);
    mg_free(list);
}

TEST(TocView, CopiesOutliveTheirSourceAndStartUnmarked) {
    PropertiesList *list = new_toc_list(2);
    Toc *toc = toc_new_from_properties(list);
    ASSERT_NE(toc, nullptr);
    EXPECT_NE(toc->list, list);
    properties_list_delete(list);
    mg_free(list);
    EXPECT_STREQ(toc->segments[1]->id, "seg-1");

    toc->segments[0]->marked = 1;
    toc->marked_count = 1;
    toc->segments[1]->owned_data = mg_malloc(32);  // toc_delete frees it
    Toc *clone = toc_clone(toc);
    ASSERT_NE(clone, nullptr);
    ASSERT_EQ(clone->count, 2);
    EXPECT_EQ(clone->marked_count, 0);
    EXPECT_EQ(clone->segments[0]->marked, 0);
    EXPECT_EQ(clone->segments[1]->owned_data, nullptr);
    EXPECT_NE(clone->segments[1]->id, toc->segments[1]->id);
    toc_delete(toc);
    EXPECT_STREQ(clone->segments[1]->id, "seg-1");
    toc_delete(clone);
}

}  // namespace
