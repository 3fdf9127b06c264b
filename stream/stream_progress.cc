// The stream's progress record: its keys, its saves and the accounting of
// what the reads delivered.
#include "stream/stream_progress.hpp"

#include <algorithm>
#include <charconv>
#include <cinttypes>
#include <cstdio>

#include "properties/korvo_properties.h"
#include "records/korvo_length.h"
#include "runtime/log.h"
#include "runtime/raise.h"
#include "runtime/raise.hpp"
#include "stream/progress_file.hpp"
#include "stream/segment_cursor.hpp"
#include "stream/stream_internal.hpp"

namespace korvo::stream {

namespace {

// The three texts differ only in the blanks in front of the id, which tell
// what the failed save followed.
constexpr const char *kCheckpointSaveFailed =
    "korvo: Couldn't write progress file for distribution                     %s\n";
constexpr const char *kStatusSaveFailed =
    "korvo: Couldn't write progress file for distribution                  %s\n";
constexpr const char *kClosingSaveFailed =
    "korvo: Couldn't write progress file for distribution              %s\n";

const char *failure_text(SaveAfter after) {
    switch (after) {
        case SaveAfter::Checkpoint:
            return kCheckpointSaveFailed;
        case SaveAfter::Status:
            return kStatusSaveFailed;
        case SaveAfter::Closing:
            return kClosingSaveFailed;
    }
    return kStatusSaveFailed;
}

int64_length *new_length() {
    int64_length *length = int64_length_new();
    if (length == nullptr)
        vaThrow(nullptr, -1, "Not enough memory for a %1$s.\n", "stream length");
    return length;
}

}  // namespace

std::string length_text(const int64_length *length) {
    if (length == nullptr)
        return "0";
    const uint64_t value = uint64_t(length->thousands) * 1000 + length->units;
    char text[24];
    std::snprintf(text, sizeof text, "%" PRIu64, value);
    return text;
}

mstat *new_progress(const std::string &distId) {
    struct Free {
        void operator()(mstat *record) const noexcept { mstat_free(record); }
    };
    std::unique_ptr<mstat, Free> record(mstat_new(distId.c_str(), 0));
    if (record == nullptr)
        return nullptr;
    Properties *list = mstat_get_properties(record.get());
    properties_put_string_dup(list, "msid", distId.c_str());
    properties_put_boolean_dup(list, "err", 0);
    properties_put_boolean_dup(list, "close", 0);
    properties_put_boolean_dup(list, "paused", 0);
    return record.release();
}

namespace {

// Runs a save of the stream's record; a failure (a -1 or a raised message)
// is logged with the text that `after` selects.
template <typename Save>
void logged_save(NetStream *stream, SaveAfter after, Save save) {
    mstat *record = stream->progress;
    if (record == nullptr)
        return;
    int32_t result = -1;
    try {
        result = save(record);
    } catch (const korvo::rt::Exception &e) {
        // The reason goes to the log beside the usual line; the read goes on.
        LogMsg(LOG_LEVEL_SURVIVED, 0, 0, -1, "korvo: %s", e.what());
    }
    if (result != 0)
        LogQ(failure_text(after), record->distId);
}

}  // namespace

void save_progress(NetStream *stream, SaveAfter after) {
    logged_save(stream, after, [](mstat *record) { return mstat_save(record); });
}

void sync_progress(NetStream *stream) {
    if (stream->progress != nullptr && !sync_record(stream->progress))
        LogQ("korvo: Couldn't sync progress file for distribution %s\n", stream->progress->distId);
}

void put_flag(NetStream *stream, const char *key, bool value) {
    properties_put_boolean_dup(mstat_get_properties(stream->progress), key, value ? 1 : 0);
}

void save_flag(NetStream *stream, const char *key, bool value, SaveAfter after) {
    // The usual case: the record's last save was a checkpoint, and the
    // flag's byte is patched into the bytes it wrote.
    if (save_flag_in_place(stream->progress, key, value))
        return;
    try {
        put_flag(stream, key, value);
    } catch (const korvo::rt::Exception &e) {
        LogMsg(LOG_LEVEL_SURVIVED, 0, 0, -1, "korvo: %s", e.what());
    }
    save_progress(stream, after);
}

void put_text(NetStream *stream, const char *key, const char *value) {
    properties_put_string_dup(mstat_get_properties(stream->progress), key, value);
}

void take_totals(NetStream *stream, const PropertiesList *toc) {
    if (stream->totalLength == nullptr)
        stream->totalLength = new_length();
    if (stream->currentLength == nullptr)
        stream->currentLength = new_length();
    int64_length total{}, current{};
    for (uint32_t i = 0; toc->buffer != nullptr && i < toc->length; ++i) {
        const int64_t size = bounded_size(properties_get_long(&toc->buffer[i], "size"));
        const int64_t offset = bounded_offset(properties_get_long(&toc->buffer[i], "offset"), size);
        int64_length_add(&total, static_cast<int32_t>(size));
        int64_length_add(&current, static_cast<int32_t>(offset));
    }
    *stream->totalLength = total;
    *stream->currentLength = current;
}

void account_failure(NetStream *stream) {
    save_flag(stream, "err", true, SaveAfter::Status);
}

void account_bytes(NetStream *stream, int64_t bytes) {
    if (bytes <= 0)
        return;
    if (stream->currentLength == nullptr)
        stream->currentLength = new_length();
    const auto count = [](const int64_length *length) {
        return length == nullptr ? 0 : int64_t(length->thousands) * 1000 + length->units;
    };
    // The reads never hand out more than the TOC holds; should a TOC change
    // under a stream, the checkpoint still stops at the total it announced.
    const int64_t current = count(stream->currentLength);
    int64_t unsaved = stream->unsaved + bytes;
    if (stream->totalLength != nullptr)
        unsaved = std::min(unsaved, std::max<int64_t>(count(stream->totalLength) - current, 0));
    stream->unsaved = static_cast<int32_t>(std::min<int64_t>(unsaved, INT32_MAX));
    const bool total_reached =
        stream->totalLength != nullptr && current + stream->unsaved == count(stream->totalLength);
    if (stream->unsaved <= NET_STREAM_CHECKPOINT_BYTES && !total_reached)
        return;
    int64_length_add(stream->currentLength, stream->unsaved);
    stream->unsaved = 0;
    // The checkpoint changes the count alone: save_count patches its digits
    // into the bytes the last checkpoint wrote.
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits,
                                   uint64_t(stream->currentLength->thousands) * 1000 +
                                       stream->currentLength->units)
                         .ptr;
    logged_save(stream, SaveAfter::Checkpoint, [&](mstat *record) {
        return save_count(record, "c_len", std::string_view(digits, end - digits));
    });
    if (block_of(stream)->durable)
        sync_progress(stream);
}

}  // namespace korvo::stream
