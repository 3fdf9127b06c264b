// Entry records: building one from an object with the tag helpers, and
// parsing one back into a new or an existing object.
#include "depot/depot_record.hpp"

#include <charconv>
#include <cstdio>
#include <cstring>
#include <memory>

#include "depot/depot_list.hpp"
#include "depot/depot_operation.hpp"
#include "depot/depot_prelude.hpp"
#include "depot/depot_trace.hpp"
#include "kes/kes_base64.h"
#include "kes/kes_block.hpp"
#include "kes/kes_memory.h"
#include "kes/kes_tag.h"

using korvo::depot::FillStatus;
using korvo::depot::OperationGuard;

namespace korvo::depot {
namespace {

// Every record starts as this text, all elements empty, and its zero byte.
constexpr char kTemplate[] =
    "<<id></id><version></version><reference_count></reference_count><state></state>"
    "<checksum></checksum><deadline></deadline><location></location>"
    "<properties></properties>>";
static_assert(sizeof kTemplate == 169);

// Room added to the first buffer beyond the lengths of the strings and the
// property bytes.
constexpr size_t kRecordRoom = 200;

bool IsSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// A number read from exactly the element's content: white space, a sign,
// decimal digits; reading stops at any other character, and no digits give
// 0. Values wrap at 32 bits, so "-1" reads back as 4294967295 unsigned.
uint32_t ParseNumber(const Element &e) {
    size_t i = 0;
    while (i < e.length && IsSpace(e.first[i]))
        ++i;
    bool negative = false;
    if (i < e.length && (e.first[i] == '+' || e.first[i] == '-'))
        negative = e.first[i++] == '-';
    uint32_t value = 0;
    for (; i < e.length && e.first[i] >= '0' && e.first[i] <= '9'; ++i)
        value = value * 10 + static_cast<uint32_t>(e.first[i] - '0');
    return negative ? 0u - value : value;
}

// A Kes-heap copy of the content; NULL when memory is exhausted.
char *CopyContent(const Element &e) {
    char *copy = static_cast<char *>(KesMemoryMalloc(e.length + 1));
    if (copy != nullptr) {
        std::memcpy(copy, e.first, e.length);
        copy[e.length] = '\0';
    }
    return copy;
}

// Decodes non-empty properties content; false when it gives no byte.
bool DecodeProperties(const Element &e, unsigned char **bytes, uint32_t *length) {
    *bytes = nullptr;
    *length = 0;
    if (e.length > UINT32_MAX)
        return false;
    KesStatus status;
    Decode(&status, e.first, static_cast<uint32_t>(e.length), bytes, length);
    if (status.code == KES_OK && *bytes != nullptr && *length > 0)
        return true;
    KesMemoryFree(*bytes);
    *bytes = nullptr;
    *length = 0;
    return false;
}

bool Equals(const Element &e, const char *value) {
    const size_t length = value != nullptr ? std::strlen(value) : 0;
    return e.found && e.length == length &&
           std::memcmp(e.first, value != nullptr ? value : "", length) == 0;
}

// Replaces a string field with a copy of the content; keeps the old string
// when memory is exhausted.
void ReplaceString(char **field, const Element &e) {
    if (!e.found)
        return;
    if (char *copy = CopyContent(e)) {
        KesMemoryFree(*field);
        *field = copy;
    }
}

struct RecordBuffer {
    std::unique_ptr<char, korvo::kes::KesBlockFree> text;
    size_t capacity = 0;  // bytes, the zero byte's place included
    size_t length = 0;    // characters, the zero byte excluded
};

// Puts `value` into the element `name`, growing the buffer once to the size
// the tag helper asks for. Returns the failure's status, or NULL when done.
KesStatus *FillElement(KesStatus *status, RecordBuffer &record, const char *name, const char *value,
                       size_t valueLength) {
    // Empty content is given as the range (first, first - 1).
    static const char kEmpty[2] = "x";
    const char *first = valueLength > 0 ? value : kEmpty + 1;
    const char *last = valueLength > 0 ? value + valueLength - 1 : kEmpty;
    for (int attempt = 0; attempt < 2; ++attempt) {
        char *text = record.text.get();
        // The buffer's last byte stays free for the zero byte.
        const TagScope result = addContentToTag(text, text + record.length - 1, nullptr,
                                                text + record.capacity - 2, name, first, last, 1);
        if (result.first != nullptr) {
            record.length = static_cast<size_t>(result.last - text) + 1;
            text[record.length] = '\0';
            return nullptr;
        }
        if (result.last == nullptr)
            return FillStatus(status, KES_INVALID, 0, 2);
        if (attempt == 1)
            break;
        const size_t needed = static_cast<size_t>(result.last - text) + 2;
        char *grown = static_cast<char *>(KesMemoryRealloc(text, needed));
        if (grown == nullptr)
            return FillStatus(status, KES_NO_MEMORY, 0, 2);
        static_cast<void>(record.text.release());
        record.text.reset(grown);
        record.capacity = needed;
    }
    return FillStatus(status, KES_INVALID, 0, 1);
}

KesStatus *BuildRecord(KesStatus *status, const DepotEntry *entry, char **text, uint32_t *length) {
    const char *id = entry->id != nullptr ? entry->id : "";
    const char *version = entry->version != nullptr ? entry->version : "";
    const char *location = entry->location != nullptr ? entry->location : "";
    RecordBuffer record;
    record.capacity = std::strlen(version) + std::strlen(id) + std::strlen(location) +
                      entry->propertiesLength + kRecordRoom;
    record.text.reset(static_cast<char *>(KesMemoryMalloc(record.capacity)));
    if (!record.text)
        return FillStatus(status, KES_NO_MEMORY, 0, 1);
    std::memcpy(record.text.get(), kTemplate, sizeof kTemplate);
    record.length = sizeof kTemplate - 1;

    // Signed decimal, as "%d" writes it; a deadline above 2147483647 is
    // written negative.
    char numbers[4][16];
    const int32_t values[4] = {entry->reference_count, entry->state, entry->checksum,
                               static_cast<int32_t>(entry->deadline)};
    for (int i = 0; i < 4; ++i)
        *std::to_chars(numbers[i], numbers[i] + sizeof numbers[i] - 1, values[i]).ptr = '\0';

    char *encoded = nullptr;
    uint32_t encodedLength = 0;
    if (entry->propertiesLength > 0) {
        Encode(entry->properties, entry->propertiesLength, &encoded, &encodedLength);
        if (encoded == nullptr)
            return FillStatus(status, KES_NO_MEMORY, 0, 1);
    }
    const korvo::kes::KesText encodedOwner(encoded);

    const struct {
        const char *name;
        const char *value;
        size_t length;
    } fields[] = {{"id", id, std::strlen(id)},
                  {"version", version, std::strlen(version)},
                  {"reference_count", numbers[0], std::strlen(numbers[0])},
                  {"state", numbers[1], std::strlen(numbers[1])},
                  {"checksum", numbers[2], std::strlen(numbers[2])},
                  {"deadline", numbers[3], std::strlen(numbers[3])},
                  {"location", location, std::strlen(location)},
                  {"properties", encoded, encodedLength}};
    for (const auto &field : fields) {
        if (KesStatus *failed = FillElement(status, record, field.name, field.value, field.length))
            return failed;
    }
    if (record.length + 1 > UINT32_MAX)
        return FillStatus(status, KES_INVALID, 0, 1);
    *length = static_cast<uint32_t>(record.length + 1);
    *text = record.text.release();
    return FillStatus(status, KES_OK, 0, 0);
}

}  // namespace

Element FindElement(const char *text, const char *name) {
    const TagScope scope = getTagScope(name, text, nullptr, 0);
    if (scope.first == nullptr)
        return Element{};
    // An element without a closing tag runs to the end of the text.
    const char *last =
        scope.last != nullptr ? scope.last : scope.first + std::strlen(scope.first) - 1;
    return Element{scope.first, static_cast<size_t>(last - scope.first + 1), true};
}

bool RecordHolds(const char *text, const char *id, const char *version) {
    return Equals(FindElement(text, "id"), id) && Equals(FindElement(text, "version"), version);
}

DepotEntry *ParseRecord(const char *text) {
    DepotEntry *entry = DepotEntryNew();
    if (entry == nullptr || text == nullptr) {
        DestroyEntry(entry);
        return nullptr;
    }
    std::unique_ptr<DepotEntry, void (*)(DepotEntry *)> owner(entry, DestroyEntry);
    const Element id = FindElement(text, "id");
    const Element version = FindElement(text, "version");
    const Element location = FindElement(text, "location");
    const Element numbers[] = {FindElement(text, "reference_count"), FindElement(text, "state"),
                               FindElement(text, "checksum"), FindElement(text, "deadline")};
    const Element properties = FindElement(text, "properties");
    if (!id.found || !version.found || !location.found || !properties.found)
        return nullptr;
    for (const Element &number : numbers)
        if (!number.found)
            return nullptr;
    entry->id = CopyContent(id);
    entry->version = CopyContent(version);
    entry->location = CopyContent(location);
    if (entry->id == nullptr || entry->version == nullptr || entry->location == nullptr)
        return nullptr;
    entry->reference_count = static_cast<int32_t>(ParseNumber(numbers[0]));
    entry->state = static_cast<int32_t>(ParseNumber(numbers[1]));
    entry->checksum = static_cast<int32_t>(ParseNumber(numbers[2]));
    entry->deadline = ParseNumber(numbers[3]);
    if (properties.length > 0 &&
        !DecodeProperties(properties, &entry->properties, &entry->propertiesLength))
        return nullptr;
    return owner.release();
}

void DepotEntryReloadFromToc_internal(DepotEntry *entry, const char *text) {
    if (entry == nullptr || text == nullptr)
        return;
    ReplaceString(&entry->id, FindElement(text, "id"));
    ReplaceString(&entry->version, FindElement(text, "version"));
    ReplaceString(&entry->location, FindElement(text, "location"));
    if (const Element e = FindElement(text, "reference_count"); e.found)
        entry->reference_count = static_cast<int32_t>(ParseNumber(e));
    if (const Element e = FindElement(text, "state"); e.found)
        entry->state = static_cast<int32_t>(ParseNumber(e));
    if (const Element e = FindElement(text, "checksum"); e.found)
        entry->checksum = static_cast<int32_t>(ParseNumber(e));
    if (const Element e = FindElement(text, "deadline"); e.found)
        entry->deadline = ParseNumber(e);
    const Element properties = FindElement(text, "properties");
    if (!properties.found)
        return;
    if (properties.length == 0) {
        KesMemoryFree(entry->properties);
        entry->properties = nullptr;
        entry->propertiesLength = 0;
        return;
    }
    unsigned char *bytes = nullptr;
    uint32_t length = 0;
    if (DecodeProperties(properties, &bytes, &length)) {
        KesMemoryFree(entry->properties);
        entry->properties = bytes;
        entry->propertiesLength = length;
    }
}

}  // namespace korvo::depot

