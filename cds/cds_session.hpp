// A loaded CDS client and the state with which a download step waits for
// the client's completion callback. The process has one (cds_load.cc); tests
// make their own around a client they load themselves.
//
// A download step holds `cds_mutex` from before DownloadFile until it ends,
// except while it waits on `cds_done`; the completion callback takes it,
// so a callback that comes before the step waits is handled once the wait
// has begun and is never lost. Only the callback of the handle the step waits
// for ends the wait: the callback of a download that an earlier step gave up
// (a stop during its wait) only leaves its log line. `cds_funcs` is written
// once, before `cds_loaded` is set and before any step runs, and read without
// the lock.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "cds/cds.h"

namespace korvo::cds {

struct Session {
    CdsFuncs cds_funcs{};
    std::atomic<bool> cds_loaded{false};

    std::mutex cds_mutex;
    std::condition_variable cds_done;
    bool waiting = false;       // a step waits for `awaited`
    uint32_t awaited = 0;       // the handle of the download it waits for
    bool cds_finished = false;  // that download has ended

    // What the completion callback does for (handle, status).
    void complete(uint32_t handle, int32_t status) {
        std::lock_guard lock(cds_mutex);
        if (status != 0)
            cds_log(CDS_LOG_FAILURE, "korvo: Received a bad status of %d for CDS handle of %u\n",
                    status, handle);
        if (waiting && handle == awaited) {
            cds_finished = true;
            cds_done.notify_all();
        }
    }
};

}  // namespace korvo::cds
