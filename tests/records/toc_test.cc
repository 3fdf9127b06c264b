// TOCs: the builders (who owns what after an append, what a refused
// argument leaves, TOC files read back as the gateway peer writes them) and
// the views (one segment per element over the caller's list or a copy, who
// owns the list when an element is faulty, cloning without the stream
// code's marks, and releasing part or all of a TOC).
#include <gtest/gtest.h>

#include <string>

#include "properties/korvo_keys.h"
#include "properties/korvo_properties.h"
#include "properties/property_files.h"
#include "records/korvo_toc.h"
#include "records/korvo_toc_builder.h"
#include "runtime/mg_memory.h"
#include "tests/kes/kes_scratch.hpp"
#include "tests/records/records_test_util.hpp"

namespace {

using records_test::raised_by;

struct TocOwner {
    PropertiesList *list = properties_list_new();
    ~TocOwner() { korvo_toc_destroy(list); }
};

TEST(TocBuilder, AppendingMovesTheSegmentAndLeavesItsHeaderEmpty) {
    TocOwner toc;
    Properties *added = korvo_toc_add_segment(toc.list, "kernel.img", "1", 3000);
    ASSERT_EQ(added, &toc.list->buffer[0]);
    Properties *notes = korvo_segment_new("notes.txt", "2", 20);
    ASSERT_NE(notes, nullptr);
    properties_put_string_dup(notes, SEGMENT_LOCATION_KEY, "/srv/notes.txt");
    const Properties before = *notes;

    EXPECT_EQ(korvo_toc_append(toc.list, notes), 1);
    // The TOC took the buffer itself, not a copy; the header is empty and
    // freeing it frees nothing of the TOC's.
    EXPECT_EQ(toc.list->buffer[1].buffer, before.buffer);
    EXPECT_EQ(notes->length, 0u);
    EXPECT_EQ(notes->buffer, nullptr);
    korvo_properties_destroy(notes);
    EXPECT_STREQ(properties_get_string(&toc.list->buffer[1], SEGMENT_LOCATION_KEY),
                 "/srv/notes.txt");

    // A copy leaves the caller's list whole.
    Properties *kept = korvo_segment_new("kept", "1", 5);
    EXPECT_EQ(korvo_toc_append_dup(toc.list, kept), 2);
    EXPECT_EQ(kept->length, 3u);
    EXPECT_NE(toc.list->buffer[2].buffer, kept->buffer);
    korvo_properties_destroy(kept);

    ASSERT_EQ(toc.list->length, 3u);
    const Properties &first = toc.list->buffer[0];
    EXPECT_STREQ(properties_get_string(&first, SEGMENT_ID_KEY), "kernel.img");
    EXPECT_STREQ(properties_get_string(&first, SEGMENT_VERSION_KEY), "1");
    EXPECT_EQ(properties_get_long(&first, SEGMENT_SIZE_KEY), 3000);
    EXPECT_EQ(properties_get_long(&first, SEGMENT_OFFSET_KEY), 0);
    // korvo_segment_new writes no offset: a description, not a transfer.
    EXPECT_EQ(properties_find(&toc.list->buffer[1], SEGMENT_OFFSET_KEY), 0);
}

TEST(TocBuilder, RefusedArgumentsChangeNothing) {
    TocOwner toc;
    EXPECT_EQ(korvo_segment_new(nullptr, "1", 0), nullptr);
    EXPECT_EQ(korvo_segment_new("a", nullptr, 0), nullptr);
    EXPECT_EQ(korvo_segment_new("a", "1", -1), nullptr);
    EXPECT_EQ(korvo_toc_add_segment(nullptr, "a", "1", 0), nullptr);
    EXPECT_EQ(korvo_toc_add_segment(toc.list, "a", "1", -5), nullptr);
    EXPECT_EQ(korvo_toc_append(toc.list, nullptr), -1);
    EXPECT_EQ(korvo_toc_append_dup(nullptr, nullptr), -1);
    EXPECT_EQ(toc.list->length, 0u);

    // An element of the TOC itself cannot be moved into it: the move would
    // empty the element the new one was copied from.
    korvo_toc_add_segment(toc.list, "a", "1", 1);
    EXPECT_EQ(korvo_toc_append(toc.list, &toc.list->buffer[0]), -1);
    ASSERT_EQ(toc.list->length, 1u);
    EXPECT_STREQ(properties_get_string(&toc.list->buffer[0], SEGMENT_ID_KEY), "a");
    korvo_toc_destroy(nullptr);
    korvo_properties_destroy(nullptr);
}

TEST(TocBuilder, TocFilesRoundTripAndNameWhatIsMissing) {
    ASSERT_EQ(korvo_init(), 1);  // a TOC inside a file's list is marshalled as an any
    kes_test::ScratchDir scratch;
    const std::string path = scratch / "dist.toc";
    TocOwner toc;
    korvo_toc_add_segment(toc.list, "a.bin", "1", 100);
    korvo_toc_add_segment(toc.list, "b.bin", "1", 0);
    korvo_toc_save(toc.list, path.c_str());

    // The file is a plain property file with the TOC under "j_toc".
    Properties file{};
    properties_load(&file, path.c_str());
    const PropertiesList *held = properties_get_properties_list(&file, JOB_TOC_KEY);
    EXPECT_EQ(held->length, 2u);
    properties_delete(&file);

    PropertiesList *loaded = korvo_toc_load(path.c_str());
    ASSERT_NE(loaded, nullptr);
    ASSERT_EQ(loaded->length, 2u);
    EXPECT_STREQ(properties_get_string(&loaded->buffer[1], SEGMENT_ID_KEY), "b.bin");
    korvo_toc_destroy(loaded);
    EXPECT_EQ(korvo_toc_load(nullptr), nullptr);

    Properties other{};
    properties_put_string_dup(&other, "j_name", "x");
    properties_save(&other, path.c_str());
    auto raised = raised_by([&] { korvo_toc_load(path.c_str()); });
    EXPECT_EQ(raised.number, 36);
    EXPECT_EQ(raised.arguments, std::vector<std::string>{"j_toc"});
    properties_put_string_dup(&other, JOB_TOC_KEY, "not a list");
    properties_save(&other, path.c_str());
    EXPECT_EQ(raised_by([&] { korvo_toc_load(path.c_str()); }).number, 37);
    properties_delete(&other);
    EXPECT_EQ(raised_by([&] { korvo_toc_load((scratch / "none.toc").c_str()); }).number, 11);
}

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
