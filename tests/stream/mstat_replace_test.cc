// A progress record that another process holds open while its writer saves
// it again and again: a reader loading it in between always finds a whole
// record, never none (on Windows, where a held file is replaced in two
// steps, the load finds the file the save is putting in place).
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>

#include "properties/helpers/file_helpers.h"
#include "properties/korvo_properties.h"
#include "stream/mstat.h"
#include "tests/stream/mstat_test_support.hpp"
#include "tests/support/test_process.hpp"

namespace mstat_test {
namespace {

using props_test::raised_by;

constexpr int kSaves = 200;

struct Writing {
    std::atomic<int> done;
};

struct FileDelete {
    void operator()(FileRecord *file) const { file_delete(file); }
};
using HeldFile = std::unique_ptr<FileRecord, FileDelete>;

// The file at `path` held through the library's own open, which lets
// others rename and remove it, as every open of a progress record does;
// nothing when there is no file.
HeldFile hold(const std::string &path) {
    FileRecord *file = nullptr;
    raised_by([&] { file = file_open(path.c_str(), 0); });
    return HeldFile(file);
}

// Saves the record "42" kSaves times, each time while holding its file
// open as another reader would, and sets the shared flag arg(0) when done.
// Each save has another size than the last, so that none is rewritten in
// place: every one replaces the held file.
KORVO_CHILD_BODY(SaveOverAHolder) {
    if (korvo_init() != 1)
        return 3;
    korvo::test::Shared<Writing> writing(child.arg(0));
    Record record(mstat_new("42", 0));
    Properties *list = mstat_get_properties(record.get());
    int failed = 0;
    for (int n = 1; n <= kSaves; ++n) {
        properties_put_string_dup(list, "c_len", std::to_string(n).c_str());
        properties_put_string_dup(list, "note", std::string(1 + n % 2, 'x').c_str());
        const HeldFile held = hold(record->path != nullptr ? record->path : "");
        failed += raised_by([&] { mstat_save(record.get()); }).number != -1 ? 1 : 0;
    }
    writing->done = 1;
    return failed == 0 ? 0 : 1;
}

TEST_F(ProgressRecords, ALoadBesideAHeldRecordBeingReplacedFindsAWholeRecord) {
    korvo::test::Shared<Writing> writing;
    korvo::test::Child writer("SaveOverAHolder", {.args = {writing.name()}});
    Record reader(mstat_new("42", 0));
    int loads = 0, misses = 0, torn = 0, last = 0;
    // Bounded: far more loads than the writer takes saves.
    for (int round = 0; writing->done == 0 && round < 100 * kSaves; ++round) {
        if (raised_by([&] { mstat_load(reader.get()); }).number != -1) {
            misses += last > 0 ? 1 : 0;  // nothing is there before the first save
            continue;
        }
        ++loads;
        const int n = std::stoi(properties_get_string(&reader->properties, "c_len"));
        if (std::string(properties_get_string(&reader->properties, "note")) !=
            std::string(1 + n % 2, 'x'))
            ++torn;
        EXPECT_GE(n, last) << "a load went back to an older record";
        last = n;
    }
    ASSERT_EQ(writer.wait(), 0) << "a save failed";
    EXPECT_EQ(misses, 0) << "of " << loads << " loads";
    EXPECT_EQ(torn, 0);
    ASSERT_EQ(raised_by([&] { mstat_load(reader.get()); }).number, -1);
    EXPECT_STREQ(properties_get_string(&reader->properties, "c_len"),
                 std::to_string(kSaves).c_str());
}

}  // namespace
}  // namespace mstat_test
