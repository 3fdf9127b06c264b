// TOC and segment builders: segment descriptions, appends with clear
// ownership, and TOC files ("j_toc" in a plain property file).
#include <cstring>

#include "properties/korvo_keys.h"
#include "properties/korvo_properties.h"
#include "properties/property_files.h"
#include "records/korvo_toc_builder.h"
#include "records/records_internal.hpp"
#include "runtime/seq.h"

using korvo::records::OwnedProperties;
using korvo::records::OwnedPropertiesList;

namespace {

// Puts `element` (a Properties header whose contents the TOC takes over) at
// the end of `toc`; raises, with neither list changed, when memory is
// exhausted.
int32_t add_element(PropertiesList *toc, const Properties &element) {
    const int32_t index = seq_add(toc, &element, sizeof element);
    if (index < 0)
        vaThrow(nullptr, -1, "Not enough memory for segment %1$u of a TOC.\n", toc->length + 1);
    return index;
}

bool is_element_of(const PropertiesList *toc, const Properties *segment) {
    if (toc->buffer == nullptr || toc->length == 0)
        return false;
    const auto at = reinterpret_cast<std::uintptr_t>(segment);
    const auto first = reinterpret_cast<std::uintptr_t>(toc->buffer);
    return at >= first && at < first + toc->length * sizeof(Properties);
}

}  // namespace

extern "C" {

Properties *korvo_segment_new(const char *id, const char *version, int32_t size) {
    if (id == nullptr || version == nullptr || size < 0)
        return nullptr;
    OwnedProperties segment(properties_new());
    if (segment == nullptr)
        vaThrow(nullptr, -1, "Not enough memory for a %1$s record.\n", "segment description");
    properties_put_string_dup(segment.get(), SEGMENT_ID_KEY, id);
    properties_put_string_dup(segment.get(), SEGMENT_VERSION_KEY, version);
    properties_put_long_dup(segment.get(), SEGMENT_SIZE_KEY, size);
    return segment.release();
}

Properties *korvo_toc_add_segment(PropertiesList *toc, const char *id, const char *version,
                                  int32_t size) {
    if (toc == nullptr)
        return nullptr;
    OwnedProperties segment(korvo_segment_new(id, version, size));
    if (segment == nullptr)
        return nullptr;
    properties_put_long_dup(segment.get(), SEGMENT_OFFSET_KEY, 0);
    const int32_t index = add_element(toc, *segment);
    properties_init(segment.get());  // the TOC holds the contents now
    return &toc->buffer[index];
}

int32_t korvo_toc_append(PropertiesList *toc, Properties *segment) {
    if (toc == nullptr || segment == nullptr || is_element_of(toc, segment))
        return -1;
    const int32_t index = add_element(toc, *segment);
    properties_init(segment);
    return index;
}

int32_t korvo_toc_append_dup(PropertiesList *toc, const Properties *segment) {
    if (toc == nullptr || segment == nullptr)
        return -1;
    OwnedProperties copy(properties_clone(segment));
    const int32_t index = add_element(toc, *copy);
    properties_init(copy.get());
    return index;
}

PropertiesList *korvo_toc_load(const char *path) {
    if (path == nullptr)
        return nullptr;
    Properties file{};
    korvo::rt::ValueGuard guard(&file, TC_Vem_Korvo2__sequence_Property_Properties);
    properties_load(&file, path);
    OwnedPropertiesList toc(properties_list_new());
    if (toc == nullptr)
        vaThrow(nullptr, -1, "Not enough memory for a %1$s record.\n", "TOC");
    // Take the list out of the file's value cell instead of copying it.
    PropertiesList *held = properties_get_properties_list(&file, JOB_TOC_KEY);
    *toc = *held;
    properties_list_init(held);
    return toc.release();
}

void korvo_toc_save(const PropertiesList *toc, const char *path) {
    if (toc == nullptr || path == nullptr)
        return;
    Properties file{};
    korvo::rt::ValueGuard guard(&file, TC_Vem_Korvo2__sequence_Property_Properties);
    properties_put_properties_list_dup(&file, JOB_TOC_KEY, toc);
    properties_save(&file, path);
}

void korvo_toc_destroy(PropertiesList *toc) {
    if (toc == nullptr)
        return;
    properties_list_delete(toc);
    mg_free(toc);
}

void korvo_properties_destroy(Properties *list) {
    if (list == nullptr)
        return;
    properties_delete(list);
    mg_free(list);
}
}
