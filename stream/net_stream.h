/* Net streams: how a receiving method reads a distribution's data, whatever
 * its source (the gateway channel, the endpoint's depot, files, directories,
 * CD drives, a CDS client), while the distribution's progress record is kept
 * up to date so that an interrupted transfer resumes at its last checkpoint.
 *
 * A stream is opened from a stream key (stream_key.h): byte 0 the stream
 * type, byte 2 the progress flag (1: keep a progress record), from byte 3 the
 * distribution id, optionally followed by a comma and more text. The calling
 * order of a receiving method:
 *
 *   NetStream *stream = net_stream_open(key);
 *   net_stream_save_modified_toc(stream, toc);      // before the first read
 *   for (;;) {
 *       char *data;
 *       int32_t n = net_stream_read(stream, &data);
 *       if (n > 0) { use(data, n); net_stream_free_buffer(stream, data); }
 *       else if (n == 0) { ... end of a segment (or of the stream) ... }
 *       else break;                                  // a command: -2 ... -5
 *   }
 *   net_stream_close(stream);
 *
 * Ownership: net_stream_open returns a stream the caller owns until
 * net_stream_close. A buffer that a read stores in *data is the caller's,
 * released with net_stream_free_buffer. The stream's TOC, progress record,
 * file list and claimed depot entries belong to the stream. A key handed to
 * net_stream_open stays the caller's and must outlive the stream when it
 * becomes the stream's source (types 2 and 6 to 10 before their TOC step).
 *
 * Failures of the sources (files, encoding, the depot) are raised as catalog
 * messages (raise.h); a failed save of the progress record is logged and never
 * stops a read.
 *
 * Threads: a stream is used by one thread at a time; the library does not
 * lock it. is_stream_stopped may be called from any thread (the gateway
 * channel serialises its own use). */
#ifndef KORVO_STREAM_NET_STREAM_H
#define KORVO_STREAM_NET_STREAM_H

#include <stdint.h>

#include "depot/depot_entry.h"
#include "depot/depot_store.h"
#include "properties/file_helpers.h"
#include "properties/korvo_types.h"
#include "records/korvo_length.h"
#include "runtime/korvo_export.h"
#include "runtime/seq.h"
#include "runtime/stypes.h"
#include "stream/mstat.h"

KORVO_BEGIN_DECLS

/* Stream types (byte 0 of the key). Types below NET_STREAM_FILES read the
 * gateway channel ("network kind"); NET_STREAM_FILES and above read a list
 * of data files ("file kind"). 0, 5 and values above 11 open nothing. */
#define NET_STREAM_IOM 1       /* a runtime I/O handle; reads give 0 */
#define NET_STREAM_NETWORK 2   /* the gateway channel */
#define NET_STREAM_SEND 3      /* sending only; reads give 0 */
#define NET_STREAM_FILES 4     /* the data files named in the key */
#define NET_STREAM_CD 6        /* description files on CD drives */
#define NET_STREAM_REMOTE 7    /* the directories listed in "remote.dir" */
#define NET_STREAM_REMOTE_CD 8 /* "remote.dir", then CD drives */
#define NET_STREAM_DIRECTORY 9 /* the directory named after the key's comma */
#define NET_STREAM_DEPOT 10    /* the endpoint's depot */
#define NET_STREAM_CDS 11      /* packages downloaded by the CDS client */

/* Bytes per file read and per write chunk of a new stream. */
#define NET_STREAM_CHUNK_SIZE 16384
/* A checkpoint is saved once more than this many bytes arrived since the
 * last one (or when the TOC's total is reached). */
#define NET_STREAM_CHECKPOINT_BYTES 10240

/* The depot entries a stream has set to "in use"; released at close. */
typedef struct DepotEntryList KORVO_SEQUENCE(DepotEntry *) DepotEntryList;

