/* korvo_sample_method: a receiving method, in C.
 *
 *   korvo_sample_method DIST_ID TOC_FILE OUT_DIR [REPORT]
 *
 * Reads the distribution DIST_ID from the gateway (KORVO_GATEWAY, set by the
 * gateway that starts it) and writes each segment to OUT_DIR/<segment id>.
 * TOC_FILE holds the TOC under "j_toc" (korvo_gateway --make-toc writes one).
 * The progress record (under KORVO_WORK_DIR) makes a restart resume: each
 * output file is cut back to the checkpoint, the segments' offsets are set,
 * and the modified TOC handed over again tells the gateway where to go on.
 * With REPORT, the method sends that file up to the gateway once the
 * distribution is complete (net_stream_send_file, in the chunks the gateway
 * grants).
 * Exit status: 0 complete, 3 stopped by a gateway command, 1 a failure. */
#define _POSIX_C_SOURCE 200809L

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <korvo/korvo.h>

/* Windows opens files as text unless told otherwise (each "\n" written would
 * become "\r\n"), and its paths take '\\' and ':' besides '/'. */
#ifdef _WIN32
#define OPEN_BYTES O_BINARY
#define NOT_IN_FILE_NAMES "/\\:"
#else
#define OPEN_BYTES 0
#define NOT_IN_FILE_NAMES "/"
#endif

struct Job {
    const char *id, *tocPath, *outDir, *report;
    int status;
};

static void output_path(char *path, size_t size, const char *dir, const Properties *segment) {
    snprintf(path, size, "%s/%s", dir, properties_get_string(segment, SEGMENT_ID_KEY));
}

/* Releasers that the frame calls when the callback ends, however it ends. */
static void free_toc(void *toc) {
    korvo_toc_destroy(toc);
}
static void close_stream(void *stream) {
    net_stream_close(stream);
}
static void free_key(void *key) {
    stream_key_delete(key);
}

