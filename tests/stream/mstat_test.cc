// Progress records: where their files go and what they hold, the finished
// names, load failures, that a save survives the saving process being
// killed at any moment, and that a load beside a held record that its
// writer replaces again and again always finds a whole record (on Windows,
// where a held file is replaced in two steps, the file being put in place).
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "kes/kes_path_rules.hpp"
#include "properties/helpers/dir_enum.h"
#include "properties/helpers/file_helpers.h"
#include "properties/helpers/pathname.h"
#include "properties/property_files.h"
#include "runtime/log_capture.hpp"
#include "stream/mstat.h"
#include "tests/kes/kes_scratch.hpp"
#include "tests/properties/props_test_util.hpp"
#include "tests/stream/mstat_test_support.hpp"
#include "tests/support/test_host.hpp"
#include "tests/support/test_process.hpp"

namespace {

using namespace props_test;
using props_test::u32;

using namespace mstat_test;

// The error of a create whose path has a file where a directory should be:
// Windows reports the path as not found.
#ifdef _WIN32
constexpr int kFileInThePath = ENOENT;
#else
constexpr int kFileInThePath = ENOTDIR;
#endif

TEST_F(ProgressRecords, ANewRecordSavesItsIdAlone) {
    Record record(mstat_new("42", 0));
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->dir, dir);  // the work directory normalised, then "mstat"
    EXPECT_EQ(record->path, nullptr);
    EXPECT_EQ(mstat_save(record.get()), 0);
    EXPECT_EQ(record->path, dir + "/42.mds");
    EXPECT_EQ(files(), std::set<std::string>{"42.mds"});  // no temporary file stays
    EXPECT_EQ(contents("42.mds"), u32(1) + str("msid") + str("string") + str("42"));
#ifndef _WIN32  // Windows keeps no POSIX modes
    struct stat status;
    ASSERT_EQ(::stat(record->path, &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
#endif

    Record kind1(mstat_new("42", 1));
    EXPECT_EQ(mstat_save(kind1.get()), 0);
    EXPECT_EQ(files(), (std::set<std::string>{"42.mds", "42.ads"}));
}

TEST_F(ProgressRecords, SavedKeysComeBackInALaterRecord) {
    {
        Record record(mstat_new("dist.7", 0));
        Properties *list = mstat_get_properties(record.get());
        properties_put_boolean_dup(list, "err", 0);
        properties_put_string_dup(list, "t_len", "1048576");
        properties_put_string_dup(list, "c_len", "16384");
        EXPECT_EQ(mstat_save(record.get()), 0);
        properties_put_string_dup(list, "c_len", "32768");
        EXPECT_EQ(mstat_save(record.get()), 0);
    }
    Record again(mstat_new("dist.7", 0));
    EXPECT_EQ(mstat_load(again.get()), 0);
    const Properties *list = mstat_get_properties(again.get());
    EXPECT_STREQ(properties_get_string(list, "msid"), "dist.7");
    EXPECT_STREQ(properties_get_string(list, "c_len"), "32768");
    EXPECT_EQ(properties_get_property_index(list, "msid"), 3);  // added by the first save
    EXPECT_EQ(mstat_load(again.get()), 0);                      // loading again replaces
    EXPECT_EQ(list->length, 4u);
}

TEST_F(ProgressRecords, DoneRenamesOnlyTheExtension) {
    korvo::test::setEnvironmentVariable("KORVO_WORK_DIR", (scratch / "work/x.mds").c_str());
    std::filesystem::create_directory(scratch / "work/x.mds");
    dir = generic(scratch / "work/x.mds/mstat");
    Record record(mstat_new("42", 0));
    EXPECT_EQ(mstat_save(record.get()), 0);
    mstat_done(record.get());
    EXPECT_EQ(files(), std::set<std::string>{"42.mdf"});
    EXPECT_STREQ(record->suffix, "mdf");
    properties_put_string_dup(mstat_get_properties(record.get()), "close", "1");
    EXPECT_EQ(mstat_save(record.get()), 0);
    mstat_done(record.get());
    EXPECT_EQ(files(), std::set<std::string>{"42.mdf"});
    EXPECT_EQ(record->path, dir + "/42.mdf");
    EXPECT_EQ(contents("42.mdf"), u32(2) + str("msid") + str("string") + str("42") + str("close") +
                                      str("string") + str("1"));

    // An ads record done before any save: nothing to rename, no failure.
    Record ads(mstat_new("43", 2));
    mstat_done(ads.get());
    EXPECT_STREQ(ads->suffix, "adf");

    // A path whose file name does not end in the suffix is left alone.
    korvo::rt::LogCapture capture;
    std::memcpy(record->suffix, "xyz", 4);
    mstat_done(record.get());
    EXPECT_EQ(capture.texts(1),
              std::vector<std::string>{"Error: Invalid pathname " + dir + "/42.mdf"});
    EXPECT_EQ(files(), std::set<std::string>{"42.mdf"});
}

TEST_F(ProgressRecords, WithoutAWorkDirectoryRecordsGoToTheTemporaryDirectory) {
    korvo::test::setEnvironmentVariable("KORVO_WORK_DIR", nullptr);
    korvo::test::setEnvironmentVariable("KORVO_TMPDIR", scratch.path().c_str());
    Record record(mstat_new("42", 0));
    korvo::test::setEnvironmentVariable("KORVO_TMPDIR", nullptr);
    EXPECT_EQ(record->dir, generic(scratch / "mstat"));
    EXPECT_TRUE(std::filesystem::is_directory(scratch / "mstat"));
}

TEST_F(ProgressRecords, FailuresToLoadAndSave) {
    Record record(mstat_new("42", 0));
    const auto missing = raised_by([&] { mstat_load(record.get()); });
    EXPECT_EQ(missing.number, 11);
    EXPECT_EQ(missing.arguments, std::vector<std::string>{dir + "/42.mds"});

    // A "msid" of another type is refused like any wrong-type get, and the
    // file is not written.
    properties_put_long_dup(mstat_get_properties(record.get()), "msid", 7);
    const auto mistyped = raised_by([&] { mstat_save(record.get()); });
    EXPECT_EQ(mistyped.number, 37);
    EXPECT_EQ(mistyped.arguments, std::vector<std::string>{"msid"});
    EXPECT_FALSE(std::filesystem::exists(dir + "/42.mds"));
    properties_remove_and_destroy(mstat_get_properties(record.get()), "msid");

    std::ofstream(dir + "/42.mds") << "not a list";
    properties_put_string_dup(mstat_get_properties(record.get()), "c_len", "5");
    EXPECT_EQ(raised_by([&] { mstat_load(record.get()); }).number, 35);
    EXPECT_STREQ(properties_get_string(mstat_get_properties(record.get()), "c_len"), "5");

    // Ids that cannot name a file of the progress directory: on Windows a
    // '\\' or a ':' makes a path of an id as a '/' does; elsewhere they are
    // characters of a name.
    const bool windows = korvo::kes::kHostPathStyle == korvo::kes::PathStyle::kWindows;
    std::vector<std::string> paths{"a/b", std::string(1020, 'i')};
    for (const std::string id : {"c\\d", "e:f"}) {
        if (windows) {
            paths.push_back(id);
            continue;
        }
        Record named(mstat_new(id.c_str(), 0));
        EXPECT_EQ(mstat_save(named.get()), 0) << id;
        EXPECT_TRUE(std::filesystem::is_regular_file(dir + "/" + id + ".mds")) << id;
    }
    for (const std::string &id : paths) {
        Record bad(mstat_new(id.c_str(), 0));
        EXPECT_EQ(mstat_save(bad.get()), -1) << id;
        EXPECT_EQ(mstat_load(bad.get()), -1) << id;
    }
    EXPECT_EQ(mstat_save(nullptr), -1);
    EXPECT_EQ(mstat_new(nullptr, 0), nullptr);

    // A progress "directory" that is a file: the save fails, leaving nothing.
    std::filesystem::remove_all(dir);
    std::ofstream(dir) << "x";
    Record blocked(mstat_new("42", 0));
    const auto create = raised_by([&] { mstat_save(blocked.get()); });
    EXPECT_EQ(create.number, 12);
    EXPECT_EQ(create.arguments,
              (std::vector<std::string>{dir + "/42.mds", std::to_string(kFileInThePath)}));

    char *name = distid_get_filename("42");
    EXPECT_STREQ(name, "42");
    pathname_delete(name);
    EXPECT_EQ(raised_by([] { distid_get_filename(nullptr); }).number, 32);
    EXPECT_EQ(distid_get_next_filename(), nullptr);
}

// The record keeps its file open: a save of the size the file has is
// written in place (the same file), another size replaces the file, and so
// does a record longer than a page. A file another record replaced, or that
// someone cut short, is replaced again, so the last save wins.
TEST_F(ProgressRecords, SameSizedSavesRewriteTheFileInPlace) {
    const auto inode = [&] {
        const std::string identity = korvo::test::fileIdentity(dir + "/42.mds");
        EXPECT_FALSE(identity.empty());
        return identity;
    };
    const auto c_len = [&] {
        Record loaded(mstat_new("42", 0));
        mstat_load(loaded.get());
        return std::string(properties_get_string(&loaded->properties, "c_len"));
    };
    Record record(mstat_new("42", 0));
    Properties *list = mstat_get_properties(record.get());
    properties_put_string_dup(list, "c_len", "10");
    ASSERT_EQ(mstat_save(record.get()), 0);
    const std::string first = inode();
    properties_put_string_dup(list, "c_len", "11");
    ASSERT_EQ(mstat_save(record.get()), 0);
    EXPECT_EQ(inode(), first);
    EXPECT_EQ(c_len(), "11");
    properties_put_string_dup(list, "c_len", "100");
    ASSERT_EQ(mstat_save(record.get()), 0);
    const std::string second = inode();
    EXPECT_NE(second, first);
    EXPECT_EQ(c_len(), "100");

    // Another record of the id replaces the file; this one's next save of
    // its old size must not go to the file that is gone.
    Record other(mstat_new("42", 0));
    properties_put_string_dup(mstat_get_properties(other.get()), "c_len", "5");
    ASSERT_EQ(mstat_save(other.get()), 0);
    properties_put_string_dup(list, "c_len", "101");
    ASSERT_EQ(mstat_save(record.get()), 0);
    EXPECT_EQ(c_len(), "101");

    // Another record of the id marks the distribution finished: its rename
    // takes the file this record holds open to the finished name, and this
    // record's next save must still land at its own path.
    {
        Record finished(mstat_new("42", 0));
        mstat_done(finished.get());
    }
    EXPECT_EQ(files(), std::set<std::string>{"42.mdf"});
    properties_put_string_dup(list, "c_len", "103");
    ASSERT_EQ(mstat_save(record.get()), 0);
    EXPECT_EQ(files(), (std::set<std::string>{"42.mdf", "42.mds"}));
    EXPECT_EQ(c_len(), "103");
    Properties finishedList{};
    properties_load_without_len(&finishedList, (dir + "/42.mdf").c_str());
    EXPECT_STREQ(properties_get_string(&finishedList, "c_len"), "101");
    properties_delete(&finishedList);
    ASSERT_TRUE(std::filesystem::remove(dir + "/42.mdf"));

    // A file cut short is written whole again.
    std::filesystem::resize_file(dir + "/42.mds", 3);
    properties_put_string_dup(list, "c_len", "102");
    ASSERT_EQ(mstat_save(record.get()), 0);
    EXPECT_EQ(c_len(), "102");

    // Over a page, every save replaces the file.
    properties_put_string_dup(list, "note", std::string(5000, 'n').c_str());
    ASSERT_EQ(mstat_save(record.get()), 0);
    const std::string large = inode();
    ASSERT_EQ(mstat_save(record.get()), 0);
    EXPECT_NE(inode(), large);
    EXPECT_EQ(files(), std::set<std::string>{"42.mds"});
}

// Ids as long as a file name allows, less the four bytes of ".mds", save and
// load: the temporary file of a save needs no more room than its target.
TEST_F(ProgressRecords, IdsUpToTheLongestFileNameSaveAndLoad) {
    for (size_t length : {240, 245, 251}) {
        const std::string id(length, 'd');
        Record record(mstat_new(id.c_str(), 0));
        properties_put_string_dup(mstat_get_properties(record.get()), "c_len", "7");
        ASSERT_EQ(mstat_save(record.get()), 0) << length;
        Record again(mstat_new(id.c_str(), 0));
        ASSERT_EQ(mstat_load(again.get()), 0) << length;
        EXPECT_STREQ(properties_get_string(mstat_get_properties(again.get()), "c_len"), "7");
    }
    EXPECT_EQ(files().size(), 3u);
}

// The values a saving child had begun and finished saving.
struct Progress {
    std::atomic<uint32_t> started, finished;
};

// Saves the record "42" with a growing checkpoint until killed, noting each
// value in the shared Progress arg(0) and each save on end 0.
KORVO_CHILD_BODY(SaveUntilKilled) {
    if (korvo_init() != 1)
        return 3;
    korvo::test::Shared<Progress> progress(child.arg(0));
    Record record(mstat_new("42", 0));
    Properties *list = mstat_get_properties(record.get());
    properties_put_string_dup(list, "t_len", "1073741824");
    properties_put_boolean_dup(list, "err", 0);
    properties_put_boolean_dup(list, "paused", 0);
    properties_put_boolean_dup(list, "close", 0);
    for (;;) {
        const uint32_t next = progress->started + 1;
        properties_put_string_dup(list, "c_len", std::to_string(next).c_str());
        progress->started = next;
        mstat_save(record.get());
        progress->finished = next;
        child.end(0).send();
    }
}

// A child saves a growing checkpoint in a loop and is killed after a
// number of saves drawn from a fixed seed; the file must then load and hold
// a value the child had begun or finished saving.
TEST_F(ProgressRecords, ASaveSurvivesTheProcessBeingKilled) {
    korvo::test::Shared<Progress> progress;
    std::mt19937 random(20250131);
    for (int round = 0; round < 100; ++round) {
        korvo::test::Pipe saved;
        korvo::test::Child child("SaveUntilKilled",
                                 {.args = {progress.name()}, .ends = {saved.writeEnd()}});
        saved.closeWrite();
        const int saves = std::uniform_int_distribution<int>(1, 40)(random);
        for (int i = 0; i < saves; ++i)
            ASSERT_NE(saved.receive(), -1) << "the child stopped saving";
        child.kill();
        ASSERT_EQ(child.wait(), korvo::test::kKilled);

        Record record(mstat_new("42", 0));
        ASSERT_EQ(raised_by([&] { mstat_load(record.get()); }).number, -1) << "round " << round;
        const uint32_t value = std::stoul(properties_get_string(&record->properties, "c_len"));
        EXPECT_GE(value, progress->finished.load());
        EXPECT_LE(value, progress->started.load());
        EXPECT_EQ(record->properties.length, 6u);
    }
    // Whatever a killed save left behind is not a progress file.
    DirRecord *listing = dir_new(dir.c_str());
    DirEntryEnum *entries = dir_entries(listing, "*.mds");
    ASSERT_TRUE(dir_entry_enum_has_more_elements(entries));
    EXPECT_STREQ(dir_entry_enum_next_element(entries), "42.mds");
    EXPECT_FALSE(dir_entry_enum_has_more_elements(entries));
    dir_entry_enum_delete(entries);
    dir_delete(listing);
    for (const std::string &name : files())
        EXPECT_TRUE(name == "42.mds" || (name.starts_with(".korvo-") && name.size() == 13)) << name;
}

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
