// The wildcard matcher.
//
// A pattern is a row of elements ('?', a set, an escaped or a plain
// character), each of which consumes exactly one name character, cut into
// segments by its stars: S0 * S1 * ... * Sm. A star tries the rest of the
// pattern at each later start in the name (the current character up to the
// last one, never the empty remainder) and matches if one try matches; a try
// that fails on a malformed set is simply a failed try. Once the name is used
// up, only an empty rest of the pattern or a single '*' matches.
//
// Retrying every star recursively costs exponential time. The answers are the
// same when each segment is placed once, from left to right:
//  - S0 must match at the start of the name.
//  - A middle segment Sk (a star follows it) is placed at its leftmost
//    occurrence at or after the current position. Whether the star after it
//    succeeds from position j can only become false as j grows (it tries the
//    rest at every start from j on, and at the end of the name it succeeds
//    only if it ends the pattern, which it also does from any earlier j), and
//    a later occurrence of Sk only reaches that star further on. So once Sk is
//    placed, the earlier star is never needed again. If Sk fits only by
//    ending exactly at the end of the name, the rest of the pattern decides;
//    if it does not fit at all, every try runs out of name or mismatches.
//  - Consecutive stars: the first one's try at the current position reaches
//    the second at once, so the second decides.
//  - The last segment Sm (the pattern ends with it) must end exactly at the
//    end of the name: a try that starts earlier leaves name over when the
//    pattern ends, and one that starts later runs out of name inside Sm. So
//    only one place is tried.
// A set can only be malformed when the end of the pattern cuts it off, so a
// malformed element is always the last one: before any star it gives
// KES_MATCH_BAD_PATTERN, behind a star a failed try.
//
// The cost is linear in the name for the first and last segments, and for
// middle segments of plain characters (a substring search); other middle
// segments are tried at each candidate start, at most (segment x name) steps.
#include "properties/helpers/match.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <string_view>
#include <vector>

#include "runtime/vri.h"

namespace {

// The bytes a set admits, one bit per unsigned byte value.
struct ByteSet {
    uint64_t words[4] = {0, 0, 0, 0};

    // The unsigned byte values from `low` to `high`, both included.
    void add_range(unsigned low, unsigned high) {
        for (unsigned w = low >> 6; w <= high >> 6; ++w) {
            const unsigned from = w == low >> 6 ? low & 63 : 0;
            const unsigned to = w == high >> 6 ? high & 63 : 63;
            words[w] |= (~uint64_t{0} >> (63 - to + from)) << from;
        }
    }
    // The bytes from `low` to `high` compared as signed bytes.
    void add_signed_range(signed char low, signed char high) {
        if (low > high)
            return;
        if (high < 0 || low >= 0) {
            add_range(static_cast<unsigned char>(low), static_cast<unsigned char>(high));
        } else {  // from the negative bytes (128 and up) through 0
            add_range(static_cast<unsigned char>(low), 255);
            add_range(0, static_cast<unsigned char>(high));
        }
    }
    void invert() {
        for (uint64_t &word : words)
            word = ~word;
    }
    bool has(unsigned char c) const { return (words[c >> 6] >> (c & 63)) & 1; }
};

struct Element {
    enum Kind : uint8_t { kLiteral, kAny, kSet, kMalformed };
    Kind kind = kLiteral;
    char literal = 0;
    ByteSet set;

    bool matches(char c) const {
        switch (kind) {
            case kLiteral:
                return c == literal;
            case kAny:
                return true;
            case kSet:
                return set.has(static_cast<unsigned char>(c));
            default:
                return false;
        }
    }
};

// The multibyte types of the pattern's backslashes. Each backslash is judged
// by vri_mbsbtype over the whole pattern, once: a middle segment tried at
// many places comes back to the same backslashes.
class BackslashTypes {
  public:
    explicit BackslashTypes(const char *pattern) : pattern_(pattern) {}

    int at(size_t offset) {
        if (cache_.empty() && !uncached_) {
            try {
                cache_.assign(std::strlen(pattern_), kUnknown);
            } catch (const std::bad_alloc &) {
                uncached_ = true;
            }
        }
        if (uncached_)
            return vri_mbsbtype(nullptr, pattern_, offset);
        signed char &type = cache_[offset];
        if (type == kUnknown)
            type = static_cast<signed char>(vri_mbsbtype(nullptr, pattern_, offset));
        return type;
    }

