// What a CDS stream (type 11) asks of the CDS source: the download step of
// its reads (the package of the segment at the state's download index, its
// file joined to the state's file list) and the size query that downloads
// every segment ahead of the reads. Both work on a session and a completion
// callback of the caller's choice, so that tests run them on a session of
// their own with a wait function of their own; cds_stream.cc gives the
// process's session to the stream code.
//
// Gateway commands are polled with is_stream_stopped before each wait step
// of a download, when the caller passes a command pointer: a CANCEL (-2) or
// PAUSE (-3) ends the step with its code; another packet is left in
// *command (an mg block the caller releases; a later poll of the same step
// releases the packet an earlier one left). Runs on the stream's thread.
#pragma once

#include <cstdint>
#include <string>

#include "cds/cds_download.hpp"
#include "cds/cds_session.hpp"
#include "cds/cds_wait.hpp"
#include "kes/host_file.hpp"
#include "properties/errors/catalog_raise.hpp"
#include "properties/errors/korvo_catalog.h"
#include "properties/korvo_keys.h"
#include "properties/korvo_properties.h"
#include "records/korvo_command.h"
#include "records/korvo_toc.h"
#include "runtime/mg_memory.h"
#include "stream/file_stream.h"
#include "stream/net_stream.h"

namespace korvo::cds {

// A gateway packet that belongs to whoever holds this, released when it ends.
struct PolledPacket {
    char *packet = nullptr;
    PolledPacket() = default;
    PolledPacket(const PolledPacket &) = delete;
    PolledPacket &operator=(const PolledPacket &) = delete;
    ~PolledPacket() { mg_free(packet); }
};

// The stop poll of a step whose caller passed `command` (none for NULL): each
// poll first releases the packet that the step's previous poll left there,
// so that only the last one stays for the caller.
inline StopPoll gateway_poll(char **command) {
    if (command == nullptr)
        return {};
    return [command, left = static_cast<char *>(nullptr)]() mutable {
        if (left != nullptr && *command == left) {
            mg_free(left);
            *command = nullptr;
        }
        char *before = *command;
        const int32_t stop = is_stream_stopped(command);
        left = *command != before ? *command : nullptr;
        return stop;
    };
}

// Appends `path` to the untaken part of the state's file list; the taken
// part, which nobody reads any more, goes.
inline void append_to_list(FileStreamState *state, const char *path) {
    rt::MgPtr<char> list = list_with(state->next, path);
    mg_free(state->text);
    state->text = list.release();
    state->next = state->text;
}

// One download step of a CDS stream: the package of TOC element
// `state->downloads`, which then counts as downloaded (the index grows once
// DownloadFile has started it or found it there), its file appended to the
// state's list. The file must have the element's "size", or `stated_size`
// when the element has none (download_segment). Returns 0 (also when every
// element was downloaded), or the stop code of a gateway command polled
// while waiting for the turn (the element is not downloaded yet) or for the
// download.
inline int32_t download_next(Session &session, CdsStatusCallback callback, PropertiesList *toc,
                             FileStreamState *state, char **command,
                             const WaitStep &wait = wait_on_condition, int64_t stated_size = 0) {
    if (toc == nullptr || state == nullptr || toc->buffer == nullptr || state->downloads < 0 ||
        static_cast<uint32_t>(state->downloads) >= toc->length)
        return 0;
    Properties *segment = &toc->buffer[state->downloads];
    DownloadHooks hooks;
    hooks.stopped = gateway_poll(command);
    hooks.counted = [state] { ++state->downloads; };
    hooks.wait = wait;
    return download_segment(
        session, callback, segment, hooks,
        [state](const char *path) { append_to_list(state, path); }, stated_size);
}

// The name of a polled packet's command for message 211: its code byte's
// name, or the number of a code no command has.
inline std::string command_name(const char *packet) {
    const auto code = static_cast<uint8_t>(packet[0]);
    const char *name = decode_command(code);
    return name != nullptr ? name : std::to_string(code);
}

// Whether the segment's file has come: its "dat_file" names an existing
// file.
inline bool file_came(Properties *segment) {
    const char *file = properties_get_string2(segment, SEGMENT_DAT_FILE_KEY, nullptr);
    host::FileInfo record{};
    return file != nullptr && host::StatPath(file, &record);
}

// The size query of a CDS stream: for each segment of `toc` (a view over the
// caller's list) in order, the package's size from the server when the
// segment has none, then one download step into `state`, with the gateway
// polled; the file must have that size, which the step then writes into the
// segment with the file's path. A packet polled during the step raises
// message 211 with the package id and the command's name. A segment whose
// file came is marked; one whose download ended without a file (a bad
// status) is left unmarked and without a size, so that the caller raises
// message 182 for it instead of taking it as an empty, complete segment.
// Raises 203 when the size cannot be had or the file does not have it, and
// the download step's messages.
inline void size_query(Session &session, CdsStatusCallback callback, FileStreamState *state,
                       Toc *toc, const WaitStep &wait = wait_on_condition) {
    for (int32_t i = 0; i < toc->count; ++i) {
        Segment *segment = toc->segments[i];
        int64_t stated = 0;
        if (segment->size == 0)
            stated = package_size(session, segment->properties);
        PolledPacket command;
        download_next(session, callback, toc->list, state, &command.packet, wait, stated);
        if (command.packet != nullptr) {
            const std::string name = command_name(command.packet);
            helpers::raise_message(
                KORVO_MSG_CDS_SIZE_STOPPED,
                properties_get_string(segment->properties, SEGMENT_CDS_PACKAGEID), name.c_str());
        }
        if (segment->marked == 0 && file_came(segment->properties)) {
            segment->size = properties_get_long2(segment->properties, SEGMENT_SIZE_KEY, 0);
            segment->marked = 1;
            ++toc->marked_count;
        }
    }
}

}  // namespace korvo::cds
