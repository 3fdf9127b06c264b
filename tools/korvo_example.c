/* korvo_example: a first tour of the endpoint library, in C.
 *
 * 1. korvo_init registers the library's types with the runtime.
 * 2. A segment's property list is built with a few typed values.
 * 3. The list is encoded with the runtime's marshalling and saved to a file
 *    in a fresh temporary directory, then read back and decoded.
 * 4. The loaded list is printed.
 * 5. A must-exist get of a missing key raises catalog message 36, which C
 *    code catches through the runtime's catch adapter. */
#define _POSIX_C_SOURCE 200809L

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "properties/korvo_keys.h"
#include "properties/korvo_properties.h"
#include "runtime/cpl.h"
#include "runtime/marshal.h"
#include "runtime/mg_memory.h"
#include "runtime/raise.h"

#define PROPERTIES TC_Vem_Korvo2__sequence_Property_Properties

static void print_property(const Property *p) {
    const void *cell = p->value.value;
    printf("  %-10s ", p->key);
    if (p->value.type == TC_string)
        printf("string  \"%s\"\n", *(char *const *)cell);
    else if (p->value.type == TC_long)
        printf("long    %d\n", *(const int32_t *)cell);
    else if (p->value.type == TC_boolean)
        printf("boolean %s\n", *(const uint8_t *)cell ? "true" : "false");
    else if (p->value.type == TC_Vem_Types_OctetList) {
        const OctetList *octets = cell;
        printf("octets ");
        for (uint32_t i = 0; i < octets->length; ++i)
            printf(" %02x", octets->buffer[i]);
        printf("\n");
    } else
        printf("(%s)\n", p->value.type->name);
}

/* Encodes `list` and writes the bytes to `path`; 0 on success. */
static int save(Properties *list, const char *path) {
    AdrBuffer *buffer = adr_init_encode_buffer(NULL, 0);
    FILE *file = fopen(path, "wb");
    int failed = file == NULL || !marshal_item(buffer, PROPERTIES, list) ||
                 fwrite(buffer->data, 1, buffer->length, file) != buffer->length;
    if (file != NULL && fclose(file) != 0)
        failed = 1;
    if (!failed)
        printf("saved %u bytes to %s\n", buffer->length, path);
    adr_free_buf(buffer);
    return failed;
}

/* Reads the file at `path` and decodes it into `list`; 0 on success. */
static int load(Properties *list, const char *path) {
    unsigned char bytes[4096];
    FILE *file = fopen(path, "rb");
    if (file == NULL)
        return 1;
    const size_t length = fread(bytes, 1, sizeof bytes, file);
    fclose(file);
    AdrBuffer *buffer = adr_init_decode_buffer(bytes, (uint32_t)length);
    const int failed = !marshal_item(buffer, PROPERTIES, list);
    adr_free_buf(buffer);
    return failed;
}

static void read_location(void *list) {
    printf("location: %s\n", properties_get_string(list, SEGMENT_LOCATION_KEY));
}

int main(void) {
    if (korvo_init() != 1)
        return 1;

    Properties *segment = properties_new();
    const uint8_t digest[4] = {0xde, 0xad, 0xbe, 0xef};
    const OctetList checksum = {4, 4, (uint8_t *)digest};
    properties_put_string_dup(segment, SEGMENT_ID_KEY, "seg-1");
    properties_put_string_dup(segment, SEGMENT_VERSION_KEY, "1.0");
    properties_put_long_dup(segment, SEGMENT_SIZE_KEY, 1048576);
    properties_put_boolean_dup(segment, SEGMENT_DISPOSABLE_KEY, 1);
    properties_put_OctetList_dup(segment, SEGMENT_CHECKSUM_KEY, &checksum);

    char directory[512], path[600];
    snprintf(directory, sizeof directory, "%s/korvo_example.XXXXXX", cpl_tmpdir());
    if (mkdtemp(directory) == NULL)
        return 1;
    snprintf(path, sizeof path, "%s/segment.plist", directory);

    Properties loaded;
    properties_init(&loaded);
    if (save(segment, path) != 0 || load(&loaded, path) != 0)
        return 1;
    printf("loaded %u properties:\n", loaded.length);
    for (uint32_t i = 0; i < loaded.length; ++i)
        print_property(&loaded.buffer[i]);

    EhException *caught = eh_catch_call(read_location, &loaded);
    if (caught != NULL) {
        printf("caught message %d: %s", eh_exception_number(caught), eh_exception_text(caught));
        eh_exception_free(caught);
    }

    properties_delete(&loaded);
    properties_delete(segment);
    mg_free(segment);
    unlink(path);
    rmdir(directory);
    return caught != NULL ? 0 : 1;
}