  private:
    static constexpr signed char kUnknown = -128;
    const char *pattern_;
    std::vector<signed char> cache_;
    bool uncached_ = false;
};

// Reads the pattern's elements.
class Pattern {
  public:
    explicit Pattern(const char *text) : p_(text), types_(text) {}

    char operator[](size_t at) const { return p_[at]; }
    const char *text() const { return p_; }

    // Whether what is left of the pattern at `at` fits a used-up name: nothing,
    // or a single star.
    bool fits_end(size_t at) const {
        return p_[at] == '\0' || (p_[at] == '*' && p_[at + 1] == '\0');
    }

    // The element at `at` (neither '*' nor the end), with what a set admits
    // read into a map, for elements tried against many characters; `at`
    // moves past it.
    Element element(size_t &at) {
        Element e;
        switch (p_[at]) {
            case '?':
                e.kind = Element::kAny;
                ++at;
                return e;
            case '[': {
                const SetWalk walk = walk_set(at, [&](signed char low, signed char high) {
                    e.set.add_signed_range(low, high);
                });
                e.kind = walk.complete ? Element::kSet : Element::kMalformed;
                if (walk.negated)
                    e.set.invert();
                return e;
            }
            default:
                e.literal = literal(at);
                return e;
        }
    }

    // Whether the element at `at` (neither '*' nor the end) admits `c`, for
    // elements tried once: a set is read member by member against `c`.
    // `at` moves past the element; a malformed set admits nothing and sets
    // `malformed`.
    bool admits(size_t &at, char c, bool &malformed) {
        switch (p_[at]) {
            case '?':
                ++at;
                return true;
            case '[': {
                const auto value = static_cast<signed char>(c);
                bool found = false;
                const SetWalk walk = walk_set(at, [&](signed char low, signed char high) {
                    found |= value >= low && value <= high;
                });
                malformed = !walk.complete;
                return walk.complete && found != walk.negated;
            }
            default:
                return literal(at) == c;
        }
    }

    // Moves `at` past the element there without reading what it admits.
    void skip(size_t &at) {
        if (p_[at] == '[')
            walk_set(at, [](signed char, signed char) {});
        else
            literal(at);
    }

  private:
    // The character of a plain or escaped element; `at` moves past it.
    char literal(size_t &at) {
        // An escape, unless the backslash is the second byte of a double-byte
        // character; a final backslash stands for itself.
        if (p_[at] == '\\' && p_[at + 1] != '\0' && types_.at(at) != VRI_MBC_TRAIL)
            ++at;
        return p_[at++];
    }

    struct SetWalk {
        bool complete;  // false: the end of the pattern cuts the set off
        bool negated;
    };

    // Walks the set at `at` ('['), calling member(low, high) for each member
    // (a single character as a range of one), compared as signed bytes.
    // Incomplete when the end of the pattern cuts it off ("[", "[^", "[a-"),
    // with `at` at the end; otherwise `at` moves past the ']' (or to the end
    // that closes the set).
    template <typename Member>
    SetWalk walk_set(size_t &at, Member &&member) {
        size_t i = at + 1;
        SetWalk walk{true, false};
        if (p_[i] == '^') {
            walk.negated = true;
            ++i;
        }
        if (p_[i] == '\0') {  // "[" or "[^" at the end
            at = i;
            walk.complete = false;
            return walk;
        }
        while (p_[i] != ']' && p_[i] != '\0') {
            // "\]" makes ']' a member instead of the end of the set.
            if (p_[i] == '\\' && p_[i + 1] == ']' && types_.at(i) == VRI_MBC_SINGLE)
                ++i;
            const auto first = static_cast<signed char>(p_[i]);
            if (p_[i + 1] == '-') {
                if (p_[i + 2] == '\0') {
                    at = i + 2;
                    walk.complete = false;
                    return walk;
                }
                member(first, static_cast<signed char>(p_[i + 2]));
                i += 3;
            } else {
                member(first, first);
                ++i;
            }
        }
        if (p_[i] == ']')
            ++i;
        at = i;
        return walk;
    }

