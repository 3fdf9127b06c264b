// The wildcard matcher.
//
// Matching walks the pattern element by element. Every element other than '*'
// ('?', a set, an escaped or a plain character) consumes exactly one name
// character, and where it ends in the pattern depends on the pattern alone.
// A star tries the rest of the pattern at each later start in the name (the
// current character up to the last one, never the empty remainder) and
// matches if one try matches; a try that fails on a malformed set is simply a
// failed try.
//
// Retrying every star recursively costs exponential time. Instead only the
// most recent star is retried, which gives the same answers:
//  - Say a try of star S at name position k walks its fixed elements to the
//    next star S2, reaching it at name position k + m. Whether S2 succeeds
//    from name position j can only become false as j grows: it tries the rest
//    at every start from j on, and at the end of the name it succeeds only if
//    S2 ends the pattern, which it also does from any earlier j. A later try
//    k' > k of S either fails before S2 or reaches S2 at k' + m > k + m. So
//    once S2 is reached, S's answer is S2's answer, and S is never needed again.
//  - When the name runs out in a try of the latest star, the rest of the pattern
//    decides. If that fails, a later try of the same star would run out of name
//    one (non-star) element earlier, with that element still ahead; so it fails
//    too, and the answer is no match without further tries.
// Each try therefore walks at most the pattern once, and there are at most as
// many tries as name characters: O(pattern x name) time, no recursion.
#include "properties/match.h"

#include <cstddef>
#include <cstring>
#include <new>
#include <vector>

#include "runtime/vri.h"

namespace {

enum class Step { kAdvance, kMismatch, kMalformed };

// The multibyte types of the pattern's backslashes. Each backslash is judged
// by vri_mbsbtype over the whole pattern, once: star retries come back to the
// same backslashes many times.
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

class Matcher {
  public:
    explicit Matcher(const char *pattern) : p_(pattern), types_(pattern) {}

    // Matches the element at pattern offset `at` (neither '*' nor the end)
    // against the name character `c`; on success moves `at` past the element.
    Step element(size_t &at, char c) {
        switch (p_[at]) {
            case '?':
                ++at;
                return Step::kAdvance;
            case '[':
                return set(at, c);
            case '\\':
                // An escape, unless the backslash is the second byte of a
                // double-byte character; a final backslash stands for itself.
                if (p_[at + 1] != '\0' && types_.at(at) != VRI_MBC_TRAIL)
                    ++at;
                break;
            default:
                break;
        }
        if (p_[at] != c)
            return Step::kMismatch;
        ++at;
        return Step::kAdvance;
    }

  private:
    Step set(size_t &at, char c) {
        size_t i = at + 1;
        if (p_[i] == '\0')
            return Step::kMalformed;
        bool negated = false;
        if (p_[i] == '^') {
            negated = true;
            if (p_[++i] == '\0')
                return Step::kMalformed;
        }
        bool found = false;
        while (p_[i] != ']' && p_[i] != '\0') {
            // "\]" makes ']' a member instead of the end of the set.
            if (p_[i] == '\\' && p_[i + 1] == ']' && types_.at(i) == VRI_MBC_SINGLE)
                ++i;
            if (p_[i + 1] == '-') {
                if (p_[i + 2] == '\0')
                    return Step::kMalformed;
                const auto low = static_cast<signed char>(p_[i]);
                const auto high = static_cast<signed char>(p_[i + 2]);
                const auto value = static_cast<signed char>(c);
                if (value >= low && value <= high)
                    found = true;
                i += 3;
            } else {
                if (p_[i] == c)
                    found = true;
                ++i;
            }
        }
        if (found == negated)
            return Step::kMismatch;
        if (p_[i] == ']')
            ++i;
        at = i;
        return Step::kAdvance;
    }

    const char *p_;
    BackslashTypes types_;
};

}  // namespace

extern "C" int match(const char *pattern, const char *name) {
    if (pattern == nullptr || name == nullptr)
        return KES_MATCH_NULL_ARGUMENT;
    Matcher matcher(pattern);
    size_t at = 0;    // pattern offset
    size_t from = 0;  // name offset
    bool starred = false;
    size_t after_star = 0;  // pattern offset behind the latest star
    size_t retry = 0;       // name offset of that star's current try
    for (;;) {
        if (name[from] == '\0') {
            const char *rest = pattern + at;
            const bool fits = rest[0] == '\0' || (rest[0] == '*' && rest[1] == '\0');
            return fits ? KES_MATCH_YES : KES_MATCH_NO;
        }
        Step step = Step::kMismatch;
        if (pattern[at] == '*') {
            if (pattern[at + 1] == '\0')
                return KES_MATCH_YES;
            starred = true;
            after_star = ++at;
            retry = from;
            continue;
        }
        if (pattern[at] != '\0')
            step = matcher.element(at, name[from]);
        if (step == Step::kAdvance) {
            ++from;
            continue;
        }
        if (!starred)
            return step == Step::kMalformed ? KES_MATCH_BAD_PATTERN : KES_MATCH_NO;
        // The latest star tries the next start, up to the name's last character.
        if (name[++retry] == '\0')
            return KES_MATCH_NO;
        at = after_star;
        from = retry;
    }
}
