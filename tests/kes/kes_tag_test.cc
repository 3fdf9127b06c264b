// Tag helpers: where elements are found, which positions come back, and how
// content is put into a buffer without passing its end.
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

long offset(const char *text, const char *position) {
    return position == nullptr ? -1 : static_cast<long>(position - text);
}

Offsets scope(const char *name, const char *text, long limit, int whole) {
    const TagScope s = getTagScope(name, text, limit < 0 ? nullptr : text + limit, whole);
    return {offset(text, s.first), offset(text, s.last)};
}

Offsets docType(const char *text, int whole) {
    const TagScope s = getDocType(text, nullptr, whole);
    return {offset(text, s.first), offset(text, s.last)};
}

TEST(Tags, FindsContentAndWholeElement) {
    const char *text = "<id>xyz</id>";
    EXPECT_EQ(scope("id", text, -1, 0), Offsets(4, 6));
    EXPECT_EQ(scope("id", text, -1, 1), Offsets(0, 11));

    TagRanges r;
    EXPECT_EQ(getTagRanges(&r, "id", text, nullptr), &r);
    EXPECT_EQ(offset(text, r.openStart), 0);
    EXPECT_EQ(offset(text, r.openEnd), 3);
    EXPECT_EQ(offset(text, r.contentStart), 4);
    EXPECT_EQ(offset(text, r.contentEnd), 6);
    EXPECT_EQ(offset(text, r.closeStart), 7);
    EXPECT_EQ(offset(text, r.closeEnd), 11);

    // An empty element: the content ends one before it starts.
    EXPECT_EQ(scope("id", "<a><id></id></a>", -1, 0), Offsets(7, 6));
    // The first closing tag ends the element, whatever is nested.
    EXPECT_EQ(scope("id", "<id>a<id>b</id>c</id>", -1, 0), Offsets(4, 9));
    // The name inside the content is passed over.
    EXPECT_EQ(scope("id", "<id>id</id>", -1, 0), Offsets(4, 5));
}

TEST(Tags, OpeningTagRules) {
    // idx is another element; the name must be followed by a separator.
    EXPECT_EQ(scope("id", "<idx>1</idx><id>2</id>", -1, 0), Offsets(16, 16));
    EXPECT_EQ(scope("id", "<id a=\"1\">2</id>", -1, 0), Offsets(10, 10));
    EXPECT_EQ(scope("id", "<id\tx>2</id>", -1, 0), Offsets(6, 6));
    // A '<' between the name and its '>' is not an opening tag.
    EXPECT_EQ(scope("id", "<id <b>2</id>", -1, 0), Offsets(-1, -1));
    // Without '<' before the name, or at the very start of the text.
    EXPECT_EQ(scope("id", "id>2</id>", -1, 1), Offsets(-1, -1));
    EXPECT_EQ(scope("id", "x id>2</id>", -1, 1), Offsets(-1, -1));
    EXPECT_EQ(scope("", "<>", -1, 1), Offsets(-1, -1));
    EXPECT_EQ(scope(nullptr, "<id>", -1, 1), Offsets(-1, -1));
    EXPECT_EQ(scope("id", nullptr, -1, 1), Offsets(-1, -1));
}

TEST(Tags, SelfClosingAndUnclosedElements) {
    const char *closed = "<a><id/></a>";
    EXPECT_EQ(scope("id", closed, -1, 0), Offsets(-1, -1));
    EXPECT_EQ(scope("id", closed, -1, 1), Offsets(3, 7));
    TagRanges r;
    getTagRanges(&r, "id", closed, nullptr);
    EXPECT_EQ(r.closeStart, r.openStart);
    EXPECT_EQ(r.closeEnd, r.openEnd);

    // Without a closing tag the content runs to the last character, or to
    // the limit, and the closing positions are NULL.
    const char *open = "<id>xyz";
    EXPECT_EQ(scope("id", open, -1, 0), Offsets(4, 6));
    EXPECT_EQ(scope("id", open, -1, 1), Offsets(0, -1));
    EXPECT_EQ(scope("id", open, 5, 0), Offsets(4, 5));
    // A limit before the closing tag's '>' leaves the element unclosed; a
    // limit past the text changes nothing.
    const char text[40] = "<id>xyz</id>tail";
    EXPECT_EQ(scope("id", text, 10, 0), Offsets(4, 10));
    EXPECT_EQ(scope("id", text, 11, 0), Offsets(4, 6));
    EXPECT_EQ(scope("id", text, 39, 0), Offsets(4, 6));
    // A limit before the opening tag's '>' hides the element.
    EXPECT_EQ(scope("id", text, 2, 1), Offsets(-1, -1));
}

