/* The CDS source: the CDS client library, loaded at run time on first need,
 * downloads the packages that a CDS stream's segments name; this header
 * offers the table of the client's entry points, the one-time loading, the
 * CDS trace output, the rule that finds a downloaded package's file and the
 * download step of a CDS stream.
 *
 * The client is found in the running program, else as libCDSClient.so on
 * the library search path, else in the directory that its configuration
 * names: the registry file (KORVO_REGISTRY_FILE, default
 * /etc/korvo/registry.ini) gives the client's home under
 * [HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\CDSClient] as
 * cds_home=<dir>, and <dir>/cds.cfg's "ClassPath" line leads to it
 * (docs/cds.md). Once loaded, the client stays loaded for the life of the
 * process.
 *
 * Threads: cds_init may be called from any thread, as often as wanted; the
 * first call loads, the others wait for it. cds_log may be called from any
 * thread. cds_get_actual_path returns a runtime block (mg_free) that the
 * caller owns. cds_download_next runs on the thread that reads the stream
 * whose state it is given; steps of several threads take turns. */
#ifndef KORVO_CDS_CDS_H
#define KORVO_CDS_CDS_H

#include <stddef.h>
#include <stdint.h>

#include "properties/korvo_types.h"
#include "runtime/korvo_export.h"
#include "stream/file_stream.h"

#define CDS_PRINTF_LIKE(format_index, first_argument) \
    KORVO_PRINTF_FORMAT(format_index, first_argument)

KORVO_BEGIN_DECLS

/* What the client's DownloadFile answers, as far as the library relies on
 * it. */
#define CDS_DOWNLOAD_STARTED 0        /* the completion callback will report the end */
#define CDS_DOWNLOAD_BUSY 5           /* the server is too busy; retry later */
#define CDS_DOWNLOAD_ALREADY_THERE 16 /* the package is there; no callback follows */

/* The levels the library passes to cds_log. */
#define CDS_LOG_FAILURE 2
#define CDS_LOG_TRACE 9

/* The completion callback the library hands to DownloadFile: called once
 * when a started download ends, from any thread; a nonzero status is a
 * failure. */
typedef void (*CdsStatusCallback)(uint32_t handle, int32_t status);

/* The client's entry points, in their slots. Strings may be NULL. */
typedef int32_t (*CdsDownloadFileFn)(const char *manager, const char *package_id,
                                     const char *destination, const char *user_name,
                                     const char *password, CdsStatusCallback callback,
                                     uint32_t *handle);
typedef const char *(*CdsGetDownloadDirectoryFn)(uint32_t handle);
typedef int32_t (*CdsGetSingleFileSizeFn)(const char *manager, const char *package_id,
                                          const char *user_name, const char *password,
                                          uint32_t *size);
typedef int32_t (*CdsPublishFileFn)(const char *manager, const char *package_id,
                                    const char *source_path, const char *user_name,
                                    const char *password);
typedef int32_t (*CdsReleaseFileFn)(uint32_t handle);

typedef struct CdsFuncs {
    CdsDownloadFileFn DownloadFile;                 /* slot 0 */
    CdsGetDownloadDirectoryFn GetDownloadDirectory; /* slot 1 */
    CdsGetSingleFileSizeFn GetSingleFileSize;       /* slot 2 */
    CdsPublishFileFn PublishFile;                   /* slot 3: never called, but required */
    CdsReleaseFileFn ReleaseFile;                   /* slot 4 */
} CdsFuncs;

/* One entry point: its name in the client and the byte offset of its slot
 * in CdsFuncs. */
typedef struct CdsFuncItem {
    const char *name;
    size_t offset;
} CdsFuncItem;

#define CDS_FUNC_COUNT 5

/* The five entry points in slot order, then a pair whose name is NULL. */
KORVO_EXPORT extern const CdsFuncItem cds_func_items[CDS_FUNC_COUNT + 1];

/* Loads the client once per process (later calls return at once) and logs
 * "korvo: cds_init: cds_load() returned <r>." with 0 (loaded) or -1. A
 * failed load is not tried again. */
KORVO_EXPORT void cds_init(void);

/* Writes the formatted text to standard error and flushes it, whatever the
 * level (CDS_LOG_FAILURE or CDS_LOG_TRACE). */
KORVO_EXPORT void cds_log(int32_t level, const char *format, ...) CDS_PRINTF_LIKE(2, 3);

/* The file of the package `package_id` downloaded under `handle`: the
 * client's download directory when it exists, else the file the client
 * keeps near it (the directory's last two components replaced by
 * cache/files/1/<package_id>-1), else the directory unchanged when it has
 * fewer than two '/'. NULL when the client is not loaded or knows no
 * directory for the handle. Raises a runtime error when memory is
 * exhausted. */
KORVO_EXPORT char *cds_get_actual_path(uint32_t handle, const char *package_id);

/* The download step of a CDS stream: downloads the package of element
 * `state->downloads` of `toc` (its "cds_manager", "cds_packageid" ...),
 * waits for the client's completion callback in steps of 10 seconds, joins
 * the file to the untaken part of the state's file list and writes its path
 * ("data_path", "dat_file") and size into the element. The element counts as
 * downloaded (the index grows) once the client started the download or had
 * the package. With `command` not NULL the gateway is polled before each
 * wait step: a CANCEL or PAUSE ends the step at once and returns -2 or -3
 * with the packet in *command; another packet is left there (the caller
 * releases it with mg_free). Returns 0, also when every element was
 * downloaded already. Raises message 203 (the client failed, or is not
 * loaded), 204 (no callback within 10800 seconds), 206 as
 * ExDistributionDeferred (the server is busy; defer_time from
 * "cds_deferred", default 300) and the property errors of the element's
 * keys. One step runs at a time in a process: a step of another thread
 * waits for its turn (polling the gateway as above; a CANCEL or PAUSE then
 * returns before anything is started, and the element is not counted), and
 * the client may call back from any thread, the caller's included. A file
 * whose size differs from the element's "size" (when above 0) raises
 * message 203 with the result 74 and is not recorded. */
KORVO_EXPORT int32_t cds_download_next(PropertiesList *toc, FileStreamState *state, char **command);

KORVO_END_DECLS

#endif