static void run(void *context) {
    struct Job *job = context;
    PropertiesList *toc = korvo_toc_load(job->tocPath);
    if (toc == NULL || !ex_delegate(toc, free_toc)) {
        job->status = 1;
        return;
    }

    /* Resume: what the checkpoint covers, in TOC order, and what the output
     * files still hold; after the first incomplete segment nothing counts. */
    int64_t left = 0;
    korvo_progress_checkpoint(job->id, &left); /* none: from the start */
    char path[4096];
    for (uint32_t i = 0; i < toc->length; ++i) {
        Properties *segment = &toc->buffer[i];
        const int64_t size = properties_get_long(segment, SEGMENT_SIZE_KEY);
        const char *id = properties_get_string(segment, SEGMENT_ID_KEY);
        if (strpbrk(id, NOT_IN_FILE_NAMES) != NULL || strcmp(id, "..") == 0 ||
            strcmp(id, ".") == 0) {
            fprintf(stderr, "korvo_sample_method: segment id %s is no file name\n", id);
            job->status = 1;
            return;
        }
        output_path(path, sizeof path, job->outDir, segment);
        struct stat status;
        int64_t done = stat(path, &status) == 0 ? status.st_size : 0;
        if (done > size)
            done = size;
        if (done > left)
            done = left;
        left = done < size ? 0 : left - done;
        int fd = open(path, O_WRONLY | O_CREAT | OPEN_BYTES, 0644);
        if (fd < 0 || ftruncate(fd, done) != 0) {
            perror(path);
            job->status = 1;
            return;
        }
        close(fd);
        properties_put_long_dup(segment, SEGMENT_OFFSET_KEY, (int32_t)done);
    }

    /* A network stream that keeps progress; the key outlives the stream
     * (delegated first, released last). */
    StreamKey *key = korvo_stream_key_new(NET_STREAM_NETWORK, 1, job->id, NULL);
    if (key == NULL || !ex_delegate(key, free_key)) {
        fprintf(stderr, "korvo_sample_method: %s is no distribution id\n", job->id);
        job->status = 1;
        return;
    }
    NetStream *stream = net_stream_open(key);
    if (stream == NULL) {
        job->status = 1;
        return;
    }
    ex_delegate(stream, close_stream);
    net_stream_save_modified_toc(stream, toc);
    /* The gateway sends the segments that are not complete in TOC order,
     * each ended by a read of 0; a segment counts only with exactly its
     * size, however the gateway behaves. `held` is what the outputs hold. */
    long long held = 0;
    for (uint32_t i = 0; i < toc->length; ++i)
        held += properties_get_long(&toc->buffer[i], SEGMENT_OFFSET_KEY);
    for (uint32_t i = 0; i < toc->length && job->status == 0; ++i) {
        Properties *segment = &toc->buffer[i];
        const long long want = (long long)properties_get_long(segment, SEGMENT_SIZE_KEY) -
                               properties_get_long(segment, SEGMENT_OFFSET_KEY);
        if (want <= 0)
            continue; /* complete: the gateway sends nothing for it */
        const char *id = properties_get_string(segment, SEGMENT_ID_KEY);
        output_path(path, sizeof path, job->outDir, segment);
        int fd = open(path, O_WRONLY | O_APPEND | OPEN_BYTES);
        if (fd < 0) {
            perror(path);
            job->status = 1;
            break;
        }
        long long got = 0;
        for (;;) {
            char *data;
            int32_t n = net_stream_read(stream, &data);
            if (n == 0) {
                if (got != want) {
                    fprintf(stderr,
                            "korvo_sample_method: segment %s ended after %lld of %lld bytes\n", id,
                            got, want);
                    job->status = 1;
                }
                break; /* the end of this segment */
            }
            if (n < 0) {
                /* decode_command names only the six commands: a code the
                 * gateway made up is printed as its number. */
                const char *name = n == -1 ? "channel failure" : decode_command(-n);
                if (name != NULL)
                    printf("stopped: %s\n", name);
                else
                    printf("stopped: code %d\n", (int)-n);
                job->status = n == -1 ? 1 : 3;
                break;
            }
            const size_t room = (size_t)(want - got) < (size_t)n ? (size_t)(want - got) : (size_t)n;
            const ssize_t written = write(fd, data, room);
            net_stream_free_buffer(stream, data);
            if (written > 0) {
                got += written;
                held += written;
            }
            if (written != (ssize_t)room) {
                perror(path);
                job->status = 1;
                break;
            }
            if (room < (size_t)n) {
                fprintf(stderr, "korvo_sample_method: segment %s got more than its %lld bytes\n",
                        id, want);
                job->status = 1;
                break;
            }
        }
        close(fd);
    }
    if (job->status != 0 && stream->progress != NULL) {
        /* The record may be a read ahead of the outputs (it is saved inside
         * the read, before the bytes are written, and a write can fail):
         * make it claim no more than they hold. A restart takes the smaller
         * of the two anyway. */
        const char *recorded =
            properties_get_string2(mstat_get_properties(stream->progress), "c_len", "0");
        if (atoll(recorded) > held) {
            char text[32];
            snprintf(text, sizeof text, "%lld", held);
            net_stream_update_mstat(stream, "c_len", text);
        }
    }
    if (job->status == 0 && job->report != NULL) {
        /* Up the same stream; a refusal is the gateway's negative code. */
        const int32_t sent = net_stream_send_file(stream, job->report, 0);
        if (sent < 0) {
            printf("report refused: %d\n", sent);
            job->status = 1;
        } else {
            printf("sent %s up\n", job->report);
        }
    }
}

int main(int argc, char **argv) {
    if (argc != 4 && argc != 5) {
        fprintf(stderr, "usage: korvo_sample_method DIST_ID TOC_FILE OUT_DIR [REPORT]\n");
        return 2;
    }
    if (korvo_init() != 1)
        return 1;
    struct Job job = {argv[1], argv[2], argv[3], argc == 5 ? argv[4] : NULL, 0};
    EhException *failure = eh_catch_call(run, &job);
    if (failure != NULL) {
        fprintf(stderr, "korvo_sample_method: %s", eh_exception_text(failure));
        eh_exception_free(failure);
        return 1;
    }
    if (job.status == 0)
        printf("distribution %s complete in %s\n", job.id, job.outDir);
    return job.status;
}