TEST(Tags, DocumentTypeRootName) {
    const char *text = "<?xml version=\"1.0\"?>\n<!DOCTYPE  note [ %common; ]>\n<note/>";
    EXPECT_EQ(docType(text, 0), Offsets(33, 36));  // "note"
    EXPECT_EQ(docType(text, 1), Offsets(22, 50));
    EXPECT_EQ(docType("<!DOCTYPE html>", 0), Offsets(10, 13));
    EXPECT_EQ(docType("<!DOCTYPE root/>", 0), Offsets(10, 13));
    EXPECT_EQ(docType("<note/>", 0), Offsets(-1, -1));
    EXPECT_EQ(docType(nullptr, 1), Offsets(-1, -1));
}

// A buffer of exactly `capacity` bytes on the heap (so that the sanitizers
// see any access past it) holding `text` without a terminator.
class Buffer {
  public:
    Buffer(const std::string &text, size_t capacity)
        : bytes_(std::make_unique<char[]>(capacity)), capacity_(capacity), length_(text.size()) {
        std::memset(bytes_.get(), '#', capacity);
        std::memcpy(bytes_.get(), text.data(), text.size());
    }
    char *text() { return bytes_.get(); }
    char *textEnd() { return bytes_.get() + length_ - 1; }
    char *bufferEnd() { return bytes_.get() + capacity_ - 1; }
    std::string all() const { return std::string(bytes_.get(), capacity_); }

    TagScope add(const char *name, const std::string &content, bool replace) {
        const TagScope result =
            addContentToTag(text(), textEnd(), nullptr, bufferEnd(), name, content.data(),
                            content.data() + content.size() - 1, replace);
        if (result.first != nullptr)
            length_ = static_cast<size_t>(result.last - text()) + 1;
        return result;
    }

  private:
    std::unique_ptr<char[]> bytes_;
    size_t capacity_;
    size_t length_;
};

TEST(Tags, AddContentReplacesOrInserts) {
    Buffer replaced("<a><b>old</b></a>", 20);
    TagScope result = replaced.add("b", "new", true);
    EXPECT_EQ(result.first, replaced.text());
    EXPECT_EQ(result.last, replaced.text() + 16);
    EXPECT_EQ(replaced.all(), "<a><b>new</b></a>###");

    Buffer shorter("<a><b>old</b></a>", 17);
    result = shorter.add("b", "ne", true);
    EXPECT_EQ(result.last, shorter.text() + 15);  // one character shorter
    EXPECT_EQ(shorter.all().substr(0, 16), "<a><b>ne</b></a>");

    Buffer inserted("<a><b>old</b></a>", 20);
    result = inserted.add("b", "new", false);
    EXPECT_EQ(result.last, inserted.text() + 19);
    EXPECT_EQ(inserted.all(), "<a><b>newold</b></a>");

    Buffer emptied("<b>old</b>", 10);
    result = emptied.add("b", "", true);
    EXPECT_EQ(result.last, emptied.text() + 6);
    EXPECT_EQ(emptied.all().substr(0, 7), "<b></b>");
}