    const char *p_;
    BackslashTypes types_;
};

// A segment: the elements between two stars (or a star and the end).
struct Segment {
    size_t begin;   // pattern offset of its first element
    size_t end;     // offset of the star or the end that follows it
    size_t length;  // its elements, each one name character
    bool plain;     // plain characters only: the pattern's bytes themselves
};

Segment measure(Pattern &pattern, size_t at) {
    Segment segment{at, at, 0, true};
    while (pattern[segment.end] != '*' && pattern[segment.end] != '\0') {
        const char c = pattern[segment.end];
        if (c == '?' || c == '[' || c == '\\')
            segment.plain = false;
        pattern.skip(segment.end);
        ++segment.length;
    }
    return segment;
}

// Whether the segment matches the name from `from` (which has segment.length
// characters left at least). Behind a star a malformed set never matches.
bool matches_at(Pattern &pattern, const Segment &segment, const char *name) {
    bool malformed = false;
    for (size_t at = segment.begin; at < segment.end; ++name) {
        if (!pattern.admits(at, *name, malformed))
            return false;
    }
    return true;
}

// Middle segments tried at many places are read into elements once when
// they are this short; longer ones are read again at each place.
constexpr size_t kReadOnce = 32;

// The leftmost start at or after `from` where the segment matches and ends
// within the name (length `n`); `none` when there is none.
constexpr size_t none = SIZE_MAX;

size_t place(Pattern &pattern, const Segment &segment, const char *name, size_t from, size_t n) {
    if (n - from < segment.length)
        return none;
    const size_t last = n - segment.length;  // the last start that fits
    if (segment.plain) {
        const std::string_view haystack(name + from, n - from);
        const size_t found =
            haystack.find(std::string_view(pattern.text() + segment.begin, segment.length));
        return found == std::string_view::npos ? none : from + found;
    }
    if (segment.length > kReadOnce) {
        for (size_t j = from; j <= last; ++j)
            if (matches_at(pattern, segment, name + j))
                return j;
        return none;
    }
    Element elements[kReadOnce];
    size_t at = segment.begin;
    for (size_t k = 0; k < segment.length; ++k)
        elements[k] = pattern.element(at);
    const Element &first = elements[0];
    for (size_t j = from; j <= last; ++j) {
        if (first.kind == Element::kLiteral) {
            // Only places that begin with the first character are candidates.
            const void *found = std::memchr(name + j, first.literal, last - j + 1);
            if (found == nullptr)
                return none;
            j = static_cast<size_t>(static_cast<const char *>(found) - name);
        }
        size_t k = 1;
        while (k < segment.length && elements[k].matches(name[j + k]))
            ++k;
        if (k == segment.length && first.matches(name[j]))
            return j;
    }
    return none;
}

}  // namespace

extern "C" int match(const char *text, const char *name) {
    if (text == nullptr || name == nullptr)
        return KES_MATCH_NULL_ARGUMENT;
    Pattern pattern(text);
    size_t at = 0;  // pattern offset
    size_t i = 0;   // name offset

    // The first segment, from the start of the name.
    for (;;) {
        if (name[i] == '\0')
            return pattern.fits_end(at) ? KES_MATCH_YES : KES_MATCH_NO;
        if (pattern[at] == '*')
            break;
        if (pattern[at] == '\0')
            return KES_MATCH_NO;
        bool malformed = false;
        if (!pattern.admits(at, name[i], malformed))
            return malformed ? KES_MATCH_BAD_PATTERN : KES_MATCH_NO;
        ++i;
    }

    // At a star, with name left.
    const size_t n = i + std::strlen(name + i);
    for (;;) {
        ++at;
        if (pattern[at] == '\0')
            return KES_MATCH_YES;
        if (pattern[at] == '*')
            continue;
        const Segment segment = measure(pattern, at);
        if (pattern[segment.end] == '\0') {
            // The last segment ends at the end of the name, or nowhere.
            if (n - i < segment.length)
                return KES_MATCH_NO;
            return matches_at(pattern, segment, name + n - segment.length) ? KES_MATCH_YES
                                                                           : KES_MATCH_NO;
        }
        const size_t j = place(pattern, segment, name, i, n);
        if (j == none)
            return KES_MATCH_NO;
        at = segment.end;
        i = j + segment.length;
        if (i == n)
            return pattern.fits_end(at) ? KES_MATCH_YES : KES_MATCH_NO;
    }
}
