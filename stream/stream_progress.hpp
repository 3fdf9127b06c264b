// The stream's side of its progress record: making it, putting the keys
// the stream writes, saving it (a failure is logged, never raised), and the
// accounting of the bytes a read delivered.
#pragma once

#include <cstdint>
#include <string>

#include "stream/net_stream.h"

namespace korvo::stream {

// What a save follows; each logs its own failure text.
enum class SaveAfter {
    Checkpoint,  // a checkpoint ("c_len")
    Status,      // "err", a status text, a caller's key
    Closing,     // "close" and "paused"
};

// A new progress record for `distId` (kind 0) holding "msid" = the id and
// "err", "close", "paused" = false; nothing saved. Raises when memory is
// exhausted; nullptr when the record cannot be made (mstat_new's NULL).
mstat *new_progress(const std::string &distId);

// Saves the stream's record; a failure (a -1 or a raised message) is logged
// with the text that `after` selects and the read goes on.
void save_progress(NetStream *stream, SaveAfter after);

// Syncs the stream's saved record to the disk; a failure is logged.
void sync_progress(NetStream *stream);

void put_flag(NetStream *stream, const char *key, bool value);

// Puts the flag `key` = `value` and saves the record, patching the flag's
// byte into the bytes of the last checkpoint when the list is otherwise
// unchanged since (save_flag_in_place); a failure is logged as
// save_progress logs it, and one to put the flag as a raised message is.
void save_flag(NetStream *stream, const char *key, bool value, SaveAfter after);
void put_text(NetStream *stream, const char *key, const char *value);

// Takes the totals from the stream's TOC: `totalLength` = the sum of the
// segments' "size", `currentLength` = the sum of their "offset" (both must
// exist: message 36), each offset counted within [0, size] so that the
// checkpoint never starts beyond the total. Raises as the getters do.
void take_totals(NetStream *stream, const PropertiesList *toc);

// A read failed (a channel failure, a stop, a refused packet): "err" =
// true, saved.
void account_failure(NetStream *stream);

// Adds `bytes` that earlier reads handed out to `unsaved` and saves a
// checkpoint once more than 10240 bytes are unsaved or the total is
// reached; "c_len" never passes the total. A durable stream syncs the
// checkpoint to the disk.
void account_bytes(NetStream *stream, int64_t bytes);

}  // namespace korvo::stream
