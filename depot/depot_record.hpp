// Reading entry records: the elements of a record text, the test of which
// segment a record holds, and the parsers that make or refresh an object.
// Texts are zero-terminated; everything after the first zero byte is
// ignored.
#pragma once

#include <cstddef>

#include "depot/depot_entry.h"

namespace korvo::depot {

// The content of the first element `name` of a record, as getTagScope finds
// it (an empty element has length 0).
struct Element {
    const char *first = nullptr;
    size_t length = 0;
    bool found = false;
};
Element FindElement(const char *text, const char *name);

// Whether the record's id and version elements hold exactly these strings.
bool RecordHolds(const char *text, const char *id, const char *version);

// A new object parsed from the record, in no list; NULL when an element is
// missing, memory is exhausted or non-empty properties decode to nothing.
// Logs the lines of DepotEntryNew.
DepotEntry *ParseRecord(const char *text);

// Refreshes the object from the record, field by field: a missing element
// leaves its field alone. Never fails.
void DepotEntryReloadFromToc_internal(DepotEntry *entry, const char *text);

}  // namespace korvo::depot
