// One CDS download step: fetch one segment's package through the client,
// wait for its completion callback, find the file it landed in, check it
// against the size the segment states, and record the file's path and size
// in the segment. The CDS stream runs one step per segment
// (cds_download_next): that layer keeps the index of the next segment,
// appends the file to its file list and polls the gateway for commands, all
// through the hooks below.
//
// One step runs at a time in a process: a step holds the session's turn
// from before DownloadFile until it ends (cds_wait.hpp), and calls the client
// without holding a lock, so that a client may call back on any thread. The
// client's handle is released on every path: with the failure line and
// message 203 when ReleaseFile fails on the normal path, with the failure
// line alone when the step ends by a stop or by a raise. Raises messages 203,
// 204, 206 (ExDistributionDeferred) and the property errors of the segment's
// keys. Runs on the caller's thread.
#pragma once

#include <climits>
#include <cstdint>
#include <cstring>
#include <functional>

#include "cds/cds.h"
#include "cds/cds_actual_path.hpp"
#include "cds/cds_session.hpp"
#include "cds/cds_wait.hpp"
#include "kes/host_file.hpp"
#include "properties/errors/catalog_raise.hpp"
#include "properties/errors/korvo_exceptions.h"
#include "properties/korvo_keys.h"
#include "properties/korvo_properties.h"
#include "runtime/raise.hpp"

namespace korvo::cds {

// Seconds after which a deferred distribution may retry, when the segment
// does not say ("cds_deferred").
inline constexpr int32_t kDefaultDeferSeconds = 300;

// A segment's CDS keys. The strings are the segment's.
struct PackageRequest {
    const char *manager = nullptr;
    const char *package_id = nullptr;
    const char *destination = nullptr;
    const char *user_name = nullptr;
    const char *password = nullptr;
    int32_t deferred = kDefaultDeferSeconds;
};

struct DownloadHooks {
    StopPoll stopped;               // empty: the wait is never stopped
    std::function<void()> counted;  // the download counts as made (started or already there)
    WaitStep wait = wait_on_condition;
};

struct DownloadOutcome {
    int32_t stop = 0;      // the stop code that ended a wait, or 0
    uint32_t handle = 0;   // the client's handle of the download (released by now)
    rt::MgPtr<char> path;  // the package's file, when the client knows one
};

// The result in message 203 for a package whose file does not have the size
// its segment states (EBADMSG, as the client answers for a package that did
// not come whole), and for one too large for a segment's 32-bit size (EFBIG).
inline constexpr int32_t kWrongSizeResult = 74;
inline constexpr int32_t kTooLargeResult = 27;

// A client handle that is released when it ends, unless released before.
class ClientHandle {
  public:
    ClientHandle(const CdsFuncs &funcs, uint32_t handle) : funcs_(funcs), handle_(handle) {}
    ClientHandle(const ClientHandle &) = delete;
    ClientHandle &operator=(const ClientHandle &) = delete;
    ~ClientHandle() { release_quietly(); }

    // Releases the handle; a failure is logged and raises message 203.
    void release() {
        if (const int32_t result = release_quietly(); result != 0)
            helpers::raise_message(KORVO_MSG_CDS_COMMAND_FAILED, "ReleaseFile", failed_handle_,
                                   result);
    }

  private:
    int32_t release_quietly() {
        const uint32_t handle = handle_;
        handle_ = 0;
        if (handle == 0 || funcs_.ReleaseFile == nullptr)
            return 0;
        const int32_t result = funcs_.ReleaseFile(handle);
        if (result != 0) {
            cds_log(CDS_LOG_FAILURE, "korvo: ReleaseFile(%u) failed.  cds_rc=%d\n", handle, result);
            failed_handle_ = handle;
        }
        return result;
    }

