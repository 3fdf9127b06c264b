// The Base64 codec: exact texts, the decoding rules for white space, padding
// and bytes outside the alphabet, and the work-buffer sizing rule.
#include <gtest/gtest.h>

#include <string>

#include "kes/kes_base64.h"
#include "kes/kes_memory.h"

namespace {

std::string encode(const std::string &data) {
    char *text = nullptr;
    uint32_t length = 99;
    Encode(data.data(), static_cast<uint32_t>(data.size()), &text, &length);
    if (text == nullptr)
        return length == 0 ? "<null>" : "<bad length>";
    std::string result = text[length] == '\0' ? std::string(text, length) : "<unterminated>";
    KesMemoryFree(text);
    return result;
}

std::string decode(const std::string &text) {
    KesStatus status{-9, -9, -9};
    unsigned char *data = nullptr;
    uint32_t length = 99;
    Decode(&status, text.data(), static_cast<uint32_t>(text.size()), &data, &length);
    EXPECT_TRUE(status.code == 0 && status.osError == 0 && status.step == 0);
    if (data == nullptr)
        return length == 0 ? "<null>" : "<bad length>";
    std::string result(reinterpret_cast<char *>(data), length);
    KesMemoryFree(data);
    return result;
}

TEST(Base64, ExactTexts) {
    EXPECT_EQ(encode("abc"), "YWJj");
    EXPECT_EQ(encode("ab"), "YWI=");
    EXPECT_EQ(encode("a"), "YQ==");
    EXPECT_EQ(encode("\xff\xfe\xfd"), "//79");
    EXPECT_EQ(encode("Many hands make light work."), "TWFueSBoYW5kcyBtYWtlIGxpZ2h0IHdvcmsu");
    EXPECT_EQ(encode(""), "<null>");

    EXPECT_EQ(decode("YWJj"), "abc");
    EXPECT_EQ(decode("YQ=="), "a");
    EXPECT_EQ(decode("YWI="), "ab");
    EXPECT_EQ(decode("Y W\r\nJ\tj \n"), "abc");
    EXPECT_EQ(decode("YQ"), "a");  // a tail without padding
    EXPECT_EQ(decode("YWI"), "ab");
    EXPECT_EQ(decode("YWJjY"), "abc");  // a single last character adds nothing
    EXPECT_EQ(decode(""), "<null>");
    EXPECT_EQ(decode(" \n"), "");  // a buffer without bytes
    // After a padded group the next one continues right after its bytes.
    EXPECT_EQ(decode("YQ==YWJj"), "aabc");
    EXPECT_EQ(decode("YWI=YWJjYWJj"), "ababcabc");
}

TEST(Base64, StrayCharactersAreDecodedNotRejected) {
    // Bytes outside the alphabet count as 254, '=' in the first places as 255.
    EXPECT_EQ(decode("*AAA"), std::string("\xf8\x00\x00", 3));
    EXPECT_EQ(decode("=AAA"), std::string("\xfc\x00\x00", 3));
    EXPECT_EQ(decode("AA*A"), std::string("\x00\x0f\x80", 3));
    // A byte with the high bit set counts as the character 128 below it, also
    // amid plain digits that are decoded 8 at a time.
    std::string text = "YWJjYWJjYWJjYWJj";
    text[5] = static_cast<char>('W' + 128);
    text[11] = static_cast<char>('=' + 128);  // padding in a fourth place
    EXPECT_EQ(decode(text), "abcabcababc");
    // White space is what MIME calls it: the control characters 7 to 13 and
    // the blank.
    for (int c = -128; c < 128; ++c) {
        EXPECT_EQ(IsBadMimeChar(static_cast<signed char>(c)) != 0, (c >= 7 && c <= 13) || c == 32);
    }
}

TEST(Base64, MissingArgumentsAndGroups) {
    KesStatus status{};
    unsigned char *data = nullptr;
    uint32_t length = 0;
    EXPECT_EQ(Decode(&status, nullptr, 4, &data, &length)->code, KES_INVALID);
    EXPECT_EQ(Decode(&status, "YWJj", 4, nullptr, &length)->code, KES_INVALID);
    char *text = reinterpret_cast<char *>(1);
    Encode(nullptr, 3, &text, &length);
    EXPECT_EQ(text, nullptr);

    Base64Group group{{'a', 'X', 'Y', 'Z'}, 1};
    char out[5] = {};
    EncodeToBuffer(group, out);
    EXPECT_STREQ(out, "YQ==");  // bytes past the count are taken as 0
    unsigned char raw[4], bytes[3];
    group.count = 3;
    EncodeRaw(raw, group);
    EXPECT_EQ(std::string(raw, raw + 4), std::string("\x18\x15\x21\x19"));
    EXPECT_EQ(DecodeToBuffer(Base64Group{{raw[0], raw[1], raw[2], raw[3]}, 0}, bytes), 3);
    EXPECT_EQ(std::string(bytes, bytes + 3), "aXY");
    Clear(&group);
    EXPECT_EQ(group.count + group.bytes[0] + group.bytes[3], 0);
}

TEST(Base64, WorkBuffersGrowInPagesOf4096) {
    char *buffer = nullptr;
    uint32_t capacity = 0, count = 7;
    AllocEncode(&buffer, &capacity, &count, 0);
    EXPECT_EQ(buffer, nullptr);  // nothing needed, nothing allocated
    AllocEncode(&buffer, &capacity, &count, 10);
    EXPECT_EQ(capacity, 4096u);
    buffer[4095] = 'x';
    count = 5;
    AllocEncode(&buffer, &capacity, &count, 4096);  // big enough: kept and cleared
    EXPECT_EQ(capacity, 4096u);
    EXPECT_EQ(buffer[4095], 0);
    EXPECT_EQ(count, 0u);
    AllocEncode(&buffer, &capacity, &count, 4097);
    EXPECT_EQ(capacity, 8192u);
    KesMemoryFree(buffer);
    unsigned char *data = nullptr;
    capacity = 0;
    AllocDecode(&data, &capacity, &count, 8192);  // an exact multiple gets a page more
    EXPECT_EQ(capacity, 12288u);
    KesMemoryFree(data);
}

}  // namespace
