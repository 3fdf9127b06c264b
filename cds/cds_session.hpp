// A loaded CDS client and the state with which download steps take turns
// and wait for the client's completion callbacks. The process has one
// (cds_load.cc); tests make their own around a client they load themselves.
//
// At most one download step runs at a time in a process: a step holds the
// turn (`step_running`) from before DownloadFile until it ends, and a step
// that finds the turn taken waits for it. The mutex guards the turn and the
// record of the callbacks that came during it, never a call into the
// client: the client may call back from any thread, the step's own included
// (from inside DownloadFile), without meeting a lock the step holds. Each
// callback during a turn puts its handle into `ended`, so one that comes
// before the step begins to wait is never lost, and only the callback of the
// handle the step waits for ends its wait: the late callback of a download
// that an earlier step gave up (a stop during its wait) leaves its log line
// and nothing else. `cds_funcs` is written once, before `cds_loaded` is set
// and before any step runs, and read without the lock.
#pragma once

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "cds/cds.h"

namespace korvo::cds {

struct Session {
    CdsFuncs cds_funcs{};
    std::atomic<bool> cds_loaded{false};

    std::mutex cds_mutex;
    std::condition_variable cds_done;  // a callback came, or the turn was handed back
    bool step_running = false;         // a download step holds the turn
    uint32_t awaited = 0;              // the handle the running step waits for, or 0
    std::vector<uint32_t> ended;       // the handles whose callbacks came during the turn

    // What the completion callback does for (handle, status).
    void complete(uint32_t handle, int32_t status) {
        std::lock_guard lock(cds_mutex);
        if (status != 0)
            cds_log(CDS_LOG_FAILURE, "korvo: Received a bad status of %d for CDS handle of %u\n",
                    status, handle);
        // One entry per handle: a client that calls back twice cannot grow
        // the record, and a turn sees only the downloads made during it.
        if (step_running && !has_ended(handle) && ended.size() < kMaxEnded)
            ended.push_back(handle);
        cds_done.notify_all();
    }

    // Whether the callback of `handle` came during this turn (lock held).
    bool has_ended(uint32_t handle) const {
        return std::find(ended.begin(), ended.end(), handle) != ended.end();
    }

    static constexpr std::size_t kMaxEnded = 1024;
};

}  // namespace korvo::cds
