// Tag helpers: where elements are found, which positions come back, and how
// content goes into a buffer without passing its end.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <utility>

#include "kes/kes_base64.h"
#include "kes/kes_memory.h"
#include "kes/kes_tag.h"

namespace {

using Offsets = std::pair<long, long>;  // -1 stands for NULL

Offsets offsets(const char *text, TagScope s) {
    auto offset = [&](const char *p) { return p == nullptr ? -1L : static_cast<long>(p - text); };
    return {offset(s.first), offset(s.last)};
}
Offsets scope(const char *name, const char *text, long limit, int whole) {
    return offsets(text, getTagScope(name, text, limit < 0 ? nullptr : text + limit, whole));
}

TEST(Tags, ContentAndWholeElement) {
    EXPECT_EQ(scope("id", "<id>xyz</id>", -1, 0), Offsets(4, 6));
    EXPECT_EQ(scope("id", "<id>xyz</id>", -1, 1), Offsets(0, 11));
    EXPECT_EQ(scope("id", "<a><id></id></a>", -1, 0), Offsets(7, 6));  // empty: last = first - 1
    EXPECT_EQ(scope("id", "<id>a<id>b</id>c</id>", -1, 0), Offsets(4, 9));  // first closing tag
    EXPECT_EQ(scope("id", "<id>id</id>", -1, 0), Offsets(4, 5));
    // The name must end in a separator; attributes may follow; a '<' before
    // the '>' means it is no opening tag.
    EXPECT_EQ(scope("id", "<idx>1</idx><id>2</id>", -1, 0), Offsets(16, 16));
    EXPECT_EQ(scope("id", "<id a=\"1\">2</id>", -1, 0), Offsets(10, 10));
    EXPECT_EQ(scope("id", "<id <b>2</id>", -1, 0), Offsets(-1, -1));
    EXPECT_EQ(scope("id", "x id>2</id>", -1, 1), Offsets(-1, -1));
    EXPECT_EQ(scope("", "<>", -1, 1), Offsets(-1, -1));
    EXPECT_EQ(scope(nullptr, "<id>", -1, 1), Offsets(-1, -1));
    EXPECT_EQ(scope("id", nullptr, -1, 1), Offsets(-1, -1));
}

TEST(Tags, SelfClosingUnclosedAndLimited) {
    EXPECT_EQ(scope("id", "<a><id/></a>", -1, 0), Offsets(-1, -1));
    EXPECT_EQ(scope("id", "<a><id/></a>", -1, 1), Offsets(3, 7));
    TagRanges r;
    EXPECT_EQ(getTagRanges(&r, "id", "<a><id/></a>", nullptr), &r);
    EXPECT_TRUE(r.closeStart == r.openStart && r.closeEnd == r.openEnd && !r.contentEnd);
    // Without a closing tag the content runs to the last character or to the
    // limit; a limit before a '>' hides it, a limit past the text is no limit.
    EXPECT_EQ(scope("id", "<id>xyz", -1, 0), Offsets(4, 6));
    EXPECT_EQ(scope("id", "<id>xyz", -1, 1), Offsets(0, -1));
    const char text[40] = "<id>xyz</id>tail";
    EXPECT_EQ(scope("id", text, 5, 0), Offsets(4, 5));
    EXPECT_EQ(scope("id", text, 10, 0), Offsets(4, 10));
    EXPECT_EQ(scope("id", text, 11, 0), Offsets(4, 6));
    EXPECT_EQ(scope("id", text, 39, 0), Offsets(4, 6));
    EXPECT_EQ(scope("id", text, 2, 1), Offsets(-1, -1));
}

TEST(Tags, DocumentType) {
    const char *text = "<?xml version=\"1.0\"?>\n<!DOCTYPE  note [ %common; ]>\n<note/>";
    EXPECT_EQ(offsets(text, getDocType(text, nullptr, 0)), Offsets(33, 36));  // "note"
    EXPECT_EQ(offsets(text, getDocType(text, nullptr, 1)), Offsets(22, 50));
    const char *closed = "<!DOCTYPE root/>";
    EXPECT_EQ(offsets(closed, getDocType(closed, nullptr, 0)), Offsets(10, 13));
    EXPECT_EQ(offsets(text, getDocType("<note/>", nullptr, 0)), Offsets(-1, -1));
}

// A heap buffer of exactly `capacity` bytes (the sanitizers see any access
// past it) holding a text without a terminator.
struct Buffer {
    Buffer(const std::string &text, size_t capacity)
        : bytes(std::make_unique<char[]>(capacity)), capacity(capacity), length(text.size()) {
        std::memset(bytes.get(), '#', capacity);
        std::memcpy(bytes.get(), text.data(), text.size());
    }
    Offsets add(const char *name, const std::string &content, bool replace) {
        char *text = bytes.get();
        const TagScope result =
            addContentToTag(text, text + length - 1, nullptr, text + capacity - 1, name,
                            content.data(), content.data() + content.size() - 1, replace);
        if (result.first != nullptr)
            length = static_cast<size_t>(result.last - text) + 1;
        return offsets(text, result);
    }
    std::string all() const { return std::string(bytes.get(), capacity); }
    std::unique_ptr<char[]> bytes;
    size_t capacity, length;
};

TEST(Tags, AddContent) {
    Buffer buffer("<a><b>old</b></a>", 20);
    EXPECT_EQ(buffer.add("b", "new", true), Offsets(0, 16));
    EXPECT_EQ(buffer.all(), "<a><b>new</b></a>###");
    EXPECT_EQ(buffer.add("b", "ne", true), Offsets(0, 15));  // one shorter
    EXPECT_EQ(buffer.add("b", "", true), Offsets(0, 13));
    EXPECT_EQ(buffer.add("b", "old", false), Offsets(0, 16));
    EXPECT_EQ(buffer.add("b", "new", false), Offsets(0, 19));  // before the old content
    EXPECT_EQ(buffer.all(), "<a><b>newold</b></a>");

    // A result that would pass the buffer end changes nothing and tells the
    // text end it would need.
    const std::string before = buffer.all();
    EXPECT_EQ(buffer.add("b", "x", false), Offsets(-1, 20));
    EXPECT_EQ(buffer.add("b", "newer than", true), Offsets(-1, 23));
    EXPECT_EQ(buffer.all(), before);
    // Missing, self-closing and unclosed elements.
    Buffer other("<a><d/><e>x</a>", 40);
    for (const char *name : {"c", "d", "e"})
        EXPECT_EQ(other.add(name, "new", true), Offsets(-1, -1));

    // New content may come from the buffer itself, even from the part that moves.
    Buffer self("<a><b>xy</b><c>0123456789</c></a>", 60);
    char *text = self.bytes.get();
    EXPECT_NE(
        addContentToTag(text, text + 32, nullptr, text + 59, "b", text + 15, text + 24, 0).first,
        nullptr);
    EXPECT_EQ(std::string(text, 43), "<a><b>0123456789xy</b><c>0123456789</c></a>");
    // Positions that make no sense.
    EXPECT_EQ(addContentToTag(text, text + 42, nullptr, text + 41, "b", "n", "n", 1).first,
              nullptr);
    EXPECT_EQ(addContentToTag(text, text + 42, nullptr, text + 59, "b", text + 2, text, 1).last,
              nullptr);
}

// How the depot builds an entry record: the template filled element by
// element, the buffer grown to exactly what addContentToTag asks for.
TEST(Tags, FillingAnEntryRecord) {
    const unsigned char properties[] = {1, 2, 3};
    char *encoded = nullptr;
    uint32_t encodedLength = 0;
    Encode(properties, 3, &encoded, &encodedLength);
    const std::pair<const char *, std::string> fields[] = {
        {"id", "seg1"},
        {"version", "1.0"},
        {"reference_count", "1"},
        {"state", "1"},
        {"checksum", "-5"},
        {"deadline", "1199145600"},
        {"location", "C:\\depot\\00000108.0.dat"},
        {"properties", encoded}};
    KesMemoryFree(encoded);

    std::string record =
        "<<id></id><version></version><reference_count></reference_count><state></state>"
        "<checksum></checksum><deadline></deadline><location></location>"
        "<properties></properties>>";
    ASSERT_EQ(record.size(), 168u);
    for (const auto &[name, value] : fields) {
        const size_t length = record.size();
        TagScope result{};
        for (int attempt = 0; attempt < 2 && result.first == nullptr; ++attempt) {
            result = addContentToTag(record.data(), record.data() + length - 1, nullptr,
                                     record.data() + record.size() - 1, name, value.data(),
                                     value.data() + value.size() - 1, 1);
            if (result.first == nullptr)
                record.resize(result.last - record.data() + 1);
        }
        ASSERT_NE(result.first, nullptr) << name;
        record.resize(result.last - record.data() + 1);
    }
    EXPECT_EQ(record,
              "<<id>seg1</id><version>1.0</version><reference_count>1</reference_count>"
              "<state>1</state><checksum>-5</checksum><deadline>1199145600</deadline>"
              "<location>C:\\depot\\00000108.0.dat</location><properties>AQID</properties>>");
    EXPECT_EQ(scope("properties", record.c_str(), -1, 0), Offsets(198, 201));
}

}  // namespace
