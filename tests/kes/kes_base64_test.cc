// The Base64 codec: exact texts, the decoding rules for white space, padding
// and bytes outside the alphabet, and the work-buffer sizing rule.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "kes/kes_base64.h"
#include "kes/kes_memory.h"

namespace {

std::string encode(const std::string &data) {
    char *text = reinterpret_cast<char *>(1);
    uint32_t length = 99;
    Encode(data.data(), static_cast<uint32_t>(data.size()), &text, &length);
    if (text == nullptr) {
        EXPECT_EQ(length, 0u);
        return "<null>";
    }
    EXPECT_EQ(text[length], '\0');
    std::string result(text, length);
    KesMemoryFree(text);
    return result;
}

std::string decode(const std::string &text) {
    KesStatus status{-9, -9, -9};
    unsigned char *data = reinterpret_cast<unsigned char *>(1);
    uint32_t length = 99;
    EXPECT_EQ(Decode(&status, text.data(), static_cast<uint32_t>(text.size()), &data, &length),
              &status);
    EXPECT_EQ(status.code, 0);
    EXPECT_EQ(status.step, 0);
    if (data == nullptr) {
        EXPECT_EQ(length, 0u);
        return "<null>";
    }
    std::string result(reinterpret_cast<char *>(data), length);
    KesMemoryFree(data);
    return result;
}

// A plain encoder for comparison, one character at a time.
std::string referenceEncoding(const std::string &data) {
    std::string text;
    for (size_t i = 0; i < data.size(); i += 3) {
        const size_t n = std::min<size_t>(3, data.size() - i);
        uint32_t bits = 0;
        for (size_t k = 0; k < 3; ++k)
            bits = bits << 8 | (k < n ? static_cast<unsigned char>(data[i + k]) : 0u);
        for (size_t k = 0; k < 4; ++k)
            text += k <= n ? Base64Digits[(bits >> (18 - 6 * k)) & 63] : '=';
    }
    return text;
}

std::string randomBytes(std::mt19937 &random, size_t length) {
    std::string bytes(length, '\0');
    for (char &c : bytes)
        c = static_cast<char>(random());
    return bytes;
}

TEST(Base64, EncodesExactText) {
    EXPECT_EQ(encode("abc"), "YWJj");
    EXPECT_EQ(encode("ab"), "YWI=");
    EXPECT_EQ(encode("a"), "YQ==");
    EXPECT_EQ(encode("\xff\xfe\xfd"), "//79");
    EXPECT_EQ(encode(""), "<null>");
    EXPECT_STREQ(Base64Digits, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/");

    // Every length around the block sizes of the encoder, at every alignment.
    std::mt19937 random(7);
    const std::string pool = randomBytes(random, 200);
    for (size_t offset = 0; offset < 8; ++offset) {
        for (size_t length = 1; length < 100; ++length) {
            const std::string data = pool.substr(offset, length);
            ASSERT_EQ(encode(data), referenceEncoding(data)) << "length " << length;
        }
    }
}

TEST(Base64, DecodesExactBytes) {
    EXPECT_EQ(decode("YWJj"), "abc");
    EXPECT_EQ(decode("YQ=="), "a");
    EXPECT_EQ(decode("YWI="), "ab");
    EXPECT_EQ(decode("Y W\r\nJ\tj \n"), "abc");
    EXPECT_EQ(decode("YQ"), "a");  // a tail without padding
    EXPECT_EQ(decode("YWI"), "ab");
    EXPECT_EQ(decode("YWJjY"), "abc");  // a single last character adds nothing
    EXPECT_EQ(decode(""), "<null>");
    EXPECT_EQ(decode(" \n"), "");  // a buffer, without bytes
    // A padded group in the middle: the next group continues right after the
    // bytes the padded one gave.
    EXPECT_EQ(decode("YQ==YWJj"), "aabc");
    EXPECT_EQ(decode("YWI=YWJjYWJj"), "ababcabc");
}

TEST(Base64, DecodesStrayCharactersWithoutRejectingThem) {
    // Bytes outside the alphabet count as 254, '=' in the first places as 255.
    EXPECT_EQ(decode("*AAA"), std::string("\xf8\x00\x00", 3));
    EXPECT_EQ(decode("=AAA"), std::string("\xfc\x00\x00", 3));
    EXPECT_EQ(decode("AA*A"), std::string("\x00\x0f\x80", 3));
    // A byte with the high bit set decodes as the character 128 below it,
    // also inside a long run of plain digits.
    std::string text = "YWJjYWJjYWJjYWJj";
    text[5] = static_cast<char>('W' + 128);
    text[11] = static_cast<char>('=' + 128);  // padding in the fourth place
    EXPECT_EQ(decode(text), std::string("abcabcab") + "abc");
}

TEST(Base64, DecodeInvertsEncodeWhateverTheWhiteSpace) {
    std::mt19937 random(11);
    for (size_t length = 1; length < 120; ++length) {
        const std::string data = randomBytes(random, length);
        const std::string text = encode(data);
        ASSERT_EQ(decode(text), data);
        // Line breaks as MIME writes them, and white space at random places.
        std::string broken;
        for (size_t i = 0; i < text.size(); ++i) {
            if (i % 76 == 0 && i != 0)
                broken += "\r\n";
            if (random() % 7 == 0)
                broken += " \t\x0b"[random() % 3];
            broken += text[i];
        }
        ASSERT_EQ(decode(broken), data) << broken;
    }
}

TEST(Base64, RefusesMissingArguments) {
    KesStatus status{};
    unsigned char *data = nullptr;
    uint32_t length = 0;
    EXPECT_EQ(Decode(&status, nullptr, 4, &data, &length)->code, KES_INVALID);
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(Decode(&status, "YWJj", 4, nullptr, &length)->code, KES_INVALID);
    EXPECT_EQ(Decode(nullptr, "YWJj", 4, &data, &length), nullptr);
    char *text = reinterpret_cast<char *>(1);
    Encode(nullptr, 3, &text, &length);
    EXPECT_EQ(text, nullptr);
    EXPECT_EQ(length, 0u);
}

TEST(Base64, WhiteSpaceIsSevenToThirteenAndSpace) {
    for (int c = -128; c < 128; ++c) {
        const bool expected = (c >= 7 && c <= 13) || c == 32;
        EXPECT_EQ(IsBadMimeChar(static_cast<signed char>(c)) != 0, expected) << c;
    }
}

TEST(Base64, GroupOperations) {
    Base64Group group{{'a', 'X', 'Y', 'Z'}, 1};
    char out[5] = {};
    EncodeToBuffer(group, out);
    EXPECT_STREQ(out, "YQ==");  // bytes past the count are taken as 0
    group.count = 2;
    group.bytes[1] = 'b';
    EncodeToBuffer(group, out);
    EXPECT_STREQ(out, "YWI=");
    group.count = 3;
    group.bytes[2] = 'c';
    EncodeToBuffer(group, out);
    EXPECT_STREQ(out, "YWJj");

    unsigned char raw[4];
    EncodeRaw(raw, group);
    EXPECT_EQ(std::vector<int>(raw, raw + 4), (std::vector<int>{24, 22, 9, 35}));
    Base64Group values{{raw[0], raw[1], raw[2], raw[3]}, 0};
    unsigned char bytes[3] = {};
    EXPECT_EQ(DecodeToBuffer(values, bytes), 3);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(bytes), 3), "abc");
    std::memset(bytes, 0, 3);
    DecodeRaw(bytes, values);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(bytes), 3), "abc");

    Clear(&group);
    EXPECT_EQ(group.count, 0);
    EXPECT_EQ(group.bytes[0] | group.bytes[1] | group.bytes[2] | group.bytes[3], 0);
    KesStatus status{-1, -1, -1};
    EXPECT_EQ(init(&status)->code, 0);
}

TEST(Base64, WorkBuffersGrowInPagesOf4096) {
    char *buffer = nullptr;
    uint32_t capacity = 0, count = 7;
    AllocEncode(&buffer, &capacity, &count, 0);
    EXPECT_EQ(buffer, nullptr);  // nothing needed, nothing allocated
    EXPECT_EQ(count, 0u);
    AllocEncode(&buffer, &capacity, &count, 10);
    ASSERT_NE(buffer, nullptr);
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
    EXPECT_EQ(data[12287], 0);
    KesMemoryFree(data);
}

}  // namespace