    const CdsFuncs &funcs_;
    uint32_t handle_;
    uint32_t failed_handle_ = 0;
};

inline const char *or_null(const char *text) {
    return text != nullptr ? text : "<null>";
}

[[noreturn]] inline void raise_deferred(const char *package_id, int32_t seconds) {
    ExDistributionDeferred deferred{};
    deferred.defer_time = seconds;
    vaMThrowChild(KORVO_EXCEPTION_CHILD_CHAIN("ExDistributionDeferred"), &deferred, sizeof deferred,
                  Korvo2Catalog[0], KORVO_MSG_CDS_DEPOT_BUSY,
                  Korvo2Catalog[KORVO_MSG_CDS_DEPOT_BUSY], package_id, seconds);
}

// Downloads the package `request` names through the session's client,
// handing `callback` (which must end in session.complete) to DownloadFile.
// The step first waits for its turn; a stop code during that wait ends it
// before anything is started (the download does not count as made).
inline DownloadOutcome download_package(Session &session, CdsStatusCallback callback,
                                        const PackageRequest &request, const DownloadHooks &hooks) {
    DownloadOutcome outcome;
    const Turn turn(session, request.package_id, hooks.stopped, hooks.wait);
    if ((outcome.stop = turn.stop()) != 0)
        return outcome;
    uint32_t handle = 0;
    const int32_t rc =
        session.cds_funcs.DownloadFile(request.manager, request.package_id, request.destination,
                                       request.user_name, request.password, callback, &handle);
    // The password is never written: only whether there is one.
    cds_log(CDS_LOG_TRACE,
            "korvo: Started a new CDS download: DownloadFile(%s, %s, %s, %s, %s, %p, %u).  "
            "rc=%d\n",
            or_null(request.manager), or_null(request.package_id), or_null(request.destination),
            or_null(request.user_name), request.password != nullptr ? "<??}" : "<null>",
            reinterpret_cast<void *>(callback), handle, rc);
    ClientHandle owned(session.cds_funcs, handle);
    outcome.handle = handle;
    switch (rc) {
        case CDS_DOWNLOAD_STARTED:
            if (hooks.counted)
                hooks.counted();
            outcome.stop = wait_for_download(session, handle, hooks.stopped, hooks.wait);
            if (outcome.stop != 0)
                return outcome;
            outcome.path = actual_path(session.cds_funcs, handle, request.package_id);
            break;
        case CDS_DOWNLOAD_ALREADY_THERE:
            if (hooks.counted)
                hooks.counted();
            outcome.path = actual_path(session.cds_funcs, handle, request.package_id);
            break;
        case CDS_DOWNLOAD_BUSY:
            owned.release();
            raise_deferred(request.package_id, request.deferred);
        default:
            owned.release();
            helpers::raise_message(KORVO_MSG_CDS_COMMAND_FAILED, "DownloadFile", 0u, rc);
    }
    owned.release();
    return outcome;
}

// The size of the segment's package as the client's server states it
// (GetSingleFileSize with the segment's manager, package id, user name and
// password). Raises message 203 ("GetSingleFileSize", 0, result) when the
// client fails, and the property errors of the segment's keys.
inline uint32_t package_size(const Session &session, Properties *segment) {
    const char *manager = properties_get_string2(segment, SEGMENT_CDS_MANAGER, nullptr);
    const char *package_id = properties_get_string(segment, SEGMENT_CDS_PACKAGEID);
    const char *user_name = properties_get_string2(segment, SEGMENT_CDS_USERNAME, nullptr);
    const char *password = properties_get_string2(segment, SEGMENT_CDS_PASSWORD, nullptr);
    uint32_t size = 0;
    const int32_t result =
        session.cds_funcs.GetSingleFileSize(manager, package_id, user_name, password, &size);
    if (result != 0)
        helpers::raise_message(KORVO_MSG_CDS_COMMAND_FAILED, "GetSingleFileSize", 0u, result);
    return size;
}

// The file list after `path` is appended to its untaken part `untaken`
// (NULL when nothing is left): a copy of the path, or the untaken part, a
// comma and the path. A runtime block the caller owns.
inline rt::MgPtr<char> list_with(const char *untaken, const char *path) {
    if (untaken == nullptr)
        return copy_path(path);
    const size_t head = std::strlen(untaken);
    const size_t tail = std::strlen(path);
    rt::MgPtr<char> list(static_cast<char *>(mg_malloc(head + 1 + tail + 1)));
    if (!list)
        vaThrow(nullptr, -1, "Not enough memory for the path %1$s.\n", path);
    std::memcpy(list.get(), untaken, head);
    list.get()[head] = ',';
    std::memcpy(list.get() + head + 1, path, tail + 1);
    return list;
}

// The size to record for the package's file of `file_size` bytes, when the
// segment states `expected` bytes (0 or less: it states none). A file of
// another size is not the package: an error page the server answered with,
// or a cut copy. Raises message 203 ("DownloadFile", handle, 74) for it, and
// ("DownloadFile", handle, 27) for a file that no segment's size can state;
// each with a log line that says why.
inline int32_t checked_size(const char *package_id, const char *path, uint32_t handle,
                            int64_t file_size, int64_t expected) {
    if (expected > 0 && file_size != expected) {
        cds_log(CDS_LOG_FAILURE,
                "korvo: The CDS package %s arrived as %s with %lld bytes, but its segment "
                "states %lld bytes.\n",
                package_id, path, static_cast<long long>(file_size),
                static_cast<long long>(expected));
        helpers::raise_message(KORVO_MSG_CDS_COMMAND_FAILED, "DownloadFile", handle,
                               kWrongSizeResult);
    }
    if (file_size > INT32_MAX) {
        cds_log(CDS_LOG_FAILURE,
                "korvo: The CDS package %s arrived as %s with %lld bytes, more than a "
                "segment's size can state.\n",
                package_id, path, static_cast<long long>(file_size));
        helpers::raise_message(KORVO_MSG_CDS_COMMAND_FAILED, "DownloadFile", handle,
                               kTooLargeResult);
    }
    return static_cast<int32_t>(file_size);
}

// Reads the segment's CDS keys ("cds_packageid" must exist), downloads its
// package, hands the file's path to `append` and puts it into the segment as
// "data_path" and "dat_file", with the file's size as "size" when the file
// exists. The file must have the size the segment states ("size", when it
// is above 0), else `stated_size` when that is above 0 (the size the server
// stated, for a segment that states none): a file of another size raises
// message 203 before anything is recorded (checked_size). Returns 0, or the
// stop code that ended a wait (the segment is left as it was). A path with
// a comma, which a file list cannot carry, raises a runtime error.
inline int32_t download_segment(Session &session, CdsStatusCallback callback, Properties *segment,
                                const DownloadHooks &hooks,
                                const std::function<void(const char *path)> &append,
                                int64_t stated_size = 0) {
    PackageRequest request;
    request.manager = properties_get_string2(segment, SEGMENT_CDS_MANAGER, nullptr);
    request.package_id = properties_get_string(segment, SEGMENT_CDS_PACKAGEID);
    request.destination = properties_get_string2(segment, SEGMENT_CDS_DESTINATION, nullptr);
    request.user_name = properties_get_string2(segment, SEGMENT_CDS_USERNAME, nullptr);
    request.password = properties_get_string2(segment, SEGMENT_CDS_PASSWORD, nullptr);
    request.deferred = properties_get_long2(segment, SEGMENT_CDS_DEFERRED, kDefaultDeferSeconds);
    const int32_t segment_size = properties_get_long2(segment, SEGMENT_SIZE_KEY, 0);
    const int64_t expected = segment_size > 0 ? segment_size : stated_size;

    DownloadOutcome outcome = download_package(session, callback, request, hooks);
    if (outcome.stop != 0 || !outcome.path)
        return outcome.stop;
    const char *path = outcome.path.get();
    if (std::strchr(path, ',') != nullptr)
        vaThrow(nullptr, -1,
                "The file %1$s of a CDS package holds a comma, which a file list cannot carry.\n",
                path);
    host::FileInfo record{};
    const bool exists = host::StatPath(path, &record);
    const int32_t size =
        exists ? checked_size(request.package_id, path, outcome.handle, record.size, expected) : 0;
    append(path);
    properties_put_string_dup(segment, SEGMENT_DATA_PATH_KEY, path);
    properties_put_string_dup(segment, SEGMENT_DAT_FILE_KEY, path);
    if (exists)
        properties_put_long_dup(segment, SEGMENT_SIZE_KEY, size);
    return 0;
}

}  // namespace korvo::cds
