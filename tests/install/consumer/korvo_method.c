/* korvo_method: the smallest program built against an installed korvo.
 *
 * It keeps a segment in a depot, reads it back through the depot's own
 * operations, keeps a progress record for a distribution, and shows how a
 * catalog message raised by the library is caught in C. Everything goes to a
 * fresh directory under the temporary directory, which it removes at the end.
 *
 * Build it with CMake (find_package(korvo), CMakeLists.txt beside it) or with
 * pkg-config:
 *   cc korvo_method.c $(pkg-config --cflags --libs korvo) -o korvo_method */
#define _POSIX_C_SOURCE 200809L

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <depot/depot.h>
#include <properties/korvo_catalog.h>
#include <properties/korvo_keys.h>
#include <properties/korvo_properties.h>
#include <properties/property_files.h>
#include <runtime/cpl.h>
#include <runtime/mg_memory.h>
#include <runtime/raise.h>
#include <stream/mstat.h>

/* Raising calls run inside the catch adapter: this one asks a list for a
 * key it does not hold, which raises catalog message 36. */
static void read_missing_key(void *list) {
    properties_get_string(list, "no-such-key");
}

static int keep_segment(const char *dir) {
    KesStatus status;
    Depot *depot = NULL;
    if (DepotNew(&status, &depot, dir, 0)->code != 0)
        return 1;
    static const char bytes[] = "segment data";
    DepotPropertyBlock none = {NULL, 0};
    DepotEntry *entry = DepotAddEntry(depot, "seg-1", "1.0", none);
    int failed = entry == NULL;
    if (!failed) {
        KesFile file = NULL;
        failed = DepotFileOpenForWrite(&status, depot, entry, &file, 1)->code != 0 ||
                 KesFileWrite(&status, file, bytes, sizeof bytes - 1, NULL)->code != 0;
        if (file != NULL)
            KesFileClose(&status, file);
        if (!failed)
            failed = DepotCompleteEntry(&status, depot, entry, 0)->code != 0;
    }
    DepotEntry *found = failed ? NULL : DepotGetEntry(depot, "seg-1", "1.0");
    if (found != NULL) {
        uint64_t size = 0;
        DepotEntryGetFileSize(&status, depot, found, &size);
        printf("depot: %s %s state %d, %llu bytes in %s\n", found->id, found->version, found->state,
               (unsigned long long)size, found->location);
        DepotRemoveEntry(&status, depot, found, 1);
    }
    DepotFree(&status, depot);
    return failed || found == NULL;
}

static void keep_progress(void *unused) {
    (void)unused;
    mstat *record = mstat_new("dist-1", 0);
    if (record == NULL)
        return;
    properties_put_string_dup(mstat_get_properties(record), "c_len", "12");
    mstat_save(record);
    printf("progress: saved the record of %s in %s\n", record->distId, record->dir);
    mstat_free(record);
}

int main(void) {
    if (korvo_init() != 1)
        return 1;

    char dir[512];
    snprintf(dir, sizeof dir, "%s/korvo_method.XXXXXX", cpl_tmpdir());
    if (mkdtemp(dir) == NULL)
        return 1;
    char depot_dir[600];
    snprintf(depot_dir, sizeof depot_dir, "%s/depot", dir);
    setenv("KORVO_WORK_DIR", dir, 1);

    int failed = keep_segment(depot_dir);

    EhException *caught = eh_catch_call(keep_progress, NULL);
    if (caught != NULL) {
        fprintf(stderr, "%s", eh_exception_text(caught));
        eh_exception_free(caught);
        failed = 1;
    }

    Properties *list = properties_new();
    caught = eh_catch_call(read_missing_key, list);
    if (caught != NULL) {
        printf("caught message %d of %s: %s", eh_exception_number(caught), Korvo2Catalog[0],
               eh_exception_text(caught));
        eh_exception_free(caught);
    } else {
        failed = 1;
    }
    properties_delete(list);
    mg_free(list);

    char command[700];
    snprintf(command, sizeof command, "rm -rf '%s'", dir);
    if (system(command) != 0)
        failed = 1;
    return failed;
}
