// Entry records and the hash that names entry files: the exact bytes of a
// record, parsing it back, and the bucket of a segment.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "depot/depot.h"
#include "depot_test_support.hpp"
#include "kes/kes_memory.h"
#include "kes/kes_string.h"

namespace {

using depot_test::DepotTest;

// The record of an object as a string, zero byte included.
std::string Build(DepotEntry *entry) {
    KesStatus status;
    char *text = nullptr;
    uint32_t length = 0;
    DepotEntrySetProperties(&status, nullptr, entry, &text, &length);
    EXPECT_EQ(status.code, 0);
    std::string record(text, length);
    KesMemoryFree(text);
    return record;
}

// An unlisted object with the given fields.
DepotEntry *Made(const char *id, const char *version, const char *location) {
    DepotEntry *entry = DepotEntryNew();
    entry->id = KesStringDup(id);
    entry->version = KesStringDup(version);
    entry->location = KesStringDup(location);
    return entry;
}

void Release(DepotEntry *entry) {
    KesStatus status;
    DepotEntryFree(&status, nullptr, entry);
}

uint32_t Hash(const char *text) {
    KesStatus status;
    uint32_t hash = 0;
    DepotHashFunction(&status, text, &hash);
    EXPECT_EQ(status.code, 0);
    return hash;
}

// Restores the hash table's sizing after a test that changes it.
class Hashing : public ::testing::Test {
  protected:
    void SetUp() override { NearestPrime = 0, TableSize = 256; }
    void TearDown() override { NearestPrime = 0, TableSize = 256; }
};

TEST_F(Hashing, TheModulusIsFixedOnceFromTheTableSize) {
    EXPECT_EQ(Hash("seg11.0"), 108u);
    EXPECT_EQ(NearestPrime, 251u);
    TableSize = 300;  // raising it changes nothing
    Hash("x");
    EXPECT_EQ(NearestPrime, 251u);
    TableSize = 200;  // lowering it below the modulus picks again
    Hash("x");
    EXPECT_EQ(NearestPrime, 127u);

    NearestPrime = 0;
    TableSize = 1000;
    Hash("x");
    EXPECT_EQ(NearestPrime, 509u);
    NearestPrime = 0;
    TableSize = 3;  // no entry from 1 up lies below 3: the modulus stays unset
    EXPECT_LT(Hash("seg11.0"), 2u);
    EXPECT_EQ(NearestPrime, 0u);
}

TEST_F(Hashing, OnlyTheFirstHalfOfTheBytesCounts) {
    // A modulus above every hash shows the raw values.
    TableSize = UINT32_MAX;
    NearestPrime = UINT32_MAX;
    // Bytes count as signed ("\xE9").
    const std::pair<const char *, uint32_t> raw[] = {
        {"", 0},          {"a", 3104},      {"ab", 3104},        {"abc", 100416},
        {"abcd", 100416}, {"abXY", 100416}, {"\xE9", 0xFFFFFD3F}};
    for (const auto &[text, hash] : raw)
        EXPECT_EQ(Hash(text), hash) << text;

    NearestPrime = 0;
    TableSize = 256;
    const std::pair<const char *, uint32_t> modulo_251[] = {{"a", 92}, {"abXY", 16}, {"\xE9", 171}};
    for (const auto &[text, hash] : modulo_251)
        EXPECT_EQ(Hash(text), hash) << text;

    // Buckets are 8-digit names; seg1 and 1.5 agree with seg1 and 1.0 in
    // their first half.
    for (const char *version : {"1.0", "1.5"}) {
        char *bucket = DepotFindBucket("seg1", version);
        EXPECT_STREQ(bucket, "00000108");
        KesMemoryFree(bucket);
    }
}

TEST(Records, HoldTheFieldsInTheirOrderAndAZeroByte) {
    DepotEntry *entry = Made("seg1", "1.0", "C:\\depot\\00000108.0.dat");
    entry->reference_count = 1;
    entry->state = 1;
    entry->checksum = -5;
    entry->deadline = 1199145600;
    entry->properties = static_cast<unsigned char *>(KesMemoryMalloc(3));
    std::memcpy(entry->properties, "\1\2\3", 3);
    entry->propertiesLength = 3;
    // Fields that live in memory only do not reach the record.
    entry->size = 77;
    entry->openCount = entry->writeCount = 4;
    entry->accessTime = entry->modifyTime = 99;
    const std::string record = Build(entry);
    EXPECT_EQ(record,
              std::string("<<id>seg1</id><version>1.0</version><reference_count>1</reference_count>"
                          "<state>1</state><checksum>-5</checksum><deadline>1199145600</deadline>"
                          "<location>C:\\depot\\00000108.0.dat</location>"
                          "<properties>AQID</properties>>") +
                  '\0');

    // Parsed back, every field of the record is as it was.
    DepotEntry *parsed = DepotEntryNewFromToc(nullptr, record.c_str());
    ASSERT_NE(parsed, nullptr);
    EXPECT_EQ(Build(parsed), record);
    EXPECT_EQ(parsed->entryFile, nullptr);
    EXPECT_EQ(parsed->size, 0u);
    EXPECT_EQ(parsed->openCount + parsed->writeCount, 0);
    EXPECT_EQ(parsed->accessTime + parsed->modifyTime, 0u);
    Release(parsed);
    Release(entry);
}

TEST(Records, OfAnEmptyObjectAreTheTemplateWithZeros) {
    DepotEntry *entry = DepotEntryNew();
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->state, DepotStatePending);
    const std::string record = Build(entry);
    EXPECT_EQ(record,
              std::string("<<id></id><version></version><reference_count>0</reference_count>"
                          "<state>0</state><checksum>0</checksum><deadline>0</deadline>"
                          "<location></location><properties></properties>>") +
                  '\0');
    DepotEntry *parsed = DepotEntryNewFromToc(nullptr, record.c_str());
    ASSERT_NE(parsed, nullptr);
    EXPECT_EQ(Build(parsed), record);
    EXPECT_STREQ(parsed->id, "");
    EXPECT_STREQ(parsed->version, "");
    EXPECT_STREQ(parsed->location, "");
    EXPECT_EQ(parsed->properties, nullptr);
    EXPECT_EQ(parsed->propertiesLength, 0u);
    Release(parsed);
    Release(entry);
}

