/* korvo_method: the smallest method built against an installed korvo.
 *
 *   korvo_method            works in a fresh temporary directory and
 *                           removes it at the end
 *   korvo_method WORK_DIR   works in WORK_DIR and keeps what it made there:
 *                           look at it with `korvo depot list --depot
 *                           WORK_DIR/depot` and `korvo progress list
 *                           --work-dir WORK_DIR`
 *
 * It keeps a segment, with its description as an encoded property list, in
 * the depot WORK_DIR/depot through the depot's own operations and reads it
 * back; keeps a progress record for a distribution (WORK_DIR/mstat); and
 * shows how C code catches a catalog message that the library raises.
 *
 * korvo_method_cxx.cc beside it is the same method in C++.
 *
 * Build it with CMake (find_package(korvo), CMakeLists.txt beside it) or
 * with pkg-config:
 *   cc korvo_method.c $(pkg-config --cflags --libs korvo) -o korvo_method */
#define _POSIX_C_SOURCE 200809L

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>

#include <korvo/korvo.h>

/* The few calls of the host that the example makes around the library: a
 * directory of its own, the work directory in the environment, and the
 * removal of what it made. */
#ifdef _WIN32
#include <direct.h>
#include <io.h>

static void make_dir(const char *dir) {
    _mkdir(dir);
}
static char *make_temporary_dir(char *pattern) {
    if (_mktemp_s(pattern, strlen(pattern) + 1) != 0 || _mkdir(pattern) != 0)
        return NULL;
    return pattern;
}
static void set_variable(const char *name, const char *value) {
    _putenv_s(name, value);
}
static int remove_tree(const char *dir) {
    char command[700];
    snprintf(command, sizeof command, "rmdir /s /q \"%s\"", dir);
    return system(command);
}
#else
static void make_dir(const char *dir) {
    mkdir(dir, 0700);
}
static char *make_temporary_dir(char *pattern) {
    return mkdtemp(pattern);
}
static void set_variable(const char *name, const char *value) {
    setenv(name, value, 1);
}
static int remove_tree(const char *dir) {
    char command[700];
    snprintf(command, sizeof command, "rm -rf '%s'", dir);
    return system(command);
}
#endif

static const char kData[] = "segment data";

/* The segment's description, encoded, as the depot keeps it beside the
 * entry. Raises on failure: runs inside the catch adapter. */
struct Description {
    void *bytes;
    uint32_t length;
};

static void free_list(void *list) {
    korvo_properties_destroy(list);
}

static void describe_segment(void *context) {
    struct Description *description = context;
    Properties *segment = korvo_segment_new("seg-1", "1.0", (int32_t)(sizeof kData - 1));
    if (segment == NULL || !ex_delegate(segment, free_list))
        return;
    properties_encode(TC_Vem_Korvo2__sequence_Property_Properties, segment, &description->bytes,
                      &description->length);
}

/* Stores seg-1 in the depot at `dir` and reads it back; removes it again
 * unless `keep`. 0 on success. */
static int keep_segment(const char *dir, int keep) {
    struct Description description = {NULL, 0};
    EhException *failed = eh_catch_call(describe_segment, &description);
    if (failed != NULL) {
        fprintf(stderr, "%s", eh_exception_text(failed));
        eh_exception_free(failed);
        return 1;
    }
    KesStatus status;
    Depot *depot = NULL;
    if (DepotNew(&status, &depot, dir, 0)->code != 0) {
        mg_free(description.bytes);
        return 1;
    }
    DepotPropertyBlock block = {description.bytes, description.length};
    DepotEntry *entry = DepotAddEntry(depot, "seg-1", "1.0", block);
    mg_free(description.bytes);
    int bad = entry == NULL;
    if (!bad) {
        KesFile file = NULL;
        bad = DepotFileOpenForWrite(&status, depot, entry, &file, 1)->code != 0 ||
              KesFileWrite(&status, file, kData, sizeof kData - 1, NULL)->code != 0;
        if (file != NULL)
            KesFileClose(&status, file);
        /* A deadline a day from now: after it, an expiry purge may remove
         * the segment. */
        if (!bad)
            bad =
                DepotCompleteEntry(&status, depot, entry, (uint32_t)time(NULL) + 86400)->code != 0;
    }
    DepotEntry *found = bad ? NULL : DepotGetEntry(depot, "seg-1", "1.0");
    if (found != NULL) {
        uint64_t size = 0;
        DepotEntryGetFileSize(&status, depot, found, &size);
        printf("depot: %s %s state %d, %llu bytes in %s\n", found->id, found->version, found->state,
               (unsigned long long)size, found->location);
        if (keep)
            DepotFreeEntry(&status, depot, found);
        else
            DepotRemoveEntry(&status, depot, found, 1);
    }
    DepotFree(&status, depot);
    return bad || found == NULL;
}

static void read_missing_key(void *list) {
    properties_get_string(list, "no-such-key");
}

static void keep_progress(void *unused) {
    (void)unused;
    mstat *record = mstat_new("dist-1", 0);
    if (record == NULL)
        return;
    Properties *list = mstat_get_properties(record);
    properties_put_string_dup(list, "t_len", "24");
    properties_put_string_dup(list, "c_len", "12");
    mstat_save(record);
    printf("progress: saved the record of %s in %s\n", record->distId, record->dir);
    mstat_free(record);
}

int main(int argc, char **argv) {
    if (korvo_init() != 1)
        return 1;

    int keep = argc > 1;
    char dir[512];
    if (keep) {
        snprintf(dir, sizeof dir, "%s", argv[1]);
        make_dir(dir);
    } else {
        snprintf(dir, sizeof dir, "%s/korvo_method.XXXXXX", cpl_tmpdir());
        if (make_temporary_dir(dir) == NULL)
            return 1;
    }
    char depot_dir[600];
    snprintf(depot_dir, sizeof depot_dir, "%s/depot", dir);
    set_variable("KORVO_WORK_DIR", dir);

    int failed = keep_segment(depot_dir, keep);

    EhException *caught = eh_catch_call(keep_progress, NULL);
    if (caught != NULL) {
        fprintf(stderr, "%s", eh_exception_text(caught));
        eh_exception_free(caught);
        failed = 1;
    }

    /* Raising calls run inside the catch adapter: asking a list for a key
     * it does not hold raises catalog message 36. */
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

    if (!keep && remove_tree(dir) != 0)
        failed = 1;
    return failed;
}
