/* korvo_example: a first tour of the endpoint library, in C.
 *
 * 1. korvo_init registers the library's types with the runtime.
 * 2. A segment's property list is built with a few typed values.
 * 3. The list is saved to a property file (plain layout: its encoded
 *    length, then the encoded list) in a fresh temporary directory and
 *    loaded back.
 * 4. The loaded list is printed.
 * 5. A must-exist get of a missing key raises catalog message 36, which C
 *    code catches through the runtime's catch adapter. */
#define _POSIX_C_SOURCE 200809L

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>
#ifdef _WIN32
#include <direct.h>
#include <io.h>
#endif

#include "properties/korvo_keys.h"
#include "properties/korvo_properties.h"
#include "properties/property_files.h"
#include "runtime/cpl.h"
#include "runtime/mg_memory.h"
#include "runtime/raise.h"

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

/* Saves `list` to `path` and loads it back into `loaded`; both raise on
 * failure, so they run under the catch adapter. */
struct SaveLoad {
    Properties *list, *loaded;
    const char *path;
};

static void save_and_load(void *context) {
    struct SaveLoad *job = context;
    properties_save(job->list, job->path);
    printf("saved %d bytes to %s\n", file_get_size(job->path), job->path);
    properties_load(job->loaded, job->path);
}

static void read_location(void *list) {
    printf("location: %s\n", properties_get_string(list, SEGMENT_LOCATION_KEY));
}

/* Makes a fresh folder of the example's own under the temporary folder. */
static int make_scratch_dir(char *directory, size_t size) {
    snprintf(directory, size, "%s/korvo_example.XXXXXX", cpl_tmpdir());
#ifdef _WIN32
    return _mktemp_s(directory, strlen(directory) + 1) == 0 && _mkdir(directory) == 0;
#else
    return mkdtemp(directory) != NULL;
#endif
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
    if (!make_scratch_dir(directory, sizeof directory))
        return 1;
    snprintf(path, sizeof path, "%s/segment.plist", directory);

    Properties loaded;
    properties_init(&loaded);
    struct SaveLoad job = {segment, &loaded, path};
    EhException *failed = eh_catch_call(save_and_load, &job);
    if (failed != NULL) {
        fprintf(stderr, "%s", eh_exception_text(failed));
        eh_exception_free(failed);
        return 1;
    }
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