TEST(Records, GrowPastTheFirstBufferAndKeepLargeDeadlines) {
    // Base64 text is a third longer than the bytes, so the first buffer
    // (bytes + 200) overflows and grows.
    const std::string location(600, 'L');
    DepotEntry *entry = Made("id", "v", location.c_str());
    entry->propertiesLength = 900;
    entry->properties = static_cast<unsigned char *>(KesMemoryMalloc(900));
    for (uint32_t i = 0; i < 900; ++i)
        entry->properties[i] = static_cast<unsigned char>(i * 7);
    entry->deadline = 4294967295u;
    entry->reference_count = -2147483647 - 1;
    const std::string record = Build(entry);
    EXPECT_NE(record.find("<deadline>-1</deadline>"), std::string::npos);
    EXPECT_NE(record.find("<reference_count>-2147483648</reference_count>"), std::string::npos);
    EXPECT_EQ(record.size(), 168 + 2 + 1 + 11 + 1 + 1 + 2 + 600 + 1200 + 1u);

    DepotEntry *parsed = DepotEntryNewFromToc(nullptr, record.c_str());
    ASSERT_NE(parsed, nullptr);
    EXPECT_EQ(parsed->deadline, 4294967295u);
    EXPECT_EQ(Build(parsed), record);
    Release(parsed);
    Release(entry);
}

TEST(Records, ParseNumbersLeniently) {
    const std::string record =
        "<<id>a</id><version>b</version><reference_count> -12abc</reference_count>"
        "<state>+2</state><checksum>x</checksum><deadline>\t7 8</deadline>"
        "<location>l</location><properties> AQ\nID </properties>>";
    DepotEntry *parsed = DepotEntryNewFromToc(nullptr, record.c_str());
    ASSERT_NE(parsed, nullptr);
    EXPECT_EQ(parsed->reference_count, -12);
    EXPECT_EQ(parsed->state, 2);
    EXPECT_EQ(parsed->checksum, 0);
    EXPECT_EQ(parsed->deadline, 7u);
    EXPECT_EQ(parsed->propertiesLength, 3u);  // white space is skipped
    Release(parsed);
}

class RecordParsing : public DepotTest {};

TEST_F(RecordParsing, RefusesRecordsThatLackAnElementAndListsNothing) {
    const std::string whole =
        "<<id>a</id><version>b</version><reference_count>1</reference_count>"
        "<state>1</state><checksum>0</checksum><deadline>0</deadline>"
        "<location>l</location><properties></properties>>";
    for (const char *element : {"id", "version", "reference_count", "state", "checksum", "deadline",
                                "location", "properties"}) {
        std::string damaged = whole;
        const std::string open = std::string("<") + element + ">";
        damaged.replace(damaged.find(open), open.size(), "<gone>");
        EXPECT_EQ(DepotEntryNewFromToc(depot_, damaged.c_str()), nullptr) << element;
    }
    // Non-empty properties that decode to no byte.
    std::string blank = whole;
    blank.replace(blank.find("<properties></properties>"), 25, "<properties> \n </properties>");
    EXPECT_EQ(DepotEntryNewFromToc(depot_, blank.c_str()), nullptr);
    EXPECT_EQ(DepotFindEntryIndex(depot_, "a", "b"), -1);

    DepotEntry *listed = DepotEntryNewFromToc(depot_, whole.c_str());
    ASSERT_NE(listed, nullptr);
    EXPECT_GE(DepotFindEntryIndex(depot_, "a", "b"), 0);
}

TEST_F(RecordParsing, StopsAtTheRecordsZeroByte) {
    // An entry file written over a longer record keeps its tail after the
    // zero byte; readers ignore it.
    const std::string path = dir_ / "00000108.0.xml";
    DepotEntry *entry = Made("seg1", "1.0", (dir_ / "00000108.0.dat").c_str());
    entry->state = 1;
    std::string bytes = Build(entry);
    bytes += "<reference_count>9</reference_count><state>2</state>>";
    depot_test::WriteBytes(path, bytes);
    Release(entry);

    DepotEntry *found = DepotGetEntry(depot_, "seg1", "1.0");
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->state, 1);
    EXPECT_EQ(found->reference_count, 0);
    EXPECT_EQ(std::string(found->entryFile), path);
}

}  // namespace