TEST(Tags, AddContentNeverPassesTheBufferEnd) {
    Buffer full("<a><b>old</b></a>", 18);
    const std::string before = full.all();
    TagScope result = full.add("b", "newer", true);  // needs 19 characters
    EXPECT_EQ(result.first, nullptr);
    EXPECT_EQ(result.last, full.text() + 18);
    EXPECT_EQ(full.all(), before);
    result = full.add("b", "new", false);  // needs 20
    EXPECT_EQ(result.first, nullptr);
    EXPECT_EQ(result.last, full.text() + 19);
    EXPECT_EQ(full.all(), before);

    // Missing, self-closing and unclosed elements, and nonsense positions.
    for (const char *name : {"c", "d", "e"}) {
        Buffer buffer("<a><d/><e>x</a>", 40);
        EXPECT_EQ(buffer.add(name, "new", true).first, nullptr) << name;
        EXPECT_EQ(buffer.add(name, "new", true).last, nullptr) << name;
    }
    char text[24] = "<b>x</b>";
    const char *content = "new";
    EXPECT_EQ(
        addContentToTag(text, text + 7, nullptr, text + 6, "b", content, content + 2, 1).first,
        nullptr);  // the text passes its buffer
    EXPECT_EQ(
        addContentToTag(text, text + 7, nullptr, text + 20, "b", content + 2, content, 1).last,
        nullptr);  // the new content ends before it starts
    EXPECT_STREQ(text, "<b>x</b>");
}

TEST(Tags, AddContentTakenFromTheBufferItself) {
    Buffer buffer("<a><b>xy</b><c>0123456789</c></a>", 60);
    char *digits = buffer.text() + 15;
    buffer.add("b", "", false);
    const TagScope result = addContentToTag(buffer.text(), buffer.text() + 32, nullptr,
                                            buffer.bufferEnd(), "b", digits, digits + 9, 0);
    ASSERT_NE(result.first, nullptr);
    EXPECT_EQ(std::string(buffer.text(), 43), "<a><b>0123456789xy</b><c>0123456789</c></a>");
}

// How the depot builds an entry record: the template filled element by
// element, the buffer grown to exactly what addContentToTag asks for.
TEST(Tags, FillingAnEntryRecord) {
    const std::string templateText =
        "<<id></id><version></version><reference_count></reference_count><state></state>"
        "<checksum></checksum><deadline></deadline><location></location>"
        "<properties></properties>>";
    ASSERT_EQ(templateText.size(), 168u);
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
        {"properties", std::string(encoded, encodedLength)}};
    KesMemoryFree(encoded);

    size_t capacity = 169;
    auto *record = static_cast<char *>(KesMemoryMalloc(capacity));
    std::memcpy(record, templateText.c_str(), 169);
    char *textEnd = record + 167;
    for (const auto &[name, value] : fields) {
        const char *first = value.data();
        TagScope result = addContentToTag(record, textEnd, nullptr, record + capacity - 1, name,
                                          first, first + value.size() - 1, 1);
        if (result.first == nullptr) {
            ASSERT_NE(result.last, nullptr) << name;
            const auto needed = static_cast<size_t>(result.last - record) + 2;  // and the zero byte
            const size_t textBytes = static_cast<size_t>(textEnd - record) + 1;
            record = static_cast<char *>(KesMemoryRealloc(record, needed));
            capacity = needed;
            textEnd = record + textBytes - 1;
            result = addContentToTag(record, textEnd, nullptr, record + capacity - 1, name, first,
                                     first + value.size() - 1, 1);
            ASSERT_EQ(result.first, record) << name;
        }
        textEnd = result.last;
        textEnd[1] = '\0';
    }
    EXPECT_STREQ(record,
                 "<<id>seg1</id><version>1.0</version><reference_count>1</reference_count>"
                 "<state>1</state><checksum>-5</checksum><deadline>1199145600</deadline>"
                 "<location>C:\\depot\\00000108.0.dat</location><properties>AQID</properties>>");
    EXPECT_EQ(textEnd - record + 2, 217);

    // Read back as the depot does.
    EXPECT_EQ(scope("properties", record, -1, 0), Offsets(198, 201));
    EXPECT_EQ(scope("id", record, -1, 0), Offsets(5, 8));
    KesMemoryFree(record);
}

}  // namespace