extern "C" {

DepotEntry *DepotEntryNew(void) {
    OperationGuard op("DepotEntryNew");
    auto *entry = static_cast<DepotEntry *>(KesMemoryCalloc(1, sizeof(DepotEntry)));
    if (entry == nullptr)
        return nullptr;
    op.exit();
    return entry;
}

KesStatus *DepotEntrySetProperties(KesStatus *status, Depot * /*depot*/, DepotEntry *entry,
                                   char **text, uint32_t *length) {
    constexpr const char *kOp = "DepotEntrySetProperties";
    OperationGuard op(kOp);
    if (!op.check(status, entry, text, length))
        return status;
    if (korvo::depot::BuildRecord(status, entry, text, length)->code != KES_OK) {
        Logger(LOG_LEVEL_FAILURE, "%s exit.  Error %d building entry record\n", kOp, status->code);
        return status;
    }
    op.exit();
    return status;
}

DepotEntry *DepotEntryNewFromToc(Depot *depot, const char *text) {
    constexpr const char *kOp = "DepotEntryNewFromToc";
    OperationGuard op(kOp);
    DepotEntry *entry = korvo::depot::ParseRecord(text);
    if (entry == nullptr)
        return nullptr;
    if (depot != nullptr && !korvo::depot::List(depot, entry)) {
        korvo::depot::DestroyEntry(entry);
        return nullptr;
    }
    op.exit();
    return entry;
}
}
