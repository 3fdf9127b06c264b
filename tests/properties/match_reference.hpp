// A plain recursive reading of the wildcard rules, for comparison with the
// library's matcher. It retries every star at every position (exponential in
// the number of stars), and it judges each backslash over the pattern text it
// was handed: a star's retries hand on the rest of the pattern behind the star.
#ifndef KORVO_TESTS_KES_MATCH_REFERENCE_HPP
#define KORVO_TESTS_KES_MATCH_REFERENCE_HPP

#include "runtime/vri.h"

inline int ReferenceMatch(const char *pattern, const char *name) {
    if (pattern == nullptr || name == nullptr)
        return -1;
    const char *p = pattern;
    const char *n = name;
    for (;;) {
        if (*n == '\0')
            return (p[0] == '\0' || (p[0] == '*' && p[1] == '\0')) ? 0 : 1;
        if (*p == '\0')
            return 1;
        if (*p == '*') {
            if (p[1] == '\0')
                return 0;
            for (const char *from = n; *from != '\0'; ++from) {
                if (ReferenceMatch(p + 1, from) == 0)
                    return 0;
            }
            return 1;
        }
        if (*p == '?') {
            ++p;
        } else if (*p == '[') {
            if (*++p == '\0')
                return -2;
            const bool negated = *p == '^';
            if (negated && *++p == '\0')
                return -2;
            bool found = false;
            while (*p != ']' && *p != '\0') {
                if (*p == '\\' && vri_mbsbtype(nullptr, pattern, p - pattern) == 0 && p[1] == ']')
                    ++p;
                if (p[1] == '-') {
                    if (p[2] == '\0')
                        return -2;
                    const signed char c = *n, low = p[0], high = p[2];
                    if (c >= low && c <= high)
                        found = true;
                    p += 3;
                } else {
                    if (*p == *n)
                        found = true;
                    ++p;
                }
            }
            if (found == negated)
                return 1;
            if (*p == ']')
                ++p;
        } else {
            if (*p == '\\' && vri_mbsbtype(nullptr, pattern, p - pattern) != 2 && p[1] != '\0')
                ++p;
            if (*p++ != *n)
                return 1;
        }
        ++n;
    }
}

#endif
