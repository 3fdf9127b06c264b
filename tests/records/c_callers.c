/* A C caller of the TOC view: it builds a TOC from C, reads its segments,
 * and catches the raise of a faulty TOC with the runtime's adapter. */
#include <string.h>

#include "properties/korvo_properties.h"
#include "records/korvo_toc.h"
#include "runtime/mg_memory.h"
#include "runtime/raise.h"

int c_toc_size_sum(int32_t *sum, int32_t *number, char *text, size_t size);

static PropertiesList *toc_list(int versions) {
    PropertiesList *list = properties_list_new();
    const char *ids[] = {"a", "b"};
    for (int i = 0; i < 2; ++i) {
        Properties element;
        properties_init(&element);
        properties_put_string_dup(&element, "id", ids[i]);
        if (versions)
            properties_put_string_dup(&element, "version", "1");
        properties_put_long_dup(&element, "size", 100 * (i + 1));
        seq_add(list, &element, sizeof element);
    }
    return list;
}

static void view_faulty(void *list) {
    toc_delete(toc_from_properties(list));
}

/* Sums the sizes of a good TOC, then catches the missing version of a
 * faulty one. 0 when both went as expected. */
int c_toc_size_sum(int32_t *sum, int32_t *number, char *text, size_t size) {
    Toc *toc = toc_from_properties(toc_list(1));
    *sum = 0;
    for (int32_t i = 0; i < toc->count; ++i)
        *sum += toc->segments[i]->size;
    toc_delete(toc);

    PropertiesList *faulty = toc_list(0);
    EhException *caught = eh_catch_call(view_faulty, faulty);
    properties_list_delete(faulty); /* still the caller's after the raise */
    mg_free(faulty);
    if (caught == NULL)
        return -1;
    *number = eh_exception_number(caught);
    strncpy(text, eh_exception_text(caught), size - 1);
    text[size - 1] = '\0';
    eh_exception_free(caught);
    return 0;
}
