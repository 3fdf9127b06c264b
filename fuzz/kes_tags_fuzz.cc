// The tag helpers on any text, name, limit, text end and buffer end. Buffers
// are exactly as large as the positions say, and the bytes past a limit are
// poisoned while the read-only helpers run, so the sanitizer sees any access
// outside them; a successful addContentToTag must leave exactly the expected
// bytes.
//
// Input: 6 control bytes, the name, the text. The control bytes: flags (1
// whole, 2 replace, 4 no limit, 8 new content from the buffer), name length
// (low 4 bits), limit offset, bytes cut from the text end, room after the
// text, new content length.
// Poisoning marks the bytes past the limit for AddressSanitizer; builds
// without its interface header (the Windows cross build) poison nothing.
#if __has_include(<sanitizer/asan_interface.h>)
#include <sanitizer/asan_interface.h>
#else
#define ASAN_POISON_MEMORY_REGION(address, size) ((void)(address), (void)(size))
#define ASAN_UNPOISON_MEMORY_REGION(address, size) ((void)(address), (void)(size))
#endif

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.hpp"
#include "kes/kes_tag.h"

namespace {

using korvo::fuzz::check;

bool within(const char *p, const char *first, const char *last) {
    return p == nullptr || (p >= first && p <= last);
}

void readOnly(const std::string &name, const std::string &input, uint8_t flags, size_t limitAt) {
    std::vector<char> text(input.begin(), input.end());
    text.push_back('\0');
    const char *base = text.data();
    const bool limited = (flags & 4) == 0 && limitAt < input.size();
    const char *limit = limited ? base + limitAt : nullptr;
    const char *last =
        std::min(base + std::strlen(base), limited ? limit : text.data() + input.size());
    if (limited)
        ASAN_POISON_MEMORY_REGION(base + limitAt + 1, input.size() - limitAt);

    TagRanges r;
    getTagRanges(&r, name.c_str(), base, limit);
    check(within(r.openStart, base, last) && within(r.openEnd, base, last) &&
          within(r.contentStart, base, last + 1) && within(r.contentEnd, base, last) &&
          within(r.closeStart, base, last) && within(r.closeEnd, base, last));
    if (r.openStart != nullptr) {
        check(r.openStart < r.openEnd && *r.openStart == '<' && *r.openEnd == '>');
        check(r.contentStart == nullptr || r.contentStart == r.openEnd + 1);
        check(r.closeStart == nullptr || r.contentStart == nullptr ||
              r.closeStart == r.contentEnd + 1);
    } else {
        check(r.openEnd == nullptr && r.contentStart == nullptr && r.closeStart == nullptr);
    }
    check(getTagScope(name.c_str(), base, limit, flags & 1).first ==
          ((flags & 1) ? r.openStart : r.contentStart));
    const TagScope docType = getDocType(base, limit, flags & 1);
    check(within(docType.first, base, last + 1) && within(docType.last, base, last + 1));
    if (limited)
        ASAN_UNPOISON_MEMORY_REGION(base + limitAt + 1, input.size() - limitAt);
}

void addContent(const std::string &name, const std::string &input, uint8_t flags, size_t cut,
                size_t room, size_t newLength) {
    // The text is the input less `cut` bytes, which stay in the buffer.
    const size_t textLength = input.size() - std::min(cut, input.size());
    const size_t size = input.size() + room;
    if (size == 0)
        return;
    std::vector<char> buffer(input.begin(), input.end());
    buffer.resize(size, '#');
    buffer.shrink_to_fit();
    char *text = buffer.data();
    const std::string content = input.substr(0, std::min(newLength, input.size()));
    const std::vector<char> outside(content.begin(), content.end());
    static const char nothing[1] = {0};
    const char *first = (flags & 8) ? text : content.empty() ? nothing : outside.data();
    const auto *contentLast =
        reinterpret_cast<const char *>(reinterpret_cast<uintptr_t>(first) + content.size() - 1);

    // The element before the change, found in a terminated copy of the text.
    std::vector<char> copy(text, text + textLength);
    copy.push_back('\0');
    TagRanges r;
    getTagRanges(&r, name.c_str(), copy.data(), textLength == 0 ? nullptr : &copy.back() - 1);

    const std::vector<char> before = buffer;
    const bool replace = (flags & 2) != 0;
    const TagScope result = addContentToTag(text, text + textLength - 1, nullptr, text + size - 1,
                                            name.c_str(), first, contentLast, replace);
    if (r.contentStart == nullptr || r.closeStart == nullptr || textLength == 0) {
        check(result.first == nullptr && result.last == nullptr && buffer == before);
        return;
    }
    const auto contentAt = static_cast<size_t>(r.contentStart - copy.data());
    const auto keptFrom =
        static_cast<size_t>((replace ? r.closeStart : r.contentStart) - copy.data());
    const size_t newTextLength = contentAt + content.size() + textLength - keptFrom;
    check(result.last == text + newTextLength - 1);
    if (result.first == nullptr) {
        check(newTextLength > size && buffer == before);
        return;
    }
    std::string expected(before.begin(), before.begin() + static_cast<ptrdiff_t>(contentAt));
    expected += content;
    expected.append(before.begin() + static_cast<ptrdiff_t>(keptFrom),
                    before.begin() + static_cast<ptrdiff_t>(textLength));
    check(result.first == text && std::string(text, newTextLength) == expected);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 6 || size > 65536)
        return 0;
    const size_t nameLength = std::min<size_t>(data[1] & 15, size - 6);
    const char *bytes = reinterpret_cast<const char *>(data);
    std::string name(bytes + 6, nameLength);
    name.resize(std::strlen(name.c_str()));  // the helpers take a C string
    const std::string text(bytes + 6 + nameLength, size - 6 - nameLength);
    readOnly(name, text, data[0], data[2]);
    addContent(name, text, data[0], data[3], data[4], data[5]);
    return 0;
}
