// Tag helpers. The search works on offsets into a region whose every byte is
// known to lie in the caller's text, so that no position or limit a caller
// gives can lead it outside: the region ends at the text's zero byte, at the
// limit, or at the text end of addContentToTag, whichever comes first.
#include "kes/kes_tag.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>

#include "kes/kes_memory.h"

namespace {

constexpr ptrdiff_t kNone = -1;

// Signed distance from `from` to `to`, computed on addresses so that unrelated
// pointers cannot make it undefined.
ptrdiff_t distance(const void *from, const void *to) {
    return static_cast<ptrdiff_t>(reinterpret_cast<uintptr_t>(to) -
                                  reinterpret_cast<uintptr_t>(from));
}

char *at(const char *base, ptrdiff_t offset) {
    return reinterpret_cast<char *>(reinterpret_cast<uintptr_t>(base) +
                                    static_cast<uintptr_t>(offset));
}

bool endsName(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '/' || c == '>';
}
bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n';
}

// The ranges of one element as offsets into the region; kNone where the
// public record holds NULL.
struct Element {
    ptrdiff_t openStart = kNone, openEnd = kNone;
    ptrdiff_t contentStart = kNone, contentEnd = kNone;
    ptrdiff_t closeStart = kNone, closeEnd = kNone;
};

// The bytes text[0..last]: `last` is the last offset considered (the "end"),
// -1 for an empty region.
class Region {
  public:
    Region(const char *text, ptrdiff_t last) : text_(text), last_(last) {}

    // The region of a zero-terminated text, cut at `limit` when it lies
    // before the text's last character.
    static Region ofString(const char *text, const char *limit) {
        if (limit == nullptr)
            return Region(text, static_cast<ptrdiff_t>(std::strlen(text)) - 1);
        return upTo(text, distance(text, limit));
    }

    // The bytes up to `last`, or up to the first zero byte before it.
    static Region upTo(const char *text, ptrdiff_t last) {
        if (last < 0)
            return Region(text, -1);
        const auto count = static_cast<size_t>(last) + 1;
        return Region(text, static_cast<ptrdiff_t>(::strnlen(text, count)) - 1);
    }

    const char *text() const { return text_; }
    ptrdiff_t last() const { return last_; }
    char operator[](ptrdiff_t offset) const { return text_[offset]; }

    // The first occurrence of `name` at or after `from` whose following
    // character still lies in the region, or kNone.
    ptrdiff_t find(std::string_view name, ptrdiff_t from) const {
        const ptrdiff_t span = last_ - from;  // bytes from `from` up to, not including, the last
        if (span < static_cast<ptrdiff_t>(name.size()))
            return kNone;
        const std::string_view haystack(text_ + from, static_cast<size_t>(span));
        const size_t hit = haystack.find(name);
        return hit == std::string_view::npos ? kNone : from + static_cast<ptrdiff_t>(hit);
    }

    // The first `c` in from..to (inclusive), or kNone.
    ptrdiff_t findChar(char c, ptrdiff_t from, ptrdiff_t to) const {
        if (to < from)
            return kNone;
        const void *hit = std::memchr(text_ + from, c, static_cast<size_t>(to - from + 1));
        return hit == nullptr ? kNone : static_cast<const char *>(hit) - text_;
    }

    Element element(std::string_view name) const;

  private:
    const char *text_;
    ptrdiff_t last_;
};

Element Region::element(std::string_view name) const {
    Element found;
    const auto length = static_cast<ptrdiff_t>(name.size());
    if (length == 0)
        return found;

    // The opening tag: '<', the name, a character that ends a name, and a '>'
    // before any further '<'.
    ptrdiff_t name_at = kNone;
    ptrdiff_t close_angle = kNone;
    for (ptrdiff_t p = 0; p < last_;) {
        const ptrdiff_t f = find(name, p);
        if (f == kNone)
            return found;
        if (f > p && text_[f - 1] == '<' && endsName(text_[f + length])) {
            const ptrdiff_t gt = findChar('>', f + length, last_);
            if (gt != kNone && findChar('<', f + length, gt - 1) == kNone) {
                name_at = f;
                close_angle = gt;
                break;
            }
        }
        p = f + length;
    }
    if (name_at == kNone)
        return found;
    found.openStart = name_at - 1;
    found.openEnd = close_angle;
    if (text_[close_angle - 1] == '/') {
        found.closeStart = found.openStart;
        found.closeEnd = found.openEnd;
        return found;
    }

    // The closing tag: the first "</name>" after the opening tag. The search
    // position moves by the name's length past every occurrence that is not
    // one, and a closing tag must leave room for its "</" after the opening
    // tag's '>'.
    found.contentStart = close_angle + 1;
    for (ptrdiff_t h = close_angle + 1; h < last_;) {
        const ptrdiff_t g = find(name, h);
        if (g == kNone)
            break;
        if (g >= h + 2 && text_[g - 2] == '<' && text_[g - 1] == '/' && text_[g + length] == '>') {
            found.closeStart = g - 2;
            found.closeEnd = g + length;
            found.contentEnd = found.closeStart - 1;
            return found;
        }
        h += ((g - h) / length + 1) * length;  // the first step of `length` past g
    }
    found.contentEnd = last_;
    return found;
}

