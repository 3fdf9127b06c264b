// Both sets of Base64 kernels, the portable one and the AVX2 one (where the
// processor has it), against a plain reading of the rules, one character at
// a time: texts of plain digits of every length around the 8- and
// 32-character steps, with line breaks every 64 or 76 characters or white
// space anywhere, padding between groups, and bytes outside the alphabet;
// and line-broken text that changes its shape part of the way through.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "kes/kes_base64_kernels.hpp"

namespace {

using korvo::kes::base64::Kernels;

const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int valueOf(unsigned char c) {
    const unsigned char low = c & 0x7f;  // a byte counts as the one 128 below it
    if (low == '=')
        return 255;
    for (int i = 0; i < 64; ++i)
        if (kDigits[i] == low)
            return i;
    return 254;
}

std::string referenceDecode(const std::string &text) {
    std::vector<int> kept;
    for (unsigned char c : text)
        if (!((c >= 7 && c <= 13) || c == ' '))
            kept.push_back(valueOf(c));
    std::string bytes;
    auto put = [&](const int v[4], size_t count) {
        const unsigned char out[3] = {static_cast<unsigned char>(v[0] << 2 | ((v[1] >> 4) & 3)),
                                      static_cast<unsigned char>(v[1] << 4 | ((v[2] >> 2) & 15)),
                                      static_cast<unsigned char>(v[2] << 6 | (v[3] & 63))};
        bytes.append(reinterpret_cast<const char *>(out), count);
    };
    size_t i = 0;
    for (; kept.size() - i >= 4; i += 4) {
        int v[4] = {kept[i], kept[i + 1], kept[i + 2], kept[i + 3]};
        size_t count = 3;
        for (int place = 2; place < 4; ++place)
            if (v[place] == 255) {
                v[place] = 0;
                --count;
            }
        put(v, count);
    }
    const size_t tail = kept.size() - i;
    if (tail >= 2) {
        const int v[4] = {kept[i], kept[i + 1], tail == 3 ? kept[i + 2] : 0, 0};
        put(v, tail - 1);
    }
    return bytes;
}

std::string decodeWith(const Kernels &kernels, const std::string &text) {
    std::vector<unsigned char> out(text.size() / 4 * 3 + 8);
    const size_t length = korvo::kes::base64::decodeText(
        kernels, reinterpret_cast<const unsigned char *>(text.data()), text.size(), out.data());
    return std::string(reinterpret_cast<const char *>(out.data()), length);
}

std::string encodeWith(const Kernels &kernels, const std::string &data) {
    std::string text((data.size() + 2) / 3 * 4, '\0');
    kernels.encode(reinterpret_cast<const unsigned char *>(data.data()), data.size(), text.data());
    return text;
}

std::vector<const Kernels *> kernelSets() {
    std::vector<const Kernels *> sets = {&korvo::kes::base64::kScalarKernels};
    if (korvo::kes::base64::avx2Supported())
        sets.push_back(&korvo::kes::base64::kAvx2Kernels);
    return sets;
}

std::string randomBytes(std::mt19937 &random, size_t length) {
    std::string bytes(length, '\0');
    for (char &c : bytes)
        c = static_cast<char>(random());
    return bytes;
}

// Text in lines of one length, each line followed by the same break; the
// lines are what the line-at-a-time loop takes whole.
std::string inLines(const std::string &text, size_t line, const std::string &lineBreak) {
    std::string broken;
    for (size_t at = 0; at < text.size(); at += line)
        broken += text.substr(at, line) + lineBreak;
    return broken;
}

// Every length around the steps of the loops, then long texts, encoded and
// decoded back, as they are and broken into lines.
TEST(Base64Kernels, RoundTripsOfEveryLengthWithAndWithoutLineBreaks) {
    std::mt19937 random(5);
    std::vector<size_t> lengths;
    for (size_t n = 0; n < 200; ++n)
        lengths.push_back(n);
    for (size_t n : {1000u, 4096u, 65537u, 300000u})
        lengths.push_back(n);
    for (const Kernels *kernels : kernelSets()) {
        for (size_t length : lengths) {
            const std::string data = randomBytes(random, length);
            const std::string text = encodeWith(*kernels, data);
            ASSERT_EQ(text, encodeWith(korvo::kes::base64::kScalarKernels, data)) << length;
            ASSERT_EQ(decodeWith(*kernels, text), data) << length;
            for (size_t line : {64u, 76u, 5u}) {
                const std::string broken = inLines(text, line, line == 5 ? " " : "\r\n");
                ASSERT_EQ(decodeWith(*kernels, broken), data) << length << " in lines of " << line;
            }
        }
    }
}

// The text must not depend on where the output lies (the AVX2 loop writes
// its first groups one at a time until its stores are aligned).
TEST(Base64Kernels, EncodingIntoAnyAlignment) {
    std::mt19937 random(11);
    for (const Kernels *kernels : kernelSets()) {
        for (size_t length = 0; length < 120; ++length) {
            const std::string data = randomBytes(random, length);
            const std::string expected = encodeWith(korvo::kes::base64::kScalarKernels, data);
            for (size_t offset = 0; offset < 32; ++offset) {
                std::vector<char> out(offset + expected.size() + 1, '#');
                kernels->encode(reinterpret_cast<const unsigned char *>(data.data()), length,
                                out.data() + offset);
                ASSERT_EQ(std::string(out.data() + offset, expected.size()), expected)
                    << length << " at " << offset;
                ASSERT_EQ(out.back(), '#');
            }
        }
    }
}

// Texts drawn mostly from the digits, with some white space, padding, bytes
// with the high bit set and bytes outside the alphabet anywhere.
TEST(Base64Kernels, AnyTextDecodesAsTheRulesSay) {
    std::mt19937 random(17);
    const std::string others("= \r\n\t\x0b*-\x00\xc1\xbd\xff", 12);
    for (const Kernels *kernels : kernelSets()) {
        for (int round = 0; round < 20000; ++round) {
            std::string text(std::uniform_int_distribution<size_t>(0, 160)(random), 'A');
            const unsigned rarity = 1 + random() % 60;
            for (char &c : text)
                c = random() % rarity == 0 ? others[random() % others.size()]
                                           : kDigits[random() % 64];
            ASSERT_EQ(decodeWith(*kernels, text), referenceDecode(text))
                << testing::PrintToString(text);
        }
    }
}

// Line-broken text whose lines are regular for a while and then are not:
// each kernel set must give the bytes the rules give, whatever breaks the
// pattern and wherever (a line of another length, another break, white
// space or a byte outside the alphabet inside a line, padding). Lines of a
// length that is no multiple of 4 cut groups across the breaks.
TEST(Base64Kernels, LineBrokenTextThatStopsBeingRegular) {
    std::mt19937 random(29);
    const std::vector<std::string> breaks = {"\r\n", "\n", "\r", " ", "\t\t"};
    const std::string intruders("=\r\n \t*\x00\xc1\xbd.", 11);
    for (const Kernels *kernels : kernelSets()) {
        for (size_t line : {29u, 32u, 36u, 61u, 64u, 68u, 76u, 96u, 100u, 128u, 137u}) {
            for (const std::string &lineBreak : breaks) {
                const std::string text =
                    encodeWith(*kernels, randomBytes(random, line * 12 + random() % 200));
                const std::string regular = inLines(text, line, lineBreak);
                ASSERT_EQ(decodeWith(*kernels, regular), referenceDecode(regular))
                    << line << " " << testing::PrintToString(lineBreak);
                // White space around the whole text.
                const std::string padded = " \r\n" + regular + "\r\n ";
                ASSERT_EQ(decodeWith(*kernels, padded), referenceDecode(padded));
                for (int round = 0; round < 40; ++round) {
                    std::string changed = regular;
                    const size_t at = random() % changed.size();
                    switch (round % 4) {
                        case 0:  // one character replaced, inside a line or a break
                            changed[at] = intruders[random() % intruders.size()];
                            break;
                        case 1:  // a line made shorter or longer from here on
                            if (random() % 2)
                                changed.erase(at, 1 + random() % 5);
                            else
                                changed.insert(at, std::string(1 + random() % 5, 'Q'));
                            break;
                        case 2:  // a break doubled or changed
                            changed.insert(at, lineBreak);
                            break;
                        default:  // a few of everything
                            for (int n = 0; n < 3; ++n)
                                changed[random() % changed.size()] =
                                    intruders[random() % intruders.size()];
                            break;
                    }
                    ASSERT_EQ(decodeWith(*kernels, changed), referenceDecode(changed))
                        << testing::PrintToString(changed);
                }
            }
        }
    }
}

}  // namespace
