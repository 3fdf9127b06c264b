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
#include "properties/helpers/file_helpers.h"
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

/* Locates every segment of the caller's `toc` ahead of the transfer, for
 * the streams that read files from places they search: CD drives (type 6),
 * the directories of "remote.dir" (7; 8 then also CD drives), the key's
 * directory (9, segment_search.h), the CDS client (11, which downloads the
 * packages). Each located segment gets "data_path", "dat_file" and "size"
 * in the caller's list. Other types: nothing. Raises message 182 for the
 * first segment not found, 170 when "remote.dir" cannot be read, and what
 * reading a description file raises. */
KORVO_EXPORT void net_stream_get_size(NetStream *stream, PropertiesList *toc);

/* Gives the stream its own copy of `toc` and locates its segments:
 *   - a network stream (type 2) looks into the endpoint's depot
 *     ("depot_dir" of the configuration file, else QEL_DATDIR/depot); when
 *     every segment is complete there it claims them and becomes a depot
 *     stream (type 10) reading their data files; otherwise it stays a
 *     network stream, holding the entries claimed before the first missing
 *     one until its close. Each step is logged ("korvo: ...").
 *   - a file-kind stream (6 to 10) takes what a size query located
 *     ("dat_file"), searches its sources as net_stream_get_size does, and
 *     gets the list of the data files it reads; a segment not found raises
 *     message 182, an unreadable "remote.dir" message 170.
 *   - a CDS stream (11) locates nothing here (its downloads fill its list).
 * With progress kept, a TOC whose every segment is already complete
 * ("offset" = "size") is recorded complete at once. A stream that keeps
 * progress takes its totals from the TOC at its first read, so call this
 * before. A NULL TOC raises message 31. A second call on a network stream
 * does not look into the depot again. */
KORVO_EXPORT void net_stream_save_modified_toc(NetStream *stream, const PropertiesList *toc);

/* Reads the next piece of data. Returns the number of bytes now at *data (a
 * buffer the caller releases with net_stream_free_buffer); 0 with *data NULL
 * at the end of a segment or of the stream; a negative command code when the
 * gateway sent one instead of data: -2 CANCEL, -3 PAUSE (which the progress
 * record notes), -4 EXPIRE, -5 ROAM, and for a code byte that names no
 * command (6 to 255) that code negated, -6 to -255 (decode_command gives
 * NULL for it). -1: the gateway channel failed (absent, closed, or a
 * malformed packet), or an earlier read refused the gateway's packets; *data
 * is NULL. Source failures raise.
 *
 * With its TOC, a read never hands out more than the TOC allows: a segment's
 * bytes from its "offset" to its "size", in TOC order for a network stream
 * (complete segments are skipped, as the gateway skips them), in list order
 * for a file-list stream (file_stream.h). A network read raises, marks the
 * record in error ("err"), and breaks the stream (later reads answer -1),
 * when the gateway sends
 *   more data than the current segment has left, in one packet or over
 *   several: "The gateway sent <n> bytes for segment <id>^<version>, which
 *   has <m> bytes left."
 *   data after the last segment: "The gateway sent <n> bytes after the last
 *   segment of the TOC."
 *   an end of segment (an empty packet, a NULL command, a DATA packet without
 *   data) or the end of the stream before the segment's last byte: "The
 *   gateway ended segment <id>^<version> at byte <b> of <size>."
 * Nothing of a refused packet is handed out or counted. Without a TOC the
 * packets are handed out as they come.
 *
 * Checkpoints (the record's "c_len") count only bytes that earlier reads
 * handed out: a read first counts what the read before it handed out (the
 * caller came back, so it has those bytes), then reads. A method that
 * writes each buffer before its next read therefore never finds the record
 * ahead of what it wrote, whenever its process dies; the bytes of the last
 * read before a stop (a command, a failure, a close) are not counted, and a
 * rerun receives them again. The checkpoint of the last bytes of a stream
 * is saved by the read that returns the 0 after them. Checkpoints are saved
 * once more than NET_STREAM_CHECKPOINT_BYTES were counted since the last, or
 * the TOC's total is reached; "c_len" never passes "t_len".
 *
 * Power loss: the record and the method's outputs are written through the
 * page cache, and a power loss may lose the latest writes of either, in any
 * order; the record may then claim bytes the outputs lost, so a rerun after
 * a power loss resumes from the smaller of the record and what the outputs
 * hold. A method that syncs its outputs (fsync, fdatasync) before each next
 * read never finds the record ahead of them, since a checkpoint counts only
 * bytes of earlier reads; net_stream_set_durable keeps the checkpoints
 * themselves, so that a power loss costs no more than the bytes after the
 * last one. */
KORVO_EXPORT int32_t net_stream_read(NetStream *stream, char **data);

/* With `durable` nonzero, every checkpoint the stream saves from then on is
 * synced to the disk (the record's file and, after it was replaced, its
 * directory) before the read returns, so that a power loss does not take
 * the checkpoints back; a failed sync is logged ("korvo: Couldn't sync
 * progress file for distribution <id>") and the read goes on. Together with
 * outputs the method syncs before each next read, the record after a power
 * loss is exactly what the outputs hold up to the last checkpoint. Each
 * sync costs a disk flush per checkpoint (docs/benchmarks.md). 0 turns it
 * off (the default). NULL and a type-1 stream are ignored. */
KORVO_EXPORT void net_stream_set_durable(NetStream *stream, int32_t durable);

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
