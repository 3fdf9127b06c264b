// TOC views: one segment per element over the caller's list or a copy, what
// raises when an element is faulty and who owns the list then, cloning
// without the stream code's marks, and releasing part or all of a TOC.
#include <gtest/gtest.h>

#include <string>

#include "records/korvo_toc.h"
#include "runtime/mg_memory.h"
#include "tests/records/records_test_util.hpp"

extern "C" int c_toc_size_sum(int32_t *sum, int32_t *number, char *text, size_t size);

namespace {

using records_test::raised_by;

// A segment element with id "seg-<n>", version "1" and size n * 100.
void append_segment(PropertiesList *toc, int n) {
    Properties element{};
    const std::string id = "seg-" + std::to_string(n);
    properties_put_string_dup(&element, "id", id.c_str());
    properties_put_string_dup(&element, "version", "1");
    properties_put_long_dup(&element, "size", n * 100);
    seq_add(toc, &element, sizeof element);  // the TOC takes the element's contents
}

// A TOC list header of `count` segments, as an mg block.
PropertiesList *new_toc_list(int count) {
    PropertiesList *list = properties_list_new();
    for (int n = 0; n < count; ++n)
        append_segment(list, n);
    return list;
}

void delete_list(PropertiesList *list) {
    properties_list_delete(list);
    mg_free(list);
}

TEST(TocView, EmptyListHasNoSegments) {
    Toc *toc = toc_from_properties(properties_list_new());
    ASSERT_NE(toc, nullptr);
    EXPECT_EQ(toc->count, 0);
    EXPECT_EQ(toc->segments, nullptr);
    EXPECT_EQ(toc->marked_count, 0);
    toc_delete(toc);
}

TEST(TocView, ViewsEachElementInPlace) {
    PropertiesList *list = new_toc_list(3);
    Toc *toc = toc_from_properties(list);
    ASSERT_NE(toc, nullptr);
    EXPECT_EQ(toc->list, list);
    ASSERT_EQ(toc->count, 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(toc->segments[i]->properties, &list->buffer[i]);
        EXPECT_EQ(toc->segments[i]->id, properties_get_string(&list->buffer[i], "id"));
        EXPECT_EQ(toc->segments[i]->size, i * 100);
    }
    toc_delete(toc);
}

TEST(TocView, AFaultyElementRaisesAndLeavesTheListWithTheCaller) {
    PropertiesList *list = new_toc_list(3);
    properties_remove_and_destroy(&list->buffer[1], "version");
    properties_put_string_dup(&list->buffer[2], "size", "big");  // read later: not reported
    auto raised = raised_by([&] { toc_from_properties(list); });
    EXPECT_EQ(raised.number, 36);
    EXPECT_EQ(raised.arguments, std::vector<std::string>{"version"});
    EXPECT_EQ(list->length, 3u);

    properties_put_string_dup(&list->buffer[1], "version", "1");
    raised = raised_by([&] { toc_new_from_properties(list); });
    EXPECT_EQ(raised.number, 37);
    EXPECT_EQ(raised.arguments, std::vector<std::string>{"size"});
    delete_list(list);
}

TEST(TocView, ACopiedTocOutlivesTheCallersList) {
    PropertiesList *list = new_toc_list(2);
    Toc *toc = toc_new_from_properties(list);
    ASSERT_NE(toc, nullptr);
    EXPECT_NE(toc->list, list);
    delete_list(list);
    ASSERT_EQ(toc->count, 2);
    EXPECT_STREQ(toc->segments[1]->id, "seg-1");
    EXPECT_EQ(toc->segments[1]->properties, &toc->list->buffer[1]);
    toc_delete(toc);
}

TEST(TocView, CloneStartsWithNoMarksAndNoAttachedData) {
    Toc *toc = toc_from_properties(new_toc_list(3));
    ASSERT_NE(toc, nullptr);
    toc->segments[0]->marked = 1;
    toc->segments[2]->marked = 1;
    toc->marked_count = 2;
    toc->segments[1]->owned_data = mg_malloc(32);

    Toc *clone = toc_clone(toc);
    ASSERT_NE(clone, nullptr);
    EXPECT_NE(clone->list, toc->list);
    ASSERT_EQ(clone->count, 3);
    EXPECT_EQ(clone->marked_count, 0);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(clone->segments[i]->marked, 0);
        EXPECT_EQ(clone->segments[i]->owned_data, nullptr);
        EXPECT_STREQ(clone->segments[i]->id, toc->segments[i]->id);
        EXPECT_NE(clone->segments[i]->id, toc->segments[i]->id);
    }
    toc_delete(toc);  // frees the attached block too
    EXPECT_STREQ(clone->segments[2]->version, "1");
    toc_delete(clone);
}

TEST(TocView, FreeBufferKeepsTheListAndTheRecord) {
    PropertiesList *list = new_toc_list(2);
    Toc *toc = toc_from_properties(list);
    ASSERT_NE(toc, nullptr);
    toc->segments[0]->owned_data = mg_malloc(8);
    toc->marked_count = 1;
    toc_free_buffer(toc);
    EXPECT_EQ(toc->count, 0);
    EXPECT_EQ(toc->segments, nullptr);
    EXPECT_EQ(toc->marked_count, 0);
    EXPECT_EQ(toc->list, list);
    EXPECT_STREQ(properties_get_string(&list->buffer[1], "id"), "seg-1");
    toc_delete(toc);  // a second release of the segments must not free them again
}

TEST(TocView, NullInputs) {
    EXPECT_EQ(toc_from_properties(nullptr), nullptr);
    EXPECT_EQ(toc_new_from_properties(nullptr), nullptr);
    EXPECT_EQ(toc_clone(nullptr), nullptr);
    toc_free_buffer(nullptr);
    toc_delete(nullptr);
}

TEST(TocView, ServesCallersWrittenInC) {
    int32_t sum = -1;
    int32_t number = -1;
    char text[128] = "";
    ASSERT_EQ(c_toc_size_sum(&sum, &number, text, sizeof text), 0);
    EXPECT_EQ(sum, 300);
    EXPECT_EQ(number, 36);
    EXPECT_STREQ(text, "Unable to find the property associated with the key version.\n");
}

}  // namespace