char *pointer(const Region &region, ptrdiff_t offset) {
    return offset == kNone ? nullptr : at(region.text(), offset);
}

TagRanges *fill(TagRanges *ranges, const Region &region, const Element &e) {
    *ranges = TagRanges{pointer(region, e.openStart),    pointer(region, e.openEnd),
                        pointer(region, e.contentStart), pointer(region, e.contentEnd),
                        pointer(region, e.closeStart),   pointer(region, e.closeEnd)};
    return ranges;
}

struct BlockRelease {
    void operator()(void *block) const { KesMemoryFree(block); }
};

bool overlaps(const char *first, ptrdiff_t length, const char *buffer, ptrdiff_t bufferLength) {
    const auto a = reinterpret_cast<uintptr_t>(first);
    const auto b = reinterpret_cast<uintptr_t>(buffer);
    return a < b + static_cast<uintptr_t>(bufferLength) && b < a + static_cast<uintptr_t>(length);
}

}  // namespace

extern "C" {

TagRanges *getTagRanges(TagRanges *ranges, const char *name, const char *text, const char *limit) {
    if (ranges == nullptr)
        return nullptr;
    *ranges = TagRanges{};
    if (name == nullptr || text == nullptr)
        return ranges;
    const Region region = Region::ofString(text, limit);
    return fill(ranges, region, region.element(name));
}

TagScope getTagScope(const char *name, const char *text, const char *limit, int whole) {
    TagRanges ranges;
    getTagRanges(&ranges, name, text, limit);
    return whole ? TagScope{ranges.openStart, ranges.closeEnd}
                 : TagScope{ranges.contentStart, ranges.contentEnd};
}

TagScope getDocType(const char *text, const char *limit, int whole) {
    if (text == nullptr)
        return TagScope{};
    const Region region = Region::ofString(text, limit);
    const Element e = region.element("!DOCTYPE");
    if (e.openStart == kNone)
        return TagScope{};
    if (whole)
        return TagScope{pointer(region, e.openStart), pointer(region, e.openEnd)};

    // The root name starts past '<', "!DOCTYPE" and one separator.
    const ptrdiff_t end = region.last();
    ptrdiff_t first = e.openStart + 10;
    while (first < end && isBlank(region[first]))
        ++first;
    if (first >= end)
        return TagScope{pointer(region, first), pointer(region, first)};
    ptrdiff_t last = first;
    while (last < end && !endsName(region[last + 1]))
        ++last;
    return TagScope{pointer(region, first), pointer(region, last)};
}

TagScope addContentToTag(char *text, char *textEnd, const void * /*unused*/, char *bufferEnd,
                         const char *name, const char *newFirst, const char *newLast, int replace) {
    if (text == nullptr || textEnd == nullptr || bufferEnd == nullptr || name == nullptr ||
        newFirst == nullptr || newLast == nullptr)
        return TagScope{};
    const ptrdiff_t textLast = distance(text, textEnd);
    const ptrdiff_t bufferLast = distance(text, bufferEnd);
    const ptrdiff_t added = distance(newFirst, newLast) + 1;
    if (textLast < -1 || bufferLast < textLast || added < 0)
        return TagScope{};

    const Region region = Region::upTo(text, textLast);
    const Element e = region.element(name);
    if (e.contentStart == kNone || e.closeStart == kNone)
        return TagScope{};

    const ptrdiff_t old = e.contentEnd - e.contentStart + 1;
    const ptrdiff_t tail = textLast - e.closeStart + 1;  // the closing tag and all after it
    const ptrdiff_t newLastOffset = textLast + added - (replace ? old : 0);
    if (newLastOffset > bufferLast)
        return TagScope{nullptr, at(text, newLastOffset)};

    // New characters taken from the buffer itself are copied aside first, as
    // the move below may overwrite them.
    std::unique_ptr<char, BlockRelease> copy;
    if (added > 0 && overlaps(newFirst, added, text, bufferLast + 1)) {
        copy.reset(static_cast<char *>(KesMemoryMalloc(static_cast<size_t>(added))));
        if (!copy)
            return TagScope{};
        std::memcpy(copy.get(), newFirst, static_cast<size_t>(added));
        newFirst = copy.get();
    }
    char *content = text + e.contentStart;
    if (replace) {
        std::memmove(content + added, text + e.closeStart, static_cast<size_t>(tail));
    } else {
        std::memmove(content + added, content, static_cast<size_t>(old + tail));
    }
    if (added > 0)
        std::memcpy(content, newFirst, static_cast<size_t>(added));
    return TagScope{text, at(text, newLastOffset)};
}
}