typedef struct NetStream {
    int32_t type;                /* NET_STREAM_... */
    int32_t keepsProgress;       /* 1 when `progress` is kept */
    void *source;                /* the caller's key, a FileStreamState, or an I/O handle */
    int32_t chunkSize;           /* bytes per file read and write chunk */
    int32_t fill;                /* bytes waiting in `buffer` (writing) */
    int32_t unsaved;             /* bytes read since the last checkpoint */
    char *buffer;                /* the write buffer, freed at close */
    uint8_t started;             /* set by the first read that reached a source */
    PropertiesList *toc;         /* the stream's own copy of the TOC */
    mstat *progress;             /* the progress record, when keepsProgress */
    int64_length *totalLength;   /* the sum of the TOC's segment sizes */
    int64_length *currentLength; /* the bytes known to be received */
    char *distId;                /* distribution id of a type-4 stream (in its list text) */
    FileRecord *writeFile;       /* the file a type-4 stream writes */
    char *sourceDir;             /* the key's text after its first comma (owned) */
    Depot *depot;                /* the depot the stream's entries come from */
    DepotEntryList claimed;      /* depot entries the stream holds in use */
} NetStream;

/* A new stream for `key`, or NULL for a NULL key, a type that is not
 * accepted, or a CDS stream when the CDS client cannot be loaded. With the
 * progress flag set, the key's text is cut at its first comma (the comma in
 * the caller's key becomes NUL; for type 4 it is put back) and the progress
 * record of the text before it is made (not saved yet). */
KORVO_EXPORT NetStream *net_stream_open(StreamKey *key);

/* Gives the stream its own copy of `toc` (and, for a file-list stream, the
 * list of the segments' data files). A stream that keeps progress takes its
 * totals from the TOC at its first read, so call this before. A NULL TOC
 * raises message 31. */
KORVO_EXPORT void net_stream_save_modified_toc(NetStream *stream, const PropertiesList *toc);

/* Reads the next piece of data. Returns the number of bytes now at *data (a
 * buffer the caller releases with net_stream_free_buffer); 0 with *data NULL
 * at the end of a segment or of the stream; a negative command code when the
 * gateway sent one instead of data: -2 CANCEL, -3 PAUSE (which the progress
 * record notes), -4 EXPIRE, -5 ROAM. -1: the gateway channel failed (absent,
 * closed, or a malformed packet; *data NULL). Source failures raise. */
KORVO_EXPORT int32_t net_stream_read(NetStream *stream, char **data);

/* Releases a buffer that net_stream_read stored. NULL is ignored. */
KORVO_EXPORT void net_stream_free_buffer(NetStream *stream, char *data);

/* Marks the progress record closed and saves it, releases the stream's files,
 * TOC, claimed depot entries and the stream. NULL does nothing. A stream of
 * a type that cannot be closed (3, or one a caller made up) raises message 30
 * and is not released. */
KORVO_EXPORT void net_stream_close(NetStream *stream);

/* Records an error text in the progress record ("err" = true, "err_msg" =
 * text) and saves it. Nothing without a record or with a NULL text. */
KORVO_EXPORT void net_stream_set_status(NetStream *stream, const char *text);

/* Stores the string `value` under `key` in the progress record, saves it and
 * logs "korvo: update mstat key=<key>, value=<value>". Nothing without a
 * record or with a NULL value. */
KORVO_EXPORT void net_stream_update_mstat(NetStream *stream, const char *key, const char *value);

/* Polls the gateway channel without waiting: -2 when a CANCEL is pending, -3
 * for a PAUSE (each logged), 0 otherwise. Another packet that was pending is
 * left in *command (a buffer of the runtime's allocator; the caller releases
 * it with mg_free); *command is not touched when nothing was pending. */
KORVO_EXPORT int32_t is_stream_stopped(char **command);

/* Releases an octet list made for the TOC hand-off (its bytes, then the
 * cell). NULL does nothing. */
KORVO_EXPORT void free_toc_octets(OctetList *octets);

KORVO_END_DECLS

#endif
