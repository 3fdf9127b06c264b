/* Tag helpers: find and edit the elements of a tagged (XML-like) text in
 * memory without a parser. The depot reads the fields of its entry records
 * with getTagScope and fills them with addContentToTag.
 *
 * Every position is a pointer into the caller's text and every range is
 * given by its first and last character, both inclusive: a range's length is
 * last - first + 1, and an empty content has last = first - 1. An element is
 * found by its name: its opening tag is '<', the name, then a space, tab,
 * line feed, '/' or '>', and a '>' before any further '<'; an element whose
 * opening tag ends in "/>" closes itself; otherwise the first "</name>" after
 * the opening tag closes it (elements of the same name inside are not
 * counted). Nothing is returned that the caller must free; no function reads
 * or writes outside the caller's text and buffer, whatever positions and
 * limits it is given.
 *
 * Threads: any thread; a text is edited by one thread at a time.
 */
#ifndef KORVO_KES_KES_TAG_H
#define KORVO_KES_KES_TAG_H

#include "runtime/korvo_export.h"

KORVO_BEGIN_DECLS

typedef struct TagRanges {
    char *openStart;    /* the '<' of the opening tag */
    char *openEnd;      /* the '>' that ends the opening tag */
    char *contentStart; /* openEnd + 1; NULL for an element that closes itself */
    char *contentEnd;   /* the content's last character; NULL when it closes itself */
    char *closeStart;   /* the '<' of the closing tag; openStart when it closes
                           itself; NULL when no closing tag was found */
    char *closeEnd;     /* the '>' of the closing tag; openEnd when it closes
                           itself; NULL when no closing tag was found */
} TagRanges;

/* A pair of positions; both NULL when there is nothing to give. */
typedef struct TagScope {
    char *first;
    char *last;
} TagScope;

/* Fills `ranges` with the ranges of the first element `name` of the
 * zero-terminated `text`, all NULL when there is none, and returns `ranges`.
 * When `limit` is not NULL and lies before the text's last character, nothing
 * after it is considered: an element whose closing tag passes the limit has
 * no closing tag, and its content runs to the limit. A closing tag is found
 * only when its '>' lies within the text (or the limit). */
KORVO_EXPORT TagRanges *getTagRanges(TagRanges *ranges, const char *name, const char *text,
                                     const char *limit);

/* The content of the element (whole 0), or the element from its opening '<'
 * to its closing '>' (whole nonzero); (NULL, NULL) when not found or, with
 * whole 0, when the element closes itself. An element without a closing tag
 * gives (openStart, NULL) with whole nonzero. */
KORVO_EXPORT TagScope getTagScope(const char *name, const char *text, const char *limit, int whole);

/* The "<!DOCTYPE ...>" declaration (whole nonzero), or the first and last
 * character of the root name it declares (whole 0); (NULL, NULL) when there
 * is no declaration. */
KORVO_EXPORT TagScope getDocType(const char *text, const char *limit, int whole);

/* Puts the characters newFirst..newLast into the element `name` of the text
 * that runs from `text` to its last character `textEnd` (which also limits
 * the search), in a buffer whose last usable position is `bufferEnd`. With
 * `replace` nonzero they replace the element's content; otherwise they go
 * before it. Returns (text, new text end); the byte after the new end is not
 * written (the caller terminates the text). When the result would pass
 * `bufferEnd`, nothing changes and the result is (NULL, the text end it would
 * need). (NULL, NULL) when the element is missing, closes itself or has no
 * closing tag, or when the positions make no sense (a NULL, textEnd after
 * bufferEnd, newLast before newFirst - 1). The new characters may lie in the
 * buffer itself. `unused` is ignored. */
KORVO_EXPORT TagScope addContentToTag(char *text, char *textEnd, const void *unused,
                                      char *bufferEnd, const char *name, const char *newFirst,
                                      const char *newLast, int replace);

KORVO_END_DECLS

#endif
