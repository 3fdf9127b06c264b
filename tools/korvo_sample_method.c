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

#include "properties/korvo_keys.h"
#include "properties/korvo_properties.h"
#include "properties/property_files.h"
#include "records/korvo_command.h"
#include "runtime/mg_memory.h"
#include "runtime/raise.h"
#include "stream/net_stream.h"
#include "stream/net_stream_write.h"

struct Job {
    const char *id, *tocPath, *outDir, *report;
    int status;
};

static void output_path(char *path, size_t size, const char *dir, const Properties *segment) {
    snprintf(path, size, "%s/%s", dir, properties_get_string(segment, SEGMENT_ID_KEY));
}

/* Releasers that the frame calls when the callback ends, however it ends. */
static void free_record(void *record) {
    mstat_free(record);
}
static void free_list(void *list) {
    properties_delete(list);
    mg_free(list);
}
static void close_stream(void *stream) {
    net_stream_close(stream);
}

/* The checkpoint of an earlier run ("c_len"); a missing record raises. */
struct Resume {
    const char *id;
    long long bytes;
};

static void read_checkpoint(void *context) {
    struct Resume *resume = context;
    mstat *record = mstat_new(resume->id, 0);
    if (record == NULL)
        return;
    ex_delegate(record, free_record);
    if (mstat_load(record) == 0)
        resume->bytes = atoll(properties_get_string2(&record->properties, "c_len", "0"));
}

static void run(void *context) {
    struct Job *job = context;
    Properties *file = properties_new();
    if (file == NULL || !ex_delegate(file, free_list)) {
        job->status = 1;
        return;
    }
    properties_load(file, job->tocPath);
    PropertiesList *toc = properties_get_properties_list(file, JOB_TOC_KEY);

    /* Resume: what the checkpoint covers, in TOC order, and what the output
     * files still hold; after the first incomplete segment nothing counts. */
    struct Resume resume = {job->id, 0};
    eh_exception_free(eh_catch_call(read_checkpoint, &resume)); /* none: from the start */
    long long left = resume.bytes;
    char path[4096];
    for (uint32_t i = 0; i < toc->length; ++i) {
        Properties *segment = &toc->buffer[i];
        const long long size = properties_get_long(segment, SEGMENT_SIZE_KEY);
        const char *id = properties_get_string(segment, SEGMENT_ID_KEY);
        if (strchr(id, '/') != NULL || strcmp(id, "..") == 0 || strcmp(id, ".") == 0) {
            fprintf(stderr, "korvo_sample_method: segment id %s is no file name\n", id);
            job->status = 1;
            return;
        }
        output_path(path, sizeof path, job->outDir, segment);
        struct stat status;
        long long done = stat(path, &status) == 0 ? status.st_size : 0;
        if (done > size)
            done = size;
        if (done > left)
            done = left;
        left = done < size ? 0 : left - done;
        int fd = open(path, O_WRONLY | O_CREAT, 0644);
        if (fd < 0 || ftruncate(fd, done) != 0) {
            perror(path);
            job->status = 1;
            return;
        }
        close(fd);
        properties_put_long_dup(segment, SEGMENT_OFFSET_KEY, (int32_t)done);
    }

    /* A network stream (type 2) that keeps progress (flag 1). */
    uint8_t bytes[512] = {NET_STREAM_NETWORK, 0, 1};
    strncpy((char *)bytes + 3, job->id, sizeof bytes - 4);
    StreamKey key = {sizeof bytes, (uint32_t)(3 + strlen(job->id) + 1), bytes};
    NetStream *stream = net_stream_open(&key);
    if (stream == NULL) {
        job->status = 1;
        return;
    }
    ex_delegate(stream, close_stream);
    net_stream_save_modified_toc(stream, toc);
    for (uint32_t i = 0; i < toc->length && job->status == 0; ++i) {
        Properties *segment = &toc->buffer[i];
        if (properties_get_long(segment, SEGMENT_OFFSET_KEY) >=
            properties_get_long(segment, SEGMENT_SIZE_KEY))
            continue; /* complete: the gateway sends nothing for it */
        output_path(path, sizeof path, job->outDir, segment);
        int fd = open(path, O_WRONLY | O_APPEND);
        for (;;) {
            char *data;
            int32_t n = net_stream_read(stream, &data);
            if (n == 0)
                break; /* the end of this segment */
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
            const ssize_t written = write(fd, data, (size_t)n);
            net_stream_free_buffer(stream, data);
            if (written != n) {
                perror(path);
                job->status = 1;
                break;
            }
        }
        close(fd);
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
