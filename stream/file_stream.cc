// File-list streams: walking the list of data files, skipping complete
// segments and resuming a partial one at its offset.
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include "kes/host_file.hpp"
#include "properties/helpers/file_helpers.h"
#include "properties/korvo_properties.h"
#include "runtime/log.h"
#include "runtime/mg_memory.h"
#include "runtime/raise.hpp"
#include "stream/cds_source.hpp"
#include "stream/file_stream.h"
#include "stream/segment_cursor.hpp"
#include "stream/stream_internal.hpp"

namespace korvo::stream {

namespace {

struct FileDelete {
    void operator()(FileRecord *file) const noexcept { file_delete(file); }
};

// Takes the next name off the list: the comma behind it becomes NUL.
char *take_name(FileStreamState *state) {
    char *name = state->next;
    if (name == nullptr)
        return nullptr;
    char *comma = std::strchr(name, ',');
    if (comma != nullptr) {
        *comma = '\0';
        state->next = comma + 1;
    } else {
        state->next = nullptr;
    }
    return name;
}

// The first segment of the TOC, in order, whose "data_path" is `name` and
// whose file this stream has not opened yet; count() when there is none.
std::size_t segment_of(SegmentCursor *cursor, const char *name) {
    return cursor != nullptr ? cursor->find_unopened(name) : 0;
}

// Step past the end of a file or of the list: the file is closed, nothing is
// handed out.
int32_t finish(FileStreamState *state, char **data) {
    if (state != nullptr && state->file != nullptr) {
        FileRecord *file = state->file;
        state->file = nullptr;
        file_delete(file);
    }
    *data = nullptr;
    return 0;
}

constexpr const char *kUnmatched =
    "korvo: The listed file %s is the \"data_path\" of no segment left to read; it is "
    "skipped.\n";
constexpr const char *kFileEndedEarly =
    "The file %1$s ended at byte %2$s of the %3$s bytes of segment %4$s.\n";

// Reads the current segment's next bytes: never more than it has left, so
// that a file longer than its segment hands out only the segment. A file
// that ends before the segment's last byte raises; its bytes so far were
// handed out and stay counted.
int32_t read_segment(NetStream *stream, FileStreamState *state, SegmentCursor &cursor,
                     char *buffer) {
    SegmentSpan &span = cursor.span(cursor.current());
    const int64_t wanted = std::min<int64_t>(stream->chunkSize, span.remaining());
    if (wanted <= 0)
        return 0;
    const int32_t n = file_read(state->file, buffer, static_cast<int32_t>(wanted));
    if (n <= 0) {
        const std::string path = state->file->name != nullptr ? state->file->name : "?";
        const std::string segment = segment_name(stream->toc, cursor.current());
        char *none = nullptr;
        finish(state, &none);
        vaThrow(nullptr, -1, kFileEndedEarly, path.c_str(),
                std::to_string(span.start + span.delivered).c_str(),
                std::to_string(span.size).c_str(), segment.c_str());
    }
    span.delivered += n;
    return n;
}

int32_t read_stream(NetStream *stream, char **data) {
    FileStreamState *state = state_of(stream);
    if (state == nullptr || stream->chunkSize <= 0)
        return finish(state, data);
    // The buffer a read hands out is zeroed behind the bytes read; zeroing
    // only that tail spares a pass over every full chunk.
    const auto size = static_cast<std::size_t>(stream->chunkSize);
    korvo::rt::MgPtr<char> buffer(take_read_buffer(stream, size));
    if (buffer == nullptr)
        vaThrow(nullptr, -1, "Not enough memory for a %1$s.\n", "stream buffer");
    const auto hand_out = [&](int32_t n) {
        std::memset(buffer.get() + n, 0, size - static_cast<std::size_t>(n));
        note_handed_out(stream, buffer.get(), size);
        *data = buffer.release();
        return n;
    };
    SegmentCursor *cursor = cursor_of(stream);

    if (state->file != nullptr) {
        const int32_t n = cursor != nullptr && cursor->current() < cursor->count()
                              ? read_segment(stream, state, *cursor, buffer.get())
                              : 0;
        if (n <= 0)
            return finish(state, data);
        return hand_out(n);
    }

    // A CDS stream downloads the next package before it looks at the list.
    int32_t stop = 0;
    if (stream->type == NET_STREAM_CDS && stream->toc != nullptr) {
        char *command = nullptr;
        const int32_t before = state->downloads;
        stop = cds_source_download_next(stream->toc, state, &command);
        mg_free(command);
        // The step wrote the path of the segment it downloaded.
        for (int32_t i = std::max(before, 0); cursor != nullptr && i < state->downloads; ++i)
            cursor->path_changed(static_cast<std::size_t>(i));
    }

    bool matched = false;
    char *current = nullptr;
    int32_t offset = 0;
    while (state->next != nullptr) {
        char *name = take_name(state);
        const std::size_t index = segment_of(cursor, name);
        if (cursor == nullptr || index >= cursor->count()) {
            LogQ(kUnmatched, name);
            return finish(state, data);
        }
        matched = true;
        const Properties *segment = &stream->toc->buffer[index];
        const int32_t size = properties_get_long2(segment, "size", 0);
        offset = properties_get_long2(segment, "offset", 0);
        cursor->open(index, size, offset);
        // A negative offset is kept for the seek, which refuses it (23).
        if (cursor->span(index).remaining() > 0) {
            current = name;
            break;
        }
    }
    // A stop that arrived while downloading is passed on even when the list
    // had nothing to take yet: the download it interrupted added no name.
    if (stop != 0) {
        hand_out(0);
        return stop;
    }
    if (!matched || current == nullptr)
        return finish(state, data);

    // The file becomes the state's once it stands at the segment's offset.
    std::unique_ptr<FileRecord, FileDelete> file(
        file_open(current, host::HostOpenFlags(host::kOpenRead)));
    if (offset != 0)
        file_seek(file.get(), offset);
    state->file = file.release();
    const int32_t n = read_segment(stream, state, *cursor, buffer.get());
    if (n <= 0)
        return finish(state, data);
    return hand_out(n);
}

}  // namespace

}  // namespace korvo::stream

using namespace korvo::stream;

extern "C" {

NetStream *file_stream_open(const char *text) {
    StreamPtr stream(new_stream());
    FileStreamState *state = new_state(text);
    if (stream == nullptr || state == nullptr) {
        free_state(state);
        return nullptr;
    }
    adopt_state(stream.get(), state);
    stream->type = NET_STREAM_FILES;
    stream->chunkSize = NET_STREAM_CHUNK_SIZE;
    stream->distId = state->text;
    if (state->text != nullptr) {
        char *comma = std::strchr(state->text, ',');
        if (comma != nullptr) {
            *comma = '\0';
            state->next = comma + 1;
        } else {
            state->next = nullptr;
        }
    }
    return stream.release();
}

int32_t file_stream_read(NetStream *stream, char **data) {
    if (data == nullptr)
        return 0;
    *data = nullptr;
    if (stream == nullptr)
        return 0;
    return read_stream(stream, data);
}
}
